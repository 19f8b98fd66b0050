#include "eval/evaluate.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "eval/nnue.h"
#include "eval/weights.h"

bool evalSymmetricPushTerms = false;

namespace {

constexpr Bitboard fileBB(int f) { return FILE_A << f; }

constexpr Bitboard DARK_SQUARES = 0xAA55AA55AA55AA55ULL;
constexpr Bitboard QUEEN_SIDE = fileBB(0) | fileBB(1) | fileBB(2) | fileBB(3);
constexpr Bitboard KING_SIDE = ~QUEEN_SIDE;
constexpr Bitboard CENTRE_FILES = fileBB(2) | fileBB(3) | fileBB(4) | fileBB(5);
constexpr Bitboard OUTPOST_RANKS[2] = {RANK_4 | RANK_5 | RANK_6, RANK_3 | RANK_4 | RANK_5};
constexpr Bitboard CAMP[2] = {RANK_1 | RANK_2 | RANK_3 | RANK_4 | RANK_5, RANK_4 | RANK_5 | RANK_6 | RANK_7 | RANK_8};
// Relative ranks 2-4, where a minor piece sheltered by a pawn counts.
constexpr Bitboard HOME_RANKS[2] = {RANK_2 | RANK_3 | RANK_4, RANK_7 | RANK_6 | RANK_5};
// The files a king's flank spans, by the king's file.
constexpr Bitboard KING_FLANK[8] = {
    fileBB(0) | fileBB(1) | fileBB(2),
    QUEEN_SIDE,
    QUEEN_SIDE,
    CENTRE_FILES,
    CENTRE_FILES,
    KING_SIDE,
    KING_SIDE,
    fileBB(5) | fileBB(6) | fileBB(7),
};

inline int msb(Bitboard b) { return 63 - std::countl_zero(b); }

template <int C>
constexpr Bitboard forward(Bitboard b) {
    return C == WHITE ? b << 8 : b >> 8;
}
template <int C>
constexpr Bitboard backwardOne(Bitboard b) {
    return C == WHITE ? b >> 8 : b << 8;
}
template <int C>
constexpr Bitboard pawnAttacksOf(Bitboard b) {
    return C == WHITE ? ((b & ~FILE_A) << 7) | ((b & ~FILE_H) << 9) : ((b & ~FILE_A) >> 9) | ((b & ~FILE_H) >> 7);
}
template <int C>
constexpr Bitboard pawnDoubleAttacksOf(Bitboard b) {
    return C == WHITE ? ((b & ~FILE_A) << 7) & ((b & ~FILE_H) << 9) : ((b & ~FILE_A) >> 9) & ((b & ~FILE_H) >> 7);
}
template <int C>
constexpr int relativeRank(int sq) {
    return C == WHITE ? rankOf(sq) : 7 - rankOf(sq);
}
// Index into the diagram-layout tables (a8 first): White mirrors, Black reads directly.
template <int C>
constexpr int diagramIndex(int sq) {
    return C == WHITE ? sq ^ 56 : sq;
}
// The pawn of the set nearest to colour C's home edge.
template <int C>
int nearestToHome(Bitboard b) {
    return C == WHITE ? lsb(b) : msb(b);
}

// ---------------------------------------------------------------------------
// Pawn structure and king pawn storm of colour C, from C's point of view.

template <int C>
Score pawnTerms(const Position& pos, Bitboard& passed) {
    constexpr int Them = C ^ 1;
    const Bitboard own = pos.pieces[WPAWN + C];
    const Bitboard enemy = pos.pieces[WPAWN + Them];
    const int k = pos.kingSquare(C);
    const int ek = pos.kingSquare(Them);
    const int f = std::clamp(fileOf(k), 1, 6);
    const int oneWing = (fileOf(k) < 4) == (fileOf(ek) < 4);
    Score score = 0;

    // Storm: the nearest own and enemy pawns ahead of the king (its own rank
    // included) on the king's three files.
    for (int x = f - 1; x <= f + 1; x++) {
        const Bitboard region = ranksAhead[C][k] & fileBB(x);
        const Bitboard o = region & own;
        const Bitboard e = region & enemy;
        const int dOwn = o ? std::abs(rankOf(k) - rankOf(nearestToHome<C>(o))) : 7;
        const int dEnemy = e ? std::abs(rankOf(k) - rankOf(nearestToHome<C>(e))) : 7;
        const int blocked = dEnemy != 7 && dOwn == dEnemy - 1;
        score += kingPawnTable[blocked + 2 * oneWing][x][dEnemy];
    }

    const Bitboard kingFiles = fileBB(f - 1) | fileBB(f) | fileBB(f + 1);
    Bitboard remaining = own;
    while (remaining) {
        const int s = popLsb(remaining);  // `remaining` now holds the pawns not yet visited
        const int t = C == WHITE ? s + 8 : s - 8;
        const int r = relativeRank<C>(s);
        const int x = fileOf(s);
        const Bitboard lever = enemy & pawnAttackers[Them][s];
        const Bitboard leverPush = enemy & pawnAttackers[Them][t];
        const Bitboard stoppers = enemy & frontSpan[C][s];
        const Bitboard support = own & pawnAttackers[C][s];
        const Bitboard phalanx = own & pawnAttackers[C][t];
        const bool nearKing = kingFiles & bit(s);

        if (!stoppers) {
            passed |= bit(s);
            score += distance[t][ek] * passedEnemyKing[r] + distance[t][k] * passedOwnKing[r] +
                     passedPawnSquare[diagramIndex<C>(s)];
        } else if (stoppers == (lever | leverPush) && popCount(phalanx) >= popCount(leverPush)) {
            score += candidatePassed[popCount(support) >= popCount(lever)][r];
        }
        if (!(adjacentFiles[s] & own)) {
            score += isolated[x];
            if (nearKing) score += isolatedNearKing;
        }
        if (remaining & fileBB(x)) {
            score += doubled[x];
            if (nearKing) score += doubledNearKing;
        }
        if (!(frontSpan[Them][s] & own) && leverPush) {
            if (nearKing) score += backwardNearKing;
            if (!(fileBB(x) & enemy)) score += backward[x];
        }
        if (support) score += supported[r];
        if (phalanx) score += phalanxBonus[r];
    }
    return score;
}

// ---------------------------------------------------------------------------
// Pieces, threats and king danger.

enum { KNIGHT_I = 0, BISHOP_I, ROOK_I, QUEEN_I };  // index of the piece tables

struct EvalState {
    Bitboard occ;
    Bitboard passed;
    Bitboard pawnAttacks[2];
    Bitboard pawnAttacks2[2];
    Bitboard blockedPawns[2];
    Bitboard pushTargets[2];
    Bitboard kingBlockers[2];   // [c]: pieces of either colour alone on a slider's line to c's king
    Bitboard mobilityArea[2];
    Bitboard attacked[2];
    Bitboard attacked2[2];
    Bitboard typeAttacks[2][4];  // knight..queen
    Score mobility[2];
    int attackerCount[2];
    int attackWeight[2];
    int kingAttackCount[2];
};

Bitboard kingBlockersOf(const Position& pos, int c, Bitboard occ) {
    const int them = c ^ 1;
    const int k = pos.kingSquare(c);
    const Bitboard queens = pos.pieces[WQUEEN + them];
    Bitboard snipers = (rookPseudoAttacks[k] & (pos.pieces[WROOK + them] | queens)) |
                       (bishopPseudoAttacks[k] & (pos.pieces[WBISHOP + them] | queens));
    Bitboard blockers = 0;
    while (snipers) {
        const Bitboard inBetween = between[k][popLsb(snipers)] & occ;
        if (inBetween && !moreThanOne(inBetween)) blockers |= inBetween;
    }
    return blockers;
}

void prepare(const Position& pos, EvalState& st) {
    const Bitboard occ = pos.occupancy();
    const Bitboard wp = pos.pieces[WPAWN], bp = pos.pieces[BPAWN];
    st.occ = occ;
    st.pawnAttacks[WHITE] = pawnAttacksOf<WHITE>(wp);
    st.pawnAttacks[BLACK] = pawnAttacksOf<BLACK>(bp);
    st.pawnAttacks2[WHITE] = pawnDoubleAttacksOf<WHITE>(wp);
    st.pawnAttacks2[BLACK] = pawnDoubleAttacksOf<BLACK>(bp);
    st.blockedPawns[WHITE] = wp & (occ >> 8);
    st.blockedPawns[BLACK] = bp & (occ << 8);
    const Bitboard wSingle = (wp << 8) & ~occ;
    const Bitboard bSingle = (bp >> 8) & ~occ;
    st.pushTargets[WHITE] = wSingle | (((wSingle & RANK_3 & ~st.pawnAttacks[BLACK]) << 8) & ~occ);
    st.pushTargets[BLACK] = bSingle | (((bSingle & RANK_6 & ~st.pawnAttacks[WHITE]) >> 8) & ~occ);
    st.kingBlockers[WHITE] = kingBlockersOf(pos, WHITE, occ);
    st.kingBlockers[BLACK] = kingBlockersOf(pos, BLACK, occ);
}

template <int C, int I>
Score pieceKind(const Position& pos, EvalState& st) {
    constexpr int Them = C ^ 1;
    constexpr int code = WKNIGHT + 2 * I + C;
    const int k = pos.kingSquare(C);
    const int ek = pos.kingSquare(Them);
    const Bitboard pinned = st.kingBlockers[C] & pos.pieces[C];
    const Bitboard discoverers = st.kingBlockers[Them] & pos.pieces[C];
    const Bitboard queens = pos.pieces[WQUEEN + C];
    const Bitboard bishopOcc = st.occ & ~queens;
    const Bitboard rookOcc = st.occ & ~(queens | pos.pieces[WROOK + C]);
    Score score = 0;
    for (Bitboard b = pos.pieces[code]; b;) {
        const int s = popLsb(b);
        Bitboard a;
        if constexpr (I == KNIGHT_I) a = knightAttacks[s];
        else if constexpr (I == BISHOP_I) a = bishopAttacks(s, bishopOcc);
        else if constexpr (I == ROOK_I) a = rookAttacks(s, rookOcc);
        else a = bishopAttacks(s, bishopOcc) | rookAttacks(s, rookOcc);

        if (pinned & bit(s)) {
            a &= line[k][s];
            score += pinnedPiece[(st.pawnAttacks[Them] & bit(s)) != 0][I];
        }
        if (discoverers & bit(s)) score += discoveredAttack[I];
        st.attacked2[C] |= a & st.attacked[C];
        st.attacked[C] |= a;
        st.typeAttacks[C][I] |= a;

        const int reach = popCount(a & st.mobilityArea[C]);
        if constexpr (I == KNIGHT_I) st.mobility[C] += knightMobility[reach];
        else if constexpr (I == BISHOP_I) st.mobility[C] += bishopMobility[reach];
        else if constexpr (I == ROOK_I) st.mobility[C] += rookMobility[reach];
        else st.mobility[C] += queenMobility[reach];

        if constexpr (I == KNIGHT_I || I == BISHOP_I) {
            if ((OUTPOST_RANKS[C] & bit(s)) && !(frontSpan[C][s] & adjacentFiles[s] & pos.pieces[WPAWN + Them]))
                score += outpost[I][(st.pawnAttacks[C] & bit(s)) != 0];
            score += distance[s][k] * minorKingDistance;
        }
        if constexpr (I == BISHOP_I) {
            const Bitboard sameColour = (DARK_SQUARES & bit(s)) ? DARK_SQUARES : ~DARK_SQUARES;
            score += popCount(st.blockedPawns[C] & sameColour) * bishopBlockedPawns;
        }
        if constexpr (I == ROOK_I) {
            const Bitboard file = fileBB(fileOf(s));
            if (!(file & pos.pieces[WPAWN + C]))
                score += (file & pos.pieces[WPAWN + Them]) ? rookSemiOpenFile : rookOpenFile;
        }
        if constexpr (I == ROOK_I || I == QUEEN_I) {
            if (relativeRank<C>(ek) >= 6 && relativeRank<C>(s) == 6)
                score += I == ROOK_I ? rookOnSeventh : queenOnSeventh;
        }
        if (a & kingZone[Them][ek]) {
            st.attackerCount[C]++;
            st.attackWeight[C] += kingAttackWeight[I];
            st.kingAttackCount[C] += popCount(a & kingAttacks[ek]);
        }
    }
    return score;
}

template <int C>
Score pieceTerms(const Position& pos, EvalState& st) {
    constexpr int Them = C ^ 1;
    const int k = pos.kingSquare(C);
    const int ek = pos.kingSquare(Them);
    const Bitboard own = pos.pieces[WPAWN + C];

    // Shelter: per file of the king zone, the own pawn nearest the home edge.
    const Bitboard zone = kingZone[C][k];
    const int f = std::clamp(fileOf(k), 1, 6);
    int shelter = 0;
    for (int x = f - 1; x <= f + 1; x++)
        if (const Bitboard b = zone & own & fileBB(x)) shelter += shelterSquare[diagramIndex<C>(nearestToHome<C>(b))];
    if (!pos.pieces[WQUEEN + Them]) shelter /= 2;
    Score score = X(shelter, 0);

    st.mobilityArea[C] = ~(bit(k) | st.pawnAttacks[Them] | st.blockedPawns[C]);
    st.attacked[C] = st.pawnAttacks[C] | kingAttacks[k];
    st.attacked2[C] = st.pawnAttacks2[C] | (st.pawnAttacks[C] & kingAttacks[k]);
    st.attackerCount[C] = popCount(st.pawnAttacks[C] & kingZone[Them][ek]);
    st.attackWeight[C] = 0;
    st.kingAttackCount[C] = 0;
    st.mobility[C] = 0;
    for (Bitboard& t : st.typeAttacks[C]) t = 0;

    score += pieceKind<C, KNIGHT_I>(pos, st);
    score += pieceKind<C, BISHOP_I>(pos, st);
    score += pieceKind<C, ROOK_I>(pos, st);
    score += pieceKind<C, QUEEN_I>(pos, st);
    return score;
}

template <int C>
Score pushTerm(const EvalState& st) {
    constexpr int Them = C ^ 1;
    return popCount(st.pushTargets[C] & (~st.attacked[Them] | st.attacked[C])) * pushMobility;
}

template <int C>
Score threatTerms(const Position& pos, EvalState& st) {
    constexpr int Them = C ^ 1;
    const int k = pos.kingSquare(C);
    const Bitboard ownPawns = pos.pieces[WPAWN + C];
    const Bitboard minors = pos.pieces[WKNIGHT + C] | pos.pieces[WBISHOP + C];
    const Bitboard rooks = pos.pieces[WROOK + C];
    const Bitboard queens = pos.pieces[WQUEEN + C];
    const Bitboard theirQueens = pos.pieces[WQUEEN + Them];

    // Black's push term normally arrives only here, after White's king
    // danger has read Black's mobility sum.
    if (!evalSymmetricPushTerms) st.mobility[C] += pushTerm<C>(st);

    const Bitboard underDefended = (st.attacked2[Them] & ~st.attacked2[C] & ~st.pawnAttacks[C]) |
                                   (st.attacked[Them] & ~st.attacked[C]);
    const Bitboard theirMinorAttacks = st.typeAttacks[Them][KNIGHT_I] | st.typeAttacks[Them][BISHOP_I];
    const Bitboard theirHeavyAttacks = st.typeAttacks[Them][ROOK_I] | st.typeAttacks[Them][QUEEN_I];

    Score score = popCount(minors & underDefended & theirHeavyAttacks) * minorHangingToHeavy;
    score += popCount(rooks & (theirMinorAttacks | st.pawnAttacks[Them])) * rookAttackedByLesser;
    score += popCount(queens & st.attacked[Them]) * queenAttacked;
    const Bitboard safePushes =
        st.pushTargets[C] & (~st.attacked[Them] | st.attacked[C]) & ~st.pawnAttacks[Them];
    score += popCount(pawnAttacksOf<C>(safePushes) & pos.pieces[Them] & ~st.pawnAttacks[C]) * safePawnPushThreat;
    score += popCount(minors & st.pawnAttacks[Them]) * minorAttackedByPawn;
    score += popCount(ownPawns & underDefended & ~st.pawnAttacks[Them]) * weakPawn;
    score += popCount((minors | rooks | queens) & st.attacked[Them] & st.attacked[C] & ~st.attacked2[C]) *
             pieceDefendedOnce;
    score += popCount(minors & theirMinorAttacks) * minorAttackedByMinor;
    score += popCount(forward<C>(st.passed & ownPawns) & st.attacked[C]) * passedStopControl;
    score += popCount(minors & backwardOne<C>(ownPawns) & HOME_RANKS[C]) * minorBehindPawn;

    const Bitboard behind = C == WHITE ? (ownPawns >> 8) | (ownPawns >> 16) | (ownPawns >> 24) | (ownPawns >> 32)
                                       : (ownPawns << 8) | (ownPawns << 16) | (ownPawns << 24) | (ownPawns << 32);
    const int space = popCount(behind & CENTRE_FILES & ~pos.pieces[C] & ~st.pawnAttacks[Them]);
    score += space * spaceWeight[std::min(popCount(pos.pieces[C]), 16)];

    const Bitboard flankFiles = KING_FLANK[fileOf(k)];
    if (!(flankFiles & ownPawns)) score += pawnlessFlank;

    if (st.attackerCount[Them] + popCount(theirQueens) > 1) {
        const Bitboard flank = CAMP[C] & flankFiles & st.attacked[Them];
        const int flankAttack = popCount(flank) + 2 * popCount(flank & st.attacked2[Them] & ~st.pawnAttacks[C]);
        const Bitboard ownQueenAttacks = st.typeAttacks[C][QUEEN_I];
        const Bitboard weak =
            st.attacked[Them] & ~st.attacked2[C] & (~st.attacked[C] | kingAttacks[k] | ownQueenAttacks);
        const Bitboard safe = ~pos.pieces[Them] & (~st.attacked[C] | (weak & st.attacked2[Them]));
        const Bitboard kingOcc = st.occ & ~queens;
        const Bitboard rookLines = rookAttacks(k, kingOcc);
        const Bitboard bishopLines = bishopAttacks(k, kingOcc);

        int danger = 0;
        Bitboard unsafeChecks = 0;
        if ((rookLines | bishopLines) & st.typeAttacks[Them][QUEEN_I] & safe & ~ownQueenAttacks)
            danger += queenCheckWeight;
        const Bitboard rookChecks = rookLines & st.typeAttacks[Them][ROOK_I];
        if (rookChecks & safe) danger += rookCheckWeight;
        else unsafeChecks |= rookChecks;
        const Bitboard bishopChecks = bishopLines & st.typeAttacks[Them][BISHOP_I];
        if (bishopChecks & safe) danger += bishopCheckWeight;
        else unsafeChecks |= bishopChecks;
        const Bitboard knightChecks = knightAttacks[k] & st.typeAttacks[Them][KNIGHT_I];
        if (knightChecks & safe) danger += knightCheckWeight;
        else unsafeChecks |= knightChecks;

        danger += unsafeCheckWeight * popCount(unsafeChecks & st.mobilityArea[Them]);
        danger += weakKingZoneWeight * popCount(kingZone[C][k] & weak);
        danger += (mgScore(st.mobility[Them]) - mgScore(st.mobility[C])) / 2;
        danger += st.attackerCount[Them] * st.attackWeight[Them];
        danger += kingAttackCountWeight * st.kingAttackCount[Them];
        if (!theirQueens) danger += noQueenDanger;
        danger += flankAttackWeight * (flankAttack - flankAttackOffset);
        danger += pinnedNearKingWeight * popCount(st.kingBlockers[C] & pos.pieces[C] & kingZone[C][k]);
        if (danger > kingDangerThreshold) score -= X(danger * danger / 4096, danger / 32);
    }
    return score + st.mobility[C];
}

Score materialBalance(const Position& pos) {
    return (pos.material[WHITE] - pos.material[BLACK]) + (pos.psq[WHITE] - pos.psq[BLACK]);
}

// White-relative packed total of the hand-written evaluation, tempo and
// complexity included, before the taper.
Score handWrittenTotal(Position& pos, Score balance) {
    PawnCacheEntry& pawnEntry = pos.pawnCache[pos.pawnKingKey & (PAWN_CACHE_ENTRIES - 1)];
    if (pawnEntry.key != pos.pawnKingKey) {
        pawnEntry.score = evalterms::pawnStructure(pos, &pawnEntry.passedPawns);
        pawnEntry.key = pos.pawnKingKey;
    }

    EvalState st;
    prepare(pos, st);
    st.passed = pawnEntry.passedPawns;
    Score total = balance + pawnEntry.score;
    total += pieceTerms<WHITE>(pos, st);
    total -= pieceTerms<BLACK>(pos, st);
    if (evalSymmetricPushTerms) {
        st.mobility[WHITE] += pushTerm<WHITE>(st);
        st.mobility[BLACK] += pushTerm<BLACK>(st);
    }
    total += threatTerms<WHITE>(pos, st);
    total -= threatTerms<BLACK>(pos, st);

    if (popCount(pos.pieces[WBISHOP]) == 2) total += bishopPair;
    if (popCount(pos.pieces[BBISHOP]) == 2) total -= bishopPair;

    const Bitboard pawns = pos.pieces[WPAWN] | pos.pieces[BPAWN];
    const bool pawnEnding = (st.occ & ~pawns) == (pos.pieces[WKING] | pos.pieces[BKING]);
    total = evalterms::applyComplexity(total, pawns, pawnEnding);
    return total + (pos.sideToMove == WHITE ? tempoBonus : -tempoBonus);
}

int handWritten(Position& pos, Score balance) { return evalterms::taper(handWrittenTotal(pos, balance), pos.phase); }

}  // namespace

namespace evalterms {

Score pawnStructure(const Position& pos, u64* passed) {
    Bitboard found = 0;
    const Score score = pawnTerms<WHITE>(pos, found) - pawnTerms<BLACK>(pos, found);
    *passed = found;
    return score;
}

Score applyComplexity(Score total, u64 pawns, bool pawnEnding) {
    const int eg = egScore(total);
    const bool bothFlanks = (pawns & QUEEN_SIDE) && (pawns & KING_SIDE);
    const int complexity = complexityPawn * popCount(pawns) + complexityBothFlanks * bothFlanks +
                           complexityPawnEnding * pawnEnding + complexityOffset;
    const int v = std::max(complexity, -std::abs(eg));
    const int sign = (eg > 0) - (eg < 0);
    return total + X(0, sign * v);
}

Score handWrittenTotal(Position& pos) { return ::handWrittenTotal(pos, materialBalance(pos)); }

int taper(Score total, int phase) {
    const int ph = std::clamp(phase, 0, 24);
    return (mgScore(total) * ph + egScore(total) * (24 - ph)) / 24;
}

}  // namespace evalterms

void attachEvalCaches(Position& pos, EvalCaches& caches) {
    pos.pawnCache = caches.pawn;
    pos.evalCache = caches.eval;
}

void clearEvalCaches(EvalCaches& caches) { std::memset(&caches, 0, sizeof caches); }

int middleGameBalance(const Position& pos) { return mgScore(materialBalance(pos)); }

bool networkEvaluates(const Position& pos) { return std::abs(middleGameBalance(pos)) < handWrittenBalance; }

#ifdef VELMORA_HANDWRITTEN_EVERYWHERE
bool handWrittenEverywhere = true;
#else
bool handWrittenEverywhere = false;
#endif

namespace {

bool handWrittenAnswers(Score balance) {
    return std::abs(mgScore(balance)) >= handWrittenBalance || !netLoaded || handWrittenEverywhere;
}

i16 sideToMoveHandWritten(Position& pos, Score balance) {
    const int white = handWritten(pos, balance);
    return i16(pos.sideToMove == WHITE ? white : -white);
}

}  // namespace

i16 evaluateHandWritten(Position& pos) { return sideToMoveHandWritten(pos, materialBalance(pos)); }

i16 evaluateWithNetworkScore(Position& pos, i16 networkScore) {
    const Score balance = materialBalance(pos);
    return handWrittenAnswers(balance) ? sideToMoveHandWritten(pos, balance) : networkScore;
}

i16 evaluate(int ply, Position& pos) {
    EvalCacheEntry& entry = pos.evalCache[pos.key & (EVAL_CACHE_ENTRIES - 1)];
    if (entry.key == pos.key) return i16(pos.sideToMove == WHITE ? entry.score : -entry.score);

    const Score balance = materialBalance(pos);
    const i16 v = handWrittenAnswers(balance) ? sideToMoveHandWritten(pos, balance) : evaluateNetwork(pos, ply);
    entry.key = pos.key;
    entry.score = i16(pos.sideToMove == WHITE ? v : -v);
    return v;
}
