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

const std::string START = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Runs the commands, each followed by "isready", and returns what each one
// printed (the lines before its "readyok"). Start-up output is left out.
std::vector<Lines> replies(const Lines& commands) {
    std::string input = "isready\n";
    for (const std::string& c : commands) input += c + "\nisready\n";
    const Lines lines = splitLines(runEngine(input));
    std::vector<Lines> out;
    auto it = std::find(lines.begin(), lines.end(), "readyok");
    EXPECT_NE(it, lines.end());
    Lines current;
    for (++it; it < lines.end(); ++it) {
        if (*it == "readyok") {
            out.push_back(current);
            current.clear();
        } else {
            current.push_back(*it);
        }
    }
    EXPECT_TRUE(current.empty()) << "output after the last readyok";
    EXPECT_EQ(out.size(), commands.size());
    out.resize(commands.size());
    return out;
}

// The diagram row of a rank (1..8), e.g. "| R | N | B | Q | K | B | N | R |".
std::string rankRow(const Lines& diagram, int rank) {
    const size_t index = 2 * (8 - rank) + 1;
    return index < diagram.size() ? diagram[index] : "";
}

int countEqual(const Lines& lines, const std::string& text) {
    return int(std::count(lines.begin(), lines.end(), text));
}

// A file of the given contents in the scratch directory; returns its path.
std::string tempFile(const TempDir& dir, const std::string& name, const std::string& contents) {
    std::ofstream(dir / name, std::ios::binary) << contents;
    return dir / name;
}

const std::string BUILD_NAME = std::string("Velmora 3.0") + BUILD_SUFFIX;

}  // namespace

TEST(ProtocolTest, StartUpBannerAndEndOfInputActsAsQuit) {
    // Empty input: the banner, then the end of input ends the program with
    // exit code 0 (runEngine checks the exit status).
    const Lines lines = splitLines(runEngine(""));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], BUILD_NAME);
    EXPECT_TRUE(lines[0] == "Velmora 3.0 AVX2" || lines[0] == "Velmora 3.0 generic");
    EXPECT_EQ(lines[1], "by Tesserwick");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "enter 'help' to see the commands");
    // The build writes the default network beside the executable; the
    // engine finds it there and says nothing else.
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[4], "Net read");
}

TEST(ProtocolTest, NetFileReportsEachLoadAndABadFileLeavesNoNetwork) {
    const std::string binary = VELMORA_BINARY;
    const std::string good = binary.substr(0, binary.find_last_of('/') + 1) + "220321-307.nnue";
    std::string bytes;
    {
        std::ifstream in(good, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(bytes.size(), 25184056u);
    const TempDir dir;
    const std::string truncated = tempFile(dir, "truncated", bytes.substr(0, 1000000));
    const std::string longer = tempFile(dir, "longer", bytes + "extra");
    const std::vector<Lines> r = replies({"setoption name NetFile value " + truncated,
                                          "setoption name NetFile value " + longer,
                                          "setoption name NetFile value /nonexistent/x.nnue",
                                          "setoption name NetFile value " + good});
    const std::string unable = ". Unable to calculate the best move for a position.";
    EXPECT_EQ(r[0], (Lines{"Net read", "info string NetFile not found/correct: " + truncated + unable}));
    EXPECT_EQ(r[1], (Lines{"Net read", "info string NetFile not found/correct: " + longer + unable}));
    EXPECT_EQ(r[2], (Lines{"info string NetFile not found/correct: /nonexistent/x.nnue" + unable}));
    EXPECT_EQ(r[3], (Lines{"Net read", "info string NetFile used : " + good}));
}

// A copy of the executable alone in a folder, started from another folder,
// still plays with its built-in default network.
TEST(ProtocolTest, BuiltInNetworkServesWhenNoFileIsFound) {
    const TempDir dir;
    std::filesystem::copy_file(VELMORA_BINARY, dir / "engine");
    const std::string text = runEngine("position startpos\ngo depth 3\n", {}, "cd / && " + (dir / "engine"));
    EXPECT_EQ(text.find("not found/correct"), std::string::npos) << text;
    EXPECT_NE(text.find("bestmove "), std::string::npos) << text;
}

TEST(ProtocolTest, UciReplyListsIdentityAndOptionsInOrder) {
    const std::vector<Lines> r = replies({"uci"});
    const Lines expected = {
        "id name " + BUILD_NAME,
        "id author Tesserwick",
        "option name Threads type spin default 1 min 1 max 256",
        "option name Hash type spin default 256 min 1 max 262144",
        "option name Ponder type check default false",
        "option name MoveOverhead type spin default 100 min 1 max 60000",
        "option name SyzygyPath type string default <empty>",
        "option name SyzygyProbeDepth type spin default 0 min 0 max 127",
        "option name WindowsNumaNode type spin default 0 min 0 max 4",
        "option name NetFile type string default <empty>",
        "option name UCI_Chess960 type check default false",
        "uciok",
    };
    EXPECT_EQ(r[0], expected);
}

TEST(ProtocolTest, ReadinessNewGameUnknownAndHelp) {
    const Lines lines = splitLines(runEngine("isready\nucinewgame\nisready\n\nfoo\n   \nhelp\n"));
    EXPECT_EQ(countEqual(lines, "readyok"), 3);  // ucinewgame answers too
    EXPECT_EQ(countEqual(lines, "Unknown command"), 3);
    const Lines help = withPrefix(lines, "supported UCI commands");
    ASSERT_EQ(help.size(), 1u);
    EXPECT_EQ(help[0],
              "supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop 'quit' 'setoption' "
              "'isready'");
    EXPECT_EQ(withPrefix(lines, "other commands 'perft depth'").size(), 1u);

    // Nothing after "quit" is read.
    const Lines quit = splitLines(runEngine("isready\nquit\nisready\n"));
    EXPECT_EQ(countEqual(quit, "readyok"), 1);
}

TEST(ProtocolTest, CommandLineArgumentsRunOneCommandWithoutReadingInput) {
    const Lines lines = splitLines(runEngine("isready\nperft 1\n", {"perft", "3"}));
    EXPECT_EQ(countEqual(lines, "readyok"), 0);
    const Lines results = withPrefix(lines, "Perft results for depth: ");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].rfind("Perft results for depth: 3  8902  Nodes per sec: ", 0), 0u) << results[0];
}

TEST(ProtocolTest, PerftKeepsItsDepthAndRefusesBadDepths) {
    const std::vector<Lines> r = replies({"perft 4", "perft", "perft 2", "perft abc", "perft 0", "perft 101"});
    auto result = [](const Lines& out) {
        const Lines found = withPrefix(out, "Perft results for depth: ");
        return found.size() == 1 ? found[0].substr(0, found[0].find("  Nodes")) : "(" + std::to_string(found.size()) + ")";
    };
    EXPECT_EQ(result(r[0]), "Perft results for depth: 4  197281");
    EXPECT_EQ(result(r[1]), "Perft results for depth: 4  197281");
    EXPECT_EQ(withPrefix(r[1], "info string").size(), 0u);
    EXPECT_EQ(result(r[2]), "Perft results for depth: 2  400");
    for (int i = 3; i < 6; i++) {
        EXPECT_EQ(result(r[i]), "Perft results for depth: 2  400") << i;
        EXPECT_EQ(withPrefix(r[i], "info string").size(), 1u) << i;
    }
    EXPECT_EQ(withPrefix(r[3], "info string")[0], "info string perft depth 'abc' is not a number; using depth 2");
    EXPECT_EQ(withPrefix(r[4], "info string")[0], "info string perft depth must be 1 to 100; using depth 2");
    // The diagram printed first is the root position's.
    EXPECT_EQ(rankRow(r[2], 1), "| R | N | B | Q | K | B | N | R |");
}

// Each command with its reply; "hashstats" is reduced to its entry count.
TEST(ProtocolTest, SetoptionClampsAndReports) {
    const std::string unable = ". Unable to calculate the best move for a position.";
    const std::string tables = testData("syzygy/tables");
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"setoption name Hash value 0", {"info string Size of Hashtable set to : 1"}},
        {"hashstats", {"Number of entries 65536"}},
        {"setoption name Hash value 3", {"info string Size of Hashtable set to : 3"}},
        {"hashstats", {"Number of entries 262144"}},  // rounded up to 4 MB
        {"setoption name Hash value abc", {"info string Hash needs a number, got 'abc'; value unchanged"}},
        {"hashstats", {"Number of entries 262144"}},
        {"setoption name Threads value 1000", {"info string Number of threads set to : 256"}},
        {"setoption name Threads value 0", {"info string Number of threads set to : 1"}},
        {"setoption name Threads value 2", {"info string Number of threads set to : 2"}},
        {"setoption name SyzygyProbeDepth value -5", {"info string SyzygyProbeDepth set to: 0"}},
        {"setoption name SyzygyProbeDepth value 200", {"info string SyzygyProbeDepth set to: 127"}},
        {"setoption name MoveOverhead value 0", {"info string MoveOverhead set to : 1"}},
        {"setoption name MoveOverhead value 250", {"info string MoveOverhead set to : 250"}},
        {"setoption name MoveOverhead value 999999", {"info string MoveOverhead set to : 60000"}},
        {"setoption name Ponder value true", {"info string Ponder set to : 1"}},
        {"setoption name Ponder value True", {"info string Ponder set to : 0"}},  // lower case only
        {"setoption name Ponder value false", {"info string Ponder set to : 0"}},
        {"setoption name UCI_Chess960 value true", {"info string UCI_Chess960 set to : 1"}},
        {"setoption name UCI_Chess960 value false", {"info string UCI_Chess960 set to : 0"}},
        {"setoption name NetFile value <empty>", {}},
        {"setoption name NetFile value", {}},
        {"setoption name NetFile value my net.nnue", {"info string NetFile not found/correct: my net.nnue" + unable}},
        {"setoption name Hash extra value 2", {}},  // the name is "Hash extra"
        {"setoption name Move Overhead value 5", {}},
        {"setoption name   Hash    value   2", {"info string Size of Hashtable set to : 2"}},
        {"setoption name WindowsNumaNode value 9", {"info string WindowsNumaNode set to: 4"}},
        {"setoption name SyzygyPath value " + tables, {"info string Syzygy tablebases used from directory : " + tables}},
        {"setoption name SyzygyPath value <empty>", {"info string No Syzygy tablebases found in directory :<empty>"}},
        {"setoption name SyzygyPath value", {"info string No Syzygy tablebases found in directory :"}},
        {"setoption name SyzygyPath value /no/such/dir", {"info string No Syzygy tablebases found in directory :/no/such/dir"}},
        {"setoption name MoveOverhead value x12", {"info string MoveOverhead needs a number, got 'x12'; value unchanged"}},
        {"setoption name NetFile value <empty>", {}},  // after a failed load
        {"go depth 1", {"info string NetFile not found/correct: <empty>. Unable to calculate the best move for the position."}},
    };
    Lines commands;
    for (const auto& c : cases) commands.push_back(c.first);
    const std::vector<Lines> r = replies(commands);
    for (size_t i = 0; i < cases.size(); i++) {
        const Lines entries = withPrefix(r[i], "Number of entries ");
        EXPECT_EQ(commands[i] == "hashstats" ? entries : r[i], cases[i].second) << commands[i];
    }
}

TEST(ProtocolTest, PositionPlaysMovesAndStopsAtTheFirstIllegalOne) {
    const std::vector<Lines> r = replies({
        "position startpos moves e2e4 e7e5",
        "showboard",
        "position startpos moves e2e4 e2e4 g1f3",
        "showboard",
        "perft 1",
        "position startpos moves e2e4 e7e5 g1f3 b8c6 f1c4 g8f6 e1g1",
        "showboard",
        "position startpos moves e7e5",
        "position nonsense",
        "position fen 4k3/8/8/8/8/8/8/4RK2 w - - 0 1 moves e1e2",
        "showboard",
    });
    EXPECT_TRUE(r[0].empty());
    EXPECT_EQ(rankRow(r[1], 5), "|   |   |   |   | p |   |   |   |");
    EXPECT_EQ(rankRow(r[1], 4), "|   |   |   |   | P |   |   |   |");
    EXPECT_EQ(rankRow(r[1], 7), "| p | p | p | p |   | p | p | p |");
    EXPECT_EQ(rankRow(r[1], 2), "| P | P | P | P |   | P | P | P |");

    EXPECT_EQ(r[2], Lines{"info string Illegal move: e2e4; the moves from there on are ignored"});
    EXPECT_EQ(rankRow(r[3], 4), "|   |   |   |   | P |   |   |   |");
    EXPECT_EQ(rankRow(r[3], 1), "| R | N | B | Q | K | B | N | R |");  // g1f3 not played
    // Black to move: 20 replies.
    EXPECT_EQ(withPrefix(r[4], "Perft results for depth: 1  20  ").size(), 1u);

    EXPECT_TRUE(r[5].empty());
    EXPECT_EQ(rankRow(r[6], 1), "| R | N | B | Q |   | R | K |   |");

    EXPECT_EQ(r[7], Lines{"info string Illegal move: e7e5; the moves from there on are ignored"});
    EXPECT_EQ(r[8], Lines{"info string position needs 'startpos' or 'fen'; position unchanged"});
    EXPECT_EQ(r[9], Lines{"info string Invalid FEN (the side not to move is in check); position unchanged"});
    // "position startpos moves e7e5" still set the start position.
    EXPECT_EQ(rankRow(r[10], 2), "| P | P | P | P | P | P | P | P |");
    EXPECT_EQ(rankRow(r[10], 7), "| p | p | p | p | p | p | p | p |");
}

TEST(ProtocolTest, PerftFileChecks) {
    const std::string kiwipete = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
    // Lines after "full" are not checked.
    const TempDir dir;
    const std::string good = tempFile(dir, "good", START + " ;2 ;400\n" + kiwipete + " ;1 ;48\n\nfull\n" + START + " ;1 ;999\n");
    const std::string wrong = tempFile(dir, "wrong", START + " ;2 ;401\n");
    const std::string malformed = tempFile(dir, "malformed", START + " ;x ;400\n" + START + " ;1 ;20\n");
    const std::string badFen = tempFile(dir, "badFen", "8/8/8/8/8/8/8/8 w - - 0 1 ;1 ;0\n");
    const std::vector<Lines> r = replies({
        "rtest " + good,
        "rtest " + wrong,
        "rtest " + malformed,
        "rtest " + badFen,
        "rtest /no/such/velmora/file.txt",
        "rtestRFC /no/such/velmora/file.txt",
    });

    // The FEN field is echoed as written, with the blank before ';'.
    ASSERT_EQ(r[0].size(), 3u);
    EXPECT_EQ(r[0][0].rfind("1; " + START + " ; 2; 400; 400; ", 0), 0u) << r[0][0];
    EXPECT_EQ(r[0][1].rfind("1; " + kiwipete + " ; 1; 48; 48; ", 0), 0u) << r[0][1];
    EXPECT_EQ(r[0][2], "Results of the perft checks is OK: 1");

    ASSERT_EQ(r[1].size(), 2u);
    EXPECT_EQ(r[1][0].rfind("0; " + START + " ; 2; 401; 400; ", 0), 0u) << r[1][0];
    EXPECT_EQ(r[1][1], "Results of the perft checks is OK: 0");

    ASSERT_EQ(r[2].size(), 3u);
    EXPECT_EQ(r[2][0], "info string perft file line 1 is malformed: " + START + " ;x ;400");
    EXPECT_EQ(r[2][1].rfind("1; ", 0), 0u);  // the next line is still checked
    EXPECT_EQ(r[2][2], "Results of the perft checks is OK: 0");

    ASSERT_EQ(r[3].size(), 2u);
    EXPECT_EQ(r[3][0].rfind("info string perft file line 1 has a bad FEN (", 0), 0u) << r[3][0];
    EXPECT_EQ(r[3][1], "Results of the perft checks is OK: 0");

    const std::string noFile =
        "There seems to be a problem with the perftFile. check of the move generator not executed";
    EXPECT_EQ(r[4], Lines{noFile});
    EXPECT_EQ(r[5], Lines{noFile});
}

TEST(ProtocolTest, AllDepthsPerftFileChecks) {
    // A mated side has no moves at any depth, so the good line is cheap.
    const std::string mated = "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3";
    const TempDir dir;
    const std::string file = tempFile(dir, "file", mated + ";D1 0;D2 0;D3 0;D4 0;D5 0;D6 0\n" + START +
                        ";D1 20;D2 401;D3 8902;D4 197281;D5 4865609;D6 119060324\n" + START + ";D1 20;D2 400\n");
    const std::string allGood = tempFile(dir, "allGood", mated + ";D1 0;D2 0;D3 0;D4 0;D5 0;D6 0\n");
    const std::vector<Lines> r = replies({"rtestRFC " + file, "rtestRFC " + allGood});
    const Lines expected = {
        mated,
        "Okidoki",
        START,
        "WRONGGGGGGGGGGGG 2 correct : 401 berekend : 400",
        "info string perft file line 3 is malformed: " + START + ";D1 20;D2 400",
        "Results of the perft checks (0 = wrong, 1 = OK) : 0",
    };
    EXPECT_EQ(r[0], expected);
    EXPECT_EQ(r[1], (Lines{mated, "Okidoki", "Results of the perft checks (0 = wrong, 1 = OK) : 1"}));
}

TEST(ProtocolTest, HashStatisticsOfAFreshTable) {
    const std::vector<Lines> r = replies({"hashstats"});
    const Lines& out = r[0];
    EXPECT_EQ(countEqual(out, "Number of entries 16777216"), 1);  // 256 MB default
    EXPECT_EQ(countEqual(out, "Used entries 1"), 1);
    EXPECT_EQ(countEqual(out, "Number of Hashmoves 0"), 1);
    auto age = std::find(out.begin(), out.end(), "Age distribution nof - prcused - prctotal");
    ASSERT_NE(age, out.end());
    ASSERT_GE(out.end() - age, 1 + 64 + 1 + 128);
    for (int i = 0; i < 64; i++) EXPECT_EQ(age[1 + i], std::to_string(i) + "  0 - 0 - 0");
    EXPECT_EQ(age[65], "Depth distribution ");
    for (int i = 0; i < 128; i++) EXPECT_EQ(age[66 + i], std::to_string(i) + "  0 - 0 - 0");
    EXPECT_EQ(age + 194, out.end());
}
