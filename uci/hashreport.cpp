#include "uci/hashreport.h"

#include <string>

#include "board/position.h"
#include "platform/output.h"
#include "search/tt.h"

void printHashStatistics() {
    u64 used = 0, byBound[4] = {}, withMove = 0, byAge[64] = {}, byDepth[128] = {};
    const u64 total = 4 * (ttMask + 1);
    for (u64 c = 0; c <= ttMask; c++)
        for (int i = 0; i < 4; i++) {
            const TTEntry e{ttClusters[c].entry[i].load(std::memory_order_relaxed)};
            if (!(e.word >> 56)) continue;
            used++;
            byBound[e.bound()]++;
            withMove += u32(e.word) != 0;
            byAge[e.age()]++;
            if (e.depth() >= 0) byDepth[e.depth()]++;
        }
    if (!used) used = 1;

    say("Size of info : pos structure : " + std::to_string(sizeof(Position)) +
         " posinfo structure : " + std::to_string(sizeof(PlyState)));
    say("Hash Statistics \nNumber of entries " + std::to_string(total));
    say("Used entries " + std::to_string(used));
    say("Type of entries UPPER - LOWER - EXACT " + std::to_string(byBound[1]) + "\t - " +
         std::to_string(byBound[2]) + "\t - " + std::to_string(byBound[3]));
    say("Percentage of entries UPPER - LOWER - EXACT " + std::to_string(byBound[1] * 100 / used) + "\t - " +
         std::to_string(byBound[2] * 100 / used) + "\t - " + std::to_string(byBound[3] * 100 / used));
    say("Number of Hashmoves " + std::to_string(withMove));
    auto distribution = [&](const char* title, const u64* counts, int n) {
        std::string text = title;
        for (int i = 0; i < n; i++)
            text += std::to_string(i) + "  " + std::to_string(counts[i]) + " - " + std::to_string(counts[i] * 100 / used) +
                    " - " + std::to_string(counts[i] * 100 / total) + "\n";
        write(text);
        flushOutput();
    };
    distribution("Age distribution nof - prcused - prctotal\n", byAge, 64);
    distribution("Depth distribution \n", byDepth, 128);
}
