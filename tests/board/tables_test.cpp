// Mask tables the evaluation relies on, checked by hand (the attack tables:
// the perft suites and the Stockfish reference).
#include <gtest/gtest.h>

#include <iterator>

#include "board/attacks.h"
#include "test_util.h"

TEST(Tables, HandCheckedEntries) {
    initEngineForTests();
    auto squares = [](std::initializer_list<const char*> names) {
        u64 b = 0;
        for (const char* n : names) b |= bit(sq(n));
        return b;
    };
    const struct {
        u64 table, expected;
    } cases[] = {
        {kingZone[WHITE][sq("g1")], squares({"f1", "g1", "h1", "f2", "g2", "h2", "f3", "g3", "h3", "f4", "g4", "h4"})},
        {kingZone[BLACK][sq("g8")], squares({"f5", "g5", "h5", "f6", "g6", "h6", "f7", "g7", "h7", "f8", "g8", "h8"})},
        {frontSpan[WHITE][sq("e6")], squares({"d7", "e7", "f7", "d8", "e8", "f8"})},
        {frontSpan[BLACK][sq("a3")], squares({"a2", "b2", "a1", "b1"})},
        {adjacentFiles[sq("e5")], squares({"d1", "d2", "d3", "d4", "d5", "d6", "d7", "d8"}) | (FILE_A << 5)},
        {ranksAhead[WHITE][sq("c7")], RANK_7 | RANK_8},
        {ranksAhead[BLACK][sq("c2")], RANK_1 | RANK_2},
        {u64(distance[sq("a1")][sq("h8")]), 7},
        {u64(distance[sq("e4")][sq("f6")]), 2},
    };
    for (size_t i = 0; i < std::size(cases); i++) EXPECT_EQ(cases[i].table, cases[i].expected) << "case " << i;
}
