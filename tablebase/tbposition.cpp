#include "tablebase/tbposition.h"

#include <algorithm>

u64 tbPawnAttacks[2][64];

void tbInitAttackTables() {
    for (int sq = 0; sq < 64; sq++) {
        const u64 b = bit(sq);
        tbPawnAttacks[WHITE][sq] = ((b & ~FILE_A) << 7) | ((b & ~FILE_H) << 9);
        tbPawnAttacks[BLACK][sq] = ((b & ~FILE_A) >> 9) | ((b & ~FILE_H) >> 7);
    }
}

namespace {

// The bitboard of a piece type, writable or not as the position is.
template <typename P>
auto& bitboardOf(P& p, int type) {
    switch (type) {
    case TB_PAWN: return p.pawns;
    case TB_KNIGHT: return p.knights;
    case TB_BISHOP: return p.bishops;
    case TB_ROOK: return p.rooks;
    case TB_QUEEN: return p.queens;
    default: return p.kings;
    }
}

}  // namespace

u64 tbPieces(const TbPosition& p, int type) { return type >= TB_PAWN && type <= TB_KING ? bitboardOf(p, type) : 0; }

namespace {

u64& piecesOf(TbPosition& p, int type) { return bitboardOf(p, type); }

u64 attacksFrom(int type, int sq, u64 occ) {
    switch (type) {
    case TB_KNIGHT: return knightAttacks[sq];
    case TB_BISHOP: return bishopAttacks(sq, occ);
    case TB_ROOK: return rookAttacks(sq, occ);
    case TB_QUEEN: return queenAttacks(sq, occ);
    default: return kingAttacks[sq];
    }
}

// Pawn moves of the side to move onto `targets` (captures) plus, when
// `quiet`, the pushes. Promotions list queen, rook, bishop, knight.
TbMove* pawnMoves(const TbPosition& p, TbMove* out, bool quiet) {
    const int us = tbSideToMove(p);
    const u64 own = tbSide(p, us), enemy = tbSide(p, us ^ 1), occ = own | enemy;
    const int forward = us == WHITE ? 8 : -8;
    const int lastRank = us == WHITE ? 7 : 0, startRank = us == WHITE ? 1 : 6;
    auto add = [&](int from, int to) {
        if (rankOf(to) == lastRank)
            for (int promo = TB_QUEEN; promo >= TB_KNIGHT; promo--) *out++ = tbMove(from, to, promo);
        else
            *out++ = tbMove(from, to);
    };
    for (u64 b = p.pawns & own; b;) {
        const int from = popLsb(b);
        for (u64 t = tbPawnAttacks[us][from] & enemy; t;) add(from, popLsb(t));
        if (p.epSquare && (tbPawnAttacks[us][from] & bit(p.epSquare))) *out++ = tbMove(from, p.epSquare);
        if (!quiet) continue;
        const int to = from + forward;
        if (occ & bit(to)) continue;
        add(from, to);
        if (rankOf(from) == startRank && !(occ & bit(to + forward))) *out++ = tbMove(from, to + forward);
    }
    return out;
}

TbMove* pieceMoves(const TbPosition& p, TbMove* out, u64 targets) {
    const u64 own = tbSide(p, tbSideToMove(p)), occ = tbOccupied(p);
    for (int type = TB_KNIGHT; type <= TB_KING; type++)
        for (u64 b = tbPieces(p, type) & own; b;) {
            const int from = popLsb(b);
            for (u64 t = attacksFrom(type, from, occ) & targets; t;) *out++ = tbMove(from, popLsb(t));
        }
    return out;
}

}  // namespace

int tbTypeOn(const TbPosition& p, int sq) {
    const u64 b = bit(sq);
    if (!(tbOccupied(p) & b)) return 0;
    for (int type = TB_PAWN; type <= TB_KING; type++)
        if (tbPieces(p, type) & b) return type;
    return 0;
}

u64 tbAttackers(const TbPosition& p, int sq, int by, u64 occ) {
    const u64 diagonal = p.bishops | p.queens, straight = p.rooks | p.queens;
    return tbSide(p, by) & ((bishopAttacks(sq, occ) & diagonal) | (rookAttacks(sq, occ) & straight) |
                            (knightAttacks[sq] & p.knights) | (kingAttacks[sq] & p.kings) |
                            (tbPawnAttacks[by ^ 1][sq] & p.pawns));
}

bool tbInCheck(const TbPosition& p) {
    const int us = tbSideToMove(p);
    const u64 king = p.kings & tbSide(p, us);
    return king && tbAttackers(p, lsb(king), us ^ 1, tbOccupied(p));
}

TbMove* tbGenerateCaptures(const TbPosition& p, TbMove* out) {
    out = pawnMoves(p, out, false);
    return pieceMoves(p, out, tbSide(p, tbSideToMove(p) ^ 1));
}

TbMove* tbGenerateMoves(const TbPosition& p, TbMove* out) {
    out = pawnMoves(p, out, true);
    return pieceMoves(p, out, ~tbSide(p, tbSideToMove(p)));
}

bool tbIsEnPassant(const TbPosition& p, TbMove m) {
    return p.epSquare && tbTo(m) == p.epSquare && (p.pawns & bit(tbFrom(m)));
}

bool tbIsCapture(const TbPosition& p, TbMove m) {
    return (tbSide(p, tbSideToMove(p) ^ 1) & bit(tbTo(m))) || tbIsEnPassant(p, m);
}

bool tbIsZeroing(const TbPosition& p, TbMove m) { return (p.pawns & bit(tbFrom(m))) || tbIsCapture(p, m); }

bool tbDoMove(const TbPosition& p, TbMove m, TbPosition& next) {
    const int us = tbSideToMove(p), them = us ^ 1;
    const int from = tbFrom(m), to = tbTo(m), promotion = tbPromotion(m);
    const int type = tbTypeOn(p, from);
    next = p;
    u64& own = us == WHITE ? next.white : next.black;
    u64& enemy = us == WHITE ? next.black : next.white;
    bool zeroing = type == TB_PAWN;

    int victimSquare = to;
    if (type == TB_PAWN && p.epSquare && to == p.epSquare) victimSquare = us == WHITE ? to - 8 : to + 8;
    if (enemy & bit(victimSquare)) {
        const int victim = tbTypeOn(p, victimSquare);
        piecesOf(next, victim) &= ~bit(victimSquare);
        enemy &= ~bit(victimSquare);
        zeroing = true;
    }
    piecesOf(next, type) &= ~bit(from);
    piecesOf(next, promotion ? promotion : type) |= bit(to);
    own = (own & ~bit(from)) | bit(to);

    next.epSquare = 0;
    if (type == TB_PAWN && (to ^ from) == 16) {
        const int passed = (from + to) / 2;
        if (tbPawnAttacks[us][passed] & next.pawns & enemy) next.epSquare = u8(passed);
    }
    next.rule50 = zeroing ? 0 : u8(std::min(255, p.rule50 + 1));
    next.whiteToMove = !p.whiteToMove;

    const u64 king = next.kings & own;
    return !king || !tbAttackers(next, lsb(king), them, tbOccupied(next));
}

bool tbHasLegalMove(const TbPosition& p) {
    TbMove moves[TB_MAX_MOVES];
    const TbMove* end = tbGenerateMoves(p, moves);
    TbPosition next;
    for (const TbMove* m = moves; m < end; m++)
        if (tbDoMove(p, *m, next)) return true;
    return false;
}

bool tbIsMate(const TbPosition& p) { return tbInCheck(p) && !tbHasLegalMove(p); }

bool tbIsValid(const TbPosition& p) {
    if (p.white & p.black) return false;
    const u64 types[6] = {p.pawns, p.knights, p.bishops, p.rooks, p.queens, p.kings};
    u64 all = 0;
    for (u64 t : types) {
        if (all & t) return false;
        all |= t;
    }
    if (all != tbOccupied(p)) return false;
    if (popCount(p.kings & p.white) != 1 || popCount(p.kings & p.black) != 1) return false;
    if (p.pawns & (RANK_1 | RANK_8)) return false;
    if (p.epSquare) {
        // The pawn that double-stepped stands in front of the square, which is empty.
        const int pawnSquare = p.whiteToMove ? p.epSquare - 8 : p.epSquare + 8;
        if (rankOf(p.epSquare) != (p.whiteToMove ? 5 : 2)) return false;
        if (!(p.pawns & tbSide(p, tbSideToMove(p) ^ 1) & bit(pawnSquare)) || (tbOccupied(p) & bit(p.epSquare)))
            return false;
    }
    const int them = tbSideToMove(p) ^ 1;
    return !tbAttackers(p, lsb(p.kings & tbSide(p, them)), them ^ 1, tbOccupied(p));
}

TbPosition tbRandomPosition(const std::string& material, std::mt19937_64& rng) {
    for (;;) {
        TbPosition p{};
        p.whiteToMove = rng() & 1;
        u64* side = &p.white;
        for (char c : material) {
            if (c == 'v') {
                side = &p.black;
                continue;
            }
            int sq;
            do sq = int(rng() % 64);
            while (tbOccupied(p) & bit(sq));
            *side |= bit(sq);
            piecesOf(p, int(std::string(" PNBRQK").find(c))) |= bit(sq);
        }
        if (tbIsValid(p)) return p;  // also refuses pawns on the first and last ranks
    }
}

TbPosition tbFromPosition(const Position& pos, int ply, int rule50) {
    const u64* b = pos.pieces;
    TbPosition p;
    p.white = b[WHITE];
    p.black = b[BLACK];
    p.kings = b[WKING] | b[BKING];
    p.queens = b[WQUEEN] | b[BQUEEN];
    p.rooks = b[WROOK] | b[BROOK];
    p.bishops = b[WBISHOP] | b[BBISHOP];
    p.knights = b[WKNIGHT] | b[BKNIGHT];
    p.pawns = b[WPAWN] | b[BPAWN];
    p.rule50 = u8(std::clamp(rule50, 0, 255));
    p.whiteToMove = pos.sideToMove == WHITE;
    // The engine keeps the square of the pawn that double-stepped; the target
    // square lies behind it. Kept only when a pawn of the side to move can
    // capture there.
    p.epSquare = 0;
    const int doubled = pos.plyStack[ply].epSquare;
    if (doubled) {
        const int target = p.whiteToMove ? doubled + 8 : doubled - 8;
        const int us = pos.sideToMove;
        if (target >= 0 && target < 64 && (tbPawnAttacks[us ^ 1][target] & b[WPAWN + us])) p.epSquare = u8(target);
    }
    return p;
}
