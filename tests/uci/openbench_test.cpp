// What OpenBench's client reads from the engine: the bench summary and the
// "genfens" openings, started the way the client starts them.

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "engine_session.h"

using namespace session;

namespace {

// The client's reading of bench output: every line, from the last one up,
// with all but letters, digits and spaces dropped (or, in the snapshot's
// client, turned into spaces); the first match of each pattern wins.
struct ParsedBench {
    std::string nodes, nps;
};

ParsedBench parseAsOpenBench(const std::string& output, bool blankOut) {
    const std::regex npsPattern(R"((\d+\s+nps)|(nps\s+\d+)|(nodes second\s+\d+))", std::regex::icase);
    const std::regex nodesPattern(R"((\d+\s+nodes)|(nodes\s+\d+)|(nodes searched\s+\d+))", std::regex::icase);
    const std::regex digits(R"(\d+)");
    const Lines lines = splitLines(output);
    ParsedBench parsed;
    for (auto at = lines.rbegin(); at != lines.rend(); ++at) {
        std::string kept;
        for (char c : *at)
            if (std::isalnum(static_cast<unsigned char>(c)) || c == ' ')
                kept += c;
            else if (blankOut)
                kept += ' ';
        for (const auto& [pattern, field] :
             {std::pair{&npsPattern, &parsed.nps}, std::pair{&nodesPattern, &parsed.nodes}}) {
            std::smatch m, number;
            if (field->empty() && std::regex_search(kept, m, *pattern)) {
                const std::string text = m.str();
                std::regex_search(text, number, digits);
                *field = number.str();
            }
        }
    }
    return parsed;
}

std::string fieldAfter(const std::string& output, const std::string& label) {
    const size_t at = output.find(label);
    if (at == std::string::npos) return "";
    return words(output.substr(at + label.size(), output.find('\n', at) - at - label.size())).back();
}

// The FENs of "info string genfens <FEN>" lines, in order.
Lines genfensFens(const Lines& lines) {
    const std::string prefix = "info string genfens ";
    Lines fens = withPrefix(lines, prefix);
    for (std::string& fen : fens) fen.erase(0, prefix.size());
    return fens;
}

// As OpenBench starts it: one argument with the whole command (a trailing
// space when there are no extra words), then "quit".
Lines runGenfens(const std::string& command) { return splitLines(runEngine("", {command, "quit"})); }

// A FEN of six fields that the engine accepts and that still has a move;
// an en-passant square only where the capture is legal (as match runners
// write their FEN tags).
void expectPlayableFen(const std::string& fen) {
    const Lines fields = words(fen);
    ASSERT_EQ(fields.size(), 6u) << fen;
    TestPosition pos(fen);
    pos->plyStack[0].inCheck = isInCheck(*pos);
    generateLegal(0, pos.listAt(0), *pos);
    const Move *begin = pos.listAt(0), *end = pos->plyStack[0].moveListEnd;
    EXPECT_NE(end, begin) << fen;
    const bool enPassant = std::any_of(begin, end, [](Move m) { return m.flag == FLAG_EP; });
    EXPECT_EQ(fields[3] != "-", enPassant) << fen;
}

}  // namespace

TEST(OpenBench, BenchLastLineParsesToItsOwnTotal) {
    const std::string out = runEngine("", {"bench", "5"});
    const std::string total = fieldAfter(out, "Nodes searched  :"), speed = fieldAfter(out, "Nodes/second    :");
    ASSERT_FALSE(total.empty()) << out;
    // An independent count: the last info line before each move is its search's total.
    unsigned long long sum = 0, last = 0;
    int searches = 0;
    std::istringstream in(out);
    for (std::string text; std::getline(in, text);) {
        if (text.rfind("info score", 0) == 0) last = std::stoull(infoFields(text).at("nodes"));
        if (text.rfind("bestmove", 0) == 0) sum += last, last = 0, searches++;
    }
    EXPECT_EQ(searches, 35);
    EXPECT_EQ(std::to_string(sum), total);
    for (const bool blankOut : {false, true}) {
        const ParsedBench parsed = parseAsOpenBench(out, blankOut);
        EXPECT_EQ(parsed.nodes, total) << (blankOut ? "blanked" : "stripped");
        EXPECT_EQ(parsed.nps, speed) << (blankOut ? "blanked" : "stripped");
    }
}

// Arguments with spaces are command lines of their own, run in order; plain
// words still form one command.
TEST(OpenBench, ArgumentsWithSpacesAreCommandLinesOfTheirOwn) {
    const Lines perft =
        withPrefix(splitLines(runEngine("", {"position startpos moves e2e4", "perft 1"})), "Perft results");
    ASSERT_EQ(perft.size(), 1u);
    EXPECT_EQ(perft[0].rfind("Perft results for depth: 1  20  ", 0), 0u) << perft[0];
    // "quit" ends the run: what follows is not executed.
    EXPECT_EQ(runEngine("", {"perft 1", "quit", "perft 2"}).find("depth: 2"), std::string::npos);
    const std::string joined = runEngine("", {"go", "depth", "2"});
    EXPECT_NE(joined.find("bestmove"), std::string::npos) << joined;
}

TEST(OpenBench, GenfensFromTheStartIsSeededAndBalanced) {
    const Lines first = runGenfens("genfens 24 seed 2147483647 book None ");
    const Lines fens = genfensFens(first);
    ASSERT_EQ(fens.size(), 24u) << ::testing::PrintToString(first);
    std::set<std::string> distinct(fens.begin(), fens.end());
    EXPECT_GT(distinct.size(), 20u);
    for (const std::string& fen : fens) {
        expectPlayableFen(fen);
        EXPECT_EQ(words(fen)[5], "5") << "eight plies from the start: " << fen;
    }
    EXPECT_EQ(genfensFens(runGenfens("genfens 24 seed 2147483647 book None ")), fens) << "not deterministic";
    const Lines other = genfensFens(runGenfens("genfens 24 seed 2147483646 book None "));
    EXPECT_NE(other, fens);
    // The same seed gives the same first positions whatever the count, the
    // table size, the threads and the searches before; a running search is
    // stopped first and names its move.
    Engine engine;
    engine.send("setoption name Hash value 1");
    engine.send("setoption name Threads value 2");
    engine.send("position startpos moves e2e4");
    engine.search("go depth 7");
    engine.send("go ponder wtime 1000 btime 1000");
    engine.send("genfens 5 seed 2147483647 book None");
    const Lines said = engine.sync();
    EXPECT_EQ(withPrefix(said, "bestmove").size(), 1u);
    EXPECT_EQ(genfensFens(said), Lines(fens.begin(), fens.begin() + 5));
}

TEST(OpenBench, GenfensChess960ArraysOnRequest) {
    const Lines fens = genfensFens(runGenfens("genfens 16 seed 9 book None frc"));
    ASSERT_EQ(fens.size(), 16u);
    int shredder = 0;
    for (const std::string& fen : fens) {
        Chess960Mode on(true);
        expectPlayableFen(fen);
        const std::string castling = words(fen)[2];
        shredder += castling.find_first_of("ABCDEFGHabcdefgh") != std::string::npos;
    }
    EXPECT_GT(shredder, 8) << "castling rights name their rooks' files in Chess960";
    EXPECT_EQ(genfensFens(runGenfens("genfens 16 seed 9 book None chess960")), fens);
}

// Book lines are EPD (four fields, operations ignored) or FEN; the counters
// show which line an opening grew from: four plies after "w ... 0 40" is
// "w ... 42", after an EPD line (read as "b ... 0 1") "b ... 3". The
// malformed line is reported and never used.
TEST(OpenBench, GenfensFromABook) {
    const TempDir dir;
    dir.write("book.epd",
              "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 0 40\n"
              "\n"
              "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq - c9 \"1/2-1/2\";\n"
              "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w XYkq - 0 1\n");
    const Lines out = runGenfens("genfens 40 seed 5 book " + (dir / "book.epd") + " ");
    const Lines fens = genfensFens(out);
    ASSERT_EQ(fens.size(), 40u) << ::testing::PrintToString(out);
    std::set<std::string> origins;
    for (const std::string& fen : fens) {
        expectPlayableFen(fen);
        const Lines f = words(fen);
        origins.insert(f[1] + " " + f[5]);
    }
    EXPECT_EQ(origins, (std::set<std::string>{"w 42", "b 3"}));
    EXPECT_FALSE(withPrefix(out, "info string genfens: book " + (dir / "book.epd") + " line 4 skipped").empty())
        << ::testing::PrintToString(out);
}

// Bad requests and books: a message each, no position, and the engine goes
// on (its next genfens and search work).
TEST(OpenBench, GenfensRefusesBadInput) {
    const TempDir dir;
    dir.write("empty.epd", "\n\n");
    dir.write("bad.epd", "not a position\n8/8/8/8/8/8/8/8 w - -\n");
    const Lines bad = {"genfens",
                       "genfens 0 seed 1 book None",
                       "genfens x seed 1 book None",
                       "genfens -3 seed 1 book None",
                       "genfens 3 seed abc book None",
                       "genfens 3 seed -1 book None",
                       "genfens 3 seed 18446744073709551616 book None",
                       "genfens 3 seed 1 book",
                       "genfens 3 seed 1 book " + (dir / "missing.epd"),
                       "genfens 3 seed 1 book " + dir.str(),
                       "genfens 3 seed 1 book " + (dir / "empty.epd"),
                       "genfens 3 seed 1 book " + (dir / "bad.epd")};
    Engine engine;
    for (const std::string& command : bad) {
        engine.send(command);
        const Lines said = engine.sync();
        EXPECT_TRUE(withPrefix(said, "info string genfens ").empty()) << command;
        EXPECT_FALSE(withPrefix(said, "info string genfens: ").empty()) << command << " said nothing";
    }
    engine.send("genfens 2 seed 1 book None extra");
    const Lines good = engine.sync();
    EXPECT_EQ(withPrefix(good, "info string genfens ").size(), 2u);
    EXPECT_FALSE(withPrefix(good, "info string genfens: ignoring 'extra'").empty());
    engine.send("position startpos");
    checkBestMove(START_FEN, engine.search("go depth 3").back());
}

// A search after genfens is the search without it: the table, its ages,
// the histories and the Chess960 mode come back as they were.
TEST(OpenBench, GenfensLeavesALaterSearchAsItWas) {
    const std::string fen = "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3";
    Lines answers[2];
    for (const bool genfens : {false, true}) {
        Engine engine;
        engine.send("setoption name Hash value 1");  // small enough for every store to count
        engine.send("position fen " + fen);
        engine.search("go depth " + std::to_string(SANITIZER_SCALE > 1 ? 6 : 8));
        if (genfens) {
            engine.send("genfens 40 seed 3 book None frc");
            EXPECT_EQ(withPrefix(engine.sync(), "info string genfens ").size(), 40u);
        }
        const Lines out = engine.search("go depth " + std::to_string(SANITIZER_SCALE > 1 ? 7 : 9));
        ASSERT_GE(out.size(), 2u);
        // The counts of the last line before the move (the time varies).
        const auto fields = infoFields(out[out.size() - 2]);
        answers[genfens] = {fields.at("depth"), fields.at("nodes"), fields.at("pv"), out.back()};
    }
    EXPECT_EQ(answers[1], answers[0]);
}
