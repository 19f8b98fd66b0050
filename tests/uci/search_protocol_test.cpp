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
const std::string MATED = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3";
const std::string ONE_REPLY = "k7/8/8/8/8/8/1r6/K7 w - - 0 1";

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
    engine.send("position startpos moves e2e4");
    const Lines shallow = engine.search("go depth 6");
    ASSERT_EQ(shallow.size(), 1u) << ::testing::PrintToString(shallow);
    checkBestMove("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1", shallow.back());
}

TEST(SearchProtocol, MoveTimeEndsTheSearchOnTime) {
    Engine engine;
    engine.send("position startpos");
    const auto start = std::chrono::steady_clock::now();
    const Lines out = engine.search("go movetime 300");
    const long long took = msSince(start);
    ASSERT_FALSE(out.empty());
    EXPECT_GE(took, 250) << "the search may use its whole time";
    EXPECT_LE(took, 300 + PROMPT_MS);
    checkBestMove(START_FEN, out.back());
}

TEST(SearchProtocol, InfiniteSearchWaitsForStopAndAnswersIsReadyMeanwhile) {
    Engine engine;
    engine.send("position startpos");
    engine.send("go infinite");
    Lines seen = linesFor(engine, 500);
    EXPECT_TRUE(withPrefix(seen, "bestmove").empty()) << "an infinite search only ends on stop";

    const auto asked = std::chrono::steady_clock::now();
    engine.send("isready");
    ASSERT_TRUE(engine.waitFor("readyok", PROMPT_MS, &seen));
    EXPECT_LE(msSince(asked), PROMPT_MS);
    EXPECT_TRUE(withPrefix(seen, "bestmove").empty()) << "readyok comes while the search goes on";

    const auto stopped = std::chrono::steady_clock::now();
    engine.send("stop");
    const auto best = engine.waitFor("bestmove", PROMPT_MS);
    ASSERT_TRUE(best) << "no bestmove after stop";
    EXPECT_LE(msSince(stopped), PROMPT_MS);
    checkBestMove(START_FEN, *best);

    // A mate found in an infinite search is announced, but the search goes
    // on until stop, and then plays the mate.
    engine.send("position fen " + MATE_IN_ONE);
    engine.send("go infinite");
    seen = linesFor(engine, 300);
    EXPECT_FALSE(withPrefix(seen, "info score mate 1 ").empty());
    EXPECT_TRUE(withPrefix(seen, "bestmove").empty());
    engine.send("stop");
    const auto mate = engine.waitFor("bestmove", PROMPT_MS);
    ASSERT_TRUE(mate);
    EXPECT_EQ(words(*mate).at(1), "d1d8");
}

TEST(SearchProtocol, PonderSearchWaitsForPonderhit) {
    const std::string afterE4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1";
    Engine engine;
    engine.send("position startpos moves e2e4");
    engine.send("go ponder wtime 1000 btime 1000");
    // Longer than the whole clock: pondering still does not end by itself.
    const Lines seen = linesFor(engine, 1500);
    EXPECT_TRUE(withPrefix(seen, "bestmove").empty()) << "pondering ended without ponderhit";
    const auto hit = std::chrono::steady_clock::now();
    engine.send("ponderhit");
    auto best = engine.waitFor("bestmove", PROMPT_MS);
    ASSERT_TRUE(best) << "no bestmove after ponderhit";
    EXPECT_LE(msSince(hit), PROMPT_MS);
    checkBestMove(afterE4, *best);

    // A ponderhit before the time is used up turns the search into a normal
    // one: it ends on its own clock.
    engine.send("go ponder wtime 1000 btime 1000");
    engine.send("ponderhit");
    best = engine.waitFor("bestmove", 1000 + PROMPT_MS);
    ASSERT_TRUE(best) << "no bestmove after an early ponderhit";
    checkBestMove(afterE4, *best);
}

TEST(SearchProtocol, ThreadCountChangesAndQuitDuringAFourThreadSearch) {
    {
        Engine engine;
        for (const int n : {4, 2, 1}) {
            engine.send("setoption name Threads value " + std::to_string(n));
            const Lines said = engine.sync();
            EXPECT_EQ(said, Lines{"info string Number of threads set to : " + std::to_string(n)});
            engine.send("position startpos moves d2d4");
            // A timed search lets the threads vote; a depth limit does not.
            for (const std::string go : {"go movetime 300", "go depth 6"}) {
                const Lines out = engine.search(go);
                ASSERT_FALSE(out.empty()) << n << " threads, " << go;
                checkBestMove("rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq - 0 1", out.back());
            }
        }
    }
    // "quit" and the end of input during a search end the program cleanly.
    for (const bool quit : {true, false}) {
        Engine engine;
        engine.send("setoption name Threads value 4");
        engine.sync();
        engine.send("go infinite");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto start = std::chrono::steady_clock::now();
        if (quit)
            engine.send("quit");
        else
            engine.closeInput();
        const int status = engine.waitExit(2 * PROMPT_MS);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "status " << status << (quit ? " after quit" : "");
        EXPECT_LE(msSince(start), 2 * PROMPT_MS);
    }
}

TEST(SearchProtocol, MatedRootSingleReplyAndMateInOne) {
    Engine engine;
    engine.send("position fen " + MATED);
    Lines out = engine.search("go depth 5");
    EXPECT_EQ(out, (Lines{"info score mate 0", "bestmove a1a1"}));

    // One legal move: the search stops after depth 3, whatever the limit,
    // so it prints no info line.
    {
        TestPosition pos(ONE_REPLY);
        ASSERT_EQ(legalMoveTexts(*pos), Lines{"a1b2"});
    }
    engine.send("position fen " + ONE_REPLY);
    auto start = std::chrono::steady_clock::now();
    out = engine.search("go depth 60", PROMPT_MS);
    EXPECT_LE(msSince(start), PROMPT_MS);
    EXPECT_EQ(out, Lines{"bestmove a1b2"});

    // A mate in one is announced at depth 1 and ends the search at once.
    engine.send("position fen " + MATE_IN_ONE);
    start = std::chrono::steady_clock::now();
    out = engine.search("go depth 60", PROMPT_MS);
    EXPECT_LE(msSince(start), PROMPT_MS);
    ASSERT_EQ(out.size(), 2u);
    const auto f = infoFields(out[0]);
    EXPECT_TRUE(out[0].rfind("info score mate 1 depth 1 nodes ", 0) == 0) << out[0];
    EXPECT_EQ(f.count("seldepth"), 0u) << "the mate line has no seldepth";
    EXPECT_EQ(f.at("pv"), "d1d8");
    EXPECT_EQ(checkBestMove(MATE_IN_ONE, out[1]), "d1d8");

    // "ucinewgame" answers readyok by itself.
    engine.send("ucinewgame");
    engine.send("isready");
    EXPECT_EQ(engine.readLine(PROMPT_MS), "readyok");
    EXPECT_EQ(engine.readLine(PROMPT_MS), "readyok");
}

TEST(SearchProtocol, Chess960SearchesNameCastlingAsKingTakesRook) {
    const Chess960Mode texts(true);
    Engine engine;
    engine.send("setoption name UCI_Chess960 value true");
    engine.sync();
    // The king already stands on g1: castling only moves the rook, to the
    // attacked f1, and is the one legal move.
    const std::string castleOnly = "k4r2/8/8/8/8/7p/7P/6KR w H - 0 1";
    {
        TestPosition pos(castleOnly);
        ASSERT_EQ(legalMoveTexts(*pos), Lines{"g1h1"});
    }
    engine.send("position fen " + castleOnly);
    Lines out = engine.search("go depth 5");
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(checkBestMove(castleOnly, out.back()), "g1h1");

    for (const int index : {0, 759}) {
        const std::string fen = chess960StartFen(index);
        engine.send("position fen " + fen);
        out = engine.search("go depth 7");
        ASSERT_FALSE(out.empty());
        checkBestMove(fen, out.back());
    }
    // Castling into either corner is legal here; whatever is played must
    // be legal in Chess960 notation.
    const std::string bothSides = "r3k2r/ppp2ppp/2nqbn2/3pp3/3PP3/2NQBN2/PPP2PPP/R3K2R w HAha - 0 1";
    engine.send("position fen " + bothSides);
    out = engine.search("go depth 7");
    ASSERT_FALSE(out.empty());
    checkBestMove(bothSides, out.back());
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
