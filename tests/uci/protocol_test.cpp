// The command protocol as seen from outside: the real binary is started, fed
// standard input and its output compared line by line.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine_session.h"
#include "uci/engine.h"

using namespace session;

namespace {

const std::string START = START_FEN;
const std::string START_BOARD = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR";
const std::string BUILD_NAME = std::string("Velmora 3.0") + BUILD_SUFFIX;
const std::string UNABLE = ". Unable to calculate the best move for a position.";
const std::string DEFAULT_NET = std::string(VELMORA_BINARY).substr(0, std::string(VELMORA_BINARY).rfind('/') + 1) +
                                DEFAULT_NET_FILE;

using Conversation = std::vector<std::pair<std::string, Lines>>;

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The diagram "showboard" and "perft" print for the placement field of a FEN.
Lines diagram(const std::string& placement) {
    const std::string border = "+---+---+---+---+---+---+---+---+";
    Lines out = {border, "|"};
    for (const char c : placement) {
        if (c == '/') out.insert(out.end(), {border, "|"});
        for (char empty = '1'; empty <= c && c <= '8'; empty++) out.back() += "   |";
        if (c > '8') out.back() += std::string(" ") + c + " |";
    }
    out.push_back(border);
    return out;
}

// The "perft" reply: the diagram, the time taken and the count.
Lines perft(const std::string& placement, const std::string& result) {
    return diagram(placement) + Lines{"*", "Perft results for depth: " + result + "  Nodes per sec: *"};
}

// "hashstats" of an empty table of this many entries.
Lines emptyTableStats(const std::string& entries) {
    Lines out = {"Size of info : pos structure : *",
                 "Hash Statistics ",
                 "Number of entries " + entries,
                 "Used entries 1",
                 "Type of entries UPPER - LOWER - EXACT 0\t - 0\t - 0",
                 "Percentage of entries UPPER - LOWER - EXACT 0\t - 0\t - 0",
                 "Number of Hashmoves 0",
                 "Age distribution nof - prcused - prctotal"};
    for (int i = 0; i < 64 + 1 + 128; i++)
        out.push_back(i == 64 ? "Depth distribution " : std::to_string(i < 64 ? i : i - 65) + "  0 - 0 - 0");
    return out;
}

// Runs the commands in one session, each followed by "isready", and compares
// each reply with its lines; a line ending in '*' matches by its prefix.
void expectReplies(const Conversation& conversation) {
    std::string input = "isready\n";  // start-up output is left out
    for (const auto& c : conversation) input += c.first + "\nisready\n";
    const Lines lines = splitLines(runEngine(input));
    auto it = std::find(lines.begin(), lines.end(), "readyok");
    for (const auto& [command, want] : conversation) {
        ASSERT_NE(it, lines.end()) << "no reply to " << command.substr(0, 200);
        const auto end = std::find(++it, lines.end(), "readyok");
        const Lines got(it, end);
        bool same = got.size() == want.size();
        for (size_t j = 0; same && j < want.size(); j++) {
            const std::string& w = want[j];
            same = !w.empty() && w.back() == '*' ? got[j].rfind(w.substr(0, w.size() - 1), 0) == 0 : got[j] == w;
        }
        EXPECT_TRUE(same) << command.substr(0, 200) << "\n got: " << ::testing::PrintToString(got)
                          << "\nwant: " << ::testing::PrintToString(want);
        it = end;
    }
    EXPECT_TRUE(it != lines.end() && it + 1 == lines.end()) << "output after the last readyok";
}

// A file of the given contents in the scratch directory; returns its path.
std::string tempFile(const TempDir& dir, const std::string& name, const std::string& contents) {
    dir.write(name, contents);
    return dir / name;
}

}  // namespace

TEST(ProtocolTest, StartUpEndOfInputQuitAndCommandLine) {
    // The banner, the default network found beside the executable, and the
    // end of input ends the program with exit code 0 (runEngine checks it).
    const Lines lines = splitLines(runEngine(""));
    EXPECT_EQ(lines, (Lines{BUILD_NAME, "by Tesserwick", "", "enter 'help' to see the commands", "Net read"}));

    // "ucinewgame" answers readyok by itself; nothing after "quit" is read.
    const Lines quit = splitLines(runEngine("ucinewgame\nisready\nquit\nisready\n"));
    EXPECT_EQ(std::count(quit.begin(), quit.end(), "readyok"), 2);

    // Command-line arguments run one command, and no input is read.
    const Lines perft = withPrefix(splitLines(runEngine("isready\nperft 1\n", {"perft", "3"})), "Perft results");
    ASSERT_EQ(perft.size(), 1u);
    EXPECT_EQ(perft[0].rfind("Perft results for depth: 3  8902  Nodes per sec: ", 0), 0u) << perft[0];
}

// A copy of the executable started elsewhere reads the network beside it,
// and refuses to search when that one is damaged.
TEST(ProtocolTest, TheNetworkBesideTheExecutableComesBeforeTheBuiltInOne) {
    const TempDir dir;
    std::filesystem::copy_file(VELMORA_BINARY, dir / "engine");
    for (const bool damaged : {false, true}) {
        if (damaged) tempFile(dir, DEFAULT_NET_FILE, "not a network");
        const std::string text = runEngine("position startpos\ngo depth 3\n", {}, "cd / && " + (dir / "engine"));
        EXPECT_EQ(text.find("bestmove ") == std::string::npos, damaged) << text;
        EXPECT_EQ(text.find("NetFile not found/correct: " + std::string(DEFAULT_NET_FILE)) != std::string::npos, damaged)
            << text;
    }
}

// Replies to commands and options, in one session; the options come last,
// where a failed network load leaves the engine unable to search.
TEST(ProtocolTest, RepliesToCommandsAndOptions) {
    const TempDir dir;
    const std::string kiwipete = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
    // A mated side has no moves at any depth, so its "rtestRFC" line is cheap.
    const std::string mated = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3";
    const std::string matedLine = mated + ";D1 0;D2 0;D3 0;D4 0;D5 0;D6 0\n";
    const std::string noFile = "There seems to be a problem with the perftFile. check of the move generator not executed";
    // Lines after "full" are not checked.
    const std::string good =
        tempFile(dir, "good", START + " ;2 ;400\n" + kiwipete + " ;1 ;48\n\nfull\n" + START + " ;1 ;9\n");
    // A wrong count, a malformed line and a bad FEN: every line is still checked.
    const std::string bad = tempFile(dir, "bad", START + " ;2 ;401\n" + START + " ;x ;400\n" +
                                                     "8/8/8/8/8/8/8/8 w - - 0 1 ;1 ;0\n" + START + " ;1 ;20\n");
    const std::string allDepths =
        tempFile(dir, "allDepths", matedLine + START + ";D1 20;D2 401;D3 8902;D4 197281;D5 4865609;D6 119060324\n" +
                                       START + ";D1 20;D2 400\n");
    const std::string allGood = tempFile(dir, "allGood", matedLine);
    const std::string afterE4 = "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR";
    const std::string bytes = readFile(DEFAULT_NET);
    ASSERT_GT(bytes.size(), 25184056u);
    const std::string truncated = tempFile(dir, "truncated", bytes.substr(0, 1000000));
    const std::string longer = tempFile(dir, "longer", bytes + "extra");
    const std::string tables = testData("syzygy/tables");
    // A folder named like a table is not a table.
    std::filesystem::create_directories(dir / "folders/KQvK.rtbw");
    expectReplies({
        {"uci",
         {"id name " + BUILD_NAME, "id author Tesserwick", "option name Threads type spin default 1 min 1 max 256",
          "option name Hash type spin default 256 min 1 max 262144", "option name Ponder type check default false",
          "option name MoveOverhead type spin default 100 min 1 max 60000",
          "option name SyzygyPath type string default <empty>",
          "option name SyzygyProbeDepth type spin default 0 min 0 max 127",
          "option name WindowsNumaNode type spin default 0 min 0 max 4",
          "option name NetFile type string default <empty>", "option name UCI_Chess960 type check default false",
          "uciok"}},
        {"hashstats", emptyTableStats("16777216")},  // 256 MB default
        {"foo", {"Unknown command"}},
        {"", {"Unknown command"}},
        {"   ", {"Unknown command"}},
        {"help",
         {"supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop 'quit' 'setoption' 'isready'",
          "other commands 'perft depth', default depth=6, change board with 'position'; "
          "'showboard' shows the current board"}},
        // "perft" keeps its last depth and refuses bad ones.
        {"perft 4", perft(START_BOARD, "4  197281")},
        {"perft", perft(START_BOARD, "4  197281")},
        {"perft 2", perft(START_BOARD, "2  400")},
        {"perft abc", Lines{"info string perft depth 'abc' is not a number; using depth 2"} + perft(START_BOARD, "2  400")},
        {"perft 0", Lines{"info string perft depth must be 1 to 100; using depth 2"} + perft(START_BOARD, "2  400")},
        {"perft 101", Lines{"info string perft depth must be 1 to 100; using depth 2"} + perft(START_BOARD, "2  400")},
        // "position" plays the moves up to the first illegal one.
        {"position startpos moves e2e4 e7e5", {}},
        {"showboard", diagram(afterE4)},
        {"position startpos moves e2e4 e2e4 g1f3", {"info string Illegal move: e2e4; the moves from there on are ignored"}},
        {"perft 1", perft("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR", "1  20")},
        {"position startpos moves e2e4 e7e5 g1f3 b8c6 f1c4 g8f6 e1g1", {}},
        {"showboard", diagram("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQ1RK1")},
        {"position startpos moves e7e5", {"info string Illegal move: e7e5; the moves from there on are ignored"}},
        {"position nonsense", {"info string position needs 'startpos' or 'fen'; position unchanged"}},
        {"position fen 4k3/8/8/8/8/8/8/4RK2 w - - 0 1 moves e1e2",
         {"info string Invalid FEN (the side not to move is in check); position unchanged"}},
        {"showboard", diagram(START_BOARD)},
        // Perft files; the FEN field is echoed as written, with the blank before ';'.
        {"rtest " + good,
         {"1; " + START + " ; 2; 400; 400; *", "1; " + kiwipete + " ; 1; 48; 48; *",
          "Results of the perft checks is OK: 1"}},
        {"rtest " + bad,
         {"0; " + START + " ; 2; 401; 400; *", "info string perft file line 2 is malformed: " + START + " ;x ;400",
          "info string perft file line 3 has a bad FEN (*", "1; *", "Results of the perft checks is OK: 0"}},
        {"rtest /no/such/velmora/file.txt", {noFile}},
        {"rtestRFC /no/such/velmora/file.txt", {noFile}},
        {"rtestRFC " + allDepths,
         {mated, "Okidoki", START, "WRONGGGGGGGGGGGG 2 correct : 401 berekend : 400",
          "info string perft file line 3 is malformed: " + START + ";D1 20;D2 400",
          "Results of the perft checks (0 = wrong, 1 = OK) : 0"}},
        {"rtestRFC " + allGood, {mated, "Okidoki", "Results of the perft checks (0 = wrong, 1 = OK) : 1"}},
        {"setoption name Hash value 0", {"info string Size of Hashtable set to : 1"}},
        {"hashstats", emptyTableStats("65536")},
        {"setoption name Hash value 3", {"info string Size of Hashtable set to : 3"}},
        {"hashstats", emptyTableStats("262144")},  // rounded up to 4 MB
        {"setoption name Hash value abc", {"info string Hash needs a number, got 'abc'; value unchanged"}},
        {"setoption name Threads value 1000", {"info string Number of threads set to : 256"}},
        {"setoption name Threads value 0", {"info string Number of threads set to : 1"}},
        {"setoption name SyzygyProbeDepth value -5", {"info string SyzygyProbeDepth set to: 0"}},
        {"setoption name SyzygyProbeDepth value 200", {"info string SyzygyProbeDepth set to: 127"}},
        {"setoption name MoveOverhead value 0", {"info string MoveOverhead set to : 1"}},
        {"setoption name MoveOverhead value 999999", {"info string MoveOverhead set to : 60000"}},
        {"setoption name Ponder value true", {"info string Ponder set to : 1"}},
        {"setoption name Ponder value True", {"info string Ponder set to : 0"}},  // lower case only
        {"setoption name UCI_Chess960 value true", {"info string UCI_Chess960 set to : 1"}},
        {"setoption name Hash extra value 2", {}},  // the name is "Hash extra"
        {"setoption name Move Overhead value 5", {}},
        {"setoption name   Hash    value   2", {"info string Size of Hashtable set to : 2"}},
        {"setoption name WindowsNumaNode value 9", {"info string WindowsNumaNode set to: 4"}},
        {"setoption name SyzygyPath value " + tables, {"info string Syzygy tablebases used from directory : " + tables}},
        {"setoption name SyzygyPath value <empty>", {"info string No Syzygy tablebases found in directory :<empty>"}},
        {"setoption name SyzygyPath value", {"info string No Syzygy tablebases found in directory :"}},
        {"setoption name SyzygyPath value " + (dir / "folders"),
         {"info string No Syzygy tablebases found in directory :" + (dir / "folders")}},
        // Each network load is reported, and a refusal names the file.
        {"setoption name NetFile value <empty>", {}},
        {"setoption name NetFile value", {}},
        {"setoption name NetFile value " + truncated,
         {"Net read", "info string NetFile not found/correct: " + truncated + UNABLE}},
        {"setoption name NetFile value " + longer, {"Net read", "info string NetFile not found/correct: " + longer + UNABLE}},
        {"setoption name NetFile value my net.nnue", {"info string NetFile not found/correct: my net.nnue" + UNABLE}},
        {"setoption name NetFile value " + DEFAULT_NET, {"Net read", "info string NetFile used : " + DEFAULT_NET}},
        {"setoption name NetFile value /no/such.nnue", {"info string NetFile not found/correct: /no/such.nnue" + UNABLE}},
        {"setoption name NetFile value <empty>", {}},  // after a failed load
        {"go depth 1",
         {"info string NetFile not found/correct: <empty>. Unable to calculate the best move for the position."}},
    });
}
