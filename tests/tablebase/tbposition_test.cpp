// The tablebase module's own position: conversion from the engine's
// position, move generation against the engine's generator, making moves,
// mate, stalemate and the validity test.
#include <algorithm>
#include <functional>
#include <iterator>

#include "board/makemove.h"
#include "board/movegen.h"
#include "tb_test_util.h"

namespace {

class TablebasePosition : public ::testing::Test {
protected:
    void SetUp() override {
        initEngineForTests();
        tbInit("");  // builds the module's tables
    }
};

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

std::vector<std::string> legalTbCaptures(const TbPosition& p) {
    TbMove moves[TB_MAX_MOVES];
    const TbMove* end = tbGenerateCaptures(p, moves);
    TbPosition next;
    std::vector<std::string> out;
    for (const TbMove* m = moves; m < end; m++) {
        EXPECT_TRUE(tbIsCapture(p, *m)) << tbToFen(p) << " " << tbMoveText(*m);
        if (tbDoMove(p, *m, next)) out.push_back(tbMoveText(*m));
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST_F(TablebasePosition, ConvertsEnginePositions) {
    TestPosition e("4k3/8/8/3pP3/8/8/8/4K3 w - d6 7 40");
    const TbPosition p = tbFromPosition(*e, 0, e->rule50);
    EXPECT_EQ(p.white, bit(4) | bit(36));
    EXPECT_EQ(p.black, bit(60) | bit(35));
    EXPECT_EQ(p.kings, bit(4) | bit(60));
    EXPECT_EQ(p.pawns, bit(35) | bit(36));
    EXPECT_EQ(p.queens | p.rooks | p.bishops | p.knights, 0u);
    EXPECT_TRUE(p.whiteToMove);
    EXPECT_EQ(p.epSquare, 43);  // d6, behind the pawn on d5
    EXPECT_EQ(p.rule50, 7);
    EXPECT_EQ(tbFromPosition(*e, 0, 0).rule50, 0);

    TestPosition black("4k3/8/8/8/3pP3/8/8/4K3 b - e3 0 40");
    EXPECT_EQ(tbFromPosition(*black, 0, 0).epSquare, 20);  // e3
    EXPECT_FALSE(tbFromPosition(*black, 0, 0).whiteToMove);
    // No pawn can take: no en-passant square.
    TestPosition idle("4k3/8/8/3p4/8/8/8/4K3 w - d6 0 40");
    EXPECT_EQ(tbFromPosition(*idle, 0, 0).epSquare, 0);
    // The square comes from the ply asked for.
    TestPosition later("4k3/2p5/8/3P4/8/8/8/4K3 b - - 0 40");
    Move* buffer = later->plyStack[0].moveListBegin;
    later->plyStack[1].moveListBegin = buffer;
    doMove(0, makeMove(50, 34, FLAG_DOUBLE), *later);
    EXPECT_EQ(tbFromPosition(*later, 1, 0).epSquare, 42);  // c6
    EXPECT_EQ(tbFromPosition(*later, 0, 0).epSquare, 0);
}

TEST_F(TablebasePosition, MovesMatchEngineGenerator) {
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
            for (int ply = 0; ply < 24; ply++) {
                const TbPosition p = tbFromPosition(*e, 0, e->rule50);
                if (!e->plyStack[0].castlingRights) {
                    EXPECT_EQ(legalTbMoves(p), legalMoveTexts(*e)) << positionToFen(*e);
                    // The captures are exactly the legal moves that take something.
                    std::vector<std::string> takes;
                    TbMove all[TB_MAX_MOVES];
                    TbPosition next;
                    for (TbMove* m = all, *end = tbGenerateMoves(p, all); m < end; m++)
                        if (tbIsCapture(p, *m) && tbDoMove(p, *m, next)) takes.push_back(tbMoveText(*m));
                    std::sort(takes.begin(), takes.end());
                    EXPECT_EQ(legalTbCaptures(p), takes) << positionToFen(*e);
                    compared++;
                    withEp += p.epSquare != 0;
                }
                playRandomMoves(*e, 1, rng);
                if (popCount(e->occupancy()) < 3) break;
            }
        }
    EXPECT_GT(compared, 2000);
    EXPECT_GT(withEp, 10);
}

// Mate and stalemate; the validity test refuses broken records (the moves
// themselves are checked against the engine's generator above, and the
// fifty-move bookkeeping by the DTZ vectors).
TEST_F(TablebasePosition, MateStalemateAndValidity) {
    EXPECT_TRUE(tbIsMate(tbPositionFromFen("R6k/8/6K1/8/8/8/8/8 b - - 0 1")));
    const TbPosition stalemate = tbPositionFromFen("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");
    EXPECT_FALSE(tbInCheck(stalemate) || tbHasLegalMove(stalemate) || tbIsMate(stalemate));
    const TbPosition check = tbPositionFromFen("R6k/8/5K2/8/8/8/8/8 b - - 0 1");
    EXPECT_TRUE(tbInCheck(check) && !tbIsMate(check));
    const TbPosition p = tbPositionFromFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
    ASSERT_TRUE(tbIsValid(p));
    const std::function<void(TbPosition&)> breaks[] = {
        [](TbPosition& q) { q.kings |= bit(0), q.white |= bit(0); },                          // two white kings
        [](TbPosition& q) { q.kings &= ~bit(60), q.black &= ~bit(60); },                      // no black king
        [](TbPosition& q) { q.black |= bit(12); },                                             // e2 of both colours
        [](TbPosition& q) { q.rooks |= bit(12); },                                             // e2 of two types
        [](TbPosition& q) { q.rooks |= bit(20); },                                             // no colour
        [](TbPosition& q) { q.pawns ^= bit(12) | bit(56), q.white ^= bit(12) | bit(56); },    // pawn on a8
        [](TbPosition& q) { q.epSquare = 43; },                                                // no pawn for e.p.
        [](TbPosition& q) { q.rooks |= bit(52), q.white |= bit(52); },                        // side not to move in check
    };
    for (size_t i = 0; i < std::size(breaks); i++) {
        TbPosition q = p;
        breaks[i](q);
        EXPECT_FALSE(tbIsValid(q)) << "case " << i;
    }
    EXPECT_TRUE(tbIsValid(tbPositionFromFen("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1")));
    EXPECT_TRUE(tbIsValid(tbPositionFromFen("4k3/8/8/8/8/8/4R3/4K3 b - - 0 1")));  // a check, Black to move
}
