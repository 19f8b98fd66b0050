// Tablebases end to end: with SyzygyPath set the engine answers each move
// from the tables and converts won KRvK and KPvK endings against itself.
#include <gtest/gtest.h>

#include <vector>

#include "../uci/engine_session.h"

namespace {

using session::Engine;
using session::Lines;

// The stronger side with tables (one "depth 127" line a move) against the
// weaker searching 50 ms a move without them. Returns how the game ended.
std::string playOut(const std::string& fen, int strongSide, int maxPlies) {
    Engine strong, weak;
    strong.send("setoption name SyzygyPath value " + testData("syzygy/tables"));
    strong.sync();
    TestPosition board(fen);
    std::vector<u64> keys{board->key};
    std::string moves;
    for (int ply = 0; ply < maxPlies; ply++) {
        const bool tables = board->sideToMove == strongSide;
        Engine& mover = tables ? strong : weak;
        mover.send("position fen " + fen + (moves.empty() ? "" : " moves" + moves));
        const Lines out = mover.search(tables ? "go depth 30" : "go movetime 50");
        if (out.empty()) return "no answer";
        const std::string best = session::words(out.back())[1];
        if (tables && (out.size() != 2 || session::infoFields(out[0]).at("depth") != "127" ||
                       session::infoFields(out[0]).at("pv") != best))
            return "not answered from the tables: " + out[0];
        if (!playText(*board, best)) return "illegal move " + best;
        moves += " " + best;
        keys.push_back(board->key);
        const std::string end = session::gameEnding(*board, keys);
        if (!end.empty()) return end + (board->sideToMove == strongSide ? " of the side with the tables" : "");
    }
    return "move cap";
}

}  // namespace

TEST(TablebaseGames, RookAndPawnEndingsAreConverted) {
    // Mate is the only acceptable end: a won ending drawn or repeated fails.
    EXPECT_EQ(playOut("8/8/3k4/8/8/4K3/8/R7 w - - 0 1", WHITE, 120), "checkmate");
    EXPECT_EQ(playOut("4k3/8/4K3/4P3/8/8/8/8 b - - 0 1", WHITE, 160), "checkmate");
    EXPECT_EQ(playOut("k7/8/8/8/8/8/6R1/4K3 b - - 0 1", WHITE, 120), "checkmate");
}
