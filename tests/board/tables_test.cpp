// Attack and mask tables: magic lookups against a plain ray walk, and
// entries checked by hand that the generators and the evaluation rely on.
#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "board/attacks.h"
#include "test_util.h"

namespace {

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

// Entries checked by hand on the board: the leapers, pawn attackers, the
// en-passant neighbours, the lines between squares and the evaluation masks.
TEST(Tables, HandCheckedEntries) {
    initEngineForTests();
    const struct {
        u64 table, expected;
    } cases[] = {
        {knightAttacks[sq("a1")], squares({"b3", "c2"})},
        {kingAttacks[sq("h8")], squares({"g8", "g7", "h7"})},
        {pawnAttackers[WHITE][sq("e4")], squares({"d3", "f3"})},
        {pawnAttackers[BLACK][sq("e4")], squares({"d5", "f5"})},
        {pawnAttackers[WHITE][sq("a3")], squares({"b2"})},
        {pawnAttackers[WHITE][sq("h2")], 0},
        {epAdjacent[sq("a4")], squares({"b4"})},
        {epAdjacent[sq("e5")], squares({"d5", "f5"})},
        {epAdjacent[sq("e3")], 0},
        {between[sq("a1")][sq("h8")], squares({"b2", "c3", "d4", "e5", "f6", "g7"})},
        {between[sq("a1")][sq("b3")], 0},
        {between[sq("e1")][sq("e8")], squares({"e2", "e3", "e4", "e5", "e6", "e7"})},
        {line[sq("c1")][sq("e3")], squares({"c1", "d2", "e3", "f4", "g5", "h6"})},
        {line[sq("a1")][sq("b3")], 0},
        {kingZone[WHITE][sq("g1")], squares({"f1", "g1", "h1", "f2", "g2", "h2", "f3", "g3", "h3", "f4", "g4", "h4"})},
        {kingZone[BLACK][sq("g8")], squares({"f5", "g5", "h5", "f6", "g6", "h6", "f7", "g7", "h7", "f8", "g8", "h8"})},
        {frontSpan[WHITE][sq("e6")], squares({"d7", "e7", "f7", "d8", "e8", "f8"})},
        {frontSpan[BLACK][sq("a3")], squares({"a2", "b2", "a1", "b1"})},
        {adjacentFiles[sq("e5")], squares({"d1", "d2", "d3", "d4", "d5", "d6", "d7", "d8"}) | (FILE_A << 5)},
        {ranksAhead[WHITE][sq("c7")], RANK_7 | RANK_8},
        {ranksAhead[BLACK][sq("c2")], RANK_1 | RANK_2},
    };
    for (size_t i = 0; i < std::size(cases); i++) EXPECT_EQ(cases[i].table, cases[i].expected) << "case " << i;
    EXPECT_EQ(distance[sq("a1")][sq("h8")], 7);
    EXPECT_EQ(distance[sq("e4")][sq("f6")], 2);
}
