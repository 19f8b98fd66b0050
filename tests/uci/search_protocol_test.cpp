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
const std::string MATE_IN_ONE = "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1";
const std::string AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1";

// Reads lines for the given time; all of them.
Lines linesFor(EngineProcess& engine, int ms) {
    Lines seen;
    const auto start = std::chrono::steady_clock::now();
    while (msSince(start) < ms)
        if (auto line = engine.readLine(int(ms - msSince(start)))) seen.push_back(*line);
    return seen;
}

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

// Infinite and ponder searches never end by themselves, not after a mate is
// announced nor past the whole clock; "isready" is answered meanwhile, and
// "stop" or "ponderhit" brings the move at once.
TEST(SearchProtocol, InfiniteAndPonderSearchesWaitForTheirRelease) {
    const struct {
        std::string fen, go;
        int waitMs;
        std::string release, announced, move;  // announced: the start of an info line due meanwhile
    } cases[] = {
        {START_FEN, "go infinite", 500, "stop", "", ""},
        {MATE_IN_ONE, "go infinite", 300, "stop", "info score mate 1 ", "d1d8"},
        {AFTER_E4, "go ponder wtime 1000 btime 1000", 1500, "ponderhit", "", ""},
    };
    Engine engine;
    for (const auto& c : cases) {
        engine.send("position fen " + c.fen);
        engine.send(c.go);
        Lines seen = linesFor(engine, c.waitMs);
        engine.send("isready");
        ASSERT_TRUE(engine.waitFor("readyok", PROMPT_MS, &seen)) << c.go;
        EXPECT_TRUE(withPrefix(seen, "bestmove").empty()) << c.fen << ": '" << c.go << "' ended before " << c.release;
        if (!c.announced.empty()) {
            EXPECT_FALSE(withPrefix(seen, c.announced).empty()) << c.fen;
        }
        engine.send(c.release);
        const auto best = engine.waitFor("bestmove", PROMPT_MS);
        ASSERT_TRUE(best) << "no bestmove after " << c.release;
        const std::string move = checkBestMove(c.fen, *best);
        if (!c.move.empty()) {
            EXPECT_EQ(move, c.move);
        }
    }
    // A ponderhit before the time is used up turns the search into a normal
    // one: it ends on its own clock.
    engine.send("go ponder wtime 1000 btime 1000");
    engine.send("ponderhit");
    const auto best = engine.waitFor("bestmove", 1000 + PROMPT_MS);
    ASSERT_TRUE(best) << "no bestmove after an early ponderhit";
    checkBestMove(AFTER_E4, *best);
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
        {chess960StartFen(0), ""},
        {chess960StartFen(759), ""},
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
