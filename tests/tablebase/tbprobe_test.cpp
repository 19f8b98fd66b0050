// Probe values against vectors computed by an independent implementation,
// for every position of at most four men (the tables kept with the tests).
#include "tb_test_util.h"

namespace {

class TablebaseProbe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        initEngineForTests();
        ASSERT_TRUE(tbInit(smallTablesDir()));
    }
    static void TearDownTestSuite() { tbInit(""); }
};

int sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

// The vectors are raw table values: they take every position as if it had
// just been reached by a capture or pawn move. probeWdl and probeDtz read
// the tables the same way and never look at the halfmove clock (only the
// root probe's classification does, see TablebaseRoot), so every line must
// agree whatever clock its FEN carries.
TEST_F(TablebaseProbe, VectorsAgree) {
    const auto vectors = readTbVectors(testData("syzygy/vectors-4men.txt"));
    ASSERT_GT(vectors.size(), 1000u);
    int wrongWdl = 0, wrongDtz = 0;
    for (const TbVector& v : vectors) {
        const TbPosition p = tbPositionFromFen(v.fen);
        int success;
        const int wdl = probeWdl(p, success);
        ASSERT_NE(success, 0) << v.fen;
        const int dtz = probeDtz(p, success);
        ASSERT_NE(success, 0) << v.fen;
        if (wdl != v.wdl) wrongWdl++;
        if (dtz != v.dtz) wrongDtz++;
        EXPECT_EQ(wdl, v.wdl) << v.fen;
        EXPECT_EQ(dtz, v.dtz) << v.fen;
    }
    EXPECT_EQ(wrongWdl, 0);
    EXPECT_EQ(wrongDtz, 0);
}

// Mate in one is one ply to the end, also where the DTZ table holds only
// the losing side (KBNvK, KBBvK) and the value comes from a search one ply
// deeper; the mated side has -1.
TEST_F(TablebaseProbe, MateInOneIsOnePly) {
    std::mt19937_64 rng(5);
    int mates = 0;
    for (const char* material : {"KBNvK", "KBBvK", "KQvK", "KRvK", "KQvKN"})
        for (int i = 0; i < 4000; i++) {
            TbPosition p = tbRandomPosition(material, rng);
            p.whiteToMove = true;
            if (!tbIsValid(p)) continue;
            TbMove moves[TB_MAX_MOVES];
            const TbMove* end = tbGenerateMoves(p, moves);
            TbPosition next;
            for (const TbMove* m = moves; m < end; m++) {
                if (!tbDoMove(p, *m, next) || !tbIsMate(next) || tbIsZeroing(p, *m)) continue;
                int success;
                EXPECT_EQ(probeDtz(p, success), 1) << tbToFen(p);
                EXPECT_EQ(probeDtz(next, success), -1) << tbToFen(next);
                EXPECT_EQ(probeWdl(next, success), TB_LOSS) << tbToFen(next);
                mates++;
                break;
            }
        }
    EXPECT_GT(mates, 50);
}

// The WDL value is the best over the moves: a won position has a move to a
// lost one, a lost position only moves to won ones (counting zeroing moves
// by their child's WDL), and DTZ agrees with WDL on the sign and the size.
TEST_F(TablebaseProbe, ValuesConsistentWithChildren) {
    std::mt19937_64 rng(3);
    for (const char* material : {"KRvKB", "KQvKP", "KPvKP", "KBNvK", "KRvKN"})
        for (int i = 0; i < 120; i++) {
            const TbPosition p = tbRandomPosition(material, rng);
            int success;
            const int wdl = probeWdl(p, success);
            ASSERT_NE(success, 0);
            const int dtz = probeDtz(p, success);
            ASSERT_NE(success, 0);
            EXPECT_EQ(dtz > 0, wdl > 0) << tbToFen(p);
            EXPECT_EQ(dtz < 0, wdl < 0) << tbToFen(p);
            if (wdl == TB_WIN || wdl == TB_LOSS) {
                EXPECT_LE(std::abs(dtz), 100) << tbToFen(p);
            } else if (wdl != TB_DRAW) {
                EXPECT_GT(std::abs(dtz), 100) << tbToFen(p);
            }
            TbMove moves[TB_MAX_MOVES];
            const TbMove* end = tbGenerateMoves(p, moves);
            TbPosition next;
            int best = -3;
            for (const TbMove* m = moves; m < end; m++)
                if (tbDoMove(p, *m, next)) best = std::max(best, -probeWdl(next, success));
            if (best == -3) continue;  // mate or stalemate: the table decides
            // Cursed and blessed values can differ by the move that zeroes,
            // but wins, draws and losses must match.
            EXPECT_EQ(sign(best), sign(wdl)) << tbToFen(p);
        }
}

// The search probe: WDL + 2, the fifty-move counter ignored, en passant
// taken from the ply asked for, -1 where no table answers.
TEST_F(TablebaseProbe, SearchProbe) {
    TestPosition won("8/8/8/8/5KQ1/8/8/4k3 w - - 22 33");
    EXPECT_EQ(tbProbeWdl(0, *won), 4);
    TestPosition lost("6K1/8/8/8/7k/8/7R/8 b - - 0 77");
    EXPECT_EQ(tbProbeWdl(0, *lost), 0);
    TestPosition drawn("5k2/8/8/8/2B5/8/8/3K4 b - - 59 64");
    EXPECT_EQ(tbProbeWdl(0, *drawn), 2);
    // The vectors' en-passant positions (KPvKP).
    int epLines = 0, epChanges = 0;
    for (const TbVector& v : readTbVectors(testData("syzygy/vectors-4men.txt"))) {
        if (v.fen.find(" - - ") != std::string::npos) continue;
        TestPosition e(v.fen);
        EXPECT_EQ(tbProbeWdl(0, *e), v.wdl + 2) << v.fen;
        // Without the en-passant right the value is the table's.
        const TbPosition p = tbFromPosition(*e, 0, 0);
        TbPosition noEp = p;
        noEp.epSquare = 0;
        int success;
        const int plain = probeWdl(noEp, success);
        e->plyStack[0].epSquare = 0;
        EXPECT_EQ(tbProbeWdl(0, *e), plain + 2) << v.fen;
        epLines++;
        epChanges += plain != v.wdl;
    }
    EXPECT_EQ(epLines, 140);
    EXPECT_GT(epChanges, 10);
    // Five men with only four-man tables: no answer.
    TestPosition big("8/8/8/8/5KQ1/8/3r4/2r1k3 w - - 0 1");
    EXPECT_EQ(tbProbeWdl(0, *big), -1);
    // Bare kings are a draw without any file.
    TestPosition kings("8/8/8/8/5K2/8/8/4k3 w - - 0 1");
    EXPECT_EQ(tbProbeWdl(0, *kings), 2);
}
