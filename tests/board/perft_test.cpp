// Perft against the reference suites (standard chess in full, Chess960 up to
// depth 5; depth 6 runs in the slow label). The self-check commands that
// read perft files are tried through the binary (protocol tests).
#include "perft_suite.h"

TEST(Perft, StandardSuite) { runPerftSuite("standard.txt", false, 92, 1, 9); }

TEST(Perft, Chess960SuiteToDepthFive) { runPerftSuite("chess960.txt", true, 40, 1, 5); }
