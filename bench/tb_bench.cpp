// Tablebase probe speed: WDL probes per second (and DTZ probes per second)
// on random legal positions of every registered material of 3 to 5 men,
// with the tables already mapped.
//   velmora_tb_bench [table directories] [seconds]
// Default directories: ../shared/data/syzygy when present, else
// tests/data/syzygy/tables (run from the repository root).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "tablebase/tablebase.h"

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "";
    const double limit = argc > 2 ? std::stod(argv[2]) : 2.0;
    if (path.empty()) path = std::filesystem::exists("../shared/data/syzygy") ? "../shared/data/syzygy" : "tests/data/syzygy/tables";
    initTables();
    tbInit(path);
    std::printf("tables: %s (%d WDL, %d DTZ, largest %d men)\n", path.c_str(), tbCounts().wdl, tbCounts().dtz, tbLargest);
    if (!tbLargest) return 1;

    std::mt19937_64 rng(2024);
    const std::vector<TbPosition> positions = tbSamplePositions(5, 2000, rng);
    int byMen[8] = {};
    for (const TbPosition& p : positions) byMen[tbMenCount(p)]++;
    std::printf("positions: %zu (3 men %d, 4 men %d, 5 men %d)\n", positions.size(), byMen[3], byMen[4], byMen[5]);

    // Map everything first; the sum of the values identifies the results.
    long failures = 0, sum = 0;
    for (const TbPosition& p : positions) {
        int success;
        sum += 1000 * probeWdl(p, success);
        failures += !success;
        sum += probeDtz(p, success);
        failures += !success;
    }
    std::printf("values: sum %ld, failed probes %ld\n", sum, failures);

    for (int kind = 0; kind < 2; kind++) {
        long probes = 0, checksum = 0;
        const auto start = std::chrono::steady_clock::now();
        while (seconds(start) < limit)
            for (const TbPosition& p : positions) {
                int success;
                checksum += kind == 0 ? probeWdl(p, success) : probeDtz(p, success);
                probes++;
            }
        const double elapsed = seconds(start);
        std::printf("%s: %ld probes in %.2f s = %.0f probes/s (checksum %ld)\n", kind == 0 ? "WDL" : "DTZ", probes,
                    elapsed, probes / elapsed, checksum);
    }
    return 0;
}
