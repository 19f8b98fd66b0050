// Whole games through the command protocol: one engine process plays both
// sides on a clock, every move checked by the board code, until the game
// ends by the rules or by a move cap.

#include <gtest/gtest.h>

#include "engine_session.h"

using namespace session;

namespace {

void playAndCheck(const GameSetup& setup, int threads) {
    Engine engine;
    engine.send("setoption name Threads value " + std::to_string(threads));
    engine.sync();
    const GameRecord game = playGame(engine, setup);
    std::string moves;
    for (const std::string& m : game.moves) moves += m + " ";
    EXPECT_NE(game.ending, "illegal move") << moves;
    EXPECT_FALSE(game.ending.empty());
    std::cout << "[ game ] " << setup.fen << ": " << game.moves.size() << " plies, " << game.ending << "\n";
}

}  // namespace

TEST(SelfPlay, StandardGameOnAClock) {
    GameSetup setup;
    setup.clockMs = 3000;
    setup.incrementMs = 30;
    playAndCheck(setup, 1);
}

TEST(SelfPlay, Chess960GameOnAClockWithTwoThreads) {
    GameSetup setup;
    setup.fen = chess960StartFen(137);
    setup.chess960 = true;
    setup.clockMs = 3000;
    setup.incrementMs = 30;
    playAndCheck(setup, 2);
}
