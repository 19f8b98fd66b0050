#include "search/movepick.h"

#include <algorithm>

#include "board/attacks.h"
#include "board/movegen.h"
#include "search/search.h"

namespace {

inline bool isSpecialNonCapture(Move m) { return m.flag == FLAG_EP || isCastling(m.flag); }

// Brings the best remaining entry (by `key`, ties to the earlier) to *from.
template <typename Key>
inline void selectBest(Move* from, Move* end, Key key) {
    Move* best = from;
    auto bestKey = key(*from);
    for (Move* m = from + 1; m < end; m++) {
        const auto k = key(*m);
        if (k > bestKey) bestKey = k, best = m;
    }
    std::swap(*from, *best);
}

// A killer or counter move is a quiet move of an earlier sibling: it must
// still fit the position and must not have become a capture (the capture
// stages return captures).
bool usableQuiet(int ply, Move m, const Position& pos) {
    const PlyState& st = pos.plyStack[ply];
    return !isNoMove(m) && !sameMove(m, st.ttMove) && !pos.board[m.to] && m.flag != FLAG_EP &&
           isPseudoLegal(ply, m, pos);
}

Move storeAndReturn(PlyState& st, Move m) {
    *st.moveListEnd++ = m;
    st.moveCursor = st.moveListEnd;
    return m;
}

inline void adjust(i16& h, int bonus) { h = i16(h + bonus - (h * std::abs(bonus)) / 8192); }

}  // namespace

PieceToHistory* followUpTable(int ply, const Position& pos) {
    if (ply < 2) return nullptr;
    const Move m = pos.plyStack[ply - 2].currentMove;
    if (m.score < 2) return nullptr;  // null move (or none)
    return &(*pos.followUpHistory)[m.score - 2][m.to];
}

PieceToHistory* counterMoveTable(int ply, const Position& pos) {
    if (ply < 1) return nullptr;
    const Move m = pos.plyStack[ply - 1].currentMove;
    if (m.score < 2) return nullptr;
    return &(*pos.counterMoveHistory)[m.score - 2][m.to];
}

int quietScore(Move move, int piece, const Position& pos, const PieceToHistory* followUp, const PieceToHistory* counter) {
    int score = pos.history[piece - 2][move.to];
    if (followUp) score += (*followUp)[piece - 2][move.to];
    if (counter) score += (*counter)[piece - 2][move.to];
    return score;
}

bool isPseudoLegal(int ply, Move move, const Position& pos) {
    const int from = move.from, to = move.to, flag = move.flag, piece = move.score;
    const int us = pos.sideToMove;
    if (isNoMove(move) || piece < WPAWN || piece > BKING || pos.board[from] != piece || pieceColour(piece) != us)
        return false;
    const int target = pos.board[to];
    if (isCastling(flag)) return piece == WKING + us && castlingIsPseudoLegal(ply, move, const_cast<Position&>(pos));
    if (target && (pieceColour(target) == us || pieceType(target) == KING_T)) return false;
    const u64 occ = pos.occupancy();
    switch (pieceType(piece)) {
    case PAWN_T: {
        const int up = us == WHITE ? 8 : -8;
        const int relFrom = us == WHITE ? rankOf(from) : 7 - rankOf(from);
        if (flag == FLAG_DOUBLE)
            return relFrom == 1 && to == from + 2 * up && !pos.board[from + up] && !target;
        if (flag == FLAG_EP)
            return pos.plyStack[ply].epSquare == to && target == WPAWN + (us ^ 1) && (epAdjacent[to] & bit(from)) &&
                   !pos.board[to + up];
        const bool lastRank = (us == WHITE ? rankOf(to) == 7 : rankOf(to) == 0);
        // Any other pawn move: flag 0, or one of the four promotion pieces on the last rank.
        const bool promotion =
            flag == FLAG_PROMO_N || flag == FLAG_PROMO_B || flag == FLAG_PROMO_R || flag == FLAG_PROMO_Q;
        if (promotion != lastRank || (flag && !promotion)) return false;
        if (relFrom < 1 || relFrom > 6) return false;
        if (to == from + up) return !target;
        return (pawnAttackers[us][to] & bit(from)) && target;
    }
    case KNIGHT_T:
        return !flag && (knightAttacks[from] & bit(to));
    case BISHOP_T:
        return !flag && (bishopAttacks(from, occ) & bit(to));
    case ROOK_T:
        return !flag && (rookAttacks(from, occ) & bit(to));
    case QUEEN_T:
        return !flag && (queenAttacks(from, occ) & bit(to));
    default:
        return !flag && (kingAttacks[from] & bit(to));
    }
}

void initPicker(int ply, Move hashMove, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    st.ttMove = hashMove;
    st.moveListEnd = st.moveCursor = st.moveListBegin;
    pos.plyStack[ply + 1].moveListBegin = st.moveListBegin;
    st.capturesEnd = st.quietsStart = st.scan = st.moveListBegin;
    st.counterMove = Move{};
    st.pickStage = (!isNoMove(hashMove) && isPseudoLegal(ply, hashMove, pos)) ? STAGE_HASH_PENDING : STAGE_HASH;
    if (st.pickStage == STAGE_HASH) {
        st.ttMove = Move{};
    } else {
        // The hash move is tested with isLegal before any generator has set
        // this node's pin mask; the ply still holds another node's.
        st.notPinned = computeNotPinned(pos);
    }
}

Move nextMove(int ply, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    switch (st.pickStage) {
    case STAGE_HASH_PENDING:
        st.pickStage = STAGE_HASH;
        return st.ttMove;

    case STAGE_HASH: {
        st.counterMove = Move{};
        generateCaptures(ply, st.moveListBegin, pos);
        st.moveCursor = st.moveListBegin;
        if (st.pickStage == STAGE_EVASIONS) {
            // Evasions that lose material by exchange go behind the others.
            for (Move* m = st.moveListBegin; m < st.moveListEnd; m++)
                if (pos.board[m->from] != WKING + pos.sideToMove && m->score != 250 && !isSpecialNonCapture(*m) &&
                    !seeAtLeast(*m, 0, pos))
                    m->score = u8(m->score - 100);
            return nextMove(ply, pos);
        }
        // Three free entries behind the captures hold the killers and the
        // counter move once they are tried.
        st.capturesEnd = st.moveListEnd;
        pos.plyStack[ply + 1].moveListBegin = st.moveListEnd + 3;
        // Until the quiet moves have a place, a cut-off by a killer or the
        // counter move penalises every stored move up to the cursor.
        st.quietsStart = st.moveListEnd + 3;
        st.pickStage = STAGE_GOOD_CAPTURES;
        [[fallthrough]];
    }
    case STAGE_GOOD_CAPTURES: {
        const bool generationOrder = ply == 0 && pos.threadIndex % 4 == 3;
        while (st.moveCursor < st.capturesEnd) {
            if (!generationOrder) selectBest(st.moveCursor, st.capturesEnd, [](Move m) { return m.score; });
            Move& m = *st.moveCursor++;
            if (sameMove(m, st.ttMove)) continue;
            if (isSpecialNonCapture(m) || seeAtLeast(m, 0, pos)) return m;
            m.score = LOSING_CAPTURE;
        }
        st.pickStage = 3;
        [[fallthrough]];
    }
    case 3:
        st.pickStage = STAGE_KILLER1;
        if (usableQuiet(ply, st.killer1, pos)) return storeAndReturn(st, st.killer1);
        [[fallthrough]];
    case STAGE_KILLER1:
        st.pickStage = STAGE_KILLER2;
        if (usableQuiet(ply, st.killer2, pos) && !sameMove(st.killer2, st.killer1)) return storeAndReturn(st, st.killer2);
        [[fallthrough]];
    case STAGE_KILLER2: {
        st.pickStage = STAGE_COUNTER;
        const Move prev = ply > 0 ? pos.plyStack[ply - 1].currentMove : Move{};
        if (prev.score >= 2) {
            const Move counter = moveFromWord(pos.counterMoves[prev.score - 2][prev.to]);
            if (usableQuiet(ply, counter, pos) && !sameMove(counter, st.killer1) && !sameMove(counter, st.killer2)) {
                st.counterMove = counter;
                return storeAndReturn(st, counter);
            }
        }
        [[fallthrough]];
    }
    case STAGE_COUNTER:
        st.quietsStart = st.moveListEnd;
        st.scan = st.moveListBegin;
        st.pickStage = STAGE_BAD_CAPTURES;
        [[fallthrough]];
    case STAGE_BAD_CAPTURES:
        while (st.scan < st.capturesEnd) {
            const Move m = *st.scan++;
            if (m.score == LOSING_CAPTURE) return m;
        }
        st.pickStage = 8;
        [[fallthrough]];
    case 8: {
        generateQuiets(ply, st.quietsStart, pos);
        // Drop what was already returned: the hash move, and the killers and
        // counter move stored behind the captures. A killer that was not
        // returned (another piece on its square now, or a Chess960 castling
        // onto the rook) must stay.
        auto returned = [&st](Move m) {
            if (sameMove(m, st.ttMove)) return true;
            for (const Move* s = st.capturesEnd; s < st.quietsStart; s++)
                if (sameMove(m, *s)) return true;
            return false;
        };
        Move* end = st.moveListEnd;
        for (Move* m = st.quietsStart; m < end;) {
            if (returned(*m))
                *m = *--end;
            else
                m++;
        }
        st.moveListEnd = end;
        pos.plyStack[ply + 1].moveListBegin = end;
        st.moveCursor = st.quietsStart;
        st.pickStage = STAGE_QUIETS;
        [[fallthrough]];
    }
    case STAGE_QUIETS: {
        if (st.moveCursor >= st.moveListEnd) return Move{};
        const PieceToHistory* followUp = followUpTable(ply, pos);
        const PieceToHistory* counter = counterMoveTable(ply, pos);
        selectBest(st.moveCursor, st.moveListEnd,
                   [&](Move m) { return quietScore(m, pos.board[m.from], pos, followUp, counter); });
        return *st.moveCursor++;
    }
    case STAGE_EVASIONS:
        while (st.moveCursor < st.moveListEnd) {
            selectBest(st.moveCursor, st.moveListEnd, [](Move m) { return m.score; });
            const Move m = *st.moveCursor++;
            if (!sameMove(m, st.ttMove)) return m;
        }
        return Move{};
    }
    return Move{};
}

void updateQuietCutoff(int ply, Move move, int depth, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    if (depth < 19) {
        const int bonus = 32 * std::min(depth * depth, 324);
        PieceToHistory* followUp = followUpTable(ply, pos);
        PieceToHistory* counter = counterMoveTable(ply, pos);
        auto update = [&](Move m, int amount) {
            const int piece = pos.board[m.from] - 2;
            if (followUp) adjust((*followUp)[piece][m.to], amount);
            if (counter) adjust((*counter)[piece][m.to], amount);
            adjust(pos.history[piece][m.to], amount);
        };
        update(move, bonus);
        if (counter) {
            const Move prev = pos.plyStack[ply - 1].currentMove;
            pos.counterMoves[prev.score - 2][prev.to] = moveWord(withPiece(move, pos.board[move.from]));
        }
        if (!isNoMove(st.ttMove) && !sameMove(st.ttMove, move) && !pos.board[st.ttMove.to] &&
            pos.board[st.ttMove.from] == st.ttMove.score)
            update(st.ttMove, -bonus);
        if (st.pickStage != STAGE_HASH) {
            for (Move* m = st.capturesEnd; m < std::min(st.moveCursor, st.quietsStart); m++)
                if (!sameMove(*m, move)) update(*m, -bonus);
            if (st.pickStage == STAGE_QUIETS)
                for (Move* m = st.quietsStart; m < st.moveCursor; m++)
                    if (!sameMove(*m, move)) update(*m, -bonus);
        }
    }
    if (!sameMove(move, st.killer1)) {
        st.killer2 = st.killer1;
        st.killer1 = withPiece(move, pos.board[move.from]);
    }
}
