// Make/unmake: fields restored, keys, sums and the fifty-move counter kept
// in step (castling rights: the perft suites).
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "test_util.h"

namespace {

// The fields make/unmake must restore (not the scratch of deeper plies).
void expectSameState(const Position& a, const Position& b, const std::string& where) {
    EXPECT_EQ(std::memcmp(a.board, b.board, sizeof a.board), 0) << where;
    EXPECT_EQ(std::memcmp(a.pieces, b.pieces, sizeof a.pieces), 0) << where;
    auto scalars = [](const Position& p) {
        return std::tuple(p.key, p.pawnKingKey, p.material[0], p.material[1], p.psq[0], p.psq[1], p.phase,
                          p.sideToMove, p.gamePly, p.rule50);
    };
    EXPECT_EQ(scalars(a), scalars(b)) << where;
    EXPECT_EQ(std::memcmp(a.keyHistory, b.keyHistory, sizeof(u64) * a.gamePly), 0) << where;
}

}  // namespace

// Random games of both kinds: after every legal move the new state is
// consistent with a recomputation, the counter restarts exactly at captures
// and pawn moves, a move said to give no check gives none, and unmaking
// restores the old state.
TEST(MakeMove, EveryMoveOfRandomGamesRoundTrips) {
    std::mt19937_64 rng(99);
    static const char* seeds[] = {START_FEN, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                                  "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
                                  "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1"};
    int checked = 0, surelyQuiet = 0;
    for (int game = 0; game < 120 / SANITIZER_SCALE; game++) {
        const bool frc = game % 2 == 1;
        Chess960Mode mode(frc);
        TestPosition p(frc ? chess960StartFen(int(rng() % 960)) : std::string(seeds[game % 4]));
        Position& pos = *p;
        for (int ply = 0; ply < 60; ply++) {
            Move* begin = pos.plyStack[0].moveListBegin;
            generateLegal(0, begin, pos);
            const std::vector<Move> moves(begin, pos.plyStack[0].moveListEnd);
            if (moves.empty()) break;
            auto before = std::make_unique<Position>(pos);
            for (Move m : moves) {
                const bool mayCheck = mayGiveCheck(m, pos.board[m.from], pos);
                doMove(0, m, pos);
                surelyQuiet += !mayCheck;
                const std::string where = positionToFen(*before) + " " + moveToText(m, before->sideToMove, *before);
                ASSERT_EQ(pos.key, pos.keyHistory[pos.gamePly - 1]) << where;
                ASSERT_TRUE(mayCheck || !isInCheck(pos)) << where << ": gives check";
                const bool resets =
                    pieceType(before->board[m.from]) == PAWN_T || (!isCastling(m.flag) && before->board[m.to]);
                ASSERT_EQ(pos.rule50, resets ? 0 : before->rule50 + 1) << where;
                // The child's root state comes from ply 1; check it as a root.
                auto child = std::make_unique<Position>(pos);
                child->plyStack[0].castlingRights = pos.plyStack[1].castlingRights;
                child->plyStack[0].epSquare = pos.plyStack[1].epSquare;
                ASSERT_EQ(checkConsistency(*child), "") << where;
                undoMove(0, m, pos);
                expectSameState(pos, *before, where);
                checked++;
            }
            playRandomMoves(pos, 1, rng);
        }
    }
    EXPECT_GT(checked, 100000 / SANITIZER_SCALE);
    EXPECT_GT(surelyQuiet, checked / 2);  // the check test rules most moves out
}
