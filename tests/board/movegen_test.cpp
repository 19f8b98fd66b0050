// Generator contracts: order and scores where the move picker relies on them,
// evasions, pins, and the agreement between the generators, countLegal and
// isLegal over random positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "test_util.h"

namespace {

int sq(const char* name) { return (name[0] - 'a') + 8 * (name[1] - '1'); }

std::vector<Move> listOf(Position& pos, int ply = 0) {
    return {pos.plyStack[ply].moveListBegin, pos.plyStack[ply].moveListEnd};
}

std::vector<std::string> texts(const std::vector<Move>& moves, const Position& pos) {
    std::vector<std::string> out;
    for (Move m : moves) out.push_back(moveToText(m, pos.sideToMove, pos));
    return out;
}

}  // namespace

TEST(MoveGen, StartPositionOrder) {
    TestPosition p(START_FEN);
    generateCaptures(0, p->plyStack[0].moveListBegin, *p);
    EXPECT_TRUE(listOf(*p).empty());
    generateQuiets(0, p->plyStack[0].moveListEnd, *p);
    const std::vector<std::string> t = texts(listOf(*p), *p);
    ASSERT_EQ(t.size(), 20u);
    EXPECT_EQ(t[0], "a2a3");
    EXPECT_EQ(t[7], "h2h3");
    EXPECT_EQ(t[8], "a2a4");
    EXPECT_EQ(t[15], "h2h4");
    EXPECT_EQ(t[16], "b1a3");
    EXPECT_EQ(t[19], "g1h3");
    generateLegal(0, p->plyStack[0].moveListBegin, *p);
    EXPECT_EQ(listOf(*p).size(), 20u);
    // Lists of successive plies lie back to back.
    EXPECT_EQ(p->plyStack[1].moveListBegin, p->plyStack[0].moveListEnd);
}

TEST(MoveGen, PromotionsComeQueenFirstAndCapturesScoreByVictim) {
    TestPosition p("1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1");
    generateCaptures(0, p->plyStack[0].moveListBegin, *p);
    std::vector<Move> caps = listOf(*p);
    ASSERT_EQ(caps.size(), 4u);
    EXPECT_EQ(caps[0].flag, FLAG_PROMO_Q);
    EXPECT_EQ(caps[1].flag, FLAG_PROMO_R);
    EXPECT_EQ(caps[2].flag, FLAG_PROMO_B);
    EXPECT_EQ(caps[3].flag, FLAG_PROMO_N);
    EXPECT_EQ(caps[0].score, 8 * BROOK - 14);
    generateQuiets(0, p->plyStack[0].moveListEnd, *p);
    std::vector<Move> all = listOf(*p);
    EXPECT_EQ(all[4].flag, FLAG_PROMO_Q);  // quiet a7a8 promotions lead the quiet list
    EXPECT_EQ(all[7].flag, FLAG_PROMO_N);

    generateQuiescenceCaptures(0, p->plyStack[0].moveListBegin, *p);
    std::vector<Move> q = listOf(*p);
    ASSERT_EQ(q.size(), 2u);  // capture and quiet promotion, queen only
    EXPECT_EQ(q[0].flag, FLAG_PROMO_Q);
    EXPECT_EQ(q[0].to, sq("b8"));
    EXPECT_EQ(q[1].to, sq("a8"));
    EXPECT_EQ(q[1].score, 1);
}

TEST(MoveGen, CaptureScoresPreferCheapAttackers) {
    TestPosition p("4k3/8/8/3q4/2P1N3/8/8/3RK3 w - - 0 1");
    generateCaptures(0, p->plyStack[0].moveListBegin, *p);
    std::vector<Move> caps = listOf(*p);
    ASSERT_EQ(caps.size(), 2u);
    EXPECT_EQ(caps[0].from, sq("c4"));  // pawn first
    EXPECT_EQ(caps[0].score, 8 * BQUEEN - 2);
    EXPECT_EQ(caps[1].from, sq("d1"));
    EXPECT_EQ(caps[1].score, 8 * BQUEEN - 8);
}

TEST(MoveGen, EvasionsOnlyKingMovesInDoubleCheck) {
    TestPosition dbl("4k1r1/8/8/8/8/5n2/3B4/6K1 w - - 0 1");
    dbl->plyStack[0].inCheck = isInCheck(*dbl);
    ASSERT_TRUE(dbl->plyStack[0].inCheck);
    generateCaptures(0, dbl->plyStack[0].moveListBegin, *dbl);
    EXPECT_EQ(dbl->plyStack[0].pickStage, 99);
    EXPECT_EQ(texts(listOf(*dbl), *dbl), (std::vector<std::string>{"g1f1", "g1h1", "g1f2"}));
    for (Move m : listOf(*dbl)) EXPECT_EQ(m.score, 202);
}

TEST(MoveGen, EvasionScores) {
    // The king takes the only checker; a knight takes it; a bishop blocks.
    TestPosition p("4k3/8/8/8/8/4N3/6r1/B5K1 w - - 0 1");
    p->plyStack[0].inCheck = isInCheck(*p);
    generateCaptures(0, p->plyStack[0].moveListBegin, *p);
    const std::vector<Move> e = listOf(*p);
    const std::vector<std::string> t = texts(e, *p);
    ASSERT_EQ(t, (std::vector<std::string>{"g1f1", "g1h1", "g1g2", "e3g2"}));
    EXPECT_EQ(e[2].score, (BROOK - 35) & 255);
    EXPECT_EQ(e[3].score, 236);
    TestPosition block("4k3/8/8/8/8/8/B7/r5K1 w - - 0 1");
    block->plyStack[0].inCheck = isInCheck(*block);
    generateCaptures(0, block->plyStack[0].moveListBegin, *block);
    const std::vector<Move> b = listOf(*block);
    ASSERT_EQ(texts(b, *block), (std::vector<std::string>{"g1f2", "g1g2", "g1h2", "a2b1"}));
    EXPECT_EQ(b[3].score, 205);
}

TEST(MoveGen, EnPassantAcrossAPinnedRankIsDropped) {
    TestPosition p("8/8/8/KPp4r/8/8/8/4k3 w - c6 0 1");
    const std::vector<std::string> moves = legalMoveTexts(*p);
    EXPECT_EQ(std::count(moves.begin(), moves.end(), "b5c6"), 0);
    TestPosition free("8/8/8/1Pp4r/K7/8/8/4k3 w - c6 0 1");
    const std::vector<std::string> freeMoves = legalMoveTexts(*free);
    EXPECT_EQ(std::count(freeMoves.begin(), freeMoves.end(), "b5c6"), 1);
}

TEST(MoveGen, Chess960CastlingWithTheKingOnItsDestination) {
    Chess960Mode mode(true);
    TestPosition p("4k3/8/8/8/8/8/8/6KR w H - 0 1");
    std::vector<std::string> moves = legalMoveTexts(*p);
    EXPECT_EQ(std::count(moves.begin(), moves.end(), "g1h1"), 1);
    // The same castling is refused when the destination is attacked.
    TestPosition attacked("4k1r1/8/8/8/8/8/8/6KR w H - 0 1");
    moves = legalMoveTexts(*attacked);
    EXPECT_EQ(std::count(moves.begin(), moves.end(), "g1h1"), 0);
    // A rook behind the castling rook sees through to the king's destination.
    TestPosition xray("4k3/8/8/8/8/8/8/rR3K2 w B - 0 1");
    moves = legalMoveTexts(*xray);
    EXPECT_EQ(std::count(moves.begin(), moves.end(), "f1b1"), 0);
}

TEST(MoveGen, RecapturesOnlyOnTheLastDestination) {
    TestPosition p("4k3/8/8/4n3/8/8/2P5/5B1K b - - 0 1");
    const Move move = parseLegalMove("e5d3", 0, *p);
    ASSERT_FALSE(isNoMove(move));
    p->plyStack[0].currentMove = move;
    doMove(0, move, *p);
    p->plyStack[1].inCheck = isInCheck(*p);
    generateRecaptures(1, p->plyStack[1].moveListBegin, *p);
    const std::vector<Move> r = listOf(*p, 1);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].from, sq("c2"));
    EXPECT_EQ(r[0].score, 8 * BKNIGHT - 2);
    EXPECT_EQ(r[1].from, sq("f1"));
    EXPECT_EQ(r[1].score, 8 * BKNIGHT - 6);
    undoMove(0, move, *p);
    EXPECT_EQ(checkConsistency(*p), "");
}

// Over random positions: every list agrees with the legal list, countLegal
// counts it, and isLegal separates the pseudo-legal list the same way.
TEST(MoveGen, GeneratorsAgreeOnRandomPositions) {
    std::mt19937_64 rng(2024);
    for (int game = 0; game < 300; game++) {
        const bool frc = game % 3 == 0;
        Chess960Mode mode(frc);
        TestPosition p(frc ? chess960StartFen(int(rng() % 960)) : std::string(START_FEN));
        for (int ply = 0; ply < 80; ply++) {
            Position& pos = *p;
            Move* begin = pos.plyStack[0].moveListBegin;
            generateLegal(0, begin, pos);
            std::set<u32> legalSet;
            for (Move m : listOf(pos)) ASSERT_TRUE(legalSet.insert(moveId(m)).second) << "duplicate";
            ASSERT_EQ(countLegal(0, begin, pos), legalSet.size()) << positionToFen(pos);

            generateCaptures(0, begin, pos);
            std::set<u32> pseudo;
            if (pos.plyStack[0].inCheck) {
                for (Move m : listOf(pos)) pseudo.insert(moveId(m));
                ASSERT_EQ(pseudo, legalSet) << positionToFen(pos);
            } else {
                generateQuiets(0, pos.plyStack[0].moveListEnd, pos);
                for (Move m : listOf(pos))
                    if (isLegal(0, m, pos)) pseudo.insert(moveId(m));
                ASSERT_EQ(pseudo, legalSet) << positionToFen(pos);
                // Quiescence captures are captures (or queen promotions) from the legal list.
                generateQuiescenceCaptures(0, begin, pos);
                for (Move m : listOf(pos))
                    if (isLegal(0, m, pos)) {
                        ASSERT_TRUE(legalSet.count(moveId(m))) << positionToFen(pos);
                        ASSERT_TRUE(pos.board[m.to] || m.flag == FLAG_EP || m.flag == FLAG_PROMO_Q);
                    }
            }
            if (legalSet.empty()) break;
            playRandomMoves(pos, 1, rng);
        }
    }
}
