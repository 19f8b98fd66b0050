// Deep perft: the Chess960 suite at depth 6 and the start position at depth 6.
#include <gtest/gtest.h>

#include "board/fen.h"
#include "board/movegen.h"
#include "board/perft.h"
#include "perft_suite.h"

TEST(PerftDeep, StartPositionDepthSix) {
    chess960 = false;
    TestPosition p(START_FEN);
    EXPECT_EQ(perft(0, 6, *p), 119060324u);
}

TEST(PerftDeep, Chess960SuiteDepthSix) {
    chess960 = true;
    for (const PerftCase& c : readChess960Suite()) {
        TestPosition p(c.fen);
        EXPECT_EQ(perft(0, 6, *p), c.counts[5]) << c.fen;
    }
    chess960 = false;
}
