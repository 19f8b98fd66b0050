// The search as a GUI sees it: the real binary is started and spoken to
// through pipes while it searches, and every move it names is checked with
// the board code.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>
#include <thread>

#include "engine_session.h"

using namespace session;

namespace {

const std::string ENDGAME = "8/8/4k3/8/2p5/8/B2P2K1/8 w - - 0 1";
const std::string AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1";

}  // namespace

TEST(SearchProtocol, InfoLinesFromDepthTenAndALegalBestMove) {
    Engine engine;
    engine.send("position fen " + ENDGAME);
    const Lines out = engine.search("go depth 11");
    ASSERT_FALSE(out.empty());
    const std::regex form(R"(info score cp -?\d+ depth \d+ seldepth \d+ nodes \d+ nps \d+ time \d+ tbhits \d+)"
                          R"( pv( [a-h][1-8][a-h][1-8][nbrq]?)+ ?)");
    std::vector<int> depths;
    std::map<std::string, std::string> last;
    for (const std::string& info : withPrefix(out, "info")) {
        ASSERT_TRUE(std::regex_match(info, form)) << info;
        const auto f = infoFields(info);
        depths.push_back(std::stoi(f.at("depth")));
        const unsigned long long nodes = std::stoull(f.at("nodes")), time = std::stoull(f.at("time"));
        EXPECT_GT(nodes, 0u) << info;
        EXPECT_GE(time, 1u) << info;
        EXPECT_EQ(std::stoull(f.at("nps")), nodes * 1000 / time) << info;
        EXPECT_GT(std::stoi(f.at("seldepth")), 0) << info;
        TestPosition pos(ENDGAME);
        for (const std::string& m : words(f.at("pv")))
            ASSERT_TRUE(playText(*pos, m)) << "pv move " << m << ": " << info;
        last = f;
    }
    EXPECT_EQ(depths, (std::vector<int>{10, 11})) << "one line per iteration, none below depth 10";
    // With a depth limit the boss reports its own search: the best move and
    // the ponder move are the first two moves of its last principal variation.
    const std::string best = checkBestMove(ENDGAME, out.back());
    const Lines pv = words(last["pv"]);
    ASSERT_FALSE(pv.empty());
    EXPECT_EQ(best, pv[0]);
    if (pv.size() > 1) {
        EXPECT_EQ(out.back(), "bestmove " + pv[0] + " ponder " + pv[1]);
    }

    // Depth 6 ends below depth 10: the move alone, no info line.
    engine.send("position fen " + AFTER_E4);
    const Lines shallow = engine.search("go depth 6");
    ASSERT_EQ(shallow.size(), 1u) << ::testing::PrintToString(shallow);
    checkBestMove(AFTER_E4, shallow.back());
}

// "quit" and the end of input during a four-thread search end the program
// cleanly and at once.
TEST(SearchProtocol, QuitAndEndOfInputDuringAFourThreadSearch) {
    for (const bool quit : {true, false}) {
        Engine engine;
        engine.send("setoption name Threads value 4");
        engine.send("go infinite");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (quit)
            engine.send("quit");
        else
            engine.closeInput();
        const int status = engine.waitExit(2 * PROMPT_MS);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << (quit ? " after quit" : "");
    }
}

// With UCI_Chess960 castling is named as the king taking its rook. In the
// first root the king already stands on g1: castling only moves the rook,
// to the attacked f1, and is the one legal move. In the last, castling into
// either corner is legal.
TEST(SearchProtocol, Chess960SearchesNameCastlingAsKingTakesRook) {
    const Chess960Mode texts(true);
    Engine engine;
    engine.send("setoption name UCI_Chess960 value true");
    const struct {
        std::string fen, move;
    } cases[] = {
        {"k4r2/8/8/8/8/7p/7P/6KR w H - 0 1", "g1h1"},
        {"r3k2r/ppp2ppp/2nqbn2/3pp3/3PP3/2NQBN2/PPP2PPP/R3K2R w HAha - 0 1", ""},
    };
    for (const auto& c : cases) {
        engine.send("position fen " + c.fen);
        const Lines out = engine.search("go depth 7");
        ASSERT_FALSE(out.empty()) << c.fen;
        const std::string move = checkBestMove(c.fen, out.back());
        if (!c.move.empty()) {
            EXPECT_EQ(move, c.move) << c.fen;
        }
    }
}

TEST(SearchProtocol, BenchIsDeterministic) {
    Engine engine;
    std::vector<unsigned long long> counts;
    for (int run = 0; run < 2; run++) {
        engine.send("bench 6");
        const auto summary = engine.waitFor("Nodes searched", SEARCH_MS);
        ASSERT_TRUE(summary);
        counts.push_back(std::stoull(words(*summary).back()));
    }
    EXPECT_GT(counts[0], 0u);
    EXPECT_EQ(counts[0], counts[1]);
    // Bench leaves the engine ready to search the start position.
    const Lines out = engine.search("go depth 3");
    ASSERT_FALSE(out.empty());
    checkBestMove(START_FEN, out.back());
}
