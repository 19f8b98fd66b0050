// The shared hash table: probing, replacement, ageing and the parallel clear
// (mate scores: the search tests; sizes: the protocol tests).
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include "search/threads.h"
#include "search/tt.h"
#include "test_util.h"

namespace {

// Four keys that share cluster 0 of the current table.
u64 clusterKey(int i) { return (u64(i + 1) << 40) & ~ttMask; }

struct SmallTable {
    SmallTable() {
        initEngineForTests();
        EXPECT_TRUE(ttResize(1));
    }
    ~SmallTable() { ttResize(ttSizeMb); }
};

}  // namespace

// A probe finds what was stored; the same position overwrites its entry
// whatever the depth; in a full cluster the shallowest, stalest entry goes.
TEST(HashTable, ProbeOverwriteAndReplacement) {
    SmallTable t;
    ttNewSearch();
    const u64 key = 0x123456789ABCDEF0ULL;
    EXPECT_EQ(ttProbe(key).word, 0u);
    ttStore(key, makeMove(1, 2, 0), 50, 20, BOUND_EXACT);
    EXPECT_EQ(ttProbe(key).depth(), 20);
    ttStore(key, makeMove(3, 4, 0), -7, 1, BOUND_UPPER);  // shallower, still replaces
    const TTEntry e = ttProbe(key);
    EXPECT_EQ(e.depth(), 1);
    EXPECT_EQ(e.score(), -7);
    EXPECT_EQ(e.move().from, 3);

    ttClear();
    ttNewSearch();
    const int depths[4] = {5, 3, 3, 7};
    const int bounds[4] = {BOUND_LOWER, BOUND_EXACT, BOUND_UPPER, BOUND_LOWER};
    for (int i = 0; i < 4; i++) ttStore(clusterKey(i), makeMove(i + 1, 9, 0), 0, depths[i], bounds[i]);
    const u64 newcomer = clusterKey(10);
    ttStore(newcomer, makeMove(9, 10, 0), 0, 1, BOUND_LOWER);
    EXPECT_NE(ttProbe(clusterKey(1)).bound(), BOUND_NONE);  // 3 + exact bonus survives
    EXPECT_EQ(ttProbe(clusterKey(2)).bound(), BOUND_NONE);  // plain 3 goes
    EXPECT_NE(ttProbe(newcomer).bound(), BOUND_NONE);

    // An entry from 63 searches ago loses 252, one from 64 searches ago nothing.
    for (int age : {63, 64}) {
        ASSERT_TRUE(ttResize(1));
        ttNewSearch();  // generation 0
        ttStore(clusterKey(0), Move{}, 0, 100, BOUND_LOWER);
        for (int i = 0; i < age; i++) ttNewSearch();
        for (int i = 1; i < 4; i++) ttStore(clusterKey(i), Move{}, 0, 10, BOUND_LOWER);
        ttStore(clusterKey(20), Move{}, 0, 10, BOUND_LOWER);
        EXPECT_EQ(ttProbe(clusterKey(0)).bound() == BOUND_NONE, age == 63) << age;
        EXPECT_EQ(ttProbe(clusterKey(1)).bound() == BOUND_NONE, age == 64) << "equal values: lowest slot goes";
    }
}

TEST(HashTable, ClearWithSeveralThreadsZeroesEverythingAndRestartsGenerations) {
    SmallTable t;
    ASSERT_TRUE(ttResize(4));
    const int savedThreads = threadCount;
    for (int count : {1, 3, 7}) {
        threadCount = count;
        for (int i = 0; i < 5; i++) ttNewSearch();
        for (u64 c = 0; c <= ttMask; c += 97) ttStore(c * 7919 + 1, makeMove(1, 2, 0), 1, 1, BOUND_EXACT);
        // Fill the last cluster so that the remainder share is checked too.
        ttStore(ttMask, makeMove(1, 2, 0), 1, 1, BOUND_EXACT);
        ttClear();
        u64 nonZero = 0;
        for (u64 c = 0; c <= ttMask; c++)
            for (int i = 0; i < 4; i++)
                nonZero += ttClusters[c].entry[i].load() != 0 || ttClusters[c].keys[i].load() != 0;
        EXPECT_EQ(nonZero, 0u) << count;
        EXPECT_EQ(searchCounter, 0u);
        ttNewSearch();
        EXPECT_EQ(ttGeneration, 0);
    }
    threadCount = savedThreads;
}

// A fresh table is cleared as it is made, so its pages are in memory before
// the first search touches them (a first search used to pay for that).
TEST(HashTable, ANewTableIsInMemoryAtOnce) {
    SmallTable t;
    ASSERT_TRUE(ttResize(8));
    const size_t bytes = (ttMask + 1) * sizeof(TTCluster);
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((bytes + page - 1) / page);
    ASSERT_EQ(mincore(static_cast<void*>(ttClusters), bytes, resident.data()), 0);
    const auto missing = std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return !(r & 1); });
    EXPECT_EQ(missing, 0) << "of " << resident.size() << " pages";
}
