// Generator contracts: order where the move picker relies on it, evasions
// and legality corners (the agreement of the generators, isLegal and the
// legal list over random positions: the move picker test; the legal lists
// and countLegal: the Stockfish reference and the perft suites).
#include <gtest/gtest.h>

#include <algorithm>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "test_util.h"

namespace {

std::vector<Move> listOf(Position& pos, int ply = 0) {
    return {pos.plyStack[ply].moveListBegin, pos.plyStack[ply].moveListEnd};
}

std::vector<std::string> texts(const std::vector<Move>& moves, const Position& pos) {
    std::vector<std::string> out;
    for (Move m : moves) out.push_back(moveToText(m, pos.sideToMove, pos));
    return out;
}

}  // namespace

// The order the move picker relies on: captures by victim, cheap attackers
// first; promotions queen first, quiet promotions ahead of the quiet moves;
// single steps, double steps, then pieces; evasions king first; recaptures
// on the last destination only.
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
        EXPECT_EQ(texts(listOf(pos, ply), pos), c.moves) << c.fen;
    }
    TestPosition p("1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1");
    generateCaptures(0, p->plyStack[0].moveListBegin, *p);
    generateQuiets(0, p->plyStack[0].moveListEnd, *p);
    const std::vector<std::string> all = texts(listOf(*p), *p);
    ASSERT_GE(all.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(all.begin() + 4, all.begin() + 8),
              (std::vector<std::string>{"a7a8q", "a7a8r", "a7a8b", "a7a8n"}));
    TestPosition start(START_FEN);
    generateCaptures(0, start->plyStack[0].moveListBegin, *start);  // none; sets up the ply
    generateQuiets(0, start->plyStack[0].moveListEnd, *start);
    const std::vector<std::string> t = texts(listOf(*start), *start);
    ASSERT_EQ(t.size(), 20u);
    EXPECT_EQ((std::vector<std::string>{t[0], t[7], t[8], t[15], t[16], t[19]}),
              (std::vector<std::string>{"a2a3", "h2h3", "a2a4", "h2h4", "b1a3", "g1h3"}));
    // Lists of successive plies lie back to back.
    generateLegal(0, start->plyStack[0].moveListBegin, *start);
    EXPECT_EQ(start->plyStack[1].moveListBegin, start->plyStack[0].moveListEnd);
}

// Legality corners: en passant across a pin on the rank, Chess960 castling
// with the king already on its destination, attacked or seen through.
TEST(MoveGen, LegalityCorners) {
    const struct {
        const char* fen;
        bool chess960;
        const char* move;
        bool legal;
    } cases[] = {
        {"8/8/8/KPp4r/8/8/8/4k3 w - c6 0 1", false, "b5c6", false},
        {"8/8/8/1Pp4r/K7/8/8/4k3 w - c6 0 1", false, "b5c6", true},
        {"4k3/8/8/8/8/8/8/6KR w H - 0 1", true, "g1h1", true},
        {"4k1r1/8/8/8/8/8/8/6KR w H - 0 1", true, "g1h1", false},
        {"4k3/8/8/8/8/8/8/rR3K2 w B - 0 1", true, "f1b1", false},
    };
    for (const auto& c : cases) {
        Chess960Mode mode(c.chess960);
        TestPosition p(c.fen);
        const std::vector<std::string> moves = legalMoveTexts(*p);
        EXPECT_EQ(std::count(moves.begin(), moves.end(), c.move), c.legal ? 1 : 0) << c.fen;
    }
}
