// Perft against the reference suites (standard chess in full, Chess960 up to
// depth 5; depth 6 runs in the slow label), and the self-check commands.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "board/fen.h"
#include "board/movegen.h"
#include "board/perft.h"
#include "perft_suite.h"
#include "platform/output.h"
#include "search/tt.h"

namespace {

// Runs fn with the engine's output captured.
template <typename F>
std::string captureOutput(F fn) {
    FILE* file = std::tmpfile();
    setOutputStream(file);
    fn();
    setOutputStream(nullptr);
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    std::fclose(file);
    return text;
}

std::string writeTemp(const std::string& text) {
    char name[] = "/tmp/velmora_perftXXXXXX";
    const int fd = mkstemp(name);
    std::ofstream(name) << text;
    close(fd);
    return name;
}

}  // namespace

TEST(Perft, StandardSuite) {
    Chess960Mode mode(false);
    const std::vector<PerftCase> cases = readStandardSuite();
    ASSERT_EQ(cases.size(), 92u);
    for (const PerftCase& c : cases) {
        TestPosition p(c.fen);
        EXPECT_EQ(perft(0, int(c.counts.size()), *p), c.counts.back()) << c.fen;
        EXPECT_EQ(checkConsistency(*p), "") << c.fen;
    }
}

TEST(Perft, Chess960SuiteToDepthFive) {
    Chess960Mode mode(true);
    const std::vector<PerftCase> cases = readChess960Suite();
    ASSERT_EQ(cases.size(), 40u);
    for (const PerftCase& c : cases) {
        TestPosition p(c.fen);
        for (int d = 1; d <= 5; d++) EXPECT_EQ(perft(0, d, *p), c.counts[d - 1]) << c.fen << " depth " << d;
    }
}

TEST(Perft, MateAndStalemateHaveNoLeaves) {
    for (const char* fen : {"7k/6Q1/6K1/8/8/8/8/8 b - - 0 1", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"})
        for (int d = 1; d <= 3; d++) {
            TestPosition p(fen);
            EXPECT_EQ(perft(0, d, *p), 0u) << fen;
        }
}

TEST(PerftChecks, FullLineStopsTheRunAndMismatchesAreReported) {
    initEngineForTests();
    const std::string good = writeTemp(std::string(START_FEN) + " ;3 ;8902\n" +
                                       "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1 ;2 ;191\nfull\n" +
                                       START_FEN + " ;1 ;21\n");
    std::string out = captureOutput([&] { EXPECT_TRUE(runPerftChecks(good)); });
    EXPECT_NE(out.find("1; " + std::string(START_FEN) + " ; 3; 8902; 8902; "), std::string::npos) << out;
    EXPECT_NE(out.find("Results of the perft checks is OK: 1\n"), std::string::npos);
    EXPECT_EQ(out.find("; 21;"), std::string::npos);

    const std::string bad = writeTemp(std::string(START_FEN) + " ;2 ;401\nnot a line\n");
    out = captureOutput([&] { EXPECT_FALSE(runPerftChecks(bad)); });
    EXPECT_NE(out.find("0; "), std::string::npos);
    EXPECT_NE(out.find("info string perft file line 2 is malformed"), std::string::npos);
    EXPECT_NE(out.find("Results of the perft checks is OK: 0\n"), std::string::npos);
    ttResize(ttSizeMb);
    std::remove(good.c_str());
    std::remove(bad.c_str());

    out = captureOutput([&] { EXPECT_FALSE(runPerftChecks("/nonexistent/perft.txt")); });
    EXPECT_EQ(out, "There seems to be a problem with the perftFile. check of the move generator not executed\n");
}

TEST(PerftChecks, AllDepthsReportsTheFirstWrongDepthOnly) {
    initEngineForTests();
    const std::string file = writeTemp(std::string(START_FEN) + ";D1 20;D2 401;D3 8902;D4 197281;D5 1;D6 1\n" +
                                       "4k3/8/8/8/8/8/8/4K3 w - - 0 1;D1 5;D2 25;D3 170;D4 1156;D5 7922;D6 53896\n");
    const std::string out = captureOutput([&] { EXPECT_FALSE(runPerftChecksAllDepths(file)); });
    const std::vector<std::string> lines = splitLines(out);
    ASSERT_EQ(lines.size(), 5u) << out;
    EXPECT_EQ(lines[0], START_FEN);
    EXPECT_EQ(lines[1], "WRONGGGGGGGGGGGG 2 correct : 401 berekend : 400");
    EXPECT_EQ(lines[2], "4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    EXPECT_EQ(lines[3], "Okidoki");
    EXPECT_EQ(lines[4], "Results of the perft checks (0 = wrong, 1 = OK) : 0");
    std::remove(file.c_str());
}
