#include "tablebase/tbprobe.h"

#include <cstdlib>
#include <string>

#include "board/fen.h"
#include "platform/output.h"
#include "tablebase/tbdecode.h"
#include "tablebase/tbfiles.h"

namespace {

constexpr int WDL_TO_DTZ[5] = {-1, -101, 0, 101, 1};
constexpr int TB_WIN_SCORE = 31872;

// Capture-only alpha-beta on the WDL scale; the position has no en-passant
// right (it follows a capture).
int probeAb(const TbPosition& pos, int alpha, int beta, int& success) {
    TbMove moves[TB_MAX_MOVES];
    const TbMove* end = tbGenerateCaptures(pos, moves);
    TbPosition next;
    for (const TbMove* m = moves; m < end; m++) {
        if (!tbDoMove(pos, *m, next)) continue;
        const int v = -probeAb(next, -beta, -alpha, success);
        if (!success) return 0;
        if (v > alpha) {
            if (v >= beta) return v;
            alpha = v;
        }
    }
    int status;
    const int v = probeTable(pos, TB_WDL, 0, status);
    if (status != TB_PROBE_OK) return success = 0, 0;
    return alpha >= v ? alpha : v;
}

int sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

int tbDtzBeforeZeroing(int wdl) { return WDL_TO_DTZ[wdl + 2]; }

int probeWdl(const TbPosition& pos, int& success) {
    success = 1;
    if (tbMenCount(pos) > TB_MAX_MEN) return success = 0, 0;

    // The best capture without en-passant rights, and better en-passant captures.
    TbMove moves[TB_MAX_MOVES];
    const TbMove* end = tbGenerateCaptures(pos, moves);
    int bestCapture = -3, bestEp = -3;
    TbPosition next;
    for (const TbMove* m = moves; m < end; m++) {
        if (!tbDoMove(pos, *m, next)) continue;
        const int v = -probeAb(next, -2, -bestCapture, success);
        if (!success) return 0;
        if (v > bestCapture) {
            if (v == TB_WIN) return success = 2, TB_WIN;
            if (!tbIsEnPassant(pos, *m))
                bestCapture = v;
            else if (v > bestEp)
                bestEp = v;
        }
    }

    int status;
    const int v = probeTable(pos, TB_WDL, 0, status);
    if (status != TB_PROBE_OK) return success = 0, 0;

    // max(v, bestCapture) is the value without en-passant rights.
    if (bestEp > bestCapture) {
        if (bestEp > v) return success = 2, bestEp;
        bestCapture = bestEp;
    }
    if (bestCapture >= v) {
        success = 1 + (bestCapture > 0);
        return bestCapture;
    }
    // The table's draw may be a stalemate that the en-passant capture breaks.
    if (bestEp > -3 && v == 0) {
        TbMove all[TB_MAX_MOVES];
        const TbMove* allEnd = tbGenerateMoves(pos, all);
        bool otherMove = false;
        for (const TbMove* m = all; m < allEnd && !otherMove; m++)
            otherMove = !tbIsEnPassant(pos, *m) && tbDoMove(pos, *m, next);
        if (!otherMove && !tbInCheck(pos)) return success = 2, bestEp;
    }
    return v;
}

int probeDtz(const TbPosition& pos, int& success) {
    const int wdl = probeWdl(pos, success);
    if (!success || wdl == 0) return 0;
    if (success == 2) return WDL_TO_DTZ[wdl + 2];

    TbMove moves[TB_MAX_MOVES];
    const TbMove* end = tbGenerateMoves(pos, moves);
    TbPosition next;

    // A pawn move that keeps the win zeroes at once.
    if (wdl > 0)
        for (const TbMove* m = moves; m < end; m++) {
            if (!(pos.pawns & bit(tbFrom(*m))) || tbIsCapture(pos, *m) || !tbDoMove(pos, *m, next)) continue;
            const int v = -probeWdl(next, success);
            if (!success) return 0;
            if (v == wdl) return WDL_TO_DTZ[wdl + 2];
        }

    // The best move is no en-passant capture, so the table value for this
    // WDL result holds.
    int status;
    const int dtz = probeTable(pos, TB_DTZ, wdl, status);
    if (status == TB_PROBE_OK) return WDL_TO_DTZ[wdl + 2] + (wdl > 0 ? dtz : -dtz);
    if (status == TB_PROBE_FAIL) return success = 0, 0;

    // The table holds the other side to move: one ply deeper. Zeroing moves
    // are already accounted for (a winning one was caught above; for the
    // losing side the worst case of a losing zeroing move starts the count).
    int best = wdl > 0 ? 0x7FFFFFFF : WDL_TO_DTZ[wdl + 2];
    for (const TbMove* m = moves; m < end; m++) {
        if (tbIsZeroing(pos, *m) || !tbDoMove(pos, *m, next)) continue;
        const int v = -probeDtz(next, success);
        if (!success) return 0;
        if (wdl > 0) {
            // A mating move ends the game: the distance is one ply, not the
            // mated side's stored distance plus one.
            if (v == 1 && tbIsMate(next))
                best = 1;
            else if (v > 0 && v + 1 < best)
                best = v + 1;
        } else if (v - 1 < best) {
            best = v - 1;
        }
    }
    return best;
}

TbMove rootBestMove(const TbPosition& pos, int* rootDtz) {
    int success;
    const int dtz = probeDtz(pos, success);
    if (!success) return 0;
    if (rootDtz) *rootDtz = dtz;

    TbMove moves[TB_MAX_MOVES];
    const TbMove* end = tbGenerateMoves(pos, moves);
    TbPosition next;
    TbMove best = 0, drawing[TB_MAX_MOVES];
    int bestValue = 0, drawCount = 0;
    for (const TbMove* m = moves; m < end; m++) {
        if (!tbDoMove(pos, *m, next)) continue;
        int v;
        if (dtz > 0 && tbIsMate(next)) {
            v = 1;
        } else if (!tbIsZeroing(pos, *m)) {
            v = -probeDtz(next, success);
            v += sign(v);
        } else {
            v = WDL_TO_DTZ[-probeWdl(next, success) + 2];
        }
        if (!success) return 0;
        if (v == 0) drawing[drawCount++] = *m;
        if (dtz > 0) {
            if (v > 0 && (!best || v < bestValue)) best = *m, bestValue = v;
        } else if (dtz < 0) {
            if (v < 0 && (!best || v < bestValue)) best = *m, bestValue = v;
        }
    }
    if (dtz > 0) return best;
    if (dtz < 0) return best ? best : TB_CHECKMATE_MARKER;
    if (!drawCount) return TB_STALEMATE_MARKER;
    // The same drawing move for a given material: the signature with the
    // side to move counted as Black.
    const u64 key = tbSignature(pos, pos.whiteToMove);
    return drawing[key % u64(drawCount)];
}

int tbProbeWdl(int ply, const Position& pos) {
    const TbPosition p = tbFromPosition(pos, ply, 0);
    int success;
    const int v = probeWdl(p, success);
    return success ? v + 2 : -1;
}

Move tbProbeRoot(const Position& pos, int* score) {
    if (pos.plyStack[0].castlingRights) return Move{};
    const TbPosition p = tbFromPosition(pos, 0, pos.rule50);
    if (tbMenCount(p) > TB_MAX_MEN || !tbIsValid(p)) return Move{};
    int dtz = 0;
    const TbMove best = rootBestMove(p, &dtz);
    if (!best || best == TB_CHECKMATE_MARKER || best == TB_STALEMATE_MARKER) return Move{};

    // Under the fifty-move rule, counted from the root's counter.
    const int counter = p.rule50;
    int value = 0;
    if (dtz > 0 && dtz + counter <= 100) value = TB_WIN_SCORE - dtz;
    if (dtz < 0 && counter - dtz <= 100) value = -dtz - TB_WIN_SCORE;
    const i16 cp = i16(value);

    const int from = tbFrom(best), to = tbTo(best), promotion = tbPromotion(best);
    const bool pawn = p.pawns & bit(from);
    Move move;
    if (promotion)
        move = makeMove(from, to, 2 * promotion);
    else if (pawn && p.epSquare && to == p.epSquare)
        move = makeMove(from, p.whiteToMove ? to - 8 : to + 8, FLAG_EP);
    else if (pawn && (from ^ to) == 16)
        move = makeMove(from, to, FLAG_DOUBLE);
    else
        move = makeMove(from, to, FLAG_NORMAL);

    // The mover's king must not stand attacked after the move.
    TbPosition after;
    if (!tbDoMove(p, best, after)) return Move{};

    if (score) *score = cp;
    say("info score cp " + std::to_string(cp) + " depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv " +
        moveToText(move, pos.sideToMove, pos));
    return move;
}
