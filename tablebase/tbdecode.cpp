#include "tablebase/tbdecode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// binomial[k][n] = n choose k.
u64 binomial[TB_MAX_MEN + 1][64];
// Squares below the a1-h8 diagonal numbered 0..27.
int mapB1H1H7[64];
// The a1-d1-d4 triangle: b1, c1, d1, c2, d2, d3 are 0..5, the diagonal a1..d4 6..9.
int mapA1D1D4[64];
// Two kings, the first in the triangle: 462 legal placements.
int mapKK[10][64];
// Pawn squares a2..h7 ranked from the edge files inward and from rank 2
// upward: the leading pawn has the highest number.
int mapPawns[64];
// Index of the leading pawn (by count of leading pawns and square) and the
// number of leading-pawn placements per file.
u64 leadPawnIndex[6][64];
u64 leadPawnsSize[6][4];

constexpr int KK_PLACEMENTS = 462;
constexpr int UNIQUE_PLACEMENTS = 31332;

int offDiagonal(int sq) { return rankOf(sq) - fileOf(sq); }
int transpose(int sq) { return ((sq >> 3) | (sq << 3)) & 63; }

u32 le32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }
u16 le16(const u8* p) { return u16(p[0] | p[1] << 8); }
// Sorts a few squares in place by key (insertion sort: at most seven).
template <class Key>
void sortSquares(int* squares, int count, Key key) {
    for (int i = 1; i < count; i++)
        for (int j = i; j > 0 && key(squares[j]) < key(squares[j - 1]); j--) std::swap(squares[j], squares[j - 1]);
}

u32 be32(const u8* p) { return u32(p[0]) << 24 | u32(p[1]) << 16 | u32(p[2]) << 8 | u32(p[3]); }

// Counts of each table piece code (type + 8 x side) in a table name.
void nameCounts(const char* name, int counts[16]) {
    std::memset(counts, 0, sizeof(int) * 16);
    int side = 0;
    for (const char* c = name; *c; c++) {
        if (*c == 'v') {
            side = 8;
            continue;
        }
        const char* at = std::strchr(" PNBRQK", *c);
        if (at && *c != ' ') counts[side + int(at - " PNBRQK")]++;
    }
}

// Groups and multipliers of one table's index, from its piece order and the
// two order nibbles of the header.
bool setGroups(const TableEntry& e, PairsData& d, int order, int order2, int file) {
    const int n = e.pieceCount;
    int expected[16], found[16] = {};
    nameCounts(e.name, expected);
    for (int k = 0; k < n; k++) {
        const int code = d.pieces[k], type = code & 7;
        if (type < TB_PAWN || type > TB_KING) return false;
        found[code]++;
    }
    if (std::memcmp(expected, found, sizeof found) != 0) return false;

    const bool pp = e.hasPawns && e.pawnCount[1] > 0;
    int firstLen;
    if (e.hasPawns) {
        firstLen = e.pawnCount[0];
        if (firstLen < 1 || firstLen > 5) return false;
        const int lead = d.pieces[0];
        if ((lead & 7) != TB_PAWN || found[lead] != firstLen) return false;
        for (int k = 0; k < firstLen + (pp ? e.pawnCount[1] : 0); k++)
            if (d.pieces[k] != (k < firstLen ? lead : lead ^ 8)) return false;
    } else {
        firstLen = e.kkEncoding ? 2 : 3;
    }

    std::memset(d.groupLen, 0, sizeof d.groupLen);
    int groups = 0;
    d.groupLen[groups++] = u8(firstLen);
    int i = firstLen;
    if (pp) {
        d.groupLen[groups++] = e.pawnCount[1];
        i += e.pawnCount[1];
    }
    while (i < n) {
        int len = 1;
        while (i + len < n && d.pieces[i + len] == d.pieces[i]) len++;
        d.groupLen[groups++] = u8(len);
        i += len;
    }
    if (order >= groups || (pp && (order2 >= groups || order2 == order))) return false;

    // Group g's index is multiplied by the product of the sizes of the groups
    // placed before it in the header's order.
    int freeSquares = 64 - firstLen - (pp ? d.groupLen[1] : 0);
    int next = pp ? 2 : 1;
    u64 factor = 1;
    for (int k = 0; k < groups; k++) {
        if (k == order) {
            d.groupFactor[0] = factor;
            factor *= e.hasPawns ? leadPawnsSize[firstLen][file] : e.kkEncoding ? KK_PLACEMENTS : UNIQUE_PLACEMENTS;
        } else if (pp && k == order2) {
            d.groupFactor[1] = factor;
            factor *= binomial[d.groupLen[1]][48 - firstLen];
        } else {
            d.groupFactor[next] = factor;
            factor *= binomial[d.groupLen[next]][freeSquares];
            freeSquares -= d.groupLen[next];
            next++;
        }
    }
    d.tableSize = factor;
    return true;
}

// Values each symbol stands for (minus one), from the pair tree; fails on a
// symbol out of range, a cycle or an expansion longer than 256.
bool setSymbolLengths(PairsData& d, u8* lengths) {
    const u32 count = d.symbolCount;
    std::unique_ptr<u8[]> state(new (std::nothrow) u8[count]());
    std::unique_ptr<u16[]> stack(new (std::nothrow) u16[2 * count + 2]);
    if (!state || !stack) return false;
    auto left = [&](u32 s) { return u32(d.tree[3 * s]) | u32(d.tree[3 * s + 1] & 15) << 8; };
    auto right = [&](u32 s) { return u32(d.tree[3 * s + 1] >> 4) | u32(d.tree[3 * s + 2]) << 4; };
    for (u32 root = 0; root < count; root++) {
        if (state[root]) continue;
        u32 top = 0;
        stack[top++] = u16(root);
        while (top) {
            const u32 s = stack[top - 1];
            if (state[s] == 2) {
                top--;
                continue;
            }
            const u32 r = right(s), l = left(s);
            if (r == 0xFFF) {
                lengths[s] = 0;
                state[s] = 2;
                top--;
                continue;
            }
            if (l >= count || r >= count) return false;
            if (state[s] == 0) {
                state[s] = 1;
                for (u32 child : {l, r}) {
                    if (state[child] == 1) return false;
                    if (state[child] == 0) {
                        if (top >= 2 * count + 2) return false;
                        stack[top++] = u16(child);
                    }
                }
                continue;
            }
            if (state[l] != 2 || state[r] != 2) return false;
            const u32 total = u32(lengths[l]) + lengths[r] + 1;
            if (total > 255) return false;
            lengths[s] = u8(total);
            state[s] = 2;
            top--;
        }
    }
    return true;
}

bool setupPairs(PairsData& d, const u8* data, size_t size, size_t& pos, bool wdl) {
    if (size - pos < 2) return false;
    const u8* p = data + pos;
    d.flags = p[0];
    if (d.flags & 0x80) {
        // One value for the whole table (a DTZ table of this kind holds zeros).
        d.singleValue = wdl ? p[1] : 0;
        d.sparseCount = d.blockCount = d.blockLengthCount = 0;
        pos += 2;
        return true;
    }
    if (size - pos < 12) return false;
    const int blockBits = p[1];
    d.spanBits = p[2];
    d.blockCount = le32(p + 4);
    d.blockLengthCount = d.blockCount + p[3];
    d.maxLen = p[8];
    d.minLen = p[9];
    if (blockBits > 30 || d.spanBits < 1 || d.spanBits > 31) return false;
    if (d.minLen < 1 || d.maxLen < d.minLen || d.maxLen > 32) return false;
    d.blockSize = u32(1) << blockBits;
    const int lengths = d.maxLen - d.minLen + 1;
    if (size - pos < size_t(12 + 2 * lengths)) return false;
    d.lowestSymbol = p + 10;
    d.symbolCount = le16(p + 10 + 2 * lengths);
    d.tree = p + 12 + 2 * lengths;
    const size_t headerSize = 12 + 2 * size_t(lengths) + 3 * size_t(d.symbolCount) + (d.symbolCount & 1);
    if (d.symbolCount == 0 || size - pos < headerSize) return false;
    d.sparseCount = (d.tableSize + (u64(1) << d.spanBits) - 1) >> d.spanBits;

    const size_t words = size_t(lengths) + (d.symbolCount + 7) / 8;
    d.storage.reset(new (std::nothrow) u64[words]());
    if (!d.storage) return false;
    u64* base = d.storage.get();
    u8* symbolLength = reinterpret_cast<u8*>(base + lengths);
    // Canonical code: codes of one length are consecutive numbers and longer
    // codes are numerically smaller. base[i] is the smallest code of length
    // minLen + i, left-aligned in 64 bits.
    base[lengths - 1] = 0;
    for (int i = lengths - 2; i >= 0; i--)
        base[i] = (base[i + 1] + le16(d.lowestSymbol + 2 * i) - le16(d.lowestSymbol + 2 * (i + 1))) / 2;
    for (int i = 0; i < lengths; i++) base[i] <<= 64 - (d.minLen + i);
    d.base = base;
    d.symbolLength = symbolLength;
    if (!setSymbolLengths(d, symbolLength)) return false;
    pos += headerSize;
    return true;
}

bool readDtzMaps(TableEntry& e, const u8* data, size_t size, size_t& pos) {
    for (int f = 0; f < e.files; f++) {
        PairsData& d = e.dtz[f];
        if (!(d.flags & 2)) continue;
        const bool wide = d.flags & 16;
        if (wide) pos += pos & 1;
        for (int i = 0; i < 4; i++) {
            if (pos + 2 > size) return false;
            const u32 count = wide ? le16(data + pos) : data[pos];
            const size_t header = wide ? 2 : 1;
            const size_t bytes = header + count * (wide ? 2 : 1);
            if (bytes > size - pos || pos + header > 0xFFFFFFFFu) return false;
            d.mapOffset[i] = u32(pos + header);
            d.mapCount[i] = u16(count);
            pos += bytes;
        }
    }
    pos += pos & 1;
    return pos <= size;
}

}  // namespace

void tbInitIndexTables() {
    for (int n = 0; n < 64; n++)
        for (int k = 0; k <= TB_MAX_MEN; k++)
            binomial[k][n] = k == 0 ? 1 : n == 0 ? 0 : binomial[k - 1][n - 1] + binomial[k][n - 1];

    int code = 0;
    for (int sq = 0; sq < 64; sq++)
        if (offDiagonal(sq) < 0) mapB1H1H7[sq] = code++;

    int triangle[10];
    code = 0;
    for (int sq = 0; sq < 64; sq++)
        if (fileOf(sq) <= 3 && rankOf(sq) <= 3 && offDiagonal(sq) < 0) triangle[mapA1D1D4[sq] = code++] = sq;
    for (int sq = 0; sq < 64; sq++)
        if (fileOf(sq) <= 3 && offDiagonal(sq) == 0) triangle[mapA1D1D4[sq] = code++] = sq;

    // Placements with both kings on the diagonal come last.
    std::memset(mapKK, 0, sizeof mapKK);
    code = 0;
    int deferred[64][2], deferredCount = 0;
    for (int t = 0; t < 10; t++) {
        const int k1 = triangle[t];
        for (int k2 = 0; k2 < 64; k2++) {
            const int fileGap = std::abs(fileOf(k1) - fileOf(k2)), rankGap = std::abs(rankOf(k1) - rankOf(k2));
            if (fileGap <= 1 && rankGap <= 1) continue;  // the same or touching squares
            if (offDiagonal(k1) == 0 && offDiagonal(k2) > 0) continue;
            if (offDiagonal(k1) == 0 && offDiagonal(k2) == 0) {
                deferred[deferredCount][0] = t;
                deferred[deferredCount++][1] = k2;
            } else {
                mapKK[t][k2] = code++;
            }
        }
    }
    for (int i = 0; i < deferredCount; i++) mapKK[deferred[i][0]][deferred[i][1]] = code++;

    int available = 47;
    for (int lead = 1; lead <= 5; lead++)
        for (int file = 0; file < 4; file++) {
            u64 index = 0;
            for (int rank = 1; rank <= 6; rank++) {
                const int sq = 8 * rank + file;
                if (lead == 1) {
                    mapPawns[sq] = available--;
                    mapPawns[sq ^ 7] = available--;
                }
                leadPawnIndex[lead][sq] = index;
                index += binomial[lead - 1][mapPawns[sq]];
            }
            leadPawnsSize[lead][file] = index;
        }
}

bool tbDecodeHeaders(TableEntry& e, int type, const u8* data, size_t size) {
    if (size < 16) return false;
    const u8 flags = data[4];
    const bool split = flags & 1;
    if (bool(flags & 2) != e.hasPawns) return false;
    int sides = 1;
    if (type == TB_WDL) {
        sides = split ? 2 : 1;
        // Only a symmetric material can do with one table for both sides to move.
        if (sides == 1 && !e.symmetric) return false;
        e.wdlSides = u8(sides);
    }
    auto pairs = [&](int f, int side) -> PairsData& { return type == TB_WDL ? e.wdl[2 * f + side] : e.dtz[f]; };
    const bool pp = e.hasPawns && e.pawnCount[1] > 0;
    const int n = e.pieceCount;
    size_t pos = 5;
    for (int f = 0; f < e.files; f++) {
        if (pos + 1 + pp + n > size) return false;
        const int order[2] = {data[pos] & 15, data[pos] >> 4};
        const int order2[2] = {pp ? data[pos + 1] & 15 : 15, pp ? data[pos + 1] >> 4 : 15};
        pos += 1 + pp;
        for (int k = 0; k < n; k++)
            for (int side = 0; side < sides; side++)
                pairs(f, side).pieces[k] = u8(side ? data[pos + k] >> 4 : data[pos + k] & 15);
        pos += n;
        for (int side = 0; side < sides; side++)
            if (!setGroups(e, pairs(f, side), order[side], order2[side], f)) return false;
    }
    pos += pos & 1;
    for (int f = 0; f < e.files; f++)
        for (int side = 0; side < sides; side++)
            if (!setupPairs(pairs(f, side), data, size, pos, type == TB_WDL)) return false;
    if (type == TB_DTZ && !readDtzMaps(e, data, size, pos)) return false;

    auto take = [&](u64 bytes) -> const u8* {
        if (pos > size || bytes > size - pos) return nullptr;
        const u8* at = data + pos;
        pos += size_t(bytes);
        return at;
    };
    for (int f = 0; f < e.files; f++)
        for (int side = 0; side < sides; side++) {
            PairsData& d = pairs(f, side);
            if (d.sparseCount > size) return false;
            if (!(d.sparseIndex = take(6 * d.sparseCount))) return false;
        }
    for (int f = 0; f < e.files; f++)
        for (int side = 0; side < sides; side++) {
            PairsData& d = pairs(f, side);
            if (!(d.blockLengths = take(2 * u64(d.blockLengthCount)))) return false;
        }
    for (int f = 0; f < e.files; f++)
        for (int side = 0; side < sides; side++) {
            PairsData& d = pairs(f, side);
            pos = (pos + 63) & ~size_t(63);
            if (!(d.data = take(u64(d.blockCount) * d.blockSize))) return false;
        }
    return true;
}

int tbDecompress(const PairsData& d, u64 index, const u8* fileEnd, bool* ok) {
    if (d.flags & 0x80) return d.singleValue;
    if (index >= d.tableSize) return *ok = false, 0;

    // The sparse index gives, for the middle index of each span, its block
    // and its offset in that block; walk from there to the block holding `index`.
    const u64 k = index >> d.spanBits;
    const u8* entry = d.sparseIndex + 6 * k;
    u64 block = le32(entry);
    const i64 half = i64(1) << (d.spanBits - 1);
    i64 offset = i64(le16(entry + 4)) + i64(index & ((u64(1) << d.spanBits) - 1)) - half;
    auto blockLength = [&](u64 b) { return i64(le16(d.blockLengths + 2 * b)); };
    if (block >= d.blockLengthCount) return *ok = false, 0;
    while (offset < 0) {
        if (block == 0) return *ok = false, 0;
        offset += blockLength(--block) + 1;
    }
    while (offset > blockLength(block)) {
        offset -= blockLength(block++) + 1;
        if (block >= d.blockLengthCount) return *ok = false, 0;
    }
    if (block >= d.blockCount) return *ok = false, 0;

    // Canonical codes, most significant bit first. `code` holds the next 64
    // bits of the block; `pending` counts the bits consumed since the last refill.
    const u8* ptr = d.data + block * d.blockSize;
    const u8* blockEnd = ptr + d.blockSize;
    auto word = [&](const u8* at) -> u64 { return at + 4 <= fileEnd ? be32(at) : 0; };
    u64 code = word(ptr) << 32 | word(ptr + 4);
    ptr += 8;
    int pending = 0;
    u32 symbol;
    for (;;) {
        int len = 0;
        while (code < d.base[len]) len++;
        symbol = u32((code - d.base[len]) >> (64 - len - d.minLen)) + le16(d.lowestSymbol + 2 * len);
        if (symbol >= d.symbolCount) return *ok = false, 0;
        if (offset < i64(d.symbolLength[symbol]) + 1) break;
        offset -= i64(d.symbolLength[symbol]) + 1;
        len += d.minLen;
        code <<= len;
        pending += len;
        if (pending >= 32) {
            if (ptr >= blockEnd + 4) return *ok = false, 0;
            pending -= 32;
            code |= word(ptr) << pending;
            ptr += 4;
        }
    }

    // Expand the symbol's pair tree down to the value at `offset`.
    while (d.symbolLength[symbol]) {
        const u8* node = d.tree + 3 * symbol;
        const u32 left = u32(node[0]) | u32(node[1] & 15) << 8;
        if (offset < i64(d.symbolLength[left]) + 1) {
            symbol = left;
        } else {
            offset -= i64(d.symbolLength[left]) + 1;
            symbol = u32(node[1] >> 4) | u32(node[2]) << 4;
        }
    }
    const u8* leaf = d.tree + 3 * symbol;
    return int(u32(leaf[0]) | u32(leaf[1] & 15) << 8);
}

int probeTable(const TbPosition& pos, int type, int wdl, int& status) {
    status = TB_PROBE_FAIL;
    const u64 occupied = tbOccupied(pos);
    const int men = popCount(occupied);
    if (men == 2) {  // two bare kings: a draw, and no file holds it
        status = TB_PROBE_OK;
        return 0;
    }
    if (men > TB_MAX_MEN) return 0;
    const u64 signature = tbSignature(pos);
    TableEntry* e = tbFindTable(signature);
    if (!e || (type == TB_DTZ && !e->hasDtz) || (type != TB_WDL && type != TB_DTZ)) return 0;
    if (!tbEnsureMapped(*e, type)) return 0;
    const TableFile& file = type == TB_WDL ? e->wdlFile : e->dtzFile;

    // Tables are stored with the first-named side as White. A position of
    // the colour-reversed material, or of a symmetric material with Black to
    // move, is read with colours swapped and the board turned round.
    const bool flip = e->symmetric ? !pos.whiteToMove : signature != e->key;
    const int colourFlip = flip ? 8 : 0, squareFlip = flip ? 56 : 0;
    const int side = int(flip) ^ int(!pos.whiteToMove);

    int squares[TB_MAX_MEN], codes[TB_MAX_MEN];
    int size = 0, leadCount = 0, pawnFile = 0;
    u64 leadPawns = 0;
    if (e->hasPawns) {
        // The leading pawns come first in every file's piece order; their
        // colour on the board is the table's colour, flipped if need be.
        const int leadCode = (type == TB_WDL ? e->wdl[0] : e->dtz[0]).pieces[0];
        leadPawns = pos.pawns & tbSide(pos, (leadCode ^ colourFlip) >> 3);
        for (u64 b = leadPawns; b;) {
            squares[size] = popLsb(b) ^ squareFlip;
            codes[size++] = leadCode;
        }
        leadCount = size;
        if (leadCount == 0) return 0;
        int* best = std::max_element(squares, squares + leadCount,
                                     [](int a, int b) { return mapPawns[a] < mapPawns[b]; });
        std::swap(squares[0], *best);
        pawnFile = std::min(fileOf(squares[0]), 7 - fileOf(squares[0]));
    }

    const PairsData* d;
    if (type == TB_WDL) {
        if (side >= e->wdlSides) return 0;
        d = &e->wdl[2 * pawnFile + side];
    } else {
        d = &e->dtz[pawnFile];
        if ((d->flags & 1) != side && !(e->symmetric && !e->hasPawns)) {
            status = TB_PROBE_CHANGE_STM;
            return 0;
        }
    }

    for (u64 b = occupied & ~leadPawns; b;) {
        const int sq = popLsb(b);
        const int colour = (pos.black >> sq) & 1;
        squares[size] = sq ^ squareFlip;
        codes[size++] = tbTypeOn(pos, sq) | ((colour << 3) ^ colourFlip);
    }
    if (size != e->pieceCount) return 0;

    // The table's piece order.
    for (int i = leadCount; i < size; i++) {
        int j = i;
        while (j < size && codes[j] != d->pieces[i]) j++;
        if (j == size) return 0;
        std::swap(codes[i], codes[j]);
        std::swap(squares[i], squares[j]);
    }

    // Mirror the leading piece onto files a-d.
    if (fileOf(squares[0]) > 3)
        for (int i = 0; i < size; i++) squares[i] ^= 7;

    u64 index;
    if (e->hasPawns) {
        index = leadPawnIndex[leadCount][squares[0]];
        sortSquares(squares + 1, leadCount - 1, [](int sq) { return mapPawns[sq]; });
        for (int i = 1; i < leadCount; i++) index += binomial[i][mapPawns[squares[i]]];
    } else {
        // Pawnless: the leading piece into ranks 1-4, then the first leading
        // piece off the a1-h8 diagonal below it.
        if (rankOf(squares[0]) > 3)
            for (int i = 0; i < size; i++) squares[i] ^= 56;
        for (int i = 0; i < d->groupLen[0]; i++) {
            const int off = offDiagonal(squares[i]);
            if (!off) continue;
            if (off > 0)
                for (int j = i; j < size; j++) squares[j] = transpose(squares[j]);
            break;
        }
        if (e->kkEncoding) {
            index = u64(mapKK[mapA1D1D4[squares[0]]][squares[1]]);
        } else {
            const int s0 = squares[0], s1 = squares[1], s2 = squares[2];
            const int above1 = s1 > s0, above2 = (s2 > s0) + (s2 > s1);
            if (offDiagonal(s0))
                index = u64((mapA1D1D4[s0] * 63 + s1 - above1) * 62 + s2 - above2);
            else if (offDiagonal(s1))
                index = u64((6 * 63 + rankOf(s0) * 28 + mapB1H1H7[s1]) * 62 + s2 - above2);
            else if (offDiagonal(s2))
                index = u64(6 * 63 * 62 + 4 * 28 * 62 + rankOf(s0) * 7 * 28 + (rankOf(s1) - above1) * 28 +
                            mapB1H1H7[s2]);
            else
                index = u64(6 * 63 * 62 + 4 * 28 * 62 + 4 * 7 * 28 + rankOf(s0) * 7 * 6 + (rankOf(s1) - above1) * 6 +
                            rankOf(s2) - above2);
        }
    }
    index *= d->groupFactor[0];

    // The remaining groups: like pieces by combinations of their squares,
    // each square counted among those the earlier groups left free.
    bool otherPawns = e->hasPawns && e->pawnCount[1] > 0;
    int start = d->groupLen[0];
    for (int g = 1; d->groupLen[g]; g++) {
        const int len = d->groupLen[g];
        sortSquares(squares + start, len, [](int sq) { return sq; });
        u64 combination = 0;
        for (int i = 0; i < len; i++) {
            const int sq = squares[start + i];
            int below = 0;
            for (int j = 0; j < start; j++) below += squares[j] < sq;
            const int free = sq - below - (otherPawns ? 8 : 0);
            if (free < 0) return 0;
            combination += binomial[i + 1][free];
        }
        otherPawns = false;
        index += combination * d->groupFactor[g];
        start += len;
    }

    bool ok = true;
    int value = tbDecompress(*d, index, file.view.data + file.view.size, &ok);
    if (!ok) return 0;

    if (type == TB_WDL) {
        if (value > 4) return 0;  // no such result: damaged data
        status = TB_PROBE_OK;
        return value - 2;
    }
    // DTZ: through the value map of this result, then from moves to plies
    // where the table counts moves.
    static constexpr int mapOf[5] = {1, 3, 0, 2, 0};   // loss, blessed loss, draw, cursed win, win
    static constexpr int pliesFlag[5] = {8, 0, 0, 0, 4};
    if (d->flags & 2) {
        const int m = mapOf[wdl + 2];
        if (value >= d->mapCount[m]) return 0;
        const u8* map = file.view.data + d->mapOffset[m];
        value = (d->flags & 16) ? le16(map + 2 * value) : map[value];
    }
    if (!(d->flags & pliesFlag[wdl + 2]) || (wdl & 1)) value *= 2;
    status = TB_PROBE_OK;
    return value;
}
