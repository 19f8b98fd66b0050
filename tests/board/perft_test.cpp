// Perft against the reference suites (standard chess in full, Chess960 up to
// depth 5; depth 6 runs in the slow label). The self-check commands that
// read perft files are tried through the binary (protocol tests).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "board/fen.h"
#include "board/movegen.h"
#include "board/perft.h"
#include "perft_suite.h"
#include "platform/output.h"
#include "search/tt.h"

TEST(Perft, StandardSuite) {
    Chess960Mode mode(false);
    const std::vector<PerftCase> cases = readStandardSuite();
    ASSERT_EQ(cases.size(), 92u);
    for (const PerftCase& c : cases) {
        TestPosition p(c.fen);
        EXPECT_EQ(perft(0, int(c.counts.size()), *p), c.counts.back()) << c.fen;
        EXPECT_EQ(checkConsistency(*p), "") << c.fen;
    }
}

TEST(Perft, Chess960SuiteToDepthFive) {
    Chess960Mode mode(true);
    const std::vector<PerftCase> cases = readChess960Suite();
    ASSERT_EQ(cases.size(), 40u);
    for (const PerftCase& c : cases) {
        TestPosition p(c.fen);
        for (int d = 1; d <= 5; d++) EXPECT_EQ(perft(0, d, *p), c.counts[d - 1]) << c.fen << " depth " << d;
    }
}

TEST(Perft, MateAndStalemateHaveNoLeaves) {
    for (const char* fen : {"7k/6Q1/6K1/8/8/8/8/8 b - - 0 1", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"})
        for (int d = 1; d <= 3; d++) {
            TestPosition p(fen);
            EXPECT_EQ(perft(0, d, *p), 0u) << fen;
        }
}
