// Precomputed bitboard tables, built once by initTables() before the first
// command is read and read-only afterwards. Slider attacks use magic
// multiplication; the magic numbers are found at start-up by a seeded search,
// so every run builds the same tables.
#pragma once

#include "board/types.h"

struct MagicEntry {
    const u64* attacks;   // this square's slice of the attack table
    u64 mask;             // relevant occupancy
    u64 magic;
    u64 shift;            // 64 - popcount(mask)
};

extern u64 knightAttacks[64];
extern u64 kingAttacks[64];
extern u64 pawnAttackers[2][64];   // [c][s]: squares from which a pawn of colour c attacks s
extern MagicEntry rookMagics[64];
extern MagicEntry bishopMagics[64];
extern u64 rookPseudoAttacks[64];
extern u64 bishopPseudoAttacks[64];
extern u64 between[64][64];
extern u64 line[64][64];
extern u8 distance[64][64];
extern u64 epAdjacent[64];
extern u64 ranksAhead[2][64];
extern u64 adjacentFiles[64];
extern u64 frontSpan[2][64];
extern u64 kingZone[2][64];
extern u8 lmrTable[128][256];

constexpr int ROOK_TABLE_SIZE = 102400;
constexpr int BISHOP_TABLE_SIZE = 5248;

void initTables();

inline u64 rookAttacks(int sq, u64 occ) {
    const MagicEntry& m = rookMagics[sq];
    return m.attacks[((occ & m.mask) * m.magic) >> m.shift];
}
inline u64 bishopAttacks(int sq, u64 occ) {
    const MagicEntry& m = bishopMagics[sq];
    return m.attacks[((occ & m.mask) * m.magic) >> m.shift];
}
inline u64 queenAttacks(int sq, u64 occ) { return rookAttacks(sq, occ) | bishopAttacks(sq, occ); }
