// The position record. Every search thread owns one; the front end keeps one
// more (`rootPosition`). It is one flat block: board, bitboards, keys,
// incremental sums, the per-ply state stack used by make/unmake and by the
// search, and the key history used for repetition detection. A thread's copy
// is made by one block copy of the root record.
#pragma once

#include "board/attacks.h"
#include "board/types.h"

struct PawnCacheEntry;
struct EvalCacheEntry;

// Continuation histories: for the (piece - 2, to) of an earlier move, a
// table of scores by the (piece - 2, to) of the move being considered.
using PieceToHistory = i16[12][64];
using ContinuationHistory = PieceToHistory[12][64];

// Piece changes of one move, consumed by the network accumulator update.
// A `to` of OFF_BOARD means the piece was removed, a `from` of OFF_BOARD that
// it was added (the new piece of a promotion).
struct DirtyPieces {
    u8 count;
    u8 piece[3];
    u8 from[3];
    u8 to[3];
};

// Network accumulator of one ply: for each perspective (0 White, 1 Black)
// the transformer biases plus the weight rows of every active feature.
constexpr int NET_HALF = 256;
struct Accumulator {
    alignas(64) i16 values[2][NET_HALF];
    u8 computed;
};

// State of the position at one ply. When the move at ply p is made, what is
// needed to undo it is saved in plyStack[p + 1].
struct PlyState {
    Score savedMaterial[2];
    Score savedPsq[2];
    u64 savedKey;
    u64 savedPawnKingKey;
    Move* moveListEnd;        // one past the last move generated at this ply
    Move* moveCursor;         // move-picker state: next entry to look at
    Move* capturesEnd;        // end of the captures (killers are stored behind them)
    Move* quietsStart;        // where the quiet moves are generated
    Move* scan;               // rescan position of the losing-capture stage
    Move* moveListBegin;      // the next ply's list starts where this one ends
    Move currentMove;         // the move made at this ply
    Move ttMove;
    Move killer1;
    Move killer2;
    Move counterMove;
    Move bestMove;            // principal variation is read from these
    u64 notPinned;            // complement of the side to move's pinned pieces
    i16 staticEval;
    u8 singularSubtree;
    u8 reserved;
    u32 savedRule50;
    u16 savedPhase;
    u8 captured;              // piece code taken by the move leading here
    i8 epSquare;              // the pawn that just double-stepped, 0 = none
    u8 castlingRights;
    u8 pickStage;             // 99 after the capture generator produced evasions
    u8 inCheck;
};

struct Position {
    u8 board[64];
    u64 pieces[14];           // [0] White, [1] Black, [2..13] by piece code
    u64 key;
    u64 pawnKingKey;
    Score material[2];        // kings excluded
    Score psq[2];             // kings included
    i16 phase;
    u8 sideToMove;
    PawnCacheEntry* pawnCache;
    EvalCacheEntry* evalCache;
    ContinuationHistory* followUpHistory;     // the thread's tables (see search/movepick.h)
    ContinuationHistory* counterMoveHistory;
    u64 searchNodes;
    u64 quiescenceNodes;
    u64 tbHits;
    i16 gamePly;              // entries in keyHistory
    i16 rule50;
    i32 nodeCountdown;        // nodes until the next look at the clock
    i32 threadIndex;
    u8 selDepth;
    u8 pvLast;                // last ply of the extracted principal variation
    u8 rootDepthComplete;
    i16 rootScore;
    i16 partialScore;  // the score that made this iteration's root move best so far
    i16 rootDepth;
    i16 bestMoveChanges;
    i16 history[12][64];      // quiet-move history by (piece - 2, to)
    u32 counterMoves[12][64]; // refutation of the previous move by (piece - 2, to)
    i8 castleRookSquare[4];   // [side] king's side, [2 + side] queen's side
    DirtyPieces dirtyPieces[MAX_PLY + 1];
    Accumulator accumulators[MAX_PLY + 1];
    PlyState plyStack[MAX_PLY + 1];
    u64 keyHistory[KEY_HISTORY_SIZE];

    u64 occupancy() const { return pieces[0] | pieces[1]; }
    int kingSquare(int colour) const { return lsb(pieces[WKING + colour]); }
};

// Zobrist keys, filled by initZobrist() (called when the hash table is first
// created) before any position is set up.
extern u64 zobristPiece[14][64];
extern u64 zobristCastling[16];
extern u64 zobristEnPassant[8];
extern u64 zobristSide;

void initZobrist();
u64 computeKey(const Position& pos);
u64 computePawnKingKey(const Position& pos);
void recomputeSums(Position& pos);

// Whether square sq is attacked by colour `by`, given the fourteen bitboards
// and an occupancy (which may differ from the board's, to look through a piece).
inline bool attackedBy(const u64* p, int sq, int by, u64 occ) {
    return (bishopAttacks(sq, occ) & (p[WBISHOP + by] | p[WQUEEN + by])) ||
           (rookAttacks(sq, occ) & (p[WROOK + by] | p[WQUEEN + by])) || (pawnAttackers[by][sq] & p[WPAWN + by]) ||
           (knightAttacks[sq] & p[WKNIGHT + by]) || (kingAttacks[sq] & p[WKING + by]);
}
inline bool isSquareAttacked(const Position& pos, int sq, int by, u64 occ) {
    return attackedBy(pos.pieces, sq, by, occ);
}
// The side to move's king is attacked.
inline bool isInCheck(const Position& pos) {
    const int us = pos.sideToMove;
    return isSquareAttacked(pos, pos.kingSquare(us), us ^ 1, pos.occupancy());
}

// Whether a move may give check: false only when it surely does not, so that a
// search can prune it without making it. Every special move
// (castling, en passant, promotion, double step) is left to the real test.
inline bool mayGiveCheck(Move move, int piece, const Position& pos) {
    if (move.flag != FLAG_NORMAL) return true;
    const int us = pos.sideToMove;
    const int king = pos.kingSquare(us ^ 1);
    const u64 occ = (pos.occupancy() ^ bit(move.from)) | bit(move.to);
    const u64 queens = pos.pieces[WQUEEN + us];
    const u64 sliders = (((pos.pieces[WROOK + us] | queens) & rookAttacks(king, occ)) |
                         ((pos.pieces[WBISHOP + us] | queens) & bishopAttacks(king, occ))) &
                        ~bit(move.from);
    if (sliders) return true;  // a slider of ours the move uncovers
    switch (pieceType(piece)) {
    case PAWN_T:
        return pawnAttackers[us][king] & bit(move.to);
    case KNIGHT_T:
        return knightAttacks[move.to] & bit(king);
    case BISHOP_T:
        return bishopAttacks(move.to, occ) & bit(king);
    case ROOK_T:
        return rookAttacks(move.to, occ) & bit(king);
    case QUEEN_T:
        return queenAttacks(move.to, occ) & bit(king);
    default:
        return false;
    }
}

// The process-wide root position and its move buffer.
extern Position rootPosition;
extern Move rootMoveBuffer[MOVE_BUFFER_SIZE];
