#include "board/attacks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "board/position.h"

u64 knightAttacks[64];
u64 kingAttacks[64];
u64 pawnAttackers[2][64];
MagicEntry rookMagics[64];
MagicEntry bishopMagics[64];
u64 rookPseudoAttacks[64];
u64 bishopPseudoAttacks[64];
u64 between[64][64];
u64 line[64][64];
u8 distance[64][64];
u64 epAdjacent[64];
u64 ranksAhead[2][64];
u64 adjacentFiles[64];
u64 frontSpan[2][64];
u64 kingZone[2][64];
u8 lmrTable[128][256];

namespace {

u64 rookAttackTable[ROOK_TABLE_SIZE];
u64 bishopAttackTable[BISHOP_TABLE_SIZE];

// The candidate generator of the magic search. It runs on across calls of
// initTables(): a second call may find other magics with the same attacks.
u32 lcgState = 1;
int nextRandom() {
    lcgState = lcgState * 214013u + 2531011u;
    return int((lcgState >> 16) & 0x7fff);
}

constexpr int ROOK_DIRS[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
constexpr int BISHOP_DIRS[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

bool onBoard(int file, int rank) { return file >= 0 && file < 8 && rank >= 0 && rank < 8; }

// Walks each ray from sq, stopping at and including the first occupied square.
u64 slidingAttacks(int sq, u64 occ, const int (&dirs)[4][2]) {
    u64 result = 0;
    for (const auto& d : dirs) {
        int f = fileOf(sq) + d[0], r = rankOf(sq) + d[1];
        while (onBoard(f, r)) {
            int s = 8 * r + f;
            result |= bit(s);
            if (occ & bit(s)) break;
            f += d[0];
            r += d[1];
        }
    }
    return result;
}

// Rays without the edge square of each ray: the occupancy that matters.
u64 relevantMask(int sq, const int (&dirs)[4][2]) {
    u64 result = 0;
    for (const auto& d : dirs) {
        int f = fileOf(sq) + d[0], r = rankOf(sq) + d[1];
        while (onBoard(f + d[0], r + d[1])) {
            result |= bit(8 * r + f);
            f += d[0];
            r += d[1];
        }
    }
    return result;
}

u64 leaperAttacks(int sq, const int* deltas, int maxStep) {
    u64 result = 0;
    for (int i = 0; i < 8; i++) {
        int t = sq + deltas[i];
        if (t < 0 || t > 63) continue;
        if (std::abs(fileOf(t) - fileOf(sq)) <= maxStep && std::abs(rankOf(t) - rankOf(sq)) <= maxStep)
            result |= bit(t);
    }
    return result;
}

// Seeded search for magic multipliers with exactly nine bits set. Slots are
// stamped with a try counter so that the 4096-entry scratch table never needs
// clearing between candidates.
u32 tryStamp[4096];
u32 tryCounter = 0;

void findMagics(MagicEntry* entries, u64* table, const int (&dirs)[4][2]) {
    static u64 subsets[4096], reference[4096];
    u64* slice = table;
    for (int sq = 0; sq < 64; sq++) {
        MagicEntry& e = entries[sq];
        e.mask = relevantMask(sq, dirs);
        e.shift = 64 - popCount(e.mask);
        e.attacks = slice;
        int count = 0;
        u64 sub = 0;
        do {
            subsets[count] = sub;
            reference[count] = slidingAttacks(sq, sub, dirs);
            count++;
            sub = (sub - e.mask) & e.mask;
        } while (sub);

        for (;;) {
            u64 candidate = 0;
            int bits = 0;
            while (bits < 9) {
                u64 b = u64(1) << (nextRandom() & 63);
                if (!(candidate & b)) {
                    candidate |= b;
                    bits++;
                }
            }
            tryCounter++;
            bool ok = true;
            for (int i = 0; i < count && ok; i++) {
                u64 idx = (subsets[i] * candidate) >> e.shift;
                if (tryStamp[idx] != tryCounter) {
                    tryStamp[idx] = tryCounter;
                    slice[idx] = reference[i];
                } else if (slice[idx] != reference[i]) {
                    ok = false;
                }
            }
            if (ok) {
                e.magic = candidate;
                break;
            }
        }
        slice += u64(1) << popCount(e.mask);
    }
}

}  // namespace

void initTables() {
    for (int i = 0; i < 128; i++)
        for (int j = 0; j < 256; j++) {
            if (j < 3)
                lmrTable[i][j] = 0;
            else if (j == 3)
                lmrTable[i][j] = 1;
            else
                lmrTable[i][j] = u8(int(std::sqrt(double((i * (j - 2)) / 9))));
        }

    static const int knightDeltas[8] = {17, 15, 10, 6, -6, -10, -15, -17};
    static const int kingDeltas[8] = {9, 8, 7, 1, -1, -7, -8, -9};
    for (int s = 0; s < 64; s++) {
        knightAttacks[s] = leaperAttacks(s, knightDeltas, 2);
        kingAttacks[s] = leaperAttacks(s, kingDeltas, 1);
    }

    for (int s = 0; s < 64; s++) {
        epAdjacent[s] = 0;
        if ((s >= 24 && s <= 39)) {
            if (fileOf(s) > 0) epAdjacent[s] |= bit(s - 1);
            if (fileOf(s) < 7) epAdjacent[s] |= bit(s + 1);
        }
    }

    for (int s = 0; s < 64; s++) {
        pawnAttackers[WHITE][s] = pawnAttackers[BLACK][s] = 0;
        if (s >= 16) {
            if (fileOf(s) != 7) pawnAttackers[WHITE][s] |= bit(s - 7);
            if (fileOf(s) != 0) pawnAttackers[WHITE][s] |= bit(s - 9);
        }
        if (s <= 47) {
            if (fileOf(s) != 0) pawnAttackers[BLACK][s] |= bit(s + 7);
            if (fileOf(s) != 7) pawnAttackers[BLACK][s] |= bit(s + 9);
        }
    }

    for (int s = 0; s < 64; s++) {
        rookPseudoAttacks[s] = slidingAttacks(s, 0, ROOK_DIRS);
        bishopPseudoAttacks[s] = slidingAttacks(s, 0, BISHOP_DIRS);
    }

    for (u32& stamp : tryStamp) stamp = 0;
    findMagics(rookMagics, rookAttackTable, ROOK_DIRS);
    findMagics(bishopMagics, bishopAttackTable, BISHOP_DIRS);

    for (int a = 0; a < 64; a++)
        for (int b = 0; b < 64; b++) {
            between[a][b] = line[a][b] = 0;
            if (a != b && (rookPseudoAttacks[a] & bit(b))) {
                between[a][b] = rookAttacks(a, bit(b)) & rookAttacks(b, bit(a));
                line[a][b] = (rookPseudoAttacks[a] & rookPseudoAttacks[b]) | bit(a) | bit(b);
            } else if (a != b && (bishopPseudoAttacks[a] & bit(b))) {
                between[a][b] = bishopAttacks(a, bit(b)) & bishopAttacks(b, bit(a));
                line[a][b] = (bishopPseudoAttacks[a] & bishopPseudoAttacks[b]) | bit(a) | bit(b);
            }
            distance[a][b] = u8(std::max(std::abs(fileOf(a) - fileOf(b)), std::abs(rankOf(a) - rankOf(b))));
        }

    for (int s = 0; s < 64; s++) {
        int r = rankOf(s), f = fileOf(s);
        ranksAhead[WHITE][s] = ~u64(0) << (8 * r);
        ranksAhead[BLACK][s] = ~u64(0) >> (8 * (7 - r));
        u64 fileA = FILE_A << f;
        adjacentFiles[s] = (f > 0 ? fileA >> 1 : 0) | (f < 7 ? fileA << 1 : 0);
        u64 span = fileA | adjacentFiles[s];
        frontSpan[WHITE][s] = (r >= 1 && r <= 6) ? span & (~u64(0) << (8 * (r + 1))) : 0;
        frontSpan[BLACK][s] = (r >= 1 && r <= 6) ? span & (~u64(0) >> (8 * (8 - r))) : 0;

        int zf = std::clamp(f, 1, 6);
        u64 files = (FILE_A << (zf - 1)) | (FILE_A << zf) | (FILE_A << (zf + 1));
        int r0 = std::clamp(r, 1, 5) - 1;
        int r1 = std::clamp(r, 2, 6);
        u64 whiteRanks = 0, blackRanks = 0;
        for (int k = r0; k <= r0 + 3; k++) whiteRanks |= RANK_1 << (8 * k);
        for (int k = r1 - 2; k <= r1 + 1; k++) blackRanks |= RANK_1 << (8 * k);
        kingZone[WHITE][s] = files & whiteRanks;
        kingZone[BLACK][s] = files & blackRanks;
    }

    rootPosition.plyStack[0].moveListBegin = rootMoveBuffer;
}
