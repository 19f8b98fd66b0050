// Attack and mask tables: magic lookups against a plain ray walk, and the
// hand-checked entries the generators and the evaluation depend on.
#include <gtest/gtest.h>

#include <random>

#include "board/attacks.h"
#include "test_util.h"

namespace {

int sq(const char* name) { return (name[0] - 'a') + 8 * (name[1] - '1'); }

u64 squares(std::initializer_list<const char*> names) {
    u64 b = 0;
    for (const char* n : names) b |= bit(sq(n));
    return b;
}

u64 walk(int s, u64 occ, bool rook) {
    static const int dirs[2][4][2] = {{{1, 1}, {1, -1}, {-1, 1}, {-1, -1}}, {{1, 0}, {-1, 0}, {0, 1}, {0, -1}}};
    u64 result = 0;
    for (const auto& d : dirs[rook]) {
        for (int f = fileOf(s) + d[0], r = rankOf(s) + d[1]; f >= 0 && f < 8 && r >= 0 && r < 8; f += d[0], r += d[1]) {
            result |= bit(8 * r + f);
            if (occ & bit(8 * r + f)) break;
        }
    }
    return result;
}

}  // namespace

TEST(Tables, MagicLookupsMatchRayWalksOnRandomOccupancies) {
    initEngineForTests();
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; i++) {
        const int s = int(rng() % 64);
        const u64 occ = rng() & rng();
        ASSERT_EQ(rookAttacks(s, occ), walk(s, occ, true)) << s;
        ASSERT_EQ(bishopAttacks(s, occ), walk(s, occ, false)) << s;
        ASSERT_EQ(queenAttacks(s, occ), walk(s, occ, true) | walk(s, occ, false));
    }
}

TEST(Tables, SlicesLieBackToBackWithTheExpectedSizes) {
    initEngineForTests();
    EXPECT_EQ(rookMagics[sq("b1")].attacks - rookMagics[sq("a1")].attacks, 4096);
    EXPECT_EQ(rookMagics[sq("f4")].attacks - rookMagics[sq("e4")].attacks, 1024);
    EXPECT_EQ(bishopMagics[sq("f4")].attacks - bishopMagics[sq("e4")].attacks, 512);
    EXPECT_EQ(rookMagics[63].attacks + 4096 - rookMagics[0].attacks, ROOK_TABLE_SIZE);
    EXPECT_EQ(bishopMagics[63].attacks + 64 - bishopMagics[0].attacks, BISHOP_TABLE_SIZE);
    for (int s = 0; s < 64; s++) {
        EXPECT_EQ(rookMagics[s].shift, u64(64 - popCount(rookMagics[s].mask)));
        EXPECT_EQ(popCount(rookMagics[s].magic), 9);
        EXPECT_EQ(popCount(bishopMagics[s].magic), 9);
    }
}

TEST(Tables, LeaperPawnAndEnPassantEntries) {
    initEngineForTests();
    EXPECT_EQ(knightAttacks[sq("a1")], squares({"b3", "c2"}));
    EXPECT_EQ(kingAttacks[sq("h8")], squares({"g8", "g7", "h7"}));
    EXPECT_EQ(popCount(knightAttacks[sq("e4")]), 8);
    EXPECT_EQ(pawnAttackers[WHITE][sq("e4")], squares({"d3", "f3"}));
    EXPECT_EQ(pawnAttackers[BLACK][sq("e4")], squares({"d5", "f5"}));
    EXPECT_EQ(pawnAttackers[WHITE][sq("a3")], squares({"b2"}));
    EXPECT_EQ(pawnAttackers[WHITE][sq("h2")], 0u);
    EXPECT_EQ(epAdjacent[sq("a4")], squares({"b4"}));
    EXPECT_EQ(epAdjacent[sq("e5")], squares({"d5", "f5"}));
    EXPECT_EQ(epAdjacent[sq("e3")], 0u);
}

TEST(Tables, BetweenLineDistance) {
    initEngineForTests();
    EXPECT_EQ(between[sq("a1")][sq("h8")], squares({"b2", "c3", "d4", "e5", "f6", "g7"}));
    EXPECT_EQ(between[sq("a1")][sq("b3")], 0u);
    EXPECT_EQ(between[sq("e4")][sq("e4")], 0u);
    EXPECT_EQ(between[sq("e1")][sq("e8")], squares({"e2", "e3", "e4", "e5", "e6", "e7"}));
    EXPECT_EQ(line[sq("c1")][sq("e3")], squares({"c1", "d2", "e3", "f4", "g5", "h6"}));
    EXPECT_EQ(line[sq("a1")][sq("b3")], 0u);
    EXPECT_EQ(distance[sq("a1")][sq("h8")], 7);
    EXPECT_EQ(distance[sq("e4")][sq("f6")], 2);
}

TEST(Tables, EvaluationMasks) {
    initEngineForTests();
    EXPECT_EQ(kingZone[WHITE][sq("g1")], squares({"f1", "g1", "h1", "f2", "g2", "h2", "f3", "g3", "h3", "f4", "g4", "h4"}));
    EXPECT_EQ(kingZone[BLACK][sq("g8")], squares({"f5", "g5", "h5", "f6", "g6", "h6", "f7", "g7", "h7", "f8", "g8", "h8"}));
    EXPECT_EQ(kingZone[WHITE][sq("a1")], kingZone[WHITE][sq("b2")]);
    EXPECT_EQ(frontSpan[WHITE][sq("e6")], squares({"d7", "e7", "f7", "d8", "e8", "f8"}));
    EXPECT_EQ(frontSpan[BLACK][sq("a3")], squares({"a2", "b2", "a1", "b1"}));
    EXPECT_EQ(frontSpan[WHITE][sq("e1")], 0u);
    EXPECT_EQ(adjacentFiles[sq("a5")], FILE_A << 1);
    EXPECT_EQ(adjacentFiles[sq("e5")], (FILE_A << 3) | (FILE_A << 5));
    EXPECT_EQ(ranksAhead[WHITE][sq("c7")], RANK_7 | RANK_8);
    EXPECT_EQ(ranksAhead[BLACK][sq("c2")], RANK_1 | RANK_2);
}

TEST(Tables, LateMoveReductions) {
    initEngineForTests();
    EXPECT_EQ(lmrTable[10][10], 2);
    EXPECT_EQ(lmrTable[20][20], 6);
    EXPECT_EQ(lmrTable[64][64], 20);
    EXPECT_EQ(lmrTable[127][255], 59);
    EXPECT_EQ(lmrTable[1][255], 5);
    EXPECT_EQ(lmrTable[2][4], 0);
    for (int d = 0; d < 128; d++) {
        EXPECT_EQ(lmrTable[d][2], 0);
        EXPECT_EQ(lmrTable[d][3], 1);
    }
}
