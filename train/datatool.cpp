// velmora_data: reads training records.
//
//   velmora_data stats [--scale K] PATH...   counts, score and result statistics, and
//                                            the labels' error against the results at
//                                            scale K (the fitted one by default)
//   velmora_data texel OUT PATH...           tuning file: FEN c9 "result" per line
//   velmora_data rescore OUT PATH... 
//                                            the same positions labelled with the
//                                            hand-written evaluation's quiescence score
//   velmora_data pgn OUT PGN...              records from PGN games (plain, .bz2 or a tar of
//                                            them) under the generator's filters
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board/attacks.h"
#include "board/fen.h"
#include "platform/clock.h"
#include "search/search.h"
#include "search/threads.h"
#include "train/arguments.h"
#include "train/engine_setup.h"
#include "train/pgn.h"
#include "train/training.h"

namespace {

[[noreturn]] void usage() {
    std::cerr << "usage: velmora_data stats [--scale K] PATH...\n"
                 "       velmora_data texel OUT PATH...\n"
                 "       velmora_data rescore OUT PATH...\n"
                 "       velmora_data pgn OUT PGN...\n"
                 "PATH is a record file or a directory of *.bin record files; PGN is a PGN file,\n"
                 "a bzip2-compressed one or a tar archive of either (OpenBench's .pgn.tar).\n";
    std::exit(2);
}

int stats(const std::vector<TrainingRecord>& r, double scale) {
    if (r.empty()) {
        std::cout << "no records\n";
        return 0;
    }
    long long results[3] = {0, 0, 0}, white = 0, noResult = 0;
    double sum = 0, sumSq = 0;
    std::array<long long, 8> bands{};  // |score| < 25, 50, 100, 200, 400, 800, 1600, more
    long long plies = 0;
    for (const TrainingRecord& x : r) {
        if (hasResult(x)) results[x.result + 1]++;
        else noResult++;
        white += x.sideToMove == WHITE;
        sum += x.score, sumSq += double(x.score) * x.score;
        int b = 0;
        for (int limit = 25; b < 7 && std::abs(x.score) >= limit; limit *= 2) b++;
        bands[size_t(b)]++;
        plies += x.ply;
    }
    const double n = double(r.size());
    const std::vector<u32> games = gameNumbers(r);
    std::printf("records %zu (%zu bytes each), games %u, mean ply %.1f, white to move %.1f%%\n", r.size(),
                sizeof(TrainingRecord), games.back() + 1, double(plies) / n, 100.0 * double(white) / n);
    const double withResult = std::max(1.0, n - double(noResult));
    std::printf("results (side to move): win %.1f%%  draw %.1f%%  loss %.1f%%", 100.0 * double(results[2]) / withResult,
                100.0 * double(results[1]) / withResult, 100.0 * double(results[0]) / withResult);
    if (noResult) std::printf(" of %lld; %lld off-path records without one", (long long)withResult, noResult);
    std::printf("\n");
    const double fitted = fitScale(r);
    if (scale <= 0) scale = fitted;
    std::printf("score: mean %.1f, deviation %.1f cp; fitted sigmoid scale %.1f cp\n", sum / n,
                std::sqrt(std::max(0.0, sumSq / n - (sum / n) * (sum / n))), fitted);
    std::printf("label error against results: %.5f (mean squared, sigmoid scale %.1f cp)\n", labelError(r, scale),
                scale);
    const char* names[] = {"<25", "<50", "<100", "<200", "<400", "<800", "<1600", ">=1600"};
    std::printf("|score|:");
    for (int i = 0; i < 8; i++) std::printf("  %s %.1f%%", names[i], 100.0 * double(bands[size_t(i)]) / n);
    std::printf("\n");
    return 0;
}

int texel(const std::string& out, const std::vector<TrainingRecord>& r) {
    std::ofstream f(out, std::ios::trunc);
    for (const TrainingRecord& x : r) {
        const int whiteResult = x.sideToMove == WHITE ? x.result : -x.result;
        f << recordToFen(x) << " c9 \"" << (whiteResult > 0 ? "1-0" : whiteResult < 0 ? "0-1" : "1/2-1/2") << "\";\n";
    }
    if (!f.flush()) {
        std::cerr << "cannot write " << out << "\n";
        return 1;
    }
    std::cerr << "wrote " << r.size() << " positions to " << out << "\n";
    return 0;
}

// Labels each position with the quiescence score of the hand-written
// evaluation (the only evaluator here).
int rescore(const std::string& out, std::vector<TrainingRecord>& r) {
    if (!setUpEngine(EngineSetup{})) return 1;
    const i64 start = nowMs();
    worker& t = *threads[0];
    static Position p;
    for (TrainingRecord& x : r) {
        if (!setPositionFromFen(recordToFen(x), p)) continue;
        stopSearch = false;
        t.takeRootPosition(p);
        Position& q = *t.position;
        q.plyStack[0].inCheck = isInCheck(q);
        x.score = i16(quiesce(0, 0, -SCORE_INFINITE, SCORE_INFINITE, q));
    }
    const double seconds = std::max(1e-3, double(nowMs() - start) / 1000.0);
    std::cerr << "rescored " << r.size() << " positions in " << seconds << " s (" << double(r.size()) / seconds
              << " per second)\n";
    if (!truncateRecords(out, 0) && countRecords(out) > 0) return 1;
    return appendRecords(out, r) ? 0 : 1;
}

// Imports PGN games into OUT (replaced). Records are buffered and written in
// whole games, so OUT never holds part of a game.
int importPgn(const std::string& out, const std::vector<std::string>& paths) {
    initTables();
    initZobrist();
    if (!std::ofstream(out, std::ios::binary | std::ios::trunc)) {
        std::cerr << "cannot write " << out << "\n";
        return 1;
    }
    std::vector<TrainingRecord> buffer;
    long long written = 0;
    auto flush = [&] {
        if (!appendRecords(out, buffer)) {
            std::cerr << "cannot write " << out << "\n";
            return false;
        }
        written += (long long)buffer.size();
        buffer.clear();
        return true;
    };
    PgnImporter importer(
        [&](const std::vector<TrainingRecord>& game) {
            buffer.insert(buffer.end(), game.begin(), game.end());
            return buffer.size() < (1u << 16) || flush();
        },
        std::cerr);
    const i64 start = nowMs();
    bool opened = true;
    for (const std::string& path : paths) {
        opened &= importPgnPath(path, importer);
        if (importer.sinkFailed()) break;
    }
    const bool wrote = !importer.sinkFailed() && flush();
    const double seconds = std::max(1e-3, double(nowMs() - start) / 1000.0);
    const PgnImportCounts& c = importer.counts();
    std::printf("games %lld: imported %lld, no result %lld, unreadable %lld; input errors %lld\n", c.games, c.imported,
                c.noResult, c.unreadable, c.inputErrors);
    std::printf("positions %lld: kept %lld, filtered %lld (book %lld, no score %lld, mate score %lld, in check %lld, "
                "capture or promotion %lld, lopsided %lld)\n",
                c.positions, c.kept, c.filtered(), c.book, c.noScore, c.mateScore, c.inCheck, c.captureOrPromotion,
                c.lopsided);
    std::printf("speed %.0f positions/s (%.3f s); %lld records written to %s\n", double(c.positions) / seconds, seconds,
                written, out.c_str());
    return opened && wrote ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) usage();
    const std::string command = argv[1];
    if (command == "pgn") {
        if (argc < 4) usage();
        return importPgn(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    }
    int firstPath = command == "stats" ? 2 : 3;
    double scale = 0;
    if (command == "stats" && argc > 3 && std::string(argv[2]) == "--scale") {
        scale = realArgument("--scale", argv[3], 1e-3, 1e6);
        firstPath = 4;
    }
    if (argc <= firstPath) usage();
    std::vector<TrainingRecord> records;
    for (int i = firstPath; i < argc; i++)
        if (!loadRecordPath(argv[i], records, std::cerr)) return 1;
    if (command == "stats") return stats(records, scale);
    if (command == "texel") return texel(argv[2], records);
    if (command == "rescore") return rescore(argv[2], records);
    usage();
}
