// Perft against the reference suites (Chess960 depth 6: the slow tests).
#include "perft_suite.h"

TEST(Perft, StandardSuite) { runPerftSuite("standard.txt", false, 92, 1, 9); }

TEST(Perft, Chess960SuiteToDepthFive) { runPerftSuite("chess960.txt", true, 40, 1, 5); }
