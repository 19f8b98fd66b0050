// The tablebase module's own compact position, with its own move generator
// and move maker. The probes work on this copy and never touch the engine's
// Position. There is no castling: positions with castling rights are never
// probed.
#pragma once

#include <random>
#include <string>

#include "board/position.h"

struct TbPosition {
    u64 white;
    u64 black;
    u64 kings;
    u64 queens;
    u64 rooks;
    u64 bishops;
    u64 knights;
    u64 pawns;
    u8 rule50;
    u8 epSquare;        // the square a pawn capturing en passant lands on, 0 = none
    bool whiteToMove;
};

// Piece types as the table files number them; a black piece adds 8.
enum : int { TB_PAWN = 1, TB_KNIGHT, TB_BISHOP, TB_ROOK, TB_QUEEN, TB_KING };

// A move: from + 64 x to + 4096 x promotion type (0 none, else TB_KNIGHT..TB_QUEEN).
// En passant is a pawn moving onto epSquare; it needs no mark of its own.
using TbMove = u16;
constexpr TbMove tbMove(int from, int to, int promotion = 0) { return TbMove(from | to << 6 | promotion << 12); }
constexpr int tbFrom(TbMove m) { return m & 63; }
constexpr int tbTo(TbMove m) { return (m >> 6) & 63; }
constexpr int tbPromotion(TbMove m) { return m >> 12; }

// Enough for any position of at most 7 men (the probes refuse bigger ones).
constexpr int TB_MAX_MOVES = 256;
constexpr int TB_MAX_MEN = 7;

// The module's pawn-attack table: [c][s] = squares a pawn of colour c on s attacks.
extern u64 tbPawnAttacks[2][64];
// Builds the pawn-attack table (once; the slider, knight and king tables of
// the board code must already exist).
void tbInitAttackTables();

inline u64 tbOccupied(const TbPosition& p) { return p.white | p.black; }
inline u64 tbSide(const TbPosition& p, int colour) { return colour == WHITE ? p.white : p.black; }
inline int tbSideToMove(const TbPosition& p) { return p.whiteToMove ? WHITE : BLACK; }
// The bitboard of one piece type (TB_PAWN..TB_KING), both colours.
u64 tbPieces(const TbPosition& p, int type);
// Type (TB_PAWN..TB_KING) of the piece on sq, 0 when empty.
int tbTypeOn(const TbPosition& p, int sq);
inline int tbMenCount(const TbPosition& p) { return popCount(tbOccupied(p)); }

// Pieces of colour `by` attacking sq, with the given occupancy.
u64 tbAttackers(const TbPosition& p, int sq, int by, u64 occ);
bool tbInCheck(const TbPosition& p);

// Pseudo-legal moves written from `out` on; returns the end. Captures only:
// every capture including capture-promotions to all four pieces and en
// passant. All moves: every move of the side to move.
TbMove* tbGenerateCaptures(const TbPosition& p, TbMove* out);
TbMove* tbGenerateMoves(const TbPosition& p, TbMove* out);

bool tbIsEnPassant(const TbPosition& p, TbMove m);
bool tbIsCapture(const TbPosition& p, TbMove m);
// Captures and pawn moves reset the fifty-move counter.
bool tbIsZeroing(const TbPosition& p, TbMove m);

// Plays a pseudo-legal move into `next`; false (leaving `next` meaningless) when
// it leaves the mover's king attacked.
bool tbDoMove(const TbPosition& p, TbMove m, TbPosition& next);
bool tbHasLegalMove(const TbPosition& p);
bool tbIsMate(const TbPosition& p);

// Exactly one king a side, consistent and disjoint sets, no pawn on the first
// or eighth rank, the side not to move not in check.
bool tbIsValid(const TbPosition& p);
// A random valid position of the material ("KRPvKR": White's men first), the
// side to move drawn too, no en passant, counter 0: probe tests and benchmarks.
TbPosition tbRandomPosition(const std::string& material, std::mt19937_64& rng);

// The engine position at `ply` (its en-passant square is read from that ply's
// state) with the given fifty-move counter.
TbPosition tbFromPosition(const Position& pos, int ply, int rule50);
