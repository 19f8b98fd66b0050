#include "search/tt.h"

#include <cstring>
#include <thread>
#include <vector>

#include "board/position.h"
#include "platform/memory.h"
#include "search/threads.h"

TTCluster* ttClusters = nullptr;
u64 ttMask = 0;
u8 ttGeneration = 0;
u32 searchCounter = 0;
int ttSizeMb = 256;

u64 ttClusterCount(int megabytes) {
    u64 count = 16384;
    for (u64 p = 1; megabytes >= 2 && p < u64(megabytes); p *= 2) count *= 2;
    return count;
}

void ttInit(bool faultPages) {
    initZobrist();
    if (!ttResize(ttSizeMb, faultPages) && !ttClusters) {
        // Not even the requested size: fall back to the smallest table.
        ttResize(1, faultPages);
    }
}

bool ttResize(int megabytes, bool faultPages) {
    const u64 count = ttClusterCount(megabytes);
    void* block = allocateLarge(count * sizeof(TTCluster));
    if (!block) return false;
    if (ttClusters) freeLarge(ttClusters, (ttMask + 1) * sizeof(TTCluster));
    ttClusters = static_cast<TTCluster*>(block);
    ttMask = count - 1;
    // A fresh mapping reads as zero, but its pages are only faulted in when
    // first touched: clearing here, with the clearing threads, moves that
    // cost from the first search to start-up and "setoption".
    if (faultPages)
        ttClear();
    else
        searchCounter = 0;
    return true;
}

void ttClear() {
    const u64 count = ttMask + 1;
    const int n = std::max(1, threadCount);
    const u64 share = count / u64(n);
    auto zero = [](TTCluster* begin, u64 clusters) { std::memset(static_cast<void*>(begin), 0, clusters * sizeof(TTCluster)); };
    std::vector<std::thread> workers;
    for (int i = 0; i < n; i++) {
        const u64 first = u64(i) * share;
        const u64 last = i == n - 1 ? count : first + share;
        if (i == n - 1)
            zero(ttClusters + first, last - first);
        else
            workers.emplace_back(zero, ttClusters + first, last - first);
    }
    for (auto& t : workers) t.join();
    searchCounter = 0;
}

void ttNewSearch() { ttGeneration = u8(searchCounter++ & 63); }

TTEntry ttProbe(u64 key) {
    TTCluster& c = ttClusters[key & ttMask];
    for (int i = 0; i < 4; i++)
        if (c.keys[i].load(std::memory_order_relaxed) == key) return TTEntry{c.entry[i].load(std::memory_order_relaxed)};
    return TTEntry{};
}

void ttStore(u64 key, Move move, int score, int depth, int bound) {
    TTCluster& c = ttClusters[key & ttMask];
    int victim = 0, best = 32768;
    for (int i = 0; i < 4; i++) {
        const TTEntry e{c.entry[i].load(std::memory_order_relaxed)};
        if (c.keys[i].load(std::memory_order_relaxed) == key || e.word == 0) {
            victim = i;
            break;
        }
        // Shallow entries go first; each search of age costs four plies, an
        // exact bound is worth one.
        const int value = e.depth() + (e.bound() == BOUND_EXACT) - 4 * ((ttGeneration - e.age()) & 63);
        if (value < best) {
            best = value;
            victim = i;
        }
    }
    c.keys[victim].store(key, std::memory_order_relaxed);
    c.entry[victim].store(TTEntry::make(move, score, depth, bound, ttGeneration).word, std::memory_order_relaxed);
}

TTLoan::TTLoan(int megabytes)
    : clusters_(ttClusters), mask_(ttMask), generation_(ttGeneration), counter_(searchCounter) {
    const u64 count = ttClusterCount(megabytes);
    void* block = allocateLarge(count * sizeof(TTCluster));
    if (!block) return;
    ttClusters = static_cast<TTCluster*>(block);
    ttMask = count - 1;
    ttClear();
    ttGeneration = 0;
    granted_ = true;
}

TTLoan::~TTLoan() {
    if (!granted_) return;
    freeLarge(ttClusters, (ttMask + 1) * sizeof(TTCluster));
    ttClusters = clusters_;
    ttMask = mask_;
    ttGeneration = generation_;
    searchCounter = counter_;
}
