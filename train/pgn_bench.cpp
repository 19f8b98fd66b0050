// velmora_pgn_bench [games] [file]: writes a PGN of random games in the
// shape a match runner gives data generation (a FEN start after random
// plies, a tenth of them Chess960, SAN with move numbers, a score and depth
// comment on every move) and times `velmora_data pgn`'s import of it, in
// positions read per second. The file stays for timing the tool itself.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "board/attacks.h"
#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "platform/clock.h"
#include "train/engine_setup.h"
#include "train/pgn.h"

int main(int argc, char** argv) {
    const long games = argc > 1 ? std::atol(argv[1]) : 5000;
    const std::string path = argc > 2 ? argv[2] : "/tmp/velmora_pgn_bench.pgn";
    initTables();
    initZobrist();
    auto pos = std::make_unique<Position>();
    auto buffer = std::make_unique<Move[]>(MOVE_BUFFER_SIZE);
    SplitMix rng(2026);
    std::ofstream out(path, std::ios::trunc);
    long long moves = 0;
    for (long g = 0; g < games; g++) {
        chess960 = rng.below(10) == 0;
        setPositionFromFen(chess960 ? chess960StartFen(int(rng.below(960))) : std::string(START_FEN), *pos);
        pos->plyStack[0].moveListBegin = buffer.get();
        for (int i = 0; i < 8; i++) {
            generateLegal(0, buffer.get(), *pos);
            const long n = pos->plyStack[0].moveListEnd - buffer.get();
            if (n == 0) break;
            playRootMove(*pos, buffer[rng.below(u64(n))]);
        }
        static const char* results[] = {"1-0", "0-1", "1/2-1/2"};
        const char* result = results[rng.below(3)];
        out << "[Event \"bench\"]\n[Round \"" << g + 1 << "\"]\n[White \"a\"]\n[Black \"b\"]\n[Result \"" << result
            << "\"]\n[FEN \"" << positionToFen(*pos) << "\"]\n[SetUp \"1\"]\n"
            << (chess960 ? "[Variant \"Chess960\"]\n" : "") << "\n";
        std::string text;
        for (int ply = 0; ply < 160; ply++) {
            generateLegal(0, buffer.get(), *pos);
            const long n = pos->plyStack[0].moveListEnd - buffer.get();
            if (n == 0) break;
            const Move m = buffer[rng.below(u64(n))];
            if (pos->sideToMove == WHITE || ply == 0)
                text += std::to_string(pos->gamePly / 2 + 1) + (pos->sideToMove == WHITE ? ". " : "... ");
            const int cp = int(rng.below(601)) - 300;
            char comment[96];
            std::snprintf(comment, sizeof comment, " {%s%d.%02d/%d 0.012s, n=5001, sd=%d} ", cp < 0 ? "-" : "+",
                          std::abs(cp) / 100, std::abs(cp) % 100, 6 + int(rng.below(4)), 9 + int(rng.below(6)));
            text += moveToSan(m, 0, *pos) + comment;
            playRootMove(*pos, m);
            moves++;
        }
        out << text << result << "\n\n";
    }
    out.close();
    std::cerr << "wrote " << games << " games, " << moves << " moves to " << path << "\n";

    long long kept = 0;
    PgnImporter importer(
        [&](const std::vector<TrainingRecord>& r) {
            kept += (long long)r.size();
            return true;
        },
        std::cerr);
    const i64 start = nowMs();
    importPgnPath(path, importer);
    const double seconds = std::max(1e-3, double(nowMs() - start) / 1000.0);
    const PgnImportCounts& c = importer.counts();
    std::printf("imported %lld of %lld games: %lld positions (%lld kept) in %.2f s, %.0f positions/s\n", c.imported,
                c.games, c.positions, kept, seconds, double(c.positions) / seconds);
    return c.imported == games ? 0 : 1;
}
