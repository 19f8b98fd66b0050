// The search as GUIs and match managers see it: the real binary is started
// and spoken to through pipes while it searches, and every move it names is
// checked with the board code.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <deque>
#include <random>
#include <regex>
#include <thread>

#include "engine_session.h"

using namespace session;

namespace {

const std::string ENDGAME = "8/8/4k3/8/2p5/8/B2P2K1/8 w - - 0 1";
const std::string STALEMATED = "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1";
const std::string MATED = "7k/6Q1/6K1/8/8/8/8/8 b - - 0 1";
const std::string ONE_REPLY = "k7/8/8/8/8/8/1r6/K7 w - - 0 1";
const std::string MATE_IN_ONE = "6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1";
const std::string AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1";

}  // namespace

// Searches long and short (the node counts of data generation too) print one
// well-formed line with a score and a legal variation for every completed
// depth from 1. The best move begins the last variation, also where a node
// count stopped an iteration after it changed the move (that iteration then
// prints its own line); under a depth limit from depth 10 on the ponder move
// follows it.
TEST(SearchProtocol, InfoLineEveryIterationAndALegalBestMove) {
    const std::regex form(R"(info score cp -?\d+ depth \d+ seldepth \d+ nodes \d+ nps \d+ time \d+ tbhits \d+)"
                          R"( pv( [a-h][1-8][a-h][1-8][nbrq]?)+ ?)");
    Engine engine;
    for (const auto& [fen, depth] :
         {std::pair{ENDGAME, 11}, {ENDGAME, 5}, {ENDGAME, 0}, {AFTER_E4, 5}, {AFTER_E4, 0}}) {  // 0: go nodes 5000
        const std::string go = depth ? "go depth " + std::to_string(depth) : "go nodes 5000";
        SCOPED_TRACE(fen + ", " + go);
        engine.send("ucinewgame");
        engine.send("position fen " + fen);
        const Lines out = engine.search(go);
        ASSERT_FALSE(out.empty());
        const Lines infos = withPrefix(out, "info");
        ASSERT_EQ(infos.size() + 2, out.size()) << "readyok, the lines and the move";
        std::map<std::string, std::string> f;
        for (size_t i = 0; i < infos.size(); i++) {
            ASSERT_TRUE(std::regex_match(infos[i], form)) << infos[i];
            f = infoFields(infos[i]);
            EXPECT_EQ(f.at("depth"), std::to_string(i + 1)) << infos[i];
            const unsigned long long nodes = std::stoull(f.at("nodes")), time = std::stoull(f.at("time"));
            // Seldepth counts no quiescence plies: depth 1 may show 0.
            EXPECT_TRUE(nodes > 0 && time > 0 && (i == 0 || std::stoi(f.at("seldepth")) > 0)) << infos[i];
            EXPECT_EQ(std::stoull(f.at("nps")), nodes * 1000 / time) << infos[i];
            EXPECT_LT(std::abs(std::stoi(f.at("cp"))), 2000) << infos[i];
            TestPosition pos(fen);
            for (const std::string& m : words(f.at("pv"))) ASSERT_TRUE(playText(*pos, m)) << m << " in " << infos[i];
        }
        EXPECT_TRUE(depth ? infos.size() == size_t(depth) : infos.size() >= 4) << infos.size() << " lines";
        const std::string move = checkBestMove(fen, out.back());
        const Lines pv = words(f["pv"]);
        if (pv.empty()) continue;
        EXPECT_EQ(move, pv[0]);
        EXPECT_TRUE(depth < 10 || pv.size() < 2 || out.back() == "bestmove " + pv[0] + " ponder " + pv[1])
            << out.back();
    }
    // Many node counts, so that some stop an iteration that changed the move.
    for (const std::string& fen : {ENDGAME, AFTER_E4, std::string(START_FEN)})
        for (int nodes = 200; nodes <= 6000; nodes += 200) {
            engine.send("position fen " + fen);
            const Lines out = engine.search("go nodes " + std::to_string(nodes));
            const Lines infos = withPrefix(out, "info score");
            ASSERT_FALSE(infos.empty()) << fen << ", " << nodes << " nodes";
            const Lines pv = words(infoFields(infos.back())["pv"]);
            ASSERT_FALSE(pv.empty()) << infos.back();
            EXPECT_EQ(checkBestMove(fen, out.back()), pv[0]) << fen << ", " << nodes << " nodes: " << infos.back();
        }
    // A line ends at the hundredth half-move without a capture or a pawn
    // move, also where the hash table holds the moves of the same positions
    // seen with a younger counter.
    const std::string pawnless = "8/8/4k3/8/8/2Q5/6K1/3r4 w - - ";
    engine.send("ucinewgame");
    engine.send("position fen " + pawnless + "0 60");
    engine.search("go depth 12");
    for (int depth : {12, 6}) {
        engine.send("position fen " + pawnless + "96 80");
        for (const std::string& line : withPrefix(engine.search("go depth " + std::to_string(depth)), "info score")) {
            TestPosition pos(pawnless + "96 80");
            for (const std::string& m : words(infoFields(line)["pv"])) {
                ASSERT_LT(pos->rule50, 100) << line;
                ASSERT_TRUE(playText(*pos, m)) << line;
            }
        }
    }
}

// "quit" and the end of input end a four-thread search and the program.
TEST(SearchProtocol, QuitAndEndOfInputDuringAFourThreadSearch) {
    for (const bool quit : {true, false}) {
        Engine engine;
        engine.send("setoption name Threads value 4");
        engine.send("go infinite");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        quit ? engine.send("quit") : engine.closeInput();
        const int status = engine.waitExit(2 * PROMPT_MS);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << (quit ? " after quit" : "");
    }
}

TEST(SearchProtocol, BenchIsDeterministic) {
    Engine engine;
    Lines counts;
    for (int run = 0; run < 2; run++) {
        engine.send("bench 6");
        const auto summary = engine.waitFor("Nodes searched", SEARCH_MS);
        ASSERT_TRUE(summary);
        counts.push_back(words(*summary).back());
    }
    EXPECT_NE(counts[0], "0");
    EXPECT_EQ(counts[0], counts[1]);
    // Run from the command line, with tables whose pages were never cleared.
    const std::string once = runEngine("", {"bench", "6"});
    EXPECT_NE(once.find("Nodes searched  : " + counts[0] + "\n"), std::string::npos) << once.substr(once.size() > 200 ? once.size() - 200 : 0);
    const Lines out = engine.search("go depth 3");
    ASSERT_FALSE(out.empty());
    checkBestMove(START_FEN, out.back());
}

// Each position has a move that looks like mate but stalemates; with it its
// real mate (Stockfish, depth 18; 0: none), which an announced mate must not
// undercut and which must not turn into a stalemate.
TEST(Reliability, StalemateTraps) {
    const std::pair<std::string, int> traps[] = {
        {"8/8/8/4b3/8/5k2/7p/7K b - - 1 86", 0},  // Bf4 stalemates
        {"8/8/8/8/8/5k2/7p/5b1K b - - 0 1", 0},   // Kg3 stalemates
        {"7k/5K2/8/6Q1/8/8/8/8 w - - 0 1", 1},    // Qg6 stalemates, Qg7 mates
        {"k7/2Q5/8/2K5/8/8/8/8 w - - 0 1", 3},    // most king moves stalemate
        {"8/8/8/8/8/k7/2q5/K7 b - - 0 1", 1},     // Kb3 stalemates, Qb2 mates
        {"7k/8/5KP1/8/8/8/8/8 w - - 0 1", 0},     // Kf7 stalemates
    };
    for (int threads : {1, 3}) {
        Engine engine;
        engine.send("setoption name Threads value " + std::to_string(threads));
        for (const auto& [fen, mate] : traps)
            for (int depth : {2, 3, 7}) {
                SCOPED_TRACE(::testing::Message() << fen << ", depth " << depth << ", " << threads << " threads");
                engine.send("ucinewgame");
                ASSERT_TRUE(engine.waitFor("readyok", SEARCH_MS));
                engine.send("position fen " + fen);
                const Lines out = engine.search("go depth " + std::to_string(depth));
                ASSERT_FALSE(out.empty());
                for (const std::string& text : withPrefix(out, "info score mate ")) {
                    const int m = std::stoi(infoFields(text).at("mate"));
                    EXPECT_TRUE(m > 0 ? mate > 0 && mate <= m : mate < 0 && mate >= m) << text;
                }
                TestPosition pos(fen);
                ASSERT_TRUE(playText(*pos, checkBestMove(fen, out.back())));
                EXPECT_FALSE(mate > 0 && legalMoveTexts(*pos).empty() && !isInCheck(*pos)) << "stalemated a mate";
            }
    }
}

// Roots that leave no choice answer at once with any number of threads, also
// after a search has filled the workers' buffers, and timed (the threads
// vote) as well as depth-limited: mated and stalemated roots with the empty
// move, a single legal move after three iterations, a mate in one at depth 1
// (the mate line alone, no seldepth). In the last root the one legal move is Chess960 castling (king
// takes rook) that only moves the rook.
TEST(Reliability, RootsWithoutChoiceAnswerAtOnceWithAnyThreadCount) {
    const std::string ITERATION = "info score cp -?[0-9]+ depth ";
    const struct {
        std::string fen;
        Lines expected;  // patterns
        bool timed;      // false: the helpers of a timed search run on and may win the vote
    } cases[] = {
        {STALEMATED, {"info score cp 0 depth 0", "bestmove a1a1"}, true},
        {MATED, {"info score mate 0", "bestmove a1a1"}, true},
        {ONE_REPLY, {ITERATION + "1 .*", ITERATION + "2 .*", ITERATION + "3 .*", "bestmove a1b2"}, false},
        {MATE_IN_ONE,
         {R"(info score mate 1 depth 1 nodes \d+ nps \d+ time \d+ tbhits \d+ pv d1d8 ?)", "bestmove d1d8"},
         false},
        {"k4r2/8/8/8/8/7p/7P/6KR w H - 0 1",
         {ITERATION + "1 .*", ITERATION + "2 .*", ITERATION + "3 .*", "bestmove g1h1"},
         false},
    };
    Engine engine;
    engine.send("setoption name UCI_Chess960 value true");
    for (int threads : {1, 2, 4}) {
        engine.send("setoption name Threads value " + std::to_string(threads));
        engine.send("position startpos");
        ASSERT_FALSE(engine.search("go movetime 50").empty());
        for (int repeat = 0; repeat < 3; repeat++)
            for (const auto& c : cases)
                for (const std::string go : {"go depth 60", c.timed ? "go movetime 60000" : "go depth 60"}) {
                    engine.send("position fen " + c.fen);
                    const Lines out = engine.search(go, PROMPT_MS);
                    ASSERT_EQ(out.size(), c.expected.size()) << c.fen << ", " << threads << " threads, " << go;
                    for (size_t i = 0; i < out.size(); i++)
                        EXPECT_TRUE(std::regex_match(out[i], std::regex(c.expected[i]))) << out[i] << ", " << go;
                }
    }
}

// A "go" sent before the last "bestmove" leaves the running search its limits.
TEST(Reliability, ASecondGoLeavesTheRunningSearchItsLimits) {
    Engine engine;
    engine.send("position startpos");
    for (const auto& [first, second] : {std::pair{"go movetime 300", "go depth 1"},
                                        {"go depth 1", "go movetime 300"}, {"go infinite", "go depth 1"}}) {
        engine.send(first);
        engine.send(second);
        for (const std::string go : {first, second}) {
            Lines seen;
            const int limitMs = go == "go movetime 300" ? 300 : 0;
            ASSERT_TRUE(engine.waitFor("bestmove", PROMPT_MS + limitMs, &seen)) << go << " lost its limits";
            checkBestMove(START_FEN, seen.back());
            for (const std::string& info : withPrefix(seen, "info score"))
                EXPECT_TRUE(go != "go depth 1" || infoFields(info).at("depth") == "1") << "went deeper: " << info;
        }
    }
}

// Infinite searches, pondering (even past the whole clock) and searches with
// numbers too large for their fields (clamped, never wrapped) run until
// released, even after announcing a mate, answer "isready" meanwhile, and
// name their move at once after "stop" or "ponderhit".
TEST(Reliability, UnboundedSearchesRunUntilReleased) {
    const struct {
        std::string fen, go;
        int waitMs;
        std::string release, announced, move;  // announced: the start of an info line due meanwhile
    } cases[] = {
        {START_FEN, "go infinite", 500, "stop", "", ""},
        {MATE_IN_ONE, "go infinite", 300, "stop", "info score mate 1 ", "d1d8"},
        {AFTER_E4, "go ponder wtime 1000 btime 1000", 1500, "ponderhit", "", ""},
        {AFTER_E4, "go ponder wtime 1000 btime 1000", 0, "ponderhit", "", ""},  // then it ends on its clock
        {START_FEN, "go wtime 3000000000 btime 3000000000", 300, "stop", "", ""},
        {START_FEN, "go wtime 60000 btime 60000 winc 3000000000 binc 3000000000", 300, "stop", "", ""},
        {START_FEN, "go movetime 3000000000", 300, "stop", "", ""},
        {START_FEN, "go depth 3000000000", 300, "stop", "", ""},
        {START_FEN, "go nodes 99999999999999999999", 300, "stop", "", ""},
    };
    Engine engine;
    for (const auto& c : cases) {
        engine.send("position fen " + c.fen);
        engine.send(c.go);
        Lines seen;
        for (const auto start = std::chrono::steady_clock::now(); msSince(start) < c.waitMs;)
            if (auto text = engine.readLine(int(c.waitMs - msSince(start)))) seen.push_back(*text);
        engine.send("isready");
        ASSERT_TRUE(engine.waitFor("readyok", PROMPT_MS, &seen)) << c.go;
        EXPECT_TRUE(withPrefix(seen, "bestmove").empty()) << c.fen << ": '" << c.go << "' ended before " << c.release;
        EXPECT_TRUE(c.announced.empty() || !withPrefix(seen, c.announced).empty()) << c.fen;
        engine.send(c.release);
        const auto best = engine.waitFor("bestmove", PROMPT_MS);
        ASSERT_TRUE(best) << "no bestmove after " << c.release << " of '" << c.go << "'";
        const std::string move = checkBestMove(c.fen, *best);
        EXPECT_TRUE(c.move.empty() || move == c.move) << move;
    }
}

// "go nodes N" ends by itself near N nodes, the count its last info line gives.
TEST(Reliability, GoNodesEndsNearTheCount) {
    constexpr unsigned long long N = 100000;
    for (int threads : {1, 2}) {
        Engine engine;
        engine.send("setoption name Threads value " + std::to_string(threads));
        engine.send("position fen " + ENDGAME);
        const Lines out = engine.search("go nodes " + std::to_string(N));
        ASSERT_FALSE(out.empty());
        checkBestMove(ENDGAME, out.back());
        const Lines infos = withPrefix(out, "info score cp");
        ASSERT_FALSE(infos.empty()) << "no info line";
        const unsigned long long nodes = std::stoull(infoFields(infos.back()).at("nodes"));
        // The last line may miss another thread's last few hundred nodes.
        EXPECT_TRUE(nodes >= N * 9 / 10 && nodes <= N + 20000ull * threads) << nodes << ", " << threads << " threads";
    }
}

// A random stream of GUI commands in orders the protocol allows: every
// "bestmove" is legal in its own "go"'s position, and the engine ends ready.
TEST(Reliability, ProtocolStress) {
    const Lines roots = {START_FEN,   ENDGAME,   STALEMATED, MATED,
                         MATE_IN_ONE, ONE_REPLY, "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4"};
    Engine engine;
    std::mt19937_64 rng(20240612);
    auto chance = [&](int percent) { return int(rng() % 100) < percent; };
    auto pick = [&](int low, int high) { return low + int(rng() % u64(high - low + 1)); };

    std::deque<std::string> pending;  // the root of every "go" not yet answered
    enum Kind { FINITE, INFINITE, PONDER } running = FINITE;
    std::string root = START_FEN;
    int readyAsked = 0, readySeen = 0, answered = 0;

    auto take = [&](const std::string& text) {
        if (text == "readyok") readySeen++;
        if (text.rfind("bestmove", 0) != 0) return;
        ASSERT_FALSE(pending.empty()) << "bestmove without a go: " << text;
        TestPosition pos(pending.front());  // the empty move where there is none
        EXPECT_TRUE(legalMoveTexts(*pos).empty() ? text == "bestmove a1a1" : checkBestMove(pending.front(), text) != "")
            << pending.front() << ": " << text;
        pending.pop_front();
        answered++;
    };
    auto await = [&](const std::string& prefix, int waitMs) {
        Lines seen;
        ASSERT_TRUE(engine.waitFor(prefix, waitMs, &seen)) << "no " << prefix << ", " << pending.size() << " pending";
        for (const std::string& text : seen) take(text);
    };
    auto ready = [&](int percent) { if (chance(percent)) engine.send("isready"), readyAsked++; };
    auto go = [&]() {
        const int kind = pick(0, 5);
        // Smaller fixed searches in the slow sanitizer builds.
        const std::string commands[] = {
            "go depth " + std::to_string(pick(1, SANITIZER_SCALE > 1 ? 4 : 7)),
            "go nodes " + std::to_string(pick(1000, 40000 / SANITIZER_SCALE)),
            "go movetime " + std::to_string(pick(10, 120)),
            "go wtime " + std::to_string(pick(200, 3000)) + " btime 3000 winc 10 binc 10",
            "go infinite",
            "go ponder wtime 1000 btime 1000 winc 10 binc 10"};
        running = kind == 4 ? INFINITE : kind == 5 ? PONDER : FINITE;
        pending.push_back(root);
        engine.send(commands[kind]);
    };
    auto position = [&]() { engine.send("position fen " + (root = roots[rng() % roots.size()])); };
    // "stop" reaches the newest search; a GUI may send the next one at once.
    auto stop = [&]() {
        engine.send("stop");
        running = FINITE;
        if (chance(50)) position(), go();
    };

    // Three seconds of traffic, longer on a loaded machine until enough
    // searches were answered for the run to mean something.
    const int enough = SANITIZER_SCALE > 1 ? 3 : 10;
    const auto start = std::chrono::steady_clock::now();
    while (msSince(start) < 3000 || (answered < enough && msSince(start) < 30000)) {
        if (pending.empty()) {
            if (chance(30)) position();
            if (chance(8)) engine.send("setoption name Threads value " + std::to_string(pick(1, 4)));
            ready(10);
            go();
        } else if (pending.size() > 1 || running == FINITE) {
            // Finite searches end by themselves.
            ready(15);
            chance(30) ? stop() : await("bestmove", SEARCH_MS);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(pick(0, 30)));
            ready(20);
            if (running == PONDER && chance(50))
                engine.send("ponderhit"), running = FINITE;
            else
                stop();
        }
        while (auto text = engine.readLine(0)) take(*text);
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
    }
    if (running != FINITE) engine.send("stop");
    while (!pending.empty() && !::testing::Test::HasFatalFailure()) await("bestmove", SEARCH_MS);
    ready(100);
    await("readyok", PROMPT_MS);
    while (auto text = engine.readLine(100)) take(*text);
    EXPECT_EQ(readySeen, readyAsked);
    EXPECT_GE(answered, enough);
}
