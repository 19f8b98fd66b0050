// Deep perft: the Chess960 suite at depth 6 (the standard suite runs in full
// with the fast tests).
#include "perft_suite.h"

TEST(PerftDeep, Chess960SuiteDepthSix) { runPerftSuite("chess960.txt", true, 40, 6, 6); }
