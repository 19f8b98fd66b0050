// The order of the generated lists where the move picker relies on it (the
// legal lists themselves: the Stockfish reference and the perft suites).
#include <gtest/gtest.h>

#include <algorithm>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "test_util.h"

// Captures by victim, cheap attackers first; promotions queen first, quiet
// ones ahead of the quiet moves; single steps, double steps, then pieces;
// evasions king first; recaptures on the last destination only. For ALL the
// listed moves start the list.
TEST(MoveGen, ListOrder) {
    enum Kind { CAPTURES, ALL, QUIESCENCE, RECAPTURES };
    const struct {
        const char* fen;
        Kind kind;
        std::vector<std::string> moves;
    } cases[] = {
        {START_FEN, CAPTURES, {}},
        {"1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1", CAPTURES, {"a7b8q", "a7b8r", "a7b8b", "a7b8n"}},
        {"1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1", QUIESCENCE, {"a7b8q", "a7a8q"}},
        {"4k3/8/8/3q4/2P1N3/8/8/3RK3 w - - 0 1", CAPTURES, {"c4d5", "d1d5"}},
        {"4k1r1/8/8/8/8/5n2/3B4/6K1 w - - 0 1", CAPTURES, {"g1f1", "g1h1", "g1f2"}},  // double check
        {"4k3/8/8/8/8/4N3/6r1/B5K1 w - - 0 1", CAPTURES, {"g1f1", "g1h1", "g1g2", "e3g2"}},
        {"4k3/8/8/8/8/8/B7/r5K1 w - - 0 1", CAPTURES, {"g1f2", "g1g2", "g1h2", "a2b1"}},
        {"4k3/8/8/4n3/8/8/2P5/5B1K b - - 0 1", RECAPTURES, {"c2d3", "f1d3"}},  // after e5d3
        {"1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1", ALL,
         {"a7b8q", "a7b8r", "a7b8b", "a7b8n", "a7a8q", "a7a8r", "a7a8b", "a7a8n"}},
        {START_FEN, ALL, {"a2a3", "b2b3", "c2c3", "d2d3", "e2e3", "f2f3", "g2g3", "h2h3", "a2a4", "b2b4", "c2c4",
                          "d2d4", "e2e4", "f2f4", "g2g4", "h2h4", "b1a3", "b1c3", "g1f3", "g1h3"}},
    };
    for (const auto& c : cases) {
        TestPosition p(c.fen);
        Position& pos = *p;
        int ply = 0;
        if (c.kind == RECAPTURES) {
            const Move move = parseLegalMove("e5d3", 0, pos);
            pos.plyStack[0].currentMove = move;
            doMove(0, move, pos);
            ply = 1;
        }
        pos.plyStack[ply].inCheck = isInCheck(pos);
        Move* begin = pos.plyStack[ply].moveListBegin;
        if (c.kind == QUIESCENCE) generateQuiescenceCaptures(ply, begin, pos);
        else if (c.kind == RECAPTURES) generateRecaptures(ply, begin, pos);
        else generateCaptures(ply, begin, pos);
        if (c.kind == ALL) generateQuiets(ply, pos.plyStack[ply].moveListEnd, pos);
        std::vector<std::string> list;
        for (Move* m = begin; m < pos.plyStack[ply].moveListEnd; m++)
            list.push_back(moveToText(*m, pos.sideToMove, pos));
        if (c.kind == ALL) list.resize(std::min(list.size(), c.moves.size()));
        EXPECT_EQ(list, c.moves) << c.fen;
    }
    // Lists of successive plies lie back to back.
    TestPosition start(START_FEN);
    generateLegal(0, start->plyStack[0].moveListBegin, *start);
    EXPECT_EQ(start->plyStack[1].moveListBegin, start->plyStack[0].moveListEnd);
}
