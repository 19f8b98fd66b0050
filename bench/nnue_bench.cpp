// Network evaluation speed: full refreshes, and incremental updates plus the
// forward pass along game-like lines, for the scalar, AVX2 and AVX-512 code
// (AVX-512 where the processor has it).
//   velmora_nnue_bench [network file [--avx2|--avx512]]   (default: the bootstrap network)
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <string_view>
#include <vector>

#include "board/attacks.h"
#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/netbuild.h"
#include "eval/nnue.h"
#include "platform/clock.h"
#include "search/tt.h"

namespace {

using Evaluate = i16 (*)(Position&, int);

// Random lines of up to 10 plies from one root, made and unmade the way a
// search makes its moves: evaluating after every move reuses the parent's
// accumulator, and the lines of one root share most of their features, as
// the nodes of one search do. Returns the number of evaluations.
u64 lineEvaluations(Position& pos, std::mt19937_64& rng, Evaluate evaluate, bool refresh, i64& sink) {
    Move path[10];
    int depth = 0;
    u64 n = 0;
    for (; depth < 10; depth++) {
        generateLegal(depth, pos.plyStack[depth].moveListBegin, pos);
        const long count = pos.plyStack[depth].moveListEnd - pos.plyStack[depth].moveListBegin;
        if (!count) break;
        path[depth] = pos.plyStack[depth].moveListBegin[rng() % count];
        doMove(depth, path[depth], pos);
        if (refresh)  // no ancestor to start from
            for (int k = 0; k <= depth; k++) pos.accumulators[k].computed = 0;
        sink += evaluate(pos, depth + 1);
        n++;
    }
    while (depth > 0) {
        depth--;
        undoMove(depth, path[depth], pos);
    }
    return n;
}

double baselineSeconds = 0;
constexpr const char* BASELINE = "no evaluation (baseline)";

// One pass over the same 400 games' lines: the evaluations and the time taken.
struct Pass {
    u64 evaluations = 0;
    i64 elapsed = 0;
};

Pass timedPass(Evaluate evaluate, bool refresh, i64& sink) {
    std::mt19937_64 rng(12345);
    auto pos = std::make_unique<Position>();
    auto buffer = std::make_unique<Move[]>(MOVE_BUFFER_SIZE);
    pos->plyStack[0].moveListBegin = buffer.get();
    u64 evaluations = 0;
    i64 elapsed = 0;
    for (int game = 0; game < 400; game++) {
        setPositionFromFen(START_FEN, *pos);
        // Move into the game first (not timed), then time a line from there.
        for (int i = 0, plies = int(rng() % 60); i < plies; i++) {
            generateLegal(0, buffer.get(), *pos);
            const long count = pos->plyStack[0].moveListEnd - buffer.get();
            if (!count) break;
            playRootMove(*pos, buffer[rng() % count]);
        }
        pos->accumulators[0].computed = 0;
        sink += evaluate(*pos, 0);
        const i64 start = nowNs();
        for (int line = 0; line < 100; line++) evaluations += lineEvaluations(*pos, rng, evaluate, refresh, sink);
        elapsed += nowNs() - start;
    }
    return {evaluations, elapsed};
}

// The best of several identical passes: on a shared or virtual machine the
// slow passes are other programs' time, not ours.
void measure(const char* name, Evaluate evaluate, bool refresh) {
    constexpr int PASSES = 5;
    i64 sink = 0;
    Pass best;
    for (int i = 0; i < PASSES; i++) {
        const Pass pass = timedPass(evaluate, refresh, sink);
        if (i == 0 || pass.elapsed < best.elapsed) best = pass;
    }
    const u64 evaluations = best.evaluations;
    const double seconds = double(best.elapsed) / 1e9;
    if (name == std::string_view(BASELINE) && baselineSeconds == 0) {
        baselineSeconds = seconds;
        std::printf("%-24s %9llu moves  %7.3f s (move generation and make/unmake alone)\n", name,
                    (unsigned long long)evaluations, seconds);
        return;
    }
    // The same lines with the same moves: what is left after the baseline is
    // the evaluation itself.
    std::printf("%-24s %9llu evals  %7.3f s  %6.2f M evals/s with the moves, %6.2f M evals/s alone  [%lld]\n", name,
                (unsigned long long)evaluations, seconds, double(evaluations) / seconds / 1e6,
                double(evaluations) / (seconds - baselineSeconds) / 1e6, (long long)(sink & 1));
}

}  // namespace

int main(int argc, char** argv) {
    initTables();
    initZobrist();
    std::string error;
    if (argc > 1 && std::string(argv[1]) != "-") {
        if (!loadNetworkFile(argv[1], &error)) return std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str()), 1;
    } else {
        auto net = std::make_unique<NetworkParameters>();
        buildBootstrapNetwork(*net);
        std::stringstream bytes;
        writeNetwork(bytes, *net, "");
        loadNetwork(bytes);
    }
    // Move generation and make/unmake alone, to subtract by eye.
    measure(BASELINE, [](Position&, int) -> i16 { return 0; }, false);
    // "--avx2" or "--avx512" measures that incremental path alone (for profiling).
    const std::string only = argc > 2 ? argv[2] : "";
    const bool all = only.empty();
    if (all) {
        measure("scalar, incremental", nnue::evaluateScalar, false);
        measure("scalar, full refresh", nnue::evaluateScalar, true);
    }
#if defined(__AVX2__)
    if (all || only == "--avx2") {
        measure("AVX2, incremental", nnue::evaluateAvx2, false);
        if (all) measure("AVX2, full refresh", nnue::evaluateAvx2, true);
    }
#endif
#if defined(VELMORA_AVX512_CODE)
    if (all || only == "--avx512") {
        if (!nnue::cpuHasAvx512()) {
            std::printf("AVX-512: this processor does not have it, not measured\n");
            return 0;
        }
        measure("AVX-512, incremental", nnue::evaluateAvx512, false);
        if (all) measure("AVX-512, full refresh", nnue::evaluateAvx512, true);
        if (!nnue::cpuHasAvx512Vnni()) {
            std::printf("AVX-512 VNNI: this processor does not have it, not measured\n");
            return 0;
        }
        measure("AVX-512 VNNI, incremental", nnue::evaluateAvx512Vnni, false);
        if (all) measure("AVX-512 VNNI, full refresh", nnue::evaluateAvx512Vnni, true);
    }
#endif
    return 0;
}
