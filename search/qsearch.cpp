// The quiescence search, the static exchange test, and the draw and legality
// tests shared with alpha-beta.
#include <algorithm>

#include "board/attacks.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/tt.h"

bool searchSelectivityOff = false;

namespace {

// Exchange values by piece code (empty square 0).
constexpr int SEE_VALUE[14] = {0, 0, 88, 88, 372, 372, 372, 372, 566, 566, 1184, 1184, 10000, 10000};

u64 attackersTo(const Position& pos, int sq, u64 occ) {
    const u64* p = pos.pieces;
    return (pawnAttackers[WHITE][sq] & p[WPAWN]) | (pawnAttackers[BLACK][sq] & p[BPAWN]) |
           (knightAttacks[sq] & (p[WKNIGHT] | p[BKNIGHT])) | (kingAttacks[sq] & (p[WKING] | p[BKING])) |
           (bishopAttacks(sq, occ) & (p[WBISHOP] | p[BBISHOP] | p[WQUEEN] | p[BQUEEN])) |
           (rookAttacks(sq, occ) & (p[WROOK] | p[BROOK] | p[WQUEEN] | p[BQUEEN]));
}

}  // namespace

bool seeAtLeast(Move move, int threshold, const Position& pos) {
    if (move.flag == FLAG_EP || isCastling(move.flag)) return true;
    const int from = move.from, to = move.to;
    int gain = SEE_VALUE[pos.board[to]] - threshold;
    if (gain < 0) return false;
    gain -= SEE_VALUE[pos.board[from]];
    if (gain >= 0) return true;

    const u64* p = pos.pieces;
    u64 occupied = pos.occupancy() ^ bit(from) ^ bit(to);
    u64 attackers = attackersTo(pos, to, occupied) & occupied;
    int side = pieceColour(pos.board[from]) ^ 1;
    bool result = true;
    for (;;) {
        const u64 own = attackers & p[side];
        if (!own) break;
        int code = WPAWN + side;
        while (!(own & p[code])) code += 2;  // pawn, knight, bishop, rook, queen, king
        occupied ^= bit(lsb(own & p[code]));
        const int type = pieceType(code);
        if (type == PAWN_T || type == BISHOP_T || type == QUEEN_T)
            attackers |= bishopAttacks(to, occupied) & (p[WBISHOP + side] | p[WQUEEN + side]);
        if (type == ROOK_T || type == QUEEN_T) attackers |= rookAttacks(to, occupied) & (p[WROOK + side] | p[WQUEEN + side]);
        attackers &= occupied;
        if (type == KING_T) {
            // The king may only take last: with defenders left it cannot.
            if (!(attackers & p[side ^ 1])) result = !result;
            break;
        }
        result = !result;
        gain += SEE_VALUE[code];
        if (gain < 0) break;
        gain = -gain;
        side ^= 1;
    }
    return result;
}

bool isRepetition(const Position& pos, int ply) {
    if (pos.rule50 < 4) return false;
    const int root = pos.gamePly - ply - 1;
    const int oldest = std::max(0, pos.gamePly - pos.rule50 - 1);
    int before = 0;
    for (int i = pos.gamePly - 5; i >= oldest; i -= 2)
        if (pos.keyHistory[i] == pos.key) {
            if (i > root || ++before == 2) return true;
        }
    return false;
}

bool isRuleRepetition(const Position& pos, int ply) {
    if (isRepetition(pos, ply)) return true;
    // Only the oldest position of the window can follow a double step, and
    // only one with the same side to move can repeat.
    const int oldest = pos.gamePly - pos.rule50 - 1, us = pos.sideToMove;
    if (pos.rule50 < 4 || (pos.rule50 & 1) || oldest < 0) return false;
    for (int file = 0; file < 8; file++) {
        const int stepped = file + (us == WHITE ? 32 : 24);
        if ((pos.key ^ zobristEnPassant[file]) != pos.keyHistory[oldest] || (epAdjacent[stepped] & pos.pieces[WPAWN + us]))
            continue;
        if (oldest > pos.gamePly - ply - 1) return true;
        for (int i = pos.gamePly - 5; i > oldest; i -= 2)
            if (pos.keyHistory[i] == pos.key) return true;
        return false;
    }
    return false;
}

bool isInsufficientMaterial(const Position& pos) {
    return !(pos.pieces[WPAWN] | pos.pieces[BPAWN]) && mgScore(pos.material[WHITE]) <= 383 &&
           mgScore(pos.material[BLACK]) <= 383;
}

bool isFullyLegal(Move move, const Position& pos) {
    const int us = pos.sideToMove, them = us ^ 1;
    const int from = move.from, to = move.to;
    const u64 occ = pos.occupancy();
    u64 after, removed = 0;
    int king = pos.kingSquare(us);
    if (isCastling(move.flag)) {
        const int rook = pos.castleRookSquare[us + (move.flag == FLAG_CASTLE_Q ? 2 : 0)];
        after = (occ & ~bit(from) & ~bit(rook)) | bit(to) | bit(move.flag == FLAG_CASTLE_K ? to - 1 : to + 1);
        king = to;
    } else if (move.flag == FLAG_EP) {
        const int landing = us == WHITE ? to + 8 : to - 8;
        after = (occ & ~bit(from) & ~bit(to)) | bit(landing);
        removed = bit(to);
    } else {
        after = (occ & ~bit(from)) | bit(to);
        removed = bit(to);
        if (from == king) king = to;
    }
    const u64* p = pos.pieces;
    const u64 enemies = p[them] & ~removed;
    return !(((bishopAttacks(king, after) & (p[WBISHOP + them] | p[WQUEEN + them])) |
              (rookAttacks(king, after) & (p[WROOK + them] | p[WQUEEN + them])) |
              (pawnAttackers[them][king] & p[WPAWN + them]) | (knightAttacks[king] & p[WKNIGHT + them]) |
              (kingAttacks[king] & p[WKING + them])) &
             enemies);
}

int quiesce(int ply, int depth, int alpha, int beta, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    bumpCounter(pos.quiescenceNodes);
    if (isRepetition(pos, ply)) return searchSelectivityOff ? 0 : 2 * int(pos.quiescenceNodes & 1) - 1;
    if (isInsufficientMaterial(pos)) return 0;
    alpha = std::max(alpha, ply - MATE_VALUE);
    beta = std::min(beta, MATE_VALUE + 1 - ply);
    if (alpha >= beta) return alpha;
    if (ply >= MAX_SEARCH_PLY) return evaluate(ply, pos);

    const TTEntry entry = searchSelectivityOff ? TTEntry{} : ttProbe(pos.key);
    int ttScore = 0;
    if (entry.bound()) {
        ttScore = ttScoreFromStore(entry.score(), ply);
        const int bound = entry.bound();
        if ((bound & BOUND_LOWER) && ttScore >= beta) return ttScore;
        if ((bound & BOUND_UPPER) && ttScore <= alpha) return ttScore;
        if (bound == BOUND_EXACT) return ttScore;
    }

    int best;
    if (st.inCheck) {
        best = ply - MATE_VALUE;
    } else {
        int standPat = evaluate(ply, pos);
        if ((entry.bound() == BOUND_LOWER && ttScore > standPat) || (entry.bound() == BOUND_UPPER && ttScore < standPat))
            standPat = ttScore;
        if (standPat >= beta) return standPat;
        best = standPat;
        alpha = std::max(alpha, standPat);
    }

    // Deep below the horizon only recaptures on the last destination; past
    // fourteen plies even a check is answered by recaptures alone, and then
    // each move needs the full legality test.
    const bool checkIgnored = depth < -13 && st.inCheck;
    if (depth < -13) st.inCheck = 0;
    if (depth <= -5)
        generateRecaptures(ply, st.moveListBegin, pos);
    else
        generateQuiescenceCaptures(ply, st.moveListBegin, pos);
    Move* cursor = st.moveListBegin;
    Move* const end = st.moveListEnd;
    if (st.inCheck && cursor == end) return best;

    const bool filterLosing = !st.inCheck && depth > -5 && depth <= 0;
    int moveCount = 0;
    while (cursor < end) {
        Move* bestEntry = cursor;
        for (Move* m = cursor + 1; m < end; m++)
            if (m->score > bestEntry->score) bestEntry = m;
        std::swap(*cursor, *bestEntry);
        const Move move = *cursor++;
        if (filterLosing && move.flag != FLAG_EP && !isCastling(move.flag) && !seeAtLeast(move, 0, pos)) continue;
        const bool legal = checkIgnored ? isFullyLegal(move, pos) : (st.inCheck || isLegal(ply, move, pos));
        if (!legal) continue;
        doMove(ply, move, pos);
        if (!searchSelectivityOff) ttPrefetch(pos.key);
        moveCount++;
        st.currentMove = Move{move.from, move.to, move.flag, 0};
        pos.plyStack[ply + 1].inCheck = isInCheck(pos);
        int score;
        if (moveCount == 1) {
            score = -quiesce(ply + 1, depth - 1, -beta, -alpha, pos);
        } else {
            score = -quiesce(ply + 1, depth - 1, -alpha - 1, -alpha, pos);
            if (score > alpha && score < beta) score = -quiesce(ply + 1, depth - 1, -beta, -alpha, pos);
        }
        undoMove(ply, move, pos);
        if (score > best) {
            best = score;
            if (score > alpha) {
                alpha = score;
                if (score >= beta) return score;
            }
        }
    }
    return best;
}
