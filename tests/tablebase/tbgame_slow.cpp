// Tablebases end to end: the engine with SyzygyPath set answers a won root
// with one "depth 127" line and a winning move, and converts won KRvK and
// KPvK positions against the same engine searching without tables.
#include <gtest/gtest.h>

#include <vector>

#include "../uci/engine_session.h"

namespace {

using session::Engine;
using session::Lines;

std::string tablesDir() { return testData("syzygy/tables"); }

// Plays the stronger side with tables (one instant root probe a move)
// against the weaker side searching 50 ms a move without them. Returns how
// the game ended.
std::string playOut(const std::string& fen, int strongSide, int maxPlies) {
    Engine strong, weak;
    strong.send("setoption name SyzygyPath value " + tablesDir());
    strong.sync();
    TestPosition board(fen);
    std::vector<u64> keys{board->key};
    std::string moves;
    for (int ply = 0; ply < maxPlies; ply++) {
        Engine& mover = board->sideToMove == strongSide ? strong : weak;
        mover.send("position fen " + fen + (moves.empty() ? "" : " moves" + moves));
        const Lines out = mover.search(board->sideToMove == strongSide ? "go depth 30" : "go movetime 50");
        if (out.empty()) return "no answer";
        const std::string best = session::words(out.back())[1];
        if (!session::playText(*board, best)) return "illegal move " + best;
        moves += " " + best;
        keys.push_back(board->key);
        const std::string end = session::gameEnding(*board, keys);
        if (!end.empty()) return end + (board->sideToMove == strongSide ? " of the side with the tables" : "");
    }
    return "move cap";
}

}  // namespace

TEST(TablebaseGames, WonRootAnswersFromTheTables) {
    Engine e;
    e.send("setoption name SyzygyPath value " + tablesDir());
    const Lines reply = e.sync();
    ASSERT_EQ(reply, Lines{"info string Syzygy tablebases used from directory : " + tablesDir()});
    e.send("position fen 8/K7/8/7k/8/1Q6/8/8 w - - 0 35");
    const Lines out = e.search("go depth 20");
    ASSERT_EQ(out.size(), 2u) << "one info line, then the move";
    const auto fields = session::infoFields(out[0]);
    EXPECT_EQ(fields.at("depth"), "127");
    EXPECT_EQ(fields.at("cp"), "31859");
    // The move is legal and the one the info line names.
    EXPECT_EQ(session::checkBestMove("8/K7/8/7k/8/1Q6/8/8 w - - 0 35", out[1]), fields.at("pv"));
}

TEST(TablebaseGames, RookAndPawnEndingsAreConverted) {
    // Mate is the only acceptable end: a won ending drawn or repeated fails.
    EXPECT_EQ(playOut("8/8/3k4/8/8/4K3/8/R7 w - - 0 1", WHITE, 120), "checkmate");
    EXPECT_EQ(playOut("4k3/8/4K3/4P3/8/8/8/8 b - - 0 1", WHITE, 160), "checkmate");
    EXPECT_EQ(playOut("k7/8/8/8/8/8/6R1/4K3 b - - 0 1", WHITE, 120), "checkmate");
}
