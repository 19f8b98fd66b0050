// The tablebase module: table registration, its positions and moves against
// the engine's, probes against independently computed vectors, the root probe.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <set>
#include <thread>
#include <tuple>

#include "board/makemove.h"
#include "board/movegen.h"
#include "tablebase/tbdecode.h"
#include "tb_test_util.h"

namespace {

// The four-man tables kept with the tests are registered for every test.
class Tablebase : public ::testing::Test {
protected:
    void SetUp() override {
        initEngineForTests();
        ASSERT_TRUE(tbInit(smallTablesDir()));
    }
    void TearDown() override { tbInit(""); }
};

// Registers the path and checks what was counted.
void expectRegistered(const std::string& path, int wdl, int dtz, int dtm, int largest) {
    ASSERT_TRUE(tbInit(path)) << path;
    EXPECT_EQ(std::tuple(tbCounts().wdl, tbCounts().dtz, tbCounts().dtm, tbLargest), std::tuple(wdl, dtz, dtm, largest))
        << path;
}

// WDL of the position, -99 where the probe fails.
int wdlOf(const std::string& fen) {
    int success;
    const int wdl = probeWdl(tbPositionFromFen(fen), success);
    return success ? wdl : -99;
}

std::vector<std::string> legalTbMoves(const TbPosition& p) {
    TbMove moves[TB_MAX_MOVES];
    const TbMove* end = tbGenerateMoves(p, moves);
    TbPosition next;
    std::vector<std::string> out;
    for (const TbMove* m = moves; m < end; m++)
        if (tbDoMove(p, *m, next)) out.push_back(tbMoveText(*m));
    std::sort(out.begin(), out.end());
    return out;
}

struct RootAnswer {
    Move move;
    int score = -99999;
    std::string output;
};

RootAnswer probeRoot(const std::string& fen) {
    TestPosition pos(fen);
    CapturedOutput out;
    RootAnswer a;
    a.move = tbProbeRoot(*pos, &a.score);
    a.output = out.text();
    return a;
}

// Expected score under the fifty-move rule from the root's counter.
int classify(int dtz, int counter) {
    if (dtz > 0) return dtz + counter <= 100 ? 31872 - dtz : 0;
    if (dtz < 0) return counter - dtz <= 100 ? -dtz - 31872 : 0;
    return 0;
}

const std::string VECTORS = testData("syzygy/vectors-4men.txt");
const char* const KQK = "8/8/8/8/8/2k5/8/KQ6 w - - 0 1";

}  // namespace

TEST_F(Tablebase, NamesCoverEveryMaterialOnce) {
    const auto names = tbAllTableNames();
    int pawnless = 0, byMen[9] = {};
    std::set<u64> materials;  // one name per material, whichever colour holds it
    for (const std::string& n : names) {
        pawnless += n.find('P') == std::string::npos;
        byMen[std::min<size_t>(n.size() - 1, 8)]++;
        EXPECT_TRUE(materials.insert(std::min(tbSignature(n), tbSignature(n, true))).second) << n;
    }
    EXPECT_EQ(pawnless, TB_PIECES_CAPACITY);
    EXPECT_EQ(int(names.size()) - pawnless, TB_PAWNS_CAPACITY);
    EXPECT_EQ(std::vector<int>(byMen, byMen + 9), (std::vector<int>{0, 0, 0, 5, 30, 110, 365, 1001, 0}));
    // Each side strongest first, the side with more men (or stronger) first.
    for (const char* n : {"KQvKR", "KRPvKR", "KPPvKQ", "KQRvKQR", "KNNNNNvK"})
        EXPECT_EQ(std::count(names.begin(), names.end(), n), 1) << n;
    for (const char* n : {"KRvKQ", "KQvKQR", "KRQvK"}) EXPECT_EQ(std::count(names.begin(), names.end(), n), 0) << n;
}

// What a path registers: the four-man set in full (each table's lookup under
// both colour orders: the vectors); nothing from empty or missing directories
// or a directory named like a table; a WDL file alone, a DTM file only beside
// its WDL file, and nothing from a file too short (reported every time).
TEST_F(Tablebase, RegistrationCountsTheFilesFound) {
    expectRegistered(smallTablesDir(), 35, 35, 0, 4);
    EXPECT_EQ(tbMaxWdl, 4);
    EXPECT_EQ(tbHashCount(), 5 + 2 * 30);  // KPvKP, KNvKN, KBvKB, KRvKR, KQvKQ once, the others twice
    for (const char* path : {"", "<empty>", ";;", "/nonexistent/velmora/tables"}) {
        expectRegistered(path, 0, 0, 0, 0);
        EXPECT_EQ(tbHashCount(), 0) << path;
        EXPECT_EQ(tbDirectories().size(), path[0] == '/' ? 1u : 0u) << path;
    }
    TempDir other;
    std::filesystem::create_directory(other / "KQvK.rtbw");
    other.copyTable("KRvK.rtbw");
    testing::internal::CaptureStderr();
    expectRegistered(other.str(), 1, 0, 0, 3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(wdlOf(KQK), -99);

    TempDir dir;
    dir.copyTable("KQvK.rtbw");
    expectRegistered(dir.str(), 1, 0, 0, 3);
    EXPECT_EQ(wdlOf(KQK), TB_WIN);
    int success;
    probeDtz(tbPositionFromFen(KQK), success);
    EXPECT_EQ(success, 0);  // no DTZ file

    std::string dtm(80, '\0');
    std::memcpy(dtm.data(), &TB_MAGIC[TB_DTM], 4);
    dir.write("KRPvKR.rtbm", dtm);
    expectRegistered(dir.str(), 1, 0, 0, 3);
    dir.write("KQvK.rtbm", dtm);
    expectRegistered(dir.str(), 1, 0, 1, 3);
    EXPECT_TRUE(tbFindTable(tbSignature("KQvK"))->hasDtm);

    auto bytes = dir.read("KQvK.rtbw");
    bytes.resize(100);
    dir.write("KQvK.rtbw", bytes);
    dir.copyTable("KRvK.rtbw");
    for (int round = 0; round < 2; round++) {
        testing::internal::CaptureStderr();
        CapturedOutput out;
        expectRegistered(dir.str(), 1, 0, 0, 3);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Incomplete tablebase file KQvK.rtbw\n");
        EXPECT_EQ(out.text(), "info string Incomplete tablebase file KQvK.rtbw\n");
        EXPECT_EQ(wdlOf(KQK), -99);
    }
}

// Directories are searched in order; re-registering drops every mapping.
TEST_F(Tablebase, DirectoriesInOrder) {
    TempDir first, second;
    for (const char* file : {"KQvK.rtbw", "KQvK.rtbz", "KRvK.rtbw"}) first.copyTable(file);
    // The second directory's KQvK is really another table: reading it fails.
    second.copyTable("KRvK.rtbw", "KQvK.rtbw");
    second.copyTable("KPvK.rtbw");

    expectRegistered(first.str() + ";;" + second.str(), 3, 1, 0, 3);
    EXPECT_EQ(tbDirectories(), (std::vector<std::string>{first.str(), second.str()}));
    EXPECT_EQ(wdlOf("8/8/8/8/8/2k5/8/KQ6 b - - 0 1"), TB_LOSS);
    EXPECT_EQ(wdlOf("8/8/1k6/5P2/8/8/1K6/8 w - - 0 1"), TB_WIN);

    // The other order takes the wrong file: reported once, the probe fails.
    ASSERT_TRUE(tbInit(second.str() + ";" + first.str()));
    testing::internal::CaptureStderr();
    EXPECT_EQ(wdlOf(KQK), -99);
    EXPECT_EQ(wdlOf(KQK), -99);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Corrupted table.\n");
    EXPECT_EQ(wdlOf("8/8/8/8/8/2k5/8/KR6 w - - 0 1"), TB_WIN);
}

// Cut or damaged contents of a plausible size: reported, answers in range.
TEST_F(Tablebase, DamagedContentsNeverCrash) {
    const std::vector<std::string> tables = {"KRvKN", "KPvKP", "KQvKP", "KBNvK", "KRRvK"};
    std::mt19937_64 rng(20240601);
    std::vector<TbPosition> positions;
    for (const std::string& t : tables)
        for (int i = 0; i < 40; i++) positions.push_back(tbRandomPosition(t, rng));

    for (int round = 0; round < 24; round++) {
        TempDir dir;
        for (const std::string& t : tables)
            for (const std::string& file : {t + ".rtbw", t + ".rtbz"}) {
                dir.copyTable(file);
                auto bytes = dir.read(file);
                if (round % 3 == 0) {  // cut to a shorter size that still passes the size check
                    bytes.resize(std::min(bytes.size(), 16 + 64 * (rng() % (bytes.size() / 64))));
                } else {  // damaged bytes: in the headers in some rounds, anywhere in others
                    const size_t span = round % 3 == 1 ? std::min<size_t>(bytes.size(), 96) : bytes.size();
                    for (int k = 0; k < 12; k++) bytes[4 + rng() % (span - 4)] = u8(rng());
                }
                dir.write(file, bytes);
            }
        testing::internal::CaptureStderr();
        ASSERT_TRUE(tbInit(dir.str()));
        for (const TbPosition& p : positions) {
            int success;
            const int wdl = probeWdl(p, success);
            EXPECT_TRUE(!success || std::abs(wdl) <= 2) << wdl;
            const int dtz = probeDtz(p, success);
            EXPECT_TRUE(!success || std::abs(dtz) <= 2000) << dtz;
        }
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors.find_first_not_of("Corrupted table.\nIncomplete tablebase fil KRPNBvQ.rtbwz"), std::string::npos)
            << errors;
    }
}

// The en-passant square comes from the ply asked for.
TEST_F(Tablebase, EnPassantSquareOfThePlyAskedFor) {
    TestPosition later("4k3/2p5/8/3P4/8/8/8/4K3 b - - 0 40");
    later->plyStack[1].moveListBegin = later->plyStack[0].moveListBegin;
    doMove(0, makeMove(sq("c7"), sq("c5"), FLAG_DOUBLE), *later);
    EXPECT_EQ(tbFromPosition(*later, 1, 0).epSquare, sq("c6"));
    EXPECT_EQ(tbFromPosition(*later, 0, 0).epSquare, 0);
}

// The module's legal moves are the engine's (its captures: the vectors).
TEST_F(Tablebase, MovesMatchEngineGenerator) {
    const char* starts[] = {
        "4k3/2p5/8/3P4/8/8/4P3/4K3 w - - 0 1",   "8/5p2/8/4P1P1/1k6/8/3p4/1K6 b - - 0 1",
        "r3k3/1P6/8/8/8/8/6p1/4K2R w - - 0 1",   "4k3/8/8/8/8/8/8/R3K2R b - - 0 1",
        "8/8/3q4/2N5/8/5B2/1k6/4K3 w - - 0 1",   "1n2k3/P7/8/2pP4/8/8/5p2/4K2N w - c6 0 1",
    };
    std::mt19937_64 rng(77);
    int compared = 0, withEp = 0;
    for (const char* fen : starts)
        for (int game = 0; game < 30; game++) {
            TestPosition e(fen);
            for (int ply = 0; ply < 24 && popCount(e->occupancy()) >= 3; ply++, playRandomMoves(*e, 1, rng)) {
                if (e->plyStack[0].castlingRights) continue;
                const TbPosition p = tbFromPosition(*e, 0, e->rule50);
                EXPECT_EQ(legalTbMoves(p), legalMoveTexts(*e)) << positionToFen(*e);
                compared++;
                withEp += p.epSquare != 0;
            }
        }
    EXPECT_GT(compared, 2000);
    EXPECT_GT(withEp, 10);
}

// The validity test refuses broken records (valid ones with en passant or
// in check: the listed roots).
TEST_F(Tablebase, Validity) {
    const TbPosition p = tbPositionFromFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
    ASSERT_TRUE(tbIsValid(p));
    const std::function<void(TbPosition&)> breaks[] = {
        [](TbPosition& q) { q.kings |= bit(0), q.white |= bit(0); },                        // two white kings
        [](TbPosition& q) { q.kings &= ~bit(60), q.black &= ~bit(60); },                    // no black king
        [](TbPosition& q) { q.black |= bit(12); },                                           // e2 of both colours
        [](TbPosition& q) { q.rooks |= bit(12); },                                           // e2 of two types
        [](TbPosition& q) { q.rooks |= bit(20); },                                           // no colour
        [](TbPosition& q) { q.pawns ^= bit(12) | bit(56), q.white ^= bit(12) | bit(56); },  // pawn on a8
        [](TbPosition& q) { q.epSquare = 43; },                                              // no pawn for e.p.
        [](TbPosition& q) { q.rooks |= bit(52), q.white |= bit(52); },                      // side not to move in check
    };
    for (size_t i = 0; i < std::size(breaks); i++) {
        TbPosition q = p;
        breaks[i](q);
        EXPECT_FALSE(tbIsValid(q)) << "case " << i;
    }
}

// The vectors are raw table values, as if each position had just been
// reached by a capture or pawn move: the FENs' clocks play no part here.
TEST_F(Tablebase, VectorsAgree) {
    const std::vector<int> byMen = expectVectorsAgree(VECTORS);
    EXPECT_GT(byMen[3] + byMen[4], 1000);
}

// Mate in one is one ply to the end (the mated side -1), also where the DTZ
// table holds only the losing side (KBNvK, KBBvK) and a search finds it.
TEST_F(Tablebase, MateInOneIsOnePly) {
    std::mt19937_64 rng(5);
    int mates = 0;
    for (const char* material : {"KBNvK", "KBBvK", "KQvK", "KRvK", "KQvKN"})
        for (int i = 0; i < 4000; i++) {
            TbPosition p = tbRandomPosition(material, rng), next;
            p.whiteToMove = true;
            if (!tbIsValid(p)) continue;
            TbMove moves[TB_MAX_MOVES];
            const TbMove* end = tbGenerateMoves(p, moves);
            const TbMove* m = std::find_if(static_cast<const TbMove*>(moves), end, [&](TbMove move) {
                return tbDoMove(p, move, next) && tbIsMate(next) && !tbIsZeroing(p, move);
            });
            if (m == end) continue;
            int success;
            EXPECT_EQ(std::tuple(probeDtz(p, success), probeDtz(next, success), probeWdl(next, success)),
                      std::tuple(1, -1, int(TB_LOSS)))
                << material << " " << i << " " << tbMoveText(*m);
            mates++;
        }
    EXPECT_GT(mates, 50);
}

// The search probe: WDL + 2, the fifty-move counter and castling rights
// ignored, -1 where no table answers. The root probe answers, and says so,
// wherever a table has a move to give.
TEST_F(Tablebase, SearchAndRootProbe) {
    const struct {
        const char* fen;
        int wdl;
        bool root;
    } cases[] = {
        {"8/8/8/8/5KQ1/8/8/4k3 w - - 22 33", 4, true},      // KQvK, won
        {"6K1/8/8/8/7k/8/7R/8 b - - 0 77", 0, true},        // KRvK, lost
        {"5k2/8/8/8/2B5/8/8/3K4 b - - 59 64", 2, true},     // KBvK, drawn
        {"8/8/8/8/5K2/8/8/4k3 w - - 0 1", 2, true},         // bare kings need no file
        {"8/8/8/8/5KQ1/8/3r4/2r1k3 w - - 0 1", -1, false},  // five men with four-man tables
        {"4k3/8/8/8/8/8/8/R3K3 w Q - 0 1", 4, false},       // castling rights
        {"R6k/8/6K1/8/8/8/8/8 b - - 0 1", 0, false},        // checkmated: nothing to play
        {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 2, false},       // stalemate
    };
    for (const auto& c : cases) {
        TestPosition e(c.fen);
        EXPECT_EQ(tbProbeWdl(0, *e), c.wdl) << c.fen;
        const RootAnswer a = probeRoot(c.fen);
        EXPECT_EQ(isNoMove(a.move), !c.root) << c.fen;
        EXPECT_EQ(a.output.empty(), !c.root) << c.fen;
    }
    ASSERT_TRUE(tbInit(""));  // without tables nothing answers
    EXPECT_TRUE(isNoMove(probeRoot(cases[0].fen).move));
}

// The listed roots (en passant and promotions among them): an optimal move,
// the same as the engine's move, which is legal and announced.
TEST_F(Tablebase, EveryListedRootGetsAnOptimalMove) {
    const auto cases = readTbFile(testData("syzygy/root-4men.txt"));
    ASSERT_EQ(cases.size(), 180u);
    for (const TbVector& c : cases) {
        int dtz = 0;
        const TbMove best = rootBestMove(tbPositionFromFen(c.fen), &dtz);
        ASSERT_NE(best, 0) << c.fen;
        EXPECT_NE(std::find(c.moves.begin(), c.moves.end(), tbMoveText(best)), c.moves.end())
            << c.fen << " chose " << tbMoveText(best);

        TestPosition p(c.fen);
        const RootAnswer a = probeRoot(c.fen);
        const std::string text = moveToText(a.move, p->sideToMove, *p);
        EXPECT_EQ(text, tbMoveText(best)) << c.fen;
        EXPECT_TRUE(sameMove(parseLegalMove(text, 0, *p), a.move)) << c.fen << " " << text;
        EXPECT_EQ(a.output, "info score cp " + std::to_string(a.score) +
                                " depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv " + text + "\n");
        EXPECT_EQ(a.score, classify(dtz, p->rule50)) << c.fen;
    }
}

// The vectors' clocks count only at the root: a win or loss that does not
// fit into the moves left before the fifty-move draw scores 0 (one line).
TEST_F(Tablebase, FiftyMoveCounterDecidesScore) {
    int probed = 0, spoiled = 0;
    for (const TbVector& v : readTbFile(VECTORS)) {
        TestPosition p(v.fen);
        if (!tbHasLegalMove(tbFromPosition(*p, 0, 0))) continue;  // mate or stalemate: no move
        const RootAnswer a = probeRoot(v.fen);
        ASSERT_FALSE(isNoMove(a.move)) << v.fen;
        EXPECT_EQ(a.score, classify(v.dtz, p->rule50)) << v.fen;
        probed++;
        if (v.wdl != 0 && std::abs(v.dtz) <= 100 && a.score == 0) spoiled++;
    }
    EXPECT_GT(probed, 1000);
    EXPECT_EQ(spoiled, 1);
    EXPECT_EQ(probeRoot("8/8/8/3B4/6K1/4N3/4k3/8 w - - 55 48").score, 0);  // DTZ 50 after 55 plies
    EXPECT_EQ(probeRoot("8/8/8/3B4/6K1/4N3/4k3/8 w - - 50 48").score, 31872 - 50);
}

// Threads probing in their own orders while the tables are mapped on first use.
TEST_F(Tablebase, ConcurrentProbesWhileMapping) {
    std::mt19937_64 rng(99);
    const std::vector<TbPosition> positions = tbSamplePositions(4, 24, rng);
    ASSERT_EQ(positions.size(), 35u * 24);
    auto probe = [](const TbPosition& p) {
        int wdlSuccess, dtzSuccess;
        const std::pair<int, int> got(probeWdl(p, wdlSuccess), probeDtz(p, dtzSuccess));
        return wdlSuccess && dtzSuccess ? got : std::pair(-99, -99);
    };
    std::vector<std::pair<int, int>> expected;
    for (const TbPosition& p : positions) expected.push_back(probe(p));
    ASSERT_EQ(std::count(expected.begin(), expected.end(), std::pair(-99, -99)), 0);

    ASSERT_TRUE(tbInit(smallTablesDir()));
    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&, t] {
            std::vector<size_t> indices(positions.size());
            std::iota(indices.begin(), indices.end(), 0);
            std::shuffle(indices.begin(), indices.end(), std::mt19937_64(u64(t) * 7919 + 1));
            while (!go.load()) std::this_thread::yield();
            for (size_t i : indices) wrong += probe(positions[i]) != expected[i];
        });
    go = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}
