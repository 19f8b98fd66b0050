// Deep perft: the Chess960 suite at depth 6 and the start position at depth 6.
#include "board/fen.h"
#include "perft_suite.h"

TEST(PerftDeep, StartPositionDepthSix) {
    Chess960Mode mode(false);
    TestPosition p(START_FEN);
    EXPECT_EQ(perft(0, 6, *p), 119060324u);
}

TEST(PerftDeep, Chess960SuiteDepthSix) { runPerftSuite("chess960.txt", true, 40, 6, 6); }
