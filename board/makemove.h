// Making and unmaking moves. Inline so that perft, the searches and the
// position command all run the same code. Every derived field is updated
// incrementally; unmaking restores keys and sums by copying the saved words.
#pragma once

#include <cstring>

#include "board/position.h"
#include "eval/weights.h"

// Castling rights left after `move` (rights are lost when the king or a
// castling rook moves, or when a castling rook is captured on its square).
inline u8 updateCastlingRights(u8 old, Move move, const Position& pos) {
    u8 rights = old;
    if (!old) return rights;
    const int us = pos.sideToMove, them = us ^ 1;
    const int piece = pos.board[move.from];
    const i8* rook = pos.castleRookSquare;
    if (old & (5 << us)) {
        if (piece == WKING + us)
            rights &= u8(~(5 << us));
        else if (piece == WROOK + us) {
            if (move.from == rook[2 + us])
                rights &= u8(~(CASTLE_WQ << us));
            else if (move.from == rook[us])
                rights &= u8(~(CASTLE_WK << us));
        }
    }
    if (old & (5 << them)) {
        if (move.to == rook[2 + them])
            rights &= u8(~(CASTLE_WQ << them));
        else if (move.to == rook[them])
            rights &= u8(~(CASTLE_WK << them));
    }
    return rights;
}

namespace detail {
inline int rel(int sq, int colour) { return colour == WHITE ? sq ^ 56 : sq; }
inline Score pst(int type, int sq, int colour) { return pieceSquareScore[type][rel(sq, colour)]; }
inline void flipPiece(Position& pos, int code, u64 squares) {
    pos.pieces[code] ^= squares;
    pos.pieces[code & 1] ^= squares;
}
inline void addDirty(DirtyPieces& d, int piece, int from, int to) {
    d.piece[d.count] = u8(piece);
    d.from[d.count] = u8(from);
    d.to[d.count] = u8(to);
    d.count++;
}
}  // namespace detail

inline void doMove(int ply, Move move, Position& pos) {
    using namespace detail;
    PlyState& cur = pos.plyStack[ply];
    PlyState& next = pos.plyStack[ply + 1];
    DirtyPieces& dirty = pos.dirtyPieces[ply + 1];
    dirty.count = 0;
    pos.accumulators[ply + 1].computed = 0;

    const int us = pos.sideToMove, them = us ^ 1;
    const int from = move.from, to = move.to, flag = move.flag;
    const int piece = pos.board[from];
    const int captured = flag < FLAG_CASTLE_K ? pos.board[to] : 0;
    next.captured = u8(captured);
    next.savedMaterial[0] = pos.material[0];
    next.savedMaterial[1] = pos.material[1];
    next.savedPsq[0] = pos.psq[0];
    next.savedPsq[1] = pos.psq[1];
    next.savedPhase = u16(pos.phase);

    if (captured) {
        const int t = pieceType(captured);
        pos.material[them] -= pieceValue[t];
        pos.psq[them] -= pst(t, to, them);
        pos.phase = i16(pos.phase - phaseWeight[t]);
    }

    const u8 oldRights = cur.castlingRights;
    const u8 rights = updateCastlingRights(oldRights, move, pos);
    next.castlingRights = rights;
    next.epSquare = 0;

    next.savedKey = pos.key;
    next.savedPawnKingKey = pos.pawnKingKey;
    u64 key = pos.key ^ zobristSide;
    if (rights != oldRights) key ^= zobristCastling[rights] ^ zobristCastling[oldRights];
    if (cur.epSquare) key ^= zobristEnPassant[cur.epSquare & 7];

    switch (flag) {
    case FLAG_NORMAL:
    case FLAG_DOUBLE: {
        const int t = pieceType(piece);
        pos.psq[us] += pst(t, to, us) - pst(t, from, us);
        flipPiece(pos, piece, bit(from) | bit(to));
        pos.board[from] = 0;
        pos.board[to] = u8(piece);
        const u64 change = zobristPiece[piece][from] ^ zobristPiece[piece][to];
        key ^= change;
        if (t == PAWN_T || t == KING_T) pos.pawnKingKey ^= change;
        addDirty(dirty, piece, from, to);
        if (flag == FLAG_DOUBLE) {
            next.epSquare = i8(to);
            key ^= zobristEnPassant[to & 7];
        }
        break;
    }
    case FLAG_EP: {
        const int landing = us == WHITE ? to + 8 : to - 8;
        pos.psq[us] += pst(PAWN_T, landing, us) - pst(PAWN_T, from, us);
        pos.board[to] = 0;
        flipPiece(pos, piece, bit(from) | bit(landing));
        pos.board[from] = 0;
        pos.board[landing] = u8(piece);
        const u64 change = zobristPiece[piece][from] ^ zobristPiece[piece][landing];
        key ^= change;
        pos.pawnKingKey ^= change;
        addDirty(dirty, piece, from, landing);
        break;
    }
    case FLAG_CASTLE_K:
    case FLAG_CASTLE_Q: {
        const int rookSq = pos.castleRookSquare[us + (flag == FLAG_CASTLE_Q ? 2 : 0)];
        const int rookTo = flag == FLAG_CASTLE_K ? to - 1 : to + 1;
        const int rook = WROOK + us;
        pos.psq[us] += pst(KING_T, to, us) - pst(KING_T, from, us) + pst(ROOK_T, rookTo, us) - pst(ROOK_T, rookSq, us);
        pos.pieces[piece] ^= bit(from) ^ bit(to);
        pos.pieces[us] ^= bit(from) ^ bit(to);
        pos.pieces[rook] ^= bit(rookSq) ^ bit(rookTo);
        pos.pieces[us] ^= bit(rookSq) ^ bit(rookTo);
        // This order is right for every Chess960 arrangement, including a king
        // or rook already standing on its destination.
        pos.board[from] = 0;
        pos.board[to] = u8(piece);
        if (rookSq != to) pos.board[rookSq] = 0;
        pos.board[rookTo] = u8(rook);
        const u64 kingChange = zobristPiece[piece][from] ^ zobristPiece[piece][to];
        key ^= kingChange ^ zobristPiece[rook][rookSq] ^ zobristPiece[rook][rookTo];
        pos.pawnKingKey ^= kingChange;
        addDirty(dirty, piece, from, to);
        addDirty(dirty, rook, rookSq, rookTo);
        break;
    }
    case FLAG_PROMO_N:
    case FLAG_PROMO_B:
    case FLAG_PROMO_R:
    case FLAG_PROMO_Q: {
        const int promoted = flag + us;
        const int t = pieceType(promoted);
        pos.material[us] += pieceValue[t] - pieceValue[PAWN_T];
        pos.psq[us] += pst(t, to, us) - pst(PAWN_T, from, us);
        pos.phase = i16(pos.phase + phaseWeight[t]);
        pos.pieces[piece] ^= bit(from);
        pos.pieces[promoted] ^= bit(to);
        pos.pieces[us] ^= bit(from) | bit(to);
        pos.board[from] = 0;
        pos.board[to] = u8(promoted);
        key ^= zobristPiece[piece][from] ^ zobristPiece[promoted][to];
        pos.pawnKingKey ^= zobristPiece[piece][from];
        addDirty(dirty, piece, from, OFF_BOARD);
        addDirty(dirty, promoted, OFF_BOARD, to);
        break;
    }
    default:
        __builtin_unreachable();  // the generators produce no other flags
    }

    if (captured) {
        pos.pieces[captured] ^= bit(to);
        pos.pieces[them] ^= bit(to);
        key ^= zobristPiece[captured][to];
        if (pieceType(captured) == PAWN_T) pos.pawnKingKey ^= zobristPiece[captured][to];
        addDirty(dirty, captured, to, OFF_BOARD);
    }

    pos.keyHistory[pos.gamePly] = key;
    pos.key = key;
    pos.gamePly++;
    next.savedRule50 = u32(pos.rule50);
    pos.rule50 = (captured || pieceType(piece) == PAWN_T) ? 0 : i16(pos.rule50 + 1);
    pos.sideToMove = u8(them);
}

inline void undoMove(int ply, Move move, Position& pos) {
    using namespace detail;
    const PlyState& next = pos.plyStack[ply + 1];
    const int them = pos.sideToMove, us = them ^ 1;
    const int from = move.from, to = move.to, flag = move.flag;
    pos.sideToMove = u8(us);
    pos.key = next.savedKey;
    pos.gamePly--;
    pos.pawnKingKey = next.savedPawnKingKey;
    pos.rule50 = i16(next.savedRule50);
    const int captured = next.captured;

    switch (flag) {
    case FLAG_NORMAL:
    case FLAG_DOUBLE: {
        const int piece = pos.board[to];
        flipPiece(pos, piece, bit(from) | bit(to));
        pos.board[from] = u8(piece);
        pos.board[to] = u8(captured);
        break;
    }
    case FLAG_EP: {
        const int landing = us == WHITE ? to + 8 : to - 8;
        flipPiece(pos, WPAWN + us, bit(from) | bit(landing));
        pos.board[landing] = 0;
        pos.board[from] = u8(WPAWN + us);
        pos.board[to] = u8(captured);
        break;
    }
    case FLAG_CASTLE_K:
    case FLAG_CASTLE_Q: {
        const int rookSq = pos.castleRookSquare[us + (flag == FLAG_CASTLE_Q ? 2 : 0)];
        const int rookTo = flag == FLAG_CASTLE_K ? to - 1 : to + 1;
        const int king = WKING + us, rook = WROOK + us;
        pos.pieces[king] ^= bit(from) ^ bit(to);
        pos.pieces[us] ^= bit(from) ^ bit(to);
        pos.pieces[rook] ^= bit(rookSq) ^ bit(rookTo);
        pos.pieces[us] ^= bit(rookSq) ^ bit(rookTo);
        pos.board[to] = 0;
        pos.board[from] = u8(king);
        if (rookTo != from) pos.board[rookTo] = 0;
        pos.board[rookSq] = u8(rook);
        break;
    }
    case FLAG_PROMO_N:
    case FLAG_PROMO_B:
    case FLAG_PROMO_R:
    case FLAG_PROMO_Q: {
        const int promoted = flag + us;
        pos.pieces[WPAWN + us] ^= bit(from);
        pos.pieces[promoted] ^= bit(to);
        pos.pieces[us] ^= bit(from) | bit(to);
        pos.board[from] = u8(WPAWN + us);
        pos.board[to] = u8(captured);
        break;
    }
    default:
        __builtin_unreachable();  // the generators produce no other flags
    }

    if (captured) {
        pos.pieces[captured] ^= bit(to);
        pos.pieces[them] ^= bit(to);
    }
    pos.material[0] = next.savedMaterial[0];
    pos.material[1] = next.savedMaterial[1];
    pos.psq[0] = next.savedPsq[0];
    pos.psq[1] = next.savedPsq[1];
    pos.phase = i16(next.savedPhase);
}

// Plays a legal move on a root record without leaving ply 0 (the position
// command): the state the move produced for ply 1 becomes the root state.
// The search needs MAX_PLY + 1 free key-history entries behind the game; a
// game longer than the history holds keeps only its latest 256 positions,
// since repetitions before the last capture or pawn move can never count.
inline void playRootMove(Position& pos, Move move) {
    constexpr int historyLimit = KEY_HISTORY_SIZE - MAX_PLY - 2, historyKept = 256;
    if (pos.gamePly >= historyLimit) {
        std::memmove(pos.keyHistory, pos.keyHistory + pos.gamePly - historyKept, historyKept * sizeof(u64));
        pos.gamePly = historyKept;
    }
    doMove(0, move, pos);
    PlyState& root = pos.plyStack[0];
    const PlyState& next = pos.plyStack[1];
    root.castlingRights = next.castlingRights;
    root.epSquare = next.epSquare;
    root.savedKey = next.savedKey;
    root.savedPawnKingKey = next.savedPawnKingKey;
    pos.accumulators[0].computed = 0;
}

// The null move: the side to move passes. The network accumulator carries
// over unchanged (same pieces), the change list of the child is empty.
inline void doNullMove(int ply, Position& pos) {
    PlyState& cur = pos.plyStack[ply];
    PlyState& next = pos.plyStack[ply + 1];
    next.savedKey = pos.key;
    pos.key ^= zobristSide;
    if (cur.epSquare) pos.key ^= zobristEnPassant[cur.epSquare & 7];
    pos.sideToMove ^= 1;
    DirtyPieces& dirty = pos.dirtyPieces[ply + 1];
    dirty.count = 0;
    dirty.piece[0] = 0;
    if (pos.accumulators[ply].computed)
        pos.accumulators[ply + 1] = pos.accumulators[ply];
    else
        pos.accumulators[ply + 1].computed = 0;
    next.castlingRights = cur.castlingRights;
    next.epSquare = 0;
    next.captured = 0;
}

inline void undoNullMove(int ply, Position& pos) {
    pos.sideToMove ^= 1;
    pos.key = pos.plyStack[ply + 1].savedKey;
}
