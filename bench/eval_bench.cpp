// Speed of the hand-written evaluation on a fixed set of positions taken
// from random games (fixed seed). The evaluation cache is bypassed; the pawn
// cache is emptied before every pass over the set (outside the timing) so
// that every evaluation also computes its pawn structure, and measured once
// more warm, as a search mostly finds it.
//   velmora_eval_bench [passes]   (default 200)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "board/attacks.h"
#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "platform/clock.h"

namespace {

// What the evaluation reads from a position, small enough to keep
// thousands of them and to copy in before each evaluation.
struct Snapshot {
    u64 pieces[14];
    u64 key, pawnKingKey;
    Score material[2], psq[2];
    i16 phase;
    u8 sideToMove;
};

void load(Position& pos, const Snapshot& s) {
    for (int i = 0; i < 14; i++) pos.pieces[i] = s.pieces[i];
    pos.key = s.key;
    pos.pawnKingKey = s.pawnKingKey;
    pos.material[0] = s.material[0], pos.material[1] = s.material[1];
    pos.psq[0] = s.psq[0], pos.psq[1] = s.psq[1];
    pos.phase = s.phase;
    pos.sideToMove = s.sideToMove;
}

std::vector<Snapshot> positions(int count, u64 seed) {
    std::mt19937_64 rng(seed);
    auto pos = std::make_unique<Position>();
    auto buffer = std::make_unique<Move[]>(MOVE_BUFFER_SIZE);
    pos->plyStack[0].moveListBegin = buffer.get();
    std::vector<Snapshot> out;
    while (int(out.size()) < count) {
        setPositionFromFen(START_FEN, *pos);
        for (int ply = 0; ply < 160 && int(out.size()) < count; ply++) {
            generateLegal(0, buffer.get(), *pos);
            const long n = pos->plyStack[0].moveListEnd - buffer.get();
            if (!n) break;
            playRootMove(*pos, buffer[rng() % n]);
            Snapshot s;
            for (int i = 0; i < 14; i++) s.pieces[i] = pos->pieces[i];
            s.key = pos->key;
            s.pawnKingKey = pos->pawnKingKey;
            s.material[0] = pos->material[0], s.material[1] = pos->material[1];
            s.psq[0] = pos->psq[0], s.psq[1] = pos->psq[1];
            s.phase = pos->phase;
            s.sideToMove = pos->sideToMove;
            out.push_back(s);
        }
    }
    return out;
}

struct Result {
    double seconds;
    i64 sink;
};

// Times `passes` rounds over the set; `evaluate` false times the copying alone.
Result run(const std::vector<Snapshot>& set, Position& pos, EvalCaches& caches, int passes, bool evaluate,
           bool coldPawnCache) {
    i64 elapsed = 0, sink = 0;
    for (int p = 0; p < passes; p++) {
        if (coldPawnCache) clearEvalCaches(caches);
        const i64 start = nowNs();
        for (const Snapshot& s : set) {
            load(pos, s);
            sink += evaluate ? evaluateHandWritten(pos) : i64(pos.key & 1);
        }
        elapsed += nowNs() - start;
    }
    return {double(elapsed) / 1e9, sink};
}

}  // namespace

int main(int argc, char** argv) {
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    initTables();
    initZobrist();
    const std::vector<Snapshot> set = positions(4096, 20240321);
    auto pos = std::make_unique<Position>();
    auto caches = std::make_unique<EvalCaches>();
    attachEvalCaches(*pos, *caches);

    const double evaluations = double(set.size()) * passes;
    const Result copying = run(set, *pos, *caches, passes, false, false);
    run(set, *pos, *caches, 5, true, true);  // warm-up
    const Result cold = run(set, *pos, *caches, passes, true, true);
    const Result warm = run(set, *pos, *caches, passes, true, false);

    std::printf("positions %zu, passes %d, snapshot copying %.3f s\n", set.size(), passes, copying.seconds);
    std::printf("hand-written, pawn cache empty: %7.3f s  %6.2f M evals/s (%.0f ns each)  [%lld]\n", cold.seconds,
                evaluations / cold.seconds / 1e6, cold.seconds / evaluations * 1e9, (long long)(cold.sink & 0xff));
    std::printf("hand-written, pawn cache warm:  %7.3f s  %6.2f M evals/s (%.0f ns each)  [%lld]\n", warm.seconds,
                evaluations / warm.seconds / 1e6, warm.seconds / evaluations * 1e9, (long long)(warm.sink & 0xff));
    return cold.sink == warm.sink ? 0 : 1;  // both passes must agree
}
