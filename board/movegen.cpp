#include "board/movegen.h"

#include <initializer_list>

#include "board/attacks.h"

bool chess960 = false;

namespace {

// Capture scores for the move picker: 8 x victim code minus a small amount for
// the attacker, so that cheaper attackers come first among equal victims.
constexpr int PAWN_CAPTURE = 2, PROMO_CAPTURE = 14, KNIGHT_CAPTURE = 4, BISHOP_CAPTURE = 6,
              ROOK_CAPTURE = 8, QUEEN_CAPTURE = 10, KING_CAPTURE = 12;
constexpr int EP_SCORE = 14;

constexpr int PROMO_ORDER[4] = {FLAG_PROMO_Q, FLAG_PROMO_R, FLAG_PROMO_B, FLAG_PROMO_N};

inline Move* addPromotions(Move* out, int from, int to, int score) {
    for (int flag : PROMO_ORDER) *out++ = makeMove(from, to, flag, score);
    return out;
}

inline Move* finish(int ply, Move* out, Position& pos) {
    pos.plyStack[ply].moveListEnd = out;
    pos.plyStack[ply + 1].moveListBegin = out;
    return out;
}

template <int Us>
constexpr u64 shiftUp(u64 b) { return Us == WHITE ? b << 8 : b >> 8; }
template <int Us>
constexpr int upDelta() { return Us == WHITE ? 8 : -8; }

// Pawn captures in the fixed direction order: White towards h (+9) then
// towards a (+7); Black towards a (-9) then towards h (-7). Within one
// direction the promotions come first.
template <int Us, bool QueenOnly>
Move* pawnCaptures(Move* out, const Position& pos, u64 pawns, u64 targets) {
    constexpr u64 lastRank = Us == WHITE ? RANK_8 : RANK_1;
    constexpr int d1 = Us == WHITE ? 9 : -9, d2 = Us == WHITE ? 7 : -7;
    u64 first = Us == WHITE ? (pawns & ~FILE_H) << 9 : (pawns & ~FILE_A) >> 9;
    u64 second = Us == WHITE ? (pawns & ~FILE_A) << 7 : (pawns & ~FILE_H) >> 7;
    for (int dir = 0; dir < 2; dir++) {
        u64 att = (dir == 0 ? first : second) & targets;
        int d = dir == 0 ? d1 : d2;
        for (u64 b = att & lastRank; b;) {
            int to = popLsb(b);
            int score = 8 * pos.board[to] - PROMO_CAPTURE;
            if (QueenOnly)
                *out++ = makeMove(to - d, to, FLAG_PROMO_Q, score);
            else
                out = addPromotions(out, to - d, to, score);
        }
        for (u64 b = att & ~lastRank; b;) {
            int to = popLsb(b);
            *out++ = makeMove(to - d, to, FLAG_NORMAL, 8 * pos.board[to] - PAWN_CAPTURE);
        }
    }
    return out;
}

template <int Us>
Move* pieceCaptures(Move* out, const Position& pos, u64 notPinned, u64 occ, u64 enemies) {
    for (u64 b = pos.pieces[WKNIGHT + Us] & notPinned; b;) {
        int from = popLsb(b);
        for (u64 t = knightAttacks[from] & enemies; t;) {
            int to = popLsb(t);
            *out++ = makeMove(from, to, FLAG_NORMAL, 8 * pos.board[to] - KNIGHT_CAPTURE);
        }
    }
    for (u64 b = pos.pieces[WBISHOP + Us]; b;) {
        int from = popLsb(b);
        for (u64 t = bishopAttacks(from, occ) & enemies; t;) {
            int to = popLsb(t);
            *out++ = makeMove(from, to, FLAG_NORMAL, 8 * pos.board[to] - BISHOP_CAPTURE);
        }
    }
    for (u64 b = pos.pieces[WROOK + Us]; b;) {
        int from = popLsb(b);
        for (u64 t = rookAttacks(from, occ) & enemies; t;) {
            int to = popLsb(t);
            *out++ = makeMove(from, to, FLAG_NORMAL, 8 * pos.board[to] - ROOK_CAPTURE);
        }
    }
    for (u64 b = pos.pieces[WQUEEN + Us]; b;) {
        int from = popLsb(b);
        for (u64 t = queenAttacks(from, occ) & enemies; t;) {
            int to = popLsb(t);
            *out++ = makeMove(from, to, FLAG_NORMAL, 8 * pos.board[to] - QUEEN_CAPTURE);
        }
    }
    return out;
}

template <int Us>
Move* kingCaptures(Move* out, const Position& pos, u64 enemies) {
    int from = pos.kingSquare(Us);
    for (u64 t = kingAttacks[from] & enemies; t;) {
        int to = popLsb(t);
        *out++ = makeMove(from, to, FLAG_NORMAL, 8 * pos.board[to] - KING_CAPTURE);
    }
    return out;
}

template <int Us>
Move* enPassant(Move* out, const Position& pos, int ep, int score) {
    for (u64 b = epAdjacent[ep] & pos.pieces[WPAWN + Us]; b;) *out++ = makeMove(popLsb(b), ep, FLAG_EP, score);
    return out;
}

// The en-passant capture removes two pawns from one rank at once, which the
// pin mask cannot see; this tests the king's lines with the final occupancy.
template <int Us>
bool epIsLegal(const Position& pos, int from, int ep) {
    constexpr int Them = Us ^ 1;
    int k = pos.kingSquare(Us);
    int landing = ep + upDelta<Us>();
    u64 occ = pos.occupancy() ^ bit(from) ^ bit(ep) ^ bit(landing);
    const u64* p = pos.pieces;
    return !(bishopAttacks(k, occ) & (p[WBISHOP + Them] | p[WQUEEN + Them])) &&
           !(rookAttacks(k, occ) & (p[WROOK + Them] | p[WQUEEN + Them]));
}

template <int Us>
void evasions(int ply, Move* out, Position& pos) {
    constexpr int Them = Us ^ 1;
    const u64* p = pos.pieces;
    const int k = pos.kingSquare(Us);
    const u64 occ = pos.occupancy();
    const u64 checkers = (rookAttacks(k, occ) & (p[WROOK + Them] | p[WQUEEN + Them])) |
                         (bishopAttacks(k, occ) & (p[WBISHOP + Them] | p[WQUEEN + Them])) |
                         (pawnAttackers[Them][k] & p[WPAWN + Them]) | (knightAttacks[k] & p[WKNIGHT + Them]);

    // King moves, with the king lifted off the board so sliders see through it.
    const u64 occNoKing = occ ^ bit(k);
    const bool single = !moreThanOne(checkers);
    for (u64 t = kingAttacks[k] & ~p[Us]; t;) {
        int to = popLsb(t);
        if (isSquareAttacked(pos, to, Them, occNoKing)) continue;
        int victim = pos.board[to];
        int score = 202;
        if (victim) score = (victim - ((single && (checkers & bit(to))) ? 35 : 36)) & 255;
        *out++ = makeMove(k, to, FLAG_NORMAL, score);
    }

    if (single && checkers) {
        const int s = lsb(checkers);
        const u64 block = between[k][s];
        const u64 notPinned = pos.plyStack[ply].notPinned;
        const u64 pawns = p[WPAWN + Us] & notPinned;
        constexpr u64 lastRank = Us == WHITE ? RANK_8 : RANK_1;

        // Pawn captures of the checker.
        u64 first = Us == WHITE ? (pawns & ~FILE_H) << 9 : (pawns & ~FILE_A) >> 9;
        u64 second = Us == WHITE ? (pawns & ~FILE_A) << 7 : (pawns & ~FILE_H) >> 7;
        constexpr int d1 = Us == WHITE ? 9 : -9, d2 = Us == WHITE ? 7 : -7;
        if (first & checkers) {
            if (checkers & lastRank)
                out = addPromotions(out, s - d1, s, 250);
            else
                *out++ = makeMove(s - d1, s, FLAG_NORMAL, 250);
        }
        if (second & checkers) {
            if (checkers & lastRank)
                out = addPromotions(out, s - d2, s, 250);
            else
                *out++ = makeMove(s - d2, s, FLAG_NORMAL, 250);
        }
        const int ep = pos.plyStack[ply].epSquare;
        if (ep && ep == s)
            for (u64 b = epAdjacent[s] & pawns; b;) {
                int from = popLsb(b);
                if (epIsLegal<Us>(pos, from, ep)) *out++ = makeMove(from, ep, FLAG_EP, 250);
            }

        // Pawn pushes onto the blocking squares.
        if (block) {
            const u64 empty = ~occ;
            u64 single1 = shiftUp<Us>(pawns) & empty;
            constexpr u64 thirdRank = Us == WHITE ? RANK_3 : RANK_6;
            u64 double2 = shiftUp<Us>(single1 & thirdRank) & empty & block;
            single1 &= block;
            constexpr int up = upDelta<Us>();
            for (u64 b = single1 & lastRank; b;) {
                int to = popLsb(b);
                out = addPromotions(out, to - up, to, 210);
            }
            for (u64 b = single1 & ~lastRank; b;) {
                int to = popLsb(b);
                *out++ = makeMove(to - up, to, FLAG_NORMAL, 210);
            }
            for (u64 b = double2; b;) {
                int to = popLsb(b);
                *out++ = makeMove(to - 2 * up, to, FLAG_DOUBLE, 210);
            }
        }

        const u64 targets = block | checkers;
        auto pieceMoves = [&](int code, int captureScore, int blockScore, auto attacksOf) {
            for (u64 b = p[code] & notPinned; b;) {
                int from = popLsb(b);
                for (u64 t = attacksOf(from) & targets; t;) {
                    int to = popLsb(t);
                    *out++ = makeMove(from, to, FLAG_NORMAL, to == s ? captureScore : blockScore);
                }
            }
        };
        pieceMoves(WKNIGHT + Us, 236, 206, [](int sq) { return knightAttacks[sq]; });
        pieceMoves(WBISHOP + Us, 235, 205, [occ](int sq) { return bishopAttacks(sq, occ); });
        pieceMoves(WROOK + Us, 234, 204, [occ](int sq) { return rookAttacks(sq, occ); });
        pieceMoves(WQUEEN + Us, 233, 203, [occ](int sq) { return queenAttacks(sq, occ); });
    }
    finish(ply, out, pos);
}

template <int Us>
void captures(int ply, Move* out, Position& pos) {
    constexpr int Them = Us ^ 1;
    PlyState& st = pos.plyStack[ply];
    st.notPinned = computeNotPinned(pos);
    if (st.inCheck) {
        evasions<Us>(ply, out, pos);
        st.pickStage = 99;
        return;
    }
    const u64 enemies = pos.pieces[Them];
    const u64 occ = pos.occupancy();
    out = pawnCaptures<Us, false>(out, pos, pos.pieces[WPAWN + Us], enemies);
    out = pieceCaptures<Us>(out, pos, st.notPinned, occ, enemies);
    if (st.epSquare) out = enPassant<Us>(out, pos, st.epSquare, EP_SCORE);
    out = kingCaptures<Us>(out, pos, enemies);
    finish(ply, out, pos);
}

// Castling moves whose path is empty and whose crossed squares are not
// attacked; the king's destination is left to the legality test.
template <int Us>
Move* castlingMoves(Move* out, const Position& pos, u8 rights) {
    constexpr int Them = Us ^ 1;
    const u64 occ = pos.occupancy();
    const int k = pos.kingSquare(Us);
    for (int side = 0; side < 2; side++) {
        const u8 right = u8((side == 0 ? CASTLE_WK : CASTLE_WQ) << Us);
        if (!(rights & right)) continue;
        const int r = pos.castleRookSquare[Us + 2 * side];
        const int d = (Us == WHITE ? 0 : 56) + (side == 0 ? 6 : 2);
        const int e = (Us == WHITE ? 0 : 56) + (side == 0 ? 5 : 3);
        const u64 others = occ ^ bit(k) ^ bit(r);
        if ((between[k][d] | between[r][e] | bit(d) | bit(e)) & others) continue;
        bool attacked = false;
        for (u64 b = between[k][d]; b && !attacked;) attacked = isSquareAttacked(pos, popLsb(b), Them, occ);
        if (!attacked) *out++ = makeMove(k, d, side == 0 ? FLAG_CASTLE_K : FLAG_CASTLE_Q);
    }
    return out;
}

template <int Us>
void quiets(int ply, Move* out, Position& pos) {
    const PlyState& st = pos.plyStack[ply];
    const u64* p = pos.pieces;
    const u64 occ = pos.occupancy();
    const u64 empty = ~occ;
    constexpr u64 lastRank = Us == WHITE ? RANK_8 : RANK_1;
    constexpr u64 thirdRank = Us == WHITE ? RANK_3 : RANK_6;
    constexpr int up = upDelta<Us>();

    const u64 pushes = shiftUp<Us>(p[WPAWN + Us]) & empty;
    for (u64 b = pushes & lastRank; b;) {
        int to = popLsb(b);
        out = addPromotions(out, to - up, to, 0);
    }
    for (u64 b = pushes & ~lastRank; b;) {
        int to = popLsb(b);
        *out++ = makeMove(to - up, to, FLAG_NORMAL);
    }
    for (u64 b = shiftUp<Us>(pushes & thirdRank) & empty; b;) {
        int to = popLsb(b);
        *out++ = makeMove(to - 2 * up, to, FLAG_DOUBLE);
    }

    if ((st.castlingRights & (5 << Us)) && !st.inCheck) out = castlingMoves<Us>(out, pos, st.castlingRights);

    for (u64 b = p[WKNIGHT + Us] & st.notPinned; b;) {
        int from = popLsb(b);
        for (u64 t = knightAttacks[from] & empty; t;) *out++ = makeMove(from, popLsb(t), FLAG_NORMAL);
    }
    for (u64 b = p[WBISHOP + Us]; b;) {
        int from = popLsb(b);
        for (u64 t = bishopAttacks(from, occ) & empty; t;) *out++ = makeMove(from, popLsb(t), FLAG_NORMAL);
    }
    for (u64 b = p[WROOK + Us]; b;) {
        int from = popLsb(b);
        for (u64 t = rookAttacks(from, occ) & empty; t;) *out++ = makeMove(from, popLsb(t), FLAG_NORMAL);
    }
    for (u64 b = p[WQUEEN + Us]; b;) {
        int from = popLsb(b);
        for (u64 t = queenAttacks(from, occ) & empty; t;) *out++ = makeMove(from, popLsb(t), FLAG_NORMAL);
    }
    const int k = pos.kingSquare(Us);
    for (u64 t = kingAttacks[k] & empty; t;) *out++ = makeMove(k, popLsb(t), FLAG_NORMAL);
    finish(ply, out, pos);
}

template <int Us>
void quiescenceCaptures(int ply, Move* out, Position& pos) {
    constexpr int Them = Us ^ 1;
    PlyState& st = pos.plyStack[ply];
    st.notPinned = computeNotPinned(pos);
    if (st.inCheck) {
        evasions<Us>(ply, out, pos);
        return;
    }
    const u64 enemies = pos.pieces[Them];
    const u64 occ = pos.occupancy();
    out = pawnCaptures<Us, true>(out, pos, pos.pieces[WPAWN + Us], enemies);
    out = pieceCaptures<Us>(out, pos, st.notPinned, occ, enemies);
    out = kingCaptures<Us>(out, pos, enemies);
    if (st.epSquare) out = enPassant<Us>(out, pos, st.epSquare, EP_SCORE);
    constexpr u64 lastRank = Us == WHITE ? RANK_8 : RANK_1;
    constexpr int up = upDelta<Us>();
    for (u64 b = shiftUp<Us>(pos.pieces[WPAWN + Us]) & ~occ & lastRank; b;) {
        int to = popLsb(b);
        *out++ = makeMove(to - up, to, FLAG_PROMO_Q, 1);
    }
    finish(ply, out, pos);
}

template <int Us>
void recaptures(int ply, Move* out, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    st.notPinned = computeNotPinned(pos);
    if (st.inCheck) {
        evasions<Us>(ply, out, pos);
        return;
    }
    const int t = pos.plyStack[ply - 1].currentMove.to;
    const u64* p = pos.pieces;
    const u64 occ = pos.occupancy();
    const u64 target = bit(t) & p[Us ^ 1];
    if (target) {
        out = pawnCaptures<Us, true>(out, pos, p[WPAWN + Us], target);
        const int victim = 8 * pos.board[t];
        for (u64 b = knightAttacks[t] & p[WKNIGHT + Us]; b;)
            *out++ = makeMove(popLsb(b), t, FLAG_NORMAL, victim - KNIGHT_CAPTURE);
        const u64 diag = bishopAttacks(t, occ), orth = rookAttacks(t, occ);
        for (u64 b = diag & p[WBISHOP + Us]; b;) *out++ = makeMove(popLsb(b), t, FLAG_NORMAL, victim - BISHOP_CAPTURE);
        for (u64 b = orth & p[WROOK + Us]; b;) *out++ = makeMove(popLsb(b), t, FLAG_NORMAL, victim - ROOK_CAPTURE);
        for (u64 b = (diag | orth) & p[WQUEEN + Us]; b;)
            *out++ = makeMove(popLsb(b), t, FLAG_NORMAL, victim - QUEEN_CAPTURE);
        for (u64 b = kingAttacks[t] & p[WKING + Us]; b;)
            *out++ = makeMove(popLsb(b), t, FLAG_NORMAL, victim - KING_CAPTURE);
    }
    if (st.epSquare) out = enPassant<Us>(out, pos, st.epSquare, EP_SCORE);
    finish(ply, out, pos);
}

template <int Us>
bool legal(int ply, Move m, Position& pos) {
    constexpr int Them = Us ^ 1;
    const u64* p = pos.pieces;
    const int from = m.from, to = m.to;
    const int piece = pos.board[from];
    const u64 occ = pos.occupancy();

    if (m.flag == FLAG_EP) return epIsLegal<Us>(pos, from, to);

    if (piece != WKING + Us) {
        if (pos.plyStack[ply].notPinned & bit(from)) return true;
        const int k = pos.kingSquare(Us);
        u64 occ2 = occ ^ bit(from);
        if (!pos.board[to]) occ2 ^= bit(to);
        const u64 notT = ~bit(to);
        return !(bishopAttacks(k, occ2) & (p[WBISHOP + Them] | p[WQUEEN + Them]) & notT) &&
               !(rookAttacks(k, occ2) & (p[WROOK + Them] | p[WQUEEN + Them]) & notT);
    }

    if (isCastling(m.flag) && chess960) {
        // Chess960: test the king's new square with the occupancy after the
        // castling (only enemy pieces attack, so the rook bitboard may stay).
        const int r = pos.castleRookSquare[Us + (m.flag == FLAG_CASTLE_Q ? 2 : 0)];
        const int e = m.flag == FLAG_CASTLE_K ? to - 1 : to + 1;
        // A square left by one piece and reached by the other stays occupied.
        const u64 occ2 = (occ & ~bit(from) & ~bit(r)) | bit(to) | bit(e);
        return !isSquareAttacked(pos, to, Them, occ2);
    }

    u64 occ2 = occ ^ bit(from);
    if (!pos.board[to]) occ2 ^= bit(to);
    return !isSquareAttacked(pos, to, Them, occ2);
}

// The common case needs no attack test: a piece that is not pinned, other
// than the king, and not capturing en passant.
template <int Us>
inline bool legalFast(int ply, Move m, Position& pos, int kingSq) {
    if (m.flag != FLAG_EP && m.from != kingSq && (pos.plyStack[ply].notPinned & bit(m.from))) return true;
    return legal<Us>(ply, m, pos);
}

template <int Us>
void legalList(int ply, Move* out, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    captures<Us>(ply, out, pos);
    if (st.inCheck) return;
    quiets<Us>(ply, st.moveListEnd, pos);
    const int k = pos.kingSquare(Us);
    Move* cursor = out;
    Move* last = st.moveListEnd - 1;
    while (cursor <= last) {
        if (legalFast<Us>(ply, *cursor, pos, k))
            cursor++;
        else
            *cursor = *last--;
    }
    finish(ply, last + 1, pos);
}

// Pawn moves of a set of pawns whose destinations must lie in `allowed`;
// a move onto the last rank counts four times.
template <int Us>
u64 countPawnMoves(u64 pawns, u64 allowed, u64 empty, u64 enemies) {
    constexpr u64 lastRank = Us == WHITE ? RANK_8 : RANK_1;
    constexpr u64 thirdRank = Us == WHITE ? RANK_3 : RANK_6;
    const u64 single = shiftUp<Us>(pawns) & empty;
    const u64 twice = shiftUp<Us>(single & thirdRank) & empty;
    const u64 left = (Us == WHITE ? (pawns & ~FILE_A) << 7 : (pawns & ~FILE_A) >> 9) & enemies;
    const u64 right = (Us == WHITE ? (pawns & ~FILE_H) << 9 : (pawns & ~FILE_H) >> 7) & enemies;
    u64 n = 0;
    for (u64 t : {single, left, right}) {
        t &= allowed;
        n += popCount(t & ~lastRank) + 4 * popCount(t & lastRank);
    }
    return n + popCount(twice & allowed);
}

// Counts the legal moves of a side not in check without listing them: a
// piece that is not pinned may go to each of its targets, a pinned one only
// along the line through its king. King moves, en passant and castling are
// tested one by one.
template <int Us>
u64 countQuietPosition(int ply, Move* out, Position& pos) {
    constexpr int Them = Us ^ 1;
    PlyState& st = pos.plyStack[ply];
    const u64* p = pos.pieces;
    const int k = pos.kingSquare(Us);
    const u64 occ = pos.occupancy(), own = p[Us], empty = ~occ;
    const u64 notPinned = st.notPinned = computeNotPinned(pos);
    u64 n = 0;

    for (u64 b = p[WKNIGHT + Us] & notPinned; b;) n += popCount(knightAttacks[popLsb(b)] & ~own);
    auto sliders = [&](u64 b, auto attacksOf) {
        while (b) {
            const int from = popLsb(b);
            u64 t = attacksOf(from) & ~own;
            if (!(notPinned & bit(from))) t &= line[k][from];
            n += popCount(t);
        }
    };
    sliders(p[WBISHOP + Us] | p[WQUEEN + Us], [occ](int sq) { return bishopAttacks(sq, occ); });
    sliders(p[WROOK + Us] | p[WQUEEN + Us], [occ](int sq) { return rookAttacks(sq, occ); });

    const u64 pawns = p[WPAWN + Us];
    n += countPawnMoves<Us>(pawns & notPinned, ~u64(0), empty, p[Them]);
    for (u64 b = pawns & ~notPinned; b;) {
        const int from = popLsb(b);
        n += countPawnMoves<Us>(bit(from), line[k][from], empty, p[Them]);
    }
    if (st.epSquare)
        for (u64 b = epAdjacent[st.epSquare] & pawns; b;) n += epIsLegal<Us>(pos, popLsb(b), st.epSquare);

    for (u64 t = kingAttacks[k] & ~own; t;) n += !isSquareAttacked(pos, popLsb(t), Them, occ ^ bit(k));

    if (st.castlingRights & (5 << Us)) {
        Move* end = castlingMoves<Us>(out, pos, st.castlingRights);
        for (Move* m = out; m < end; m++) n += legal<Us>(ply, *m, pos);
    }
    return n;
}

template <int Us>
u64 countLegalMoves(int ply, Move* out, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    if (st.inCheck) {
        captures<Us>(ply, out, pos);
        return u64(st.moveListEnd - out);
    }
    return countQuietPosition<Us>(ply, out, pos);
}

}  // namespace

u64 computeNotPinned(const Position& pos) {
    const int us = pos.sideToMove, them = us ^ 1;
    const int k = pos.kingSquare(us);
    const u64* p = pos.pieces;
    const u64 occ = pos.occupancy();
    u64 pinned = 0;
    u64 snipers = (rookPseudoAttacks[k] & (p[WROOK + them] | p[WQUEEN + them])) |
                  (bishopPseudoAttacks[k] & (p[WBISHOP + them] | p[WQUEEN + them]));
    while (snipers) {
        u64 blockers = between[k][popLsb(snipers)] & occ;
        if (blockers && !moreThanOne(blockers)) pinned |= blockers;
    }
    return ~(p[us] & pinned);
}

void generateCaptures(int ply, Move* out, Position& pos) {
    pos.sideToMove == WHITE ? captures<WHITE>(ply, out, pos) : captures<BLACK>(ply, out, pos);
}

void generateQuiets(int ply, Move* out, Position& pos) {
    pos.sideToMove == WHITE ? quiets<WHITE>(ply, out, pos) : quiets<BLACK>(ply, out, pos);
}

void generateEvasions(int ply, Move* out, Position& pos) {
    pos.sideToMove == WHITE ? evasions<WHITE>(ply, out, pos) : evasions<BLACK>(ply, out, pos);
}

void generateQuiescenceCaptures(int ply, Move* out, Position& pos) {
    pos.sideToMove == WHITE ? quiescenceCaptures<WHITE>(ply, out, pos) : quiescenceCaptures<BLACK>(ply, out, pos);
}

void generateRecaptures(int ply, Move* out, Position& pos) {
    pos.sideToMove == WHITE ? recaptures<WHITE>(ply, out, pos) : recaptures<BLACK>(ply, out, pos);
}

bool isLegal(int ply, Move move, Position& pos) {
    return pos.sideToMove == WHITE ? legal<WHITE>(ply, move, pos) : legal<BLACK>(ply, move, pos);
}

void generateLegal(int ply, Move* out, Position& pos) {
    pos.plyStack[ply].inCheck = isInCheck(pos);
    pos.sideToMove == WHITE ? legalList<WHITE>(ply, out, pos) : legalList<BLACK>(ply, out, pos);
}

u64 countLegal(int ply, Move* out, Position& pos) {
    pos.plyStack[ply].inCheck = isInCheck(pos);
    return pos.sideToMove == WHITE ? countLegalMoves<WHITE>(ply, out, pos) : countLegalMoves<BLACK>(ply, out, pos);
}

bool castlingIsPseudoLegal(int ply, Move move, Position& pos) {
    const PlyState& st = pos.plyStack[ply];
    if (st.inCheck || !(st.castlingRights & (5 << pos.sideToMove))) return false;
    Move list[2];
    Move* end = pos.sideToMove == WHITE ? castlingMoves<WHITE>(list, pos, st.castlingRights)
                                        : castlingMoves<BLACK>(list, pos, st.castlingRights);
    for (Move* m = list; m < end; m++)
        if (sameMove(*m, move)) return true;
    return false;
}
