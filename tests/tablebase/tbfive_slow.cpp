// Five-man tables: the vector and root-move files against the shared table
// directory (not kept in the repository; skipped when missing).
#include <filesystem>
#include <numeric>

#include "tb_test_util.h"

class TablebaseFiveMen : public ::testing::Test {
protected:
    void SetUp() override {
        initEngineForTests();
        if (!std::filesystem::exists(sharedTablesDir() + "/KNNvKP.rtbw"))
            GTEST_SKIP() << "no five-man tables in " << sharedTablesDir();
        ASSERT_TRUE(tbInit(sharedTablesDir()));
        ASSERT_EQ(tbLargest, 5);
        ASSERT_EQ(tbCounts().wdl, 44);
    }
    void TearDown() override { tbInit(""); }
};

// Raw values (the FENs' clocks play no part), and optimal root moves.
TEST_F(TablebaseFiveMen, AllVectorsAgreeAndRootMovesOptimal) {
    const std::vector<int> byMen = expectVectorsAgree(std::string(VELMORA_SHARED_DATA) + "/syzygy-vectors.txt");
    EXPECT_EQ(std::accumulate(byMen.begin(), byMen.end(), 0), 2000);
    EXPECT_GT(byMen[5], 500);

    const auto cases = readTbFile(std::string(VELMORA_SHARED_DATA) + "/syzygy-root.txt");
    ASSERT_EQ(cases.size(), 300u);
    for (const TbVector& c : cases) {
        int dtz;
        const TbMove m = rootBestMove(tbPositionFromFen(c.fen), &dtz);
        EXPECT_NE(std::find(c.moves.begin(), c.moves.end(), tbMoveText(m)), c.moves.end())
            << c.fen << " chose " << tbMoveText(m);
    }
}
