// Texel tuning speed: records evaluated per second per thread in full error
// passes, with 1 and 2 tuning threads.
//
//   velmora_texel_bench [positions.epd|-] [records]
//
// The positions come from an EPD file (first four fields of each line) or,
// by default, from random games out of the start position. They are written
// as a tuning file, loaded with the bootstrap network's targets, and the
// error pass is timed; the share of records the network evaluates is printed
// too: those cost only the balance, the others a full hand-written evaluation.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "eval/netbuild.h"
#include "eval/nnue.h"
#include "platform/output.h"
#include "tuning/texel.h"

namespace {

std::vector<std::string> randomGamePositions(size_t count) {
    std::vector<std::string> fens;
    std::mt19937_64 rng(13);
    auto pos = std::make_unique<Position>();
    auto buffer = std::make_unique<Move[]>(MOVE_BUFFER_SIZE);
    while (fens.size() < count) {
        pos->plyStack[0].moveListBegin = buffer.get();
        setPositionFromFen(START_FEN, *pos);
        const int plies = 8 + int(rng() % 70);
        for (int i = 0; i < plies; i++) {
            Move* list = buffer.get();
            generateLegal(0, list, *pos);
            const long n = pos->plyStack[0].moveListEnd - list;
            if (n == 0) break;
            playRootMove(*pos, list[rng() % u64(n)]);
            if (i >= 8 && rng() % 4 == 0) fens.push_back(positionToFen(*pos));
        }
    }
    fens.resize(count);
    return fens;
}

std::vector<std::string> filePositions(const std::string& path, size_t count) {
    std::vector<std::string> fens;
    std::ifstream in(path);
    for (std::string line; fens.size() < count && std::getline(in, line);) {
        std::istringstream words(line);
        std::string w, fen;
        for (int i = 0; i < 4 && words >> w; i++) fen += (i ? " " : "") + w;
        if (!fen.empty()) fens.push_back(fen);
    }
    return fens;
}

}  // namespace

int main(int argc, char** argv) {
    initTables();
    initZobrist();
    const size_t count = argc > 2 ? std::stoul(argv[2]) : 200000;
    const std::vector<std::string> fens =
        argc > 1 && std::string(argv[1]) != "-" ? filePositions(argv[1], count) : randomGamePositions(count);

    auto net = std::make_unique<NetworkParameters>();
    buildBootstrapNetwork(*net);
    std::stringstream bytes;
    writeNetwork(bytes, *net, "");
    FILE* quiet = std::fopen("/dev/null", "w");
    setOutputStream(quiet);
    loadNetwork(bytes);

    const std::string file = (std::filesystem::temp_directory_path() / "velmora_texel_bench.epd").string();
    {
        std::ofstream out(file);
        for (const std::string& f : fens) out << f << " c9 \"1/2-1/2\";\n";
    }
    const auto loadStart = std::chrono::steady_clock::now();
    const TuningLoad load = loadTuningFile(file);
    const double loadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
    std::remove(file.c_str());

    size_t byNetwork = 0;
    {
        auto pos = std::make_unique<Position>();
        for (const TuningRecord& r : tuningRecords) {
            restoreTuningRecord(r, *pos);
            byNetwork += networkEvaluates(*pos);
        }
    }
    std::printf("%zu positions: %zu kept (%.2f%% evaluated by the network, %zu by the hand-written evaluation), "
                "%zu not kept, %zu skipped; load %.2f s\n",
                fens.size(), load.kept, 100.0 * double(byNetwork) / double(std::max<size_t>(1, load.kept)),
                load.kept - byNetwork, load.notKept, load.skipped, loadSeconds);
    if (tuningRecords.empty()) return 1;

    for (const int workerCount : {1, 2}) {
        setTexelWorkerCount(workerCount);
        runAllWorkers();  // warm-up
        const int passes = 5;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < passes; i++) runAllWorkers();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%d thread%s: %.0f records per second per thread (%.3f s per pass)\n", workerCount,
                    workerCount > 1 ? "s" : "", double(tuningRecords.size()) * passes / seconds / workerCount,
                    seconds / passes);
    }
    setTexelWorkerCount(0);
    setOutputStream(nullptr);
    std::fclose(quiet);
}
