// Basic encodings shared by every part of the engine: squares, colours, piece
// codes, the 4-byte move record and the packed middle-game/end-game score.
#pragma once

#include <bit>
#include <cstdint>

using u8 = uint8_t;
using i8 = int8_t;
using u16 = uint16_t;
using i16 = int16_t;
using u32 = uint32_t;
using i32 = int32_t;
using u64 = uint64_t;
using i64 = int64_t;
using Bitboard = u64;

// Squares run a1 = 0 .. h8 = 63 (8 x rank + file). XOR with 56 mirrors vertically.
enum : int { WHITE = 0, BLACK = 1 };

// Piece code = 2 x type + colour; type pawn 1 .. king 6. Code 0 is an empty square.
enum : int {
    EMPTY = 0,
    WPAWN = 2, BPAWN, WKNIGHT, BKNIGHT, WBISHOP, BBISHOP,
    WROOK, BROOK, WQUEEN, BQUEEN, WKING, BKING
};
// Piece-type index used by the value and piece-square tables: (code - 2) / 2.
enum : int { PAWN_T = 0, KNIGHT_T, BISHOP_T, ROOK_T, QUEEN_T, KING_T };

constexpr int pieceColour(int code) { return code & 1; }
constexpr int pieceType(int code) { return (code - 2) >> 1; }
constexpr int makePiece(int type, int colour) { return 2 * type + 2 + colour; }

// Move kinds (the `flag` byte).
enum : u8 {
    FLAG_NORMAL = 0,
    FLAG_PROMO_N = 4, FLAG_PROMO_B = 6, FLAG_PROMO_R = 8, FLAG_PROMO_Q = 10,
    FLAG_EP = 12,          // `to` is the square of the pawn being captured
    FLAG_DOUBLE = 13,      // pawn double step; `to` becomes the en-passant square
    FLAG_CASTLE_K = 14,    // `to` is g1/g8
    FLAG_CASTLE_Q = 15     // `to` is c1/c8
};

constexpr bool isPromotion(int flag) { return flag >= FLAG_PROMO_N && flag <= FLAG_PROMO_Q; }
constexpr bool isCastling(int flag) { return flag >= FLAG_CASTLE_K; }

// Square value meaning "off the board" in change lists.
constexpr u8 OFF_BOARD = 65;

// A move: four bytes, read as one little-endian word from + 256 to + 65536 flag
// + 2^24 score. The low 24 bits identify it; the score byte is ordering data.
struct Move {
    u8 from = 0;
    u8 to = 0;
    u8 flag = 0;
    u8 score = 0;
};
static_assert(sizeof(Move) == 4);

constexpr u32 moveWord(Move m) { return std::bit_cast<u32>(m); }
constexpr u32 moveId(Move m) { return moveWord(m) & 0xFFFFFFu; }
constexpr Move moveFromWord(u32 w) { return std::bit_cast<Move>(w); }
constexpr bool sameMove(Move a, Move b) { return moveId(a) == moveId(b); }
constexpr bool isNoMove(Move m) { return moveId(m) == 0; }
constexpr Move makeMove(int from, int to, int flag, int score = 0) {
    return Move{u8(from), u8(to), u8(flag), u8(score)};
}

// Castling-right bits: 1 = White king's side, 2 = Black king's side,
// 4 = White queen's side, 8 = Black queen's side. Colour c owns 5 << c.
enum : u8 { CASTLE_WK = 1, CASTLE_BK = 2, CASTLE_WQ = 4, CASTLE_BQ = 8 };

// Packed score: middle game in the low 16 bits, end game above, so that packed
// values add and subtract as plain integers.
using Score = i32;
constexpr Score X(int mg, int eg) { return Score(u32(mg) + (u32(eg) << 16)); }
constexpr int mgScore(Score s) { return i16(u16(u32(s))); }
constexpr int egScore(Score s) { return i16(u16((u32(s) + 0x8000u) >> 16)); }

// Limits of the search stack and move buffers.
constexpr int MAX_PLY = 128;             // plies 0..127 searched; plyStack has one more
constexpr int KEY_HISTORY_SIZE = 1024;   // game keys plus the deepest search line
// A pseudo-legal list never exceeds 384 moves once set-up has refused
// positions with more than 16 men or 8 pawns a side (nine queens and the rest
// cannot all be mobile at once), so the buffer holds the deepest line whatever
// is searched.
constexpr int MAX_MOVES_PER_PLY = 384;
constexpr int MOVE_BUFFER_SIZE = (MAX_PLY + 2) * MAX_MOVES_PER_PLY;

// Bit helpers.
constexpr Bitboard bit(int sq) { return Bitboard(1) << sq; }
inline int lsb(Bitboard b) { return std::countr_zero(b); }
inline int popCount(Bitboard b) { return std::popcount(b); }
inline int popLsb(Bitboard& b) {
    int s = lsb(b);
    b &= b - 1;
    return s;
}
constexpr bool moreThanOne(Bitboard b) { return (b & (b - 1)) != 0; }
constexpr int fileOf(int sq) { return sq & 7; }
constexpr int rankOf(int sq) { return sq >> 3; }

constexpr Bitboard FILE_A = 0x0101010101010101ULL;
constexpr Bitboard FILE_H = FILE_A << 7;
constexpr Bitboard RANK_1 = 0xFFULL;
constexpr Bitboard RANK_2 = RANK_1 << 8;
constexpr Bitboard RANK_3 = RANK_1 << 16;
constexpr Bitboard RANK_4 = RANK_1 << 24;
constexpr Bitboard RANK_5 = RANK_1 << 32;
constexpr Bitboard RANK_6 = RANK_1 << 40;
constexpr Bitboard RANK_7 = RANK_1 << 48;
constexpr Bitboard RANK_8 = RANK_1 << 56;
