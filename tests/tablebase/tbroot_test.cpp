// The root probe: the DTZ-optimal move, its translation into an engine move,
// the fifty-move classification of the score and the "info" line.
#include <regex>

#include "tb_test_util.h"

namespace {

class TablebaseRoot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        initEngineForTests();
        ASSERT_TRUE(tbInit(smallTablesDir()));
    }
    static void TearDownTestSuite() { tbInit(""); }
};

struct RootAnswer {
    Move move;
    int score;
    std::string output;
};

RootAnswer probeRoot(Position& pos) {
    CapturedOutput out;
    RootAnswer a{Move{}, -99999, ""};
    a.move = tbProbeRoot(pos, &a.score);
    a.output = out.text();
    return a;
}

// Expected score under the fifty-move rule from the root's counter.
int classify(int dtz, int counter) {
    if (dtz > 0) return dtz + counter <= 100 ? 31872 - dtz : 0;
    if (dtz < 0) return counter - dtz <= 100 ? -dtz - 31872 : 0;
    return 0;
}

}  // namespace

TEST_F(TablebaseRoot, EveryListedRootGetsAnOptimalMove) {
    const auto cases = readTbRootCases(testData("syzygy/root-4men.txt"));
    ASSERT_EQ(cases.size(), 180u);
    const std::regex infoLine("info score cp (-?[0-9]+) depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv ([a-h][1-8]){2}[nbrq]?\n");
    for (const TbRootCase& c : cases) {
        int dtz = 0;
        const TbMove best = rootBestMove(tbPositionFromFen(c.fen), &dtz);
        ASSERT_NE(best, 0) << c.fen;
        EXPECT_NE(std::find(c.moves.begin(), c.moves.end(), tbMoveText(best)), c.moves.end())
            << c.fen << " chose " << tbMoveText(best);

        // The engine move is the same move, legal, and announced.
        TestPosition p(c.fen);
        const RootAnswer a = probeRoot(*p);
        const std::string text = moveToText(a.move, p->sideToMove, *p);
        EXPECT_EQ(text, tbMoveText(best)) << c.fen;
        EXPECT_TRUE(sameMove(parseLegalMove(text, 0, *p), a.move)) << c.fen << " " << text;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(a.output, m, infoLine)) << a.output;
        EXPECT_EQ(std::stoi(m[1]), a.score);
        EXPECT_EQ(a.score, classify(dtz, p->rule50)) << c.fen;
    }
}

// The vectors' halfmove clocks count only here: a win whose distance does
// not fit into the moves left before the fifty-move draw (and a loss that
// lasts beyond it) scores 0 at the root. In the four-man vectors one line is
// such a case (8/8/8/3B4/6K1/4N3/4k3/8 w - - 55 48: DTZ 50, 55 plies played).
TEST_F(TablebaseRoot, FiftyMoveCounterDecidesScore) {
    int probed = 0, spoiled = 0;
    for (const TbVector& v : readTbVectors(testData("syzygy/vectors-4men.txt"))) {
        TestPosition p(v.fen);
        if (!tbHasLegalMove(tbFromPosition(*p, 0, 0))) continue;  // mate or stalemate: no move
        const RootAnswer a = probeRoot(*p);
        ASSERT_FALSE(isNoMove(a.move)) << v.fen;
        EXPECT_EQ(a.score, classify(v.dtz, p->rule50)) << v.fen;
        probed++;
        if (v.wdl != 0 && std::abs(v.dtz) <= 100 && a.score == 0) spoiled++;
    }
    EXPECT_GT(probed, 1000);
    EXPECT_EQ(spoiled, 1);

    TestPosition late("8/8/8/3B4/6K1/4N3/4k3/8 w - - 55 48");
    EXPECT_EQ(probeRoot(*late).score, 0);
    TestPosition fresh("8/8/8/3B4/6K1/4N3/4k3/8 w - - 50 48");
    EXPECT_EQ(probeRoot(*fresh).score, 31872 - 50);
    // Cursed wins and blessed losses score 0 whatever the counter.
    for (const TbVector& v : readTbVectors(testData("syzygy/vectors-4men.txt")))
        if (v.wdl == TB_CURSED_WIN || v.wdl == TB_BLESSED_LOSS) {
            TestPosition p(v.fen);
            EXPECT_EQ(probeRoot(*p).score, 0) << v.fen;
        }
}

TEST_F(TablebaseRoot, SpecialMovesTranslate) {
    // En passant, the only move that keeps the win: the engine's move names
    // the captured pawn's square.
    TestPosition ep("8/8/7k/3pP3/8/K7/8/8 w - d6 0 47");
    const RootAnswer a = probeRoot(*ep);
    EXPECT_EQ(a.move.flag, FLAG_EP);
    EXPECT_EQ(a.move.from, 36);
    EXPECT_EQ(a.move.to, 35);
    EXPECT_NE(a.output.find(" pv e5d6\n"), std::string::npos);
    // Promotion to a queen or rook.
    TestPosition promo("8/6P1/k7/8/7K/8/8/8 w - - 0 80");
    const Move m = probeRoot(*promo).move;
    EXPECT_TRUE(m.flag == FLAG_PROMO_Q || m.flag == FLAG_PROMO_R);
    EXPECT_EQ(m.to, 62);
}

TEST_F(TablebaseRoot, DrawingMoveIsFixed) {
    TestPosition p("8/1k6/8/7K/8/8/8/1B6 b - - 0 36");  // KBvK
    const RootAnswer first = probeRoot(*p);
    ASSERT_FALSE(isNoMove(first.move));
    EXPECT_EQ(first.score, 0);
    for (int i = 0; i < 3; i++) EXPECT_TRUE(sameMove(probeRoot(*p).move, first.move));
    EXPECT_NE(first.output.find("info score cp 0 depth 127"), std::string::npos);
}

TEST_F(TablebaseRoot, PositionsNotProbed) {
    const char* fens[] = {
        "4k3/8/8/8/8/8/8/R3K3 w Q - 0 1",      // castling rights
        "R6k/8/6K1/8/8/8/8/8 b - - 0 1",       // checkmated: nothing to play
        "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1",      // stalemate
        "8/8/8/8/5KQ1/8/3r4/2r1k3 w - - 0 1",  // five men, four-man tables
    };
    for (const char* fen : fens) {
        TestPosition p(fen);
        const RootAnswer a = probeRoot(*p);
        EXPECT_TRUE(isNoMove(a.move)) << fen;
        EXPECT_EQ(a.output, "") << fen;
    }
    // Without tables nothing answers.
    ASSERT_TRUE(tbInit(""));
    TestPosition p("8/K7/8/7k/8/1Q6/8/8 w - - 0 35");
    EXPECT_TRUE(isNoMove(probeRoot(*p).move));
    ASSERT_TRUE(tbInit(smallTablesDir()));
}
