// The evaluation: colour symmetry, caches, the choice of evaluator, positions
// worked out by hand, use counts of single parameters, the "evil" command.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>

#include "board/fen.h"
#include "eval/evaluate.h"
#include "eval/nnue.h"
#include "eval/weights.h"
#include "test_util.h"
#include "uci/engine.h"

namespace {

// The same position with the colours exchanged (board, side to move,
// castling rights and en-passant square mirrored).
std::string flipFen(const std::string& fen) {
    std::istringstream in(fen);
    std::string board, side, castling, ep, halfMove = "0", fullMove = "1";
    in >> board >> side >> castling >> ep >> halfMove >> fullMove;
    std::string flipped;
    std::istringstream rows(board);
    for (std::string r; std::getline(rows, r, '/');) {
        for (char& c : r) c = std::isalpha(static_cast<unsigned char>(c)) ? char(c ^ 0x20) : c;
        flipped = flipped.empty() ? r : r + "/" + flipped;
    }
    for (char& c : castling) c = c == '-' ? c : char(c ^ 0x20);
    if (ep != "-") ep[1] = char('1' + ('8' - ep[1]));
    return flipped + (side == "w" ? " b " : " w ") + castling + " " + ep + " " + halfMove + " " + fullMove;
}

// FENs along random games from the start position (fixed seed).
std::vector<std::string> randomGamePositions(int games, int plies, u64 seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::string> fens;
    TestPosition p(START_FEN);
    for (int g = 0; g < games; g++) {
        setPositionFromFen(START_FEN, *p);
        for (int i = 0; i < plies; i++) {
            const int before = p->gamePly;
            playRandomMoves(*p, 1, rng);
            if (p->gamePly == before) break;  // mate or stalemate
            fens.push_back(positionToFen(*p));
        }
    }
    return fens;
}

// Another value for an evaluation parameter or switch while the guard lives.
template <typename T>
struct Override {
    T& parameter;
    T saved;
    Override(T& p, T value) : parameter(p), saved(p) { parameter = value; }
    ~Override() { parameter = saved; }
};

}  // namespace

// With the push terms symmetric both evaluators give random game positions
// their colour flips' scores. A cache hit gives what was computed, stored
// White-relative; the pawn cache holds the pawn term and passed pawns.
TEST(EvalSymmetry, BothPathsAreColourSymmetricAndCached) {
    useBootstrapNetwork();
    Override<bool> symmetric(evalSymmetricPushTerms, true);
    const std::vector<std::string> fens = randomGamePositions(40, 120, 2024);
    ASSERT_GT(fens.size(), 3000u);
    TestPosition a(START_FEN, true), b(START_FEN, true);
    int networkPath = 0, handPath = 0;
    for (const std::string& fen : fens) {
        const std::string mirror = flipFen(fen);
        ASSERT_TRUE(setPositionFromFen(fen, *a));
        ASSERT_TRUE(setPositionFromFen(mirror, *b)) << mirror;
        ASSERT_EQ(middleGameBalance(*a), -middleGameBalance(*b));
        (std::abs(middleGameBalance(*a)) >= 400 ? handPath : networkPath)++;
        const i16 value = evaluate(0, *a);
        ASSERT_EQ(evaluate(0, *b), value) << fen;
        ASSERT_EQ(evaluate(0, *a), value) << fen;
        const EvalCacheEntry& e = a->evalCache[a->key & (EVAL_CACHE_ENTRIES - 1)];
        ASSERT_EQ(std::pair(e.key, int(e.score)), std::pair(a->key, a->sideToMove == WHITE ? value : -value)) << fen;

        ASSERT_EQ(evaluateHandWritten(*a), evaluateHandWritten(*b)) << fen;
        const PawnCacheEntry& pe = a->pawnCache[a->pawnKingKey & (PAWN_CACHE_ENTRIES - 1)];
        u64 passed;
        ASSERT_EQ(pe.key, a->pawnKingKey);
        ASSERT_EQ(pe.score, evalterms::pawnStructure(*a, &passed)) << fen;
        ASSERT_EQ(pe.passedPawns, passed) << fen;
    }
    EXPECT_GT(networkPath, 1000);
    EXPECT_GT(handPath, 500);
    // The hit answers from the slot: a planted value comes back, negated for Black.
    ASSERT_TRUE(setPositionFromFen("4k3/8/8/8/8/8/4P3/4K3 b - - 0 1", *a));
    evaluate(0, *a);
    a->evalCache[a->key & (EVAL_CACHE_ENTRIES - 1)].score = 1234;
    EXPECT_EQ(evaluate(0, *a), -1234);
}

// A balance of 400 or -400 belongs to the hand-written evaluation, 399 and
// -399 to the network; without a network the hand-written one answers all.
TEST(EvalEntry, BalanceBoundaryAt400AndNoNetwork) {
    useBootstrapNetwork();
    const std::string fen = "r1bqk2r/pppp1ppp/2n2n2/2b1p3/2B1P3/2N2N2/PPPP1PPP/R1BQK2R w KQkq - 4 5";
    const struct {
        int balance;
        bool network, handWritten;
    } cases[] = {{400, true, true}, {-400, true, true}, {399, true, false}, {-399, true, false}, {0, false, true}};
    for (const auto& c : cases) {
        TestPosition p(fen, true);
        p->psq[WHITE] += X(c.balance - middleGameBalance(*p), 0);
        ASSERT_EQ(middleGameBalance(*p), c.balance);
        const i16 hand = evaluateHandWritten(*p);
        const i16 network = evaluateNetwork(*p, 0);
        ASSERT_NE(hand, network) << "the two evaluators must disagree for the test to tell them apart";
        netLoaded = c.network;
        p.clearCaches();
        const i16 value = evaluate(0, *p);
        netLoaded = true;
        EXPECT_EQ(value, c.handWritten ? hand : network) << c.balance << (c.network ? "" : " without a network");
    }
}

// Whole evaluations worked out by hand from the tables. KP v K: balance
// X(81, 150), storms X(25, 21) and X(26, 26), e2 passed and isolated X(7, 8),
// shelter X(8, 0), pushes X(-4, 12), pawnless flank X(20, 12), complexity -20.
// Rook: balance X(461, 643), open file X(25, 8), mobility X(24, 42), phase 2.
// Queen d4 pinning f2: king danger 529 (check 282, zone 340, mobility -3,
// attacker 19, king square 81, flank -176, pin -14) costs X(-68, -16).
TEST(EvalHandChecked, WholeEvaluations) {
    const struct {
        const char* fen;
        Score pawns;
        u64 passed;
        Score total;
        int value;
    } cases[] = {
        {"4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", X(-19, -18), bit(12), X(111, 153), 153},
        {"4k3/8/8/8/8/8/4P3/4K3 b - - 0 1", X(-19, -18), bit(12), X(61, 119), -119},
        {"4k3/8/8/8/8/8/8/4K2R w - - 0 1", 0, 0, X(535, 608), 601},
        {"6k1/8/8/8/3q4/8/5PPP/6K1 w - - 0 1", X(-35, 38), bit(13) | bit(14) | bit(15), X(-839, -753), -767},
    };
    for (const auto& c : cases) {
        TestPosition p(c.fen, true);
        u64 passed;
        if (c.passed) {  // the pawn term worked out too
            EXPECT_EQ(evalterms::pawnStructure(*p, &passed), c.pawns) << c.fen;
            EXPECT_EQ(passed, c.passed) << c.fen;
        }
        EXPECT_EQ(evalterms::handWrittenTotal(*p), c.total) << c.fen;
        EXPECT_EQ(evaluateHandWritten(*p), c.value) << c.fen;
    }
    // Without the king danger the queen case's middle game would be 68 higher.
    TestPosition p(cases[3].fen, true);
    Override<int> noDanger(kingDangerThreshold, kingDangerThreshold + 10000);
    EXPECT_EQ(evalterms::handWrittenTotal(*p), X(-839 + 68, -753 + 16));
}

// Each parameter raised by X(100, 0) moves the White-relative total (or the
// pawn term) by 100 x its White uses minus Black uses, counted by hand. The
// storm reads the one-wing variants with both kings on one half (e1 and e8:
// the e-h wing) and the blocked ones with the own pawn right in front.
TEST(EvalTerms, ParameterUseCounts) {
    struct Case {
        const char* name;
        const char* fen;
        Score* parameter;
        int whiteMinusBlack;
        bool pawnTerm;
    };
    const Case cases[] = {
        {"pinned knight", "4r1k1/8/8/8/8/8/4N3/4K3 w - - 0 1", &pinnedPiece[0][0], 1, false},
        {"pinned knight, pawn-attacked", "4r1k1/8/8/8/8/3p4/4N3/4K3 w - - 0 1", &pinnedPiece[1][0], 1, false},
        {"knight near its king", "4r1k1/8/8/8/8/8/4N3/4K3 w - - 0 1", &minorKingDistance, 1, false},
        {"discovered-attack knight", "4r1k1/8/8/8/4n3/8/8/4K3 w - - 0 1", &discoveredAttack[0], -1, false},
        {"defended outpost", "6k1/8/8/4N3/3P4/8/8/6K1 w - - 0 1", &outpost[0][1], 1, false},
        {"outpost with a pawn able to chase", "6k1/5p2/8/4N3/3P4/8/8/6K1 w - - 0 1", &outpost[0][1], 0, false},
        {"black bishop outpost", "6k1/8/8/8/3b4/8/8/6K1 w - - 0 1", &outpost[1][0], -1, false},
        {"semi-open file", "6k1/p7/8/8/8/8/8/R5K1 w - - 0 1", &rookSemiOpenFile, 1, false},
        {"closed file", "6k1/8/8/8/8/8/P7/R5K1 w - - 0 1", &rookOpenFile, 0, false},
        {"open file", "6k1/8/8/8/8/8/8/R5K1 w - - 0 1", &rookOpenFile, 1, false},
        {"rook on the seventh", "6k1/R7/8/8/8/8/8/6K1 w - - 0 1", &rookOnSeventh, 1, false},
        {"rook on the seventh, king in front", "8/R4pk1/8/8/8/8/8/6K1 w - - 0 1", &rookOnSeventh, 1, false},
        {"rook on the seventh, king out", "8/R7/6k1/8/8/8/8/6K1 w - - 0 1", &rookOnSeventh, 0, false},
        {"queen on the seventh", "6k1/Q7/8/8/8/8/8/6K1 b - - 0 1", &queenOnSeventh, 1, false},
        {"bishop behind own blocked pawns", "6k1/8/8/3pp3/3PP3/8/8/2B3K1 w - - 0 1", &bishopBlockedPawns, 1, false},
        {"minor attacked by a pawn", "6k1/8/8/3p4/4N3/8/8/6K1 w - - 0 1", &minorAttackedByPawn, 1, false},
        {"queen attacked", "3r2k1/8/8/8/8/8/8/3Q2K1 w - - 0 1", &queenAttacked, 1, false},
        {"rook attacked by a knight", "6k1/8/8/8/8/1n6/8/R5K1 w - - 0 1", &rookAttackedByLesser, 1, false},
        {"knight attacked by a bishop", "6k1/8/8/8/3N4/8/8/b5K1 w - - 0 1", &minorAttackedByMinor, 1, false},
        {"safe push attacks a knight", "6k1/8/8/8/3n4/8/4P3/6K1 w - - 0 1", &safePawnPushThreat, 1, false},
        {"undefended pawn", "4r1k1/8/8/8/4P3/8/8/6K1 w - - 0 1", &weakPawn, 1, false},
        {"piece defended once", "6k1/8/8/8/8/4N3/5K2/4r3 w - - 0 1", &pieceDefendedOnce, 1, false},
        {"knight hanging to a rook", "4r1k1/8/8/8/4N3/8/8/6K1 w - - 0 1", &minorHangingToHeavy, 1, false},
        {"knight behind a pawn", "6k1/8/8/8/4P3/4N3/8/6K1 w - - 0 1", &minorBehindPawn, 1, false},
        {"pawnless flanks", "6k1/8/8/8/8/8/8/R5K1 w - - 0 1", &pawnlessFlank, 0, false},
        {"pawnless flank, black only", "6k1/8/8/8/8/8/6P1/R5K1 w - - 0 1", &pawnlessFlank, -1, false},
        {"knight mobility, two squares", "6k1/8/8/8/8/8/8/N5K1 w - - 0 1", &knightMobility[2], 1, false},
        {"two bishops on dark squares", "6k1/8/8/8/8/4B3/8/2B3K1 w - - 0 1", &bishopPair, 1, false},
        {"three bishops", "6k1/8/8/8/8/4B3/8/2B2BK1 w - - 0 1", &bishopPair, 0, false},
        {"both pairs", "2b2bk1/8/8/8/8/8/8/2B2BK1 w - - 0 1", &bishopPair, 0, false},
        {"doubled", "6k1/8/8/8/4P3/4P3/8/6K1 w - - 0 1", &doubled[4], 1, true},
        {"tripled", "6k1/8/8/4P3/4P3/4P3/8/6K1 w - - 0 1", &doubled[4], 2, true},
        {"doubled near the king", "6k1/8/8/8/6P1/6P1/8/6K1 w - - 0 1", &doubledNearKing, 1, true},
        {"isolated", "6k1/8/8/8/8/8/1P6/6K1 w - - 0 1", &isolated[1], 1, true},
        {"not isolated", "6k1/8/8/8/8/8/PP6/6K1 w - - 0 1", &isolated[1], 0, true},
        // d3 and c5 cannot advance safely past each other: both backward.
        {"backward d3", "6k1/8/8/2p5/8/3P4/8/6K1 w - - 0 1", &backward[3], 1, true},
        {"backward c5", "6k1/8/8/2p5/8/3P4/8/6K1 w - - 0 1", &backward[2], -1, true},
        {"supported", "6k1/8/8/8/4P3/3P4/8/6K1 w - - 0 1", &supported[3], 1, true},
        {"phalanx", "6k1/8/8/8/3PP3/8/8/6K1 w - - 0 1", &phalanxBonus[3], 2, true},
        // b5 against a6 alone: the only stopper is a lever.
        {"candidate", "6k1/8/p7/1P6/8/8/8/6K1 w - - 0 1", &candidatePassed[0][4], 1, true},
        {"candidate with support", "6k1/8/p7/1P6/2P5/8/8/6K1 w - - 0 1", &candidatePassed[1][4], 1, true},
        {"passed square", "6k1/8/8/8/3P4/8/8/6K1 w - - 0 1", &passedPawnSquare[3 * 8 + 3], 0, true},
        {"passed square d5", "6k1/8/8/3P4/8/8/8/6K1 w - - 0 1", &passedPawnSquare[3 * 8 + 3], 1, true},
        {"black passed square d4", "6k1/8/8/8/3p4/8/8/6K1 w - - 0 1", &passedPawnSquare[3 * 8 + 3], -1, true},
        // Black's e-file sees the white pawn e4 at distance 4; e1/e8 one wing, d1/e8 not.
        {"storm, one wing", "4k3/8/8/8/4P3/8/8/4K3 w - - 0 1", &kingPawnTable[2][4][4], -1, true},
        {"storm apart", "4k3/8/8/8/4P3/8/8/3K4 w - - 0 1", &kingPawnTable[0][4][4], -1, true},
        // Blocked by e5; g1/e8 one wing, b1/e8 not.
        {"blocked storm", "4k3/8/8/4p3/4P3/8/8/6K1 w - - 0 1", &kingPawnTable[3][4][4], -1, true},
        {"blocked storm apart", "4k3/8/8/4p3/4P3/8/8/1K6 w - - 0 1", &kingPawnTable[1][4][4], -1, true},
        // Kings b8 and h1 apart: the black king reads a2 at distance 6.
        {"storm on the a-file", "1k6/8/8/8/8/8/P7/7K w - - 0 1", &kingPawnTable[0][0][6], -1, true},
    };
    for (const Case& c : cases) {
        TestPosition p(c.fen, true);
        u64 passed;
        auto term = [&] { return c.pawnTerm ? evalterms::pawnStructure(*p, &passed) : evalterms::handWrittenTotal(*p); };
        const Score before = term();
        Override<Score> n(*c.parameter, *c.parameter + X(100, 0));
        EXPECT_EQ(term() - before, c.whiteMinusBlack * X(100, 0)) << c.name;
    }
}

// Without the switch White's king danger reads Black's mobility before
// Black's push term is in it, Black's reads White's after.
TEST(EvalKingDanger, PushTermOrderingBetweenTheColours) {
    const std::string whiteInDanger = "6k1/pp3ppp/8/8/3b4/5q2/5PPP/6K1 w - - 0 1";
    TestPosition p(whiteInDanger, true), q(flipFen(whiteInDanger), true);
    auto values = [&](bool symmetric) {
        Override<bool> s(evalSymmetricPushTerms, symmetric);
        return std::pair{evaluateHandWritten(*p), evaluateHandWritten(*q)};
    };
    const auto [off, flippedOff] = values(false);
    const auto [on, flippedOn] = values(true);
    // Black's pushes lower Black's mobility, which White's king danger then sees.
    EXPECT_GT(on, off);
    EXPECT_EQ(std::pair(flippedOff, flippedOn), std::pair(on, on));  // Black's view never changes
}

// "evil" prints the evaluation from the side to move's view.
TEST(EvalEvil, PrintsTheEvaluationOfTheRootPosition) {
    useBootstrapNetwork();
    TestPosition opened("rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq c6 0 2", true);
    const std::pair<std::string, int> cases[] = {
        {"startpos moves e2e4 c7c5", evaluateNetwork(*opened, 0)},
        // Black to move: X(510, 591) - X(25, 17), (485 x 2 + 574 x 22) / 24 = 566.
        {"fen 4k3/8/8/8/8/8/8/4K2R b - - 0 1", -566},
    };
    for (const auto& [position, value] : cases) {
        CapturedOutput out;
        executeCommand("position " + position);
        executeCommand("evil");
        EXPECT_EQ(splitLines(out.text()), std::vector<std::string>{"Evaluation : " + std::to_string(value)});
    }
    executeCommand("position startpos");
}
