// The info lines of shallow iterations are output only: a search that prints
// them plays the same move after the same number of nodes as one that prints
// nothing (as the engine's own searches for openings and data do).

#include <gtest/gtest.h>

#include "search/driver.h"
#include "search/threads.h"
#include "test_util.h"
#include "uci/engine.h"

TEST(SearchDriver, InfoLinesLeaveTheSearchAsItWas) {
    initEngineForTests();
    useBootstrapNetwork();
    CapturedOutput out;
    executeCommand("setoption name Threads value 1");
    const std::string fens[] = {
        START_FEN,
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
        "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1",  // a mate line instead of the score
    };
    // Searches that end below depth 10 (no ponder move) and above (the
    // driver's own extraction then sets one).
    for (const int depth : {6, SANITIZER_SCALE > 1 ? 7 : 10}) {
        for (const std::string& fen : fens) {
            std::string answer[2];
            for (const bool quiet : {false, true}) {
                quietSearch = quiet;
                executeCommand("ucinewgame");
                executeCommand("position fen " + fen);
                const size_t before = out.text().size();
                executeCommand("go depth " + std::to_string(depth));
                waitIdle(*threads[0]);
                const std::string said = out.text().substr(before);
                const Position& p = *threads[0]->position;
                answer[quiet] = said.substr(said.rfind("bestmove")) + std::to_string(p.searchNodes + p.quiescenceNodes);
                EXPECT_EQ(said.find("info score") == std::string::npos, quiet) << said;
            }
            quietSearch = false;
            EXPECT_EQ(answer[0], answer[1]) << fen << ", depth " << depth;
        }
    }
}
