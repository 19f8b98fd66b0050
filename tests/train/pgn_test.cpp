// PGN import: SAN reading, and velmora_data pgn on games whose every
// position, score and result is known.
#include <gtest/gtest.h>

#include <sstream>

#include "board/fen.h"
#include "board/movegen.h"
#include "test_util.h"
#include "train/pgn.h"
#include "train/record.h"

namespace {

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun importPgn(const TempDir& dir, const std::string& out, const std::vector<std::string>& inputs) {
    std::vector<std::string> args = {VELMORA_DATA, "pgn", dir / out};
    for (const auto& i : inputs) args.push_back(dir / i);
    const int status = runProgram(args, dir / "tool.out", dir / "tool.err");
    return {status, dir.read("tool.out"), dir.read("tool.err")};
}

std::vector<TrainingRecord> records(const std::string& path) {
    std::vector<TrainingRecord> r;
    EXPECT_TRUE(readRecords(path, r)) << path;
    return r;
}

bool haveBzip2() { return std::system("bzip2 --help >/dev/null 2>&1") == 0; }

// One move of a test game: its coordinate text (to compute the position),
// its SAN as a match runner writes it, the comment, and the score a kept
// record must carry (or `filtered`).
constexpr int filtered = 99999;
struct GameMove {
    const char* uci;
    const char* san;
    const char* comment;
    int keptScore;
};
struct TestGame {
    std::string tags;  // without Result
    const char* fen;   // nullptr: the start position
    bool chess960;
    std::vector<GameMove> moves;
    const char* result;
    bool numbered;
};

// Standard game with move numbers and the long comment form; ends in mate.
const TestGame scholar{"[White \"A\"]\n[Black \"B\"]\n", nullptr, false,
                       {{"e2e4", "e4", "book", filtered},
                        {"e7e5", "e5", "book", filtered},
                        {"f1c4", "Bc4", "+0.31/7 0.012s, n=5001, sd=9", 31},
                        {"b8c6", "Nc6", "-0.25/8 0.010s, n=4800, sd=10", -25},
                        {"d1h5", "Qh5", "+0.40/7 0.011s, n=5003, sd=11", 40},
                        {"g8f6", "Nf6??", "-1.205/7 0.013s, n=5002, sd=8", -121},
                        {"h5f7", "Qxf7#", "+M1/3 0.001s, n=12, sd=1, White mates", filtered}},
                       "1-0", true};
// Black starts from a FEN, no move numbers, short comments: castling both
// ways, a check (the reply is filtered), a capture (filtered).
const TestGame rooks{"[White \"C\"]\n[Black \"D\"]\n", "r3k2r/p6p/8/8/8/8/P6P/R3K2R b KQkq - 5 30", false,
                     {{"e8g8", "O-O", "-0.15/9", -15},
                      {"e1c1", "O-O-O", "+0.05/9", 5},
                      {"f8f2", "Rf2", "+0.20/8", 20},
                      {"d1d8", "Rd8+", "+0.30/9", 30},
                      {"g8g7", "Kg7", "-0.25/9", filtered},
                      {"h2h4", "h4", "+0.10/9", 10},
                      {"f2a2", "Rxa2", "-0.05/9", filtered},
                      {"c1b1", "Kb1", "+0.02/9", 2}},
                     "0-1", false};
// Two queens up: the hand-written evaluation's balance, never kept.
const TestGame queens{"", "4k3/8/8/8/8/8/2QQ4/4K3 w - - 0 1", false,
                      {{"d2d4", "Qd4", "+15.00/5", filtered}, {"e8f8", "Kf8", "-15.00/5", filtered}},
                      "1/2-1/2", true};
// Chess960 castling with the king on g1 (O-O moves only the rook), a
// promotion (filtered) and a placeholder score (filtered).
const TestGame frc{"[Variant \"Chess960\"]\n", "1r4kr/p1P4p/8/8/8/8/P6P/1R4KR w HBhb - 0 1", true,
                   {{"g1b1", "O-O-O", "+0.50/10", 50},
                    {"g8h8", "O-O", "-0.45/10", -45},
                    {"c7b8q", "cxb8=Q", "+9.00/10", filtered},
                    {"f8b8", "Rxb8", "0.00/0", filtered},
                    {"h2h3", "h3", "unknown", filtered}},
                   "1/2-1/2", false};

std::string pgnOf(const TestGame& g, const char* result = nullptr) {
    std::string text = g.tags;
    if (g.chess960 && g.tags.find("Variant") == std::string::npos) text += "[Variant \"Chess960\"]\n";
    if (g.fen) text += std::string("[SetUp \"1\"]\n[FEN \"") + g.fen + "\"]\n";
    text += std::string("[Result \"") + (result ? result : g.result) + "\"]\n\n";
    Chess960Mode mode(g.chess960);
    TestPosition p(g.fen ? g.fen : START_FEN);
    int number = p->gamePly / 2 + 1;
    bool first = true;
    for (const GameMove& m : g.moves) {
        if (g.numbered && p->sideToMove == WHITE) text += std::to_string(number) + ". ";
        if (g.numbered && p->sideToMove == BLACK && first) text += std::to_string(number) + "... ";
        text += std::string(m.san) + " {" + m.comment + "}\n";
        number += p->sideToMove == BLACK;
        first = false;
        EXPECT_TRUE(playText(*p, m.uci)) << m.uci;
    }
    return text + (result ? result : g.result) + "\n\n";
}

// The records the game must give, computed from its coordinate moves.
std::vector<std::string> expectedRecords(const TestGame& g) {
    Chess960Mode mode(g.chess960);
    TestPosition p(g.fen ? g.fen : START_FEN);
    const int white = std::string(g.result) == "1-0" ? 1 : std::string(g.result) == "0-1" ? -1 : 0;
    std::vector<std::string> out;
    for (const GameMove& m : g.moves) {
        if (m.keptScore != filtered) {
            std::istringstream fen(positionToFen(*p));
            std::string board, side, castling, ep, rule50, number;
            fen >> board >> side >> castling >> ep >> rule50 >> number;
            const int result = p->sideToMove == WHITE ? white : -white;
            out.push_back(board + " " + side + " - - " + rule50 + " " + number + " score " +
                          std::to_string(m.keptScore) + " result " + std::to_string(result));
        }
        EXPECT_TRUE(playText(*p, m.uci)) << m.uci;
    }
    return out;
}

std::string describe(const TrainingRecord& r) {
    return recordToFen(r) + " score " + std::to_string(r.score) + " result " + std::to_string(r.result);
}

}  // namespace

// Every legal move of random positions (standard and Chess960) reads back
// from its SAN; SAN that fits no move or several moves reads as none.
TEST(PgnImport, SanNamesExactlyOneLegalMove) {
    initEngineForTests();
    std::mt19937_64 rng(11);
    for (int game = 0; game < 60 / SANITIZER_SCALE; game++) {
        Chess960Mode mode(game % 3 == 0);
        TestPosition p(game % 3 == 0 ? chess960StartFen(int(rng() % 960)) : std::string(START_FEN));
        for (int ply = 0; ply < 120; ply++) {
            generateLegal(0, p.listAt(0), *p);
            const std::vector<Move> moves(p.listAt(0), p->plyStack[0].moveListEnd);
            if (moves.empty()) break;
            for (Move m : moves) {
                const std::string san = moveToSan(m, 0, *p);
                ASSERT_TRUE(sameMove(parseSan(san, 0, *p), m)) << positionToFen(*p) << " " << san;
            }
            playRootMove(*p, moves[rng() % moves.size()]);
        }
    }

    struct Case {
        const char* fen;
        const char* san;
        const char* uci;  // "" when no move may match
        bool chess960 = false;
    };
    const Case cases[] = {
        {"3k4/8/8/8/8/8/8/R4RK1 w - - 0 1", "Rc1", ""},  // either rook
        {"3k4/8/8/8/8/8/8/R4RK1 w - - 0 1", "Rac1", "a1c1"},
        {"3k4/8/8/8/8/8/8/R4RK1 w - - 0 1", "Rfxc1", "f1c1"},
        {"3k4/8/8/8/R7/8/8/R5K1 w - - 0 1", "R1a2", "a1a2"},
        {"3k4/8/8/8/R7/8/8/R5K1 w - - 0 1", "R4a2!?", "a4a2"},
        {"3k4/8/8/8/R7/8/8/R5K1 w - - 0 1", "Raa2", ""},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "exd6", "e5d6"},
        {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "d6", ""},
        {"r3k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "bxa8=R+", "b7a8r"},
        {"r3k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b8N", "b7b8n"},
        {"r3k3/1P6/8/8/8/8/8/4K3 w - - 0 1", "b8", ""},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "O-O-O", "e8c8"},
        {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "0-0", "e8g8"},
        {"r3k2r/8/8/8/8/8/8/R3K2R b - - 0 1", "O-O", ""},
        {"1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1", "O-O", "g1h1", true},
        {"1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1", "O-O-O", "g1b1", true},
        {START_FEN, "Nf3", "g1f3"},
        {START_FEN, "Ke2", ""},
        {START_FEN, "e5", ""},
        {START_FEN, "Nf9", ""},
    };
    for (const Case& c : cases) {
        Chess960Mode mode(c.chess960);
        TestPosition p(c.fen);
        const Move m = parseSan(c.san, 0, *p);
        EXPECT_EQ(isNoMove(m) ? "" : moveToText(m, p->sideToMove, *p), c.uci) << c.fen << " " << c.san;
    }
}

// Positions, scores, results, plies and fifty-move counters of the kept
// records, each filter, and the summary's counts.
TEST(PgnImport, KeepsTheGeneratorsPositionsFromTheSideToMove) {
    initEngineForTests();
    TempDir dir;
    const TestGame* games[] = {&scholar, &rooks, &queens, &frc};
    std::string text;
    std::vector<std::string> expected;
    for (const TestGame* g : games) {
        text += pgnOf(*g);
        for (const std::string& e : expectedRecords(*g)) expected.push_back(e);
    }
    text += pgnOf(scholar, "*");  // no result: skipped
    dir.write("games.pgn", text);
    const ToolRun run = importPgn(dir, "games.bin", {"games.pgn"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    std::vector<std::string> got;
    for (const TrainingRecord& r : records(dir / "games.bin")) got.push_back(describe(r));
    EXPECT_EQ(got, expected);
    EXPECT_NE(run.out.find("games 5: imported 4, no result 1, unreadable 0; input errors 0\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("positions 22: kept 12, filtered 10 (book 2, no score 2, mate score 1, in check 1, "
                           "capture or promotion 2, lopsided 2)\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("12 records written to"), std::string::npos) << run.out;
}

// Unreadable games are named and written nowhere; the others are imported
// as if the bad ones were not there.
TEST(PgnImport, DropsUnreadableGamesWhole) {
    initEngineForTests();
    TempDir dir;
    const std::string good = pgnOf(rooks) + pgnOf(scholar);
    dir.write("good.pgn", good);
    std::string illegal = pgnOf(scholar), unknown = pgnOf(scholar), badFen = pgnOf(rooks);
    illegal.replace(illegal.find("Qh5"), 3, "Qh6");
    unknown.replace(unknown.find("-0.25/8"), 7, "later");
    badFen.replace(badFen.find("R3K2R b"), 7, "R3K2R x");
    const std::string truncated = pgnOf(scholar).substr(0, 150);
    dir.write("bad.pgn", pgnOf(rooks) + illegal + unknown + badFen + pgnOf(scholar) + truncated);

    const ToolRun ok = importPgn(dir, "good.bin", {"good.pgn"});
    const ToolRun bad = importPgn(dir, "bad.bin", {"bad.pgn"});
    ASSERT_EQ(ok.status, 0) << ok.err;
    ASSERT_EQ(bad.status, 0) << bad.err;
    EXPECT_EQ(dir.read("bad.bin"), dir.read("good.bin"));
    EXPECT_GT(dir.read("good.bin").size(), 0u);
    const std::string name = dir / "bad.pgn";
    for (const char* what : {": game 2 (White \"A\", Black \"B\") not imported: move 5 'Qh6' is not a legal move",
                             ": game 3 (White \"A\", Black \"B\") not imported: unknown comment {later 0.010s",
                             ": game 4 (White \"C\", Black \"D\", FEN \"r3k2r/p6p/8/8/8/8/P6P/R3K2R x KQkq - 5 30\") "
                             "not imported: FEN tag",
                             ": game 6 (White \"A\", Black \"B\") not imported: truncated"})
        EXPECT_NE(bad.err.find(name + what), std::string::npos) << what << "\n" << bad.err;
    EXPECT_NE(bad.out.find("games 6: imported 2, no result 0, unreadable 4;"), std::string::npos) << bad.out;

    // A game cut inside its comment at the end of the file.
    dir.write("cut.pgn", good + pgnOf(rooks).substr(0, pgnOf(rooks).find("+0.20") + 2));
    const ToolRun cut = importPgn(dir, "cut.bin", {"cut.pgn"});
    EXPECT_EQ(dir.read("cut.bin"), dir.read("good.bin"));
    EXPECT_NE(
        cut.err.find("cut.pgn: game 3 (White \"C\", Black \"D\", FEN \"r3k2r/p6p/8/8/8/8/P6P/R3K2R b KQkq - 5 30\") "
                     "not imported: truncated: the input ends inside a comment"),
        std::string::npos)
        << cut.err;

    // Noise (NUL bytes, braces, brackets) before a good file changes nothing.
    std::mt19937_64 rng(5);
    std::string noise;
    for (int i = 0; i < 4000; i++) noise += "\0{}[]( )\n\"Q1-*/."[rng() % 16] ^ (rng() % 4 == 0 ? char(rng()) : 0);
    dir.write("noise.pgn", noise);
    const ToolRun noisy = importPgn(dir, "noise.bin", {"noise.pgn", "good.pgn"});
    EXPECT_EQ(noisy.status, 0) << noisy.err;
    EXPECT_EQ(dir.read("noise.bin"), dir.read("good.bin"));

    const ToolRun missing = importPgn(dir, "none.bin", {"no-such.pgn"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no-such.pgn: cannot open"), std::string::npos) << missing.err;
}

// The same games through bzip2 and through a tar archive of a compressed
// and a plain member; damaged compressed data and a cut archive are
// reported, and what precedes the damage is imported in whole games.
TEST(PgnImport, ReadsBzip2AndTarArchives) {
    if (!haveBzip2()) GTEST_SKIP() << "bzip2 is not installed (Debian package bzip2)";
    initEngineForTests();
    TempDir dir;
    const std::string first = pgnOf(rooks) + pgnOf(frc), second = pgnOf(scholar) + pgnOf(queens);
    dir.write("first.pgn", first);
    dir.write("second.pgn", second);
    dir.write("both.pgn", first + second);
    ASSERT_EQ(runProgram({"bzip2", "-c", dir / "first.pgn"}, dir / "first.pgn.bz2"), 0);
    ASSERT_EQ(runProgram({"tar", "-cf", dir / "games.pgn.tar", "-C", dir.str(), "first.pgn.bz2", "second.pgn"}), 0);
    const std::string bz2 = dir.read("first.pgn.bz2");
    ASSERT_TRUE(bz2.starts_with("BZh"));

    importPgn(dir, "both.bin", {"both.pgn"});
    const std::string expected = dir.read("both.bin");
    ASSERT_GT(expected.size(), 0u);
    const ToolRun tar = importPgn(dir, "tar.bin", {"games.pgn.tar"});
    EXPECT_EQ(tar.status, 0) << tar.err;
    EXPECT_EQ(dir.read("tar.bin"), expected) << tar.err;
    const ToolRun split = importPgn(dir, "split.bin", {"first.pgn.bz2", "second.pgn"});
    EXPECT_EQ(dir.read("split.bin"), expected) << split.err;
    EXPECT_NE(split.out.find("games 4: imported 4"), std::string::npos) << split.out;

    // Flipped bits in the compressed data: bzip2's check fails.
    std::string damaged = bz2;
    for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 8; i++) damaged[i] = char(damaged[i] ^ 0x55);
    dir.write("damaged.pgn.bz2", damaged);
    const ToolRun bad = importPgn(dir, "damaged.bin", {"damaged.pgn.bz2", "second.pgn"});
    EXPECT_EQ(bad.status, 0);
    EXPECT_NE(bad.err.find("damaged.pgn.bz2: bzip2 -dc failed"), std::string::npos) << bad.err;
    EXPECT_NE(bad.out.find("input errors 1"), std::string::npos) << bad.out;
    importPgn(dir, "second.bin", {"second.pgn"});
    const std::string damagedRecords = dir.read("damaged.bin");
    EXPECT_TRUE(damagedRecords.ends_with(dir.read("second.bin")));
    EXPECT_EQ(damagedRecords.size() % sizeof(TrainingRecord), 0u);

    // An archive cut in its second member keeps the first member's games.
    const std::string archive = dir.read("games.pgn.tar");
    const size_t member = archive.find("second.pgn");
    ASSERT_NE(member, std::string::npos);
    dir.write("cut.pgn.tar", archive.substr(0, member + 512 + second.size() / 2));
    const ToolRun cut = importPgn(dir, "cut.bin", {"cut.pgn.tar"});
    importPgn(dir, "first.bin", {"first.pgn"});
    EXPECT_EQ(dir.read("cut.bin").substr(0, dir.read("first.bin").size()), dir.read("first.bin"));
    EXPECT_NE(cut.err.find("cut.pgn.tar:second.pgn: the archive ends inside this member"), std::string::npos)
        << cut.err;
    EXPECT_EQ(dir.read("cut.bin").size() % sizeof(TrainingRecord), 0u);
}
