// Several search threads probing while the tables are mapped on first use.
#include <atomic>
#include <thread>

#include "tb_test_util.h"

TEST(TablebaseThreads, ConcurrentProbesWhileMapping) {
    initEngineForTests();
    ASSERT_TRUE(tbInit(smallTablesDir()));

    // Positions of every four-man material, either colour first.
    std::mt19937_64 rng(99);
    std::vector<TbPosition> positions;
    for (const std::string& name : tbAllTableNames()) {
        if (name.size() > 5) continue;
        const size_t v = name.find('v');
        const std::string reversed = name.substr(v + 1) + "v" + name.substr(0, v);
        for (int i = 0; i < 24; i++) positions.push_back(tbRandomPosition(i & 1 ? reversed : name, rng));
    }
    struct Result {
        int wdl, dtz, success;
    };
    std::vector<Result> expected;
    for (const TbPosition& p : positions) {
        Result r;
        r.wdl = probeWdl(p, r.success);
        r.dtz = probeDtz(p, r.success);
        ASSERT_NE(r.success, 0) << tbToFen(p);
        expected.push_back(r);
    }

    // Fresh registration: nothing mapped yet. Four threads, each in its own
    // random order, race for the first mappings.
    ASSERT_TRUE(tbInit(smallTablesDir()));
    std::atomic<int> wrong{0}, probes{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&, t] {
            std::mt19937_64 order(u64(t) * 7919 + 1);
            std::vector<size_t> indices(positions.size());
            for (size_t i = 0; i < indices.size(); i++) indices[i] = i;
            std::shuffle(indices.begin(), indices.end(), order);
            while (!go.load()) std::this_thread::yield();
            for (size_t i : indices) {
                int success;
                const int wdl = probeWdl(positions[i], success);
                const int dtz = probeDtz(positions[i], success);
                if (!success || wdl != expected[i].wdl || dtz != expected[i].dtz) wrong++;
                probes++;
            }
        });
    go = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(probes.load(), int(4 * positions.size()));
    tbInit("");
}
