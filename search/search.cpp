// The principal-variation alpha-beta search.
#include <algorithm>
#include <cstdlib>

#include "board/attacks.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "platform/clock.h"
#include "search/movepick.h"
#include "search/search.h"
#include "search/tablebase_hook.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "search/tt.h"

std::atomic<bool> infiniteSearch{false};
std::atomic<i64> searchStartMs{0};
std::atomic<i32> hardTimeMs{0};

namespace {

constexpr int RAZOR_MARGIN[2][4] = {{0, 90, 140, 200}, {0, 120, 190, 240}};
constexpr int LMP_COUNT[2][8] = {{1, 2, 3, 5, 7, 10, 14, 19}, {2, 4, 6, 8, 11, 15, 20, 27}};
constexpr int FUTILITY_PER_DEPTH = 65;
constexpr int PROBCUT_MARGIN = 110;
constexpr int PROBCUT_MAX_MOVES = 11;
constexpr int NULL_VERIFY_DEPTH = 10;

inline bool hasNonPawnMaterial(const Position& pos, int side) {
    return pos.pieces[side] & ~(pos.pieces[WPAWN + side] | pos.pieces[WKING + side]);
}

inline bool isQuietStage(int stage) {
    return stage == STAGE_KILLER1 || stage == STAGE_KILLER2 || stage == STAGE_COUNTER || stage == STAGE_QUIETS;
}

inline int childSearch(int ply, int depth, int alpha, int beta, Position& pos) {
    return depth <= 0 ? -quiesce(ply + 1, 0, -beta, -alpha, pos) : -alphaBeta(ply + 1, depth, -beta, -alpha, pos);
}

// Makes a move of the search: the move with its piece becomes the ply's
// current move, and the child learns whether it is in check.
inline bool makeSearchMove(int ply, Move move, int piece, Position& pos) {
    pos.plyStack[ply].currentMove = withPiece(move, piece);
    doMove(ply, move, pos);
    ttPrefetch(pos.key);
    const bool check = isInCheck(pos);
    pos.plyStack[ply + 1].inCheck = check;
    return check;
}

// ProbCut: a capture that beats beta by a margin in a shallow search is
// taken to do so in the full one. Returns true, with the proving score in
// `result`, when one did.
bool probCut(int ply, int depth, int beta, Move hashMove, Position& pos, int& result) {
    PlyState& st = pos.plyStack[ply];
    const int pbeta = beta + PROBCUT_MARGIN;
    const int threshold = std::max(0, pbeta - st.staticEval);
    Move* list = st.moveListBegin;
    Move* first = list;
    const bool hashFits = !isNoMove(hashMove) && isPseudoLegal(ply, hashMove, pos);
    if (hashFits) *list = hashMove;
    generateCaptures(ply, list + hashFits, pos);
    Move* end = st.moveListEnd;
    int made = 0;
    for (Move* slot = first; slot < end && made < PROBCUT_MAX_MOVES; slot++) {
        const Move m = *slot;
        const bool isHash = hashFits && slot == first;
        if (isHash) {
            if (!pos.board[m.to] && m.flag != FLAG_EP && !isPromotion(m.flag)) continue;
            if (!seeAtLeast(m, threshold, pos)) continue;
        } else {
            if (hashFits && sameMove(m, hashMove)) continue;
            if (m.flag == FLAG_EP || isCastling(m.flag)) {
                if (threshold >= 1) continue;
            } else if (!seeAtLeast(m, threshold, pos)) {
                continue;
            }
        }
        if (!isLegal(ply, m, pos)) continue;
        made++;
        makeSearchMove(ply, m, pos.board[m.from], pos);
        int v = -quiesce(ply + 1, 0, -pbeta, 1 - pbeta, pos);
        if (v >= pbeta) v = -alphaBeta(ply + 1, depth - 4, -pbeta, 1 - pbeta, pos);
        undoMove(ply, m, pos);
        if (stopSearch.load(std::memory_order_relaxed)) return false;
        if (v >= pbeta) {
            const Move stored = isNoMove(hashMove) ? withPiece(m, pos.board[m.from]) : hashMove;
            ttStore(pos.key, stored, ttScoreToStore(v, ply), depth - 3, BOUND_LOWER);
            result = v;
            return true;
        }
    }
    return false;
}

// Singular extension test: is the hash move the only move that reaches
// sBeta? The other moves are searched at reduced depth with the picker's
// state saved around them. Returns true when some other move reaches it.
bool alternativeReaches(int ply, int depth, int sBeta, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    const PlyState saved = st;
    Move* const savedChildList = pos.plyStack[ply + 1].moveListBegin;
    pos.plyStack[ply + 1].singularSubtree = 1;
    int losing = 0, quietTried = 0;
    bool reached = false;
    while (true) {
        const Move m = nextMove(ply, pos);
        if (isNoMove(m)) break;
        const int stage = st.pickStage;
        if (stage == STAGE_BAD_CAPTURES && ++losing > 4) continue;
        if (isQuietStage(stage) && ++quietTried > 5) break;
        const bool legal = st.inCheck ? (stage == STAGE_EVASIONS || isFullyLegal(m, pos)) : isLegal(ply, m, pos);
        if (!legal) continue;
        makeSearchMove(ply, m, pos.board[m.from], pos);
        const int v = -alphaBeta(ply + 1, depth / 2 - 1, -sBeta - 1, -sBeta, pos);
        undoMove(ply, m, pos);
        if (v >= sBeta || stopSearch.load(std::memory_order_relaxed)) {
            reached = v >= sBeta;
            break;
        }
    }
    // Back to where the picker stood (the hash move being searched).
    const Move killer1 = st.killer1, killer2 = st.killer2;
    st = saved;
    st.killer1 = killer1;
    st.killer2 = killer2;
    pos.plyStack[ply + 1].moveListBegin = savedChildList;
    pos.plyStack[ply + 1].singularSubtree = st.singularSubtree;
    return reached;
}

}  // namespace

int alphaBeta(int ply, int depth, int alpha, int beta, Position& pos) {
    PlyState& st = pos.plyStack[ply];
    const bool pvNode = beta > alpha + 1;
    const bool selective = !searchSelectivityOff;
    const int us = pos.sideToMove;

    // Node bookkeeping and the clock.
    bumpCounter(pos.searchNodes);
    pos.selDepth = u8(std::max<int>(pos.selDepth, ply));
    if (--pos.nodeCountdown < 0) {
        const u64 nodeCap = searchNodeLimit.load(std::memory_order_relaxed);
        pos.nodeCountdown = nodeCap ? NODE_CHECK_INTERVAL : TIME_CHECK_INTERVAL;
        if ((!infiniteSearch.load(std::memory_order_relaxed) && !ponderSearch.load(std::memory_order_relaxed) &&
             nowMs() - searchStartMs >= hardTimeMs) ||
            (nodeCap && nodesSearched() >= nodeCap)) {
            stopSearch.store(true, std::memory_order_relaxed);
            return 0;
        }
    }
    if (stopSearch.load(std::memory_order_relaxed)) return 0;

    // Draws and mate distance.
    if (ply > 0) {
        if (isRepetition(pos, ply)) return selective ? 2 * int(pos.searchNodes & 1) - 1 : 0;
        if (isInsufficientMaterial(pos)) return 0;
        // Fifty-move rule: a draw unless the side to move is mated. Settled
        // before any cut-off, which could otherwise claim more than the draw.
        if (pos.rule50 >= 100 && (!st.inCheck || countLegal(ply, st.moveListBegin, pos))) return 0;
        alpha = std::max(alpha, ply - MATE_VALUE);
        beta = std::min(beta, MATE_VALUE + 1 - ply);
        if (alpha >= beta) return alpha;
        if (ply >= MAX_SEARCH_PLY) return evaluate(ply, pos);
    }

    // Transposition table. Until this ply generates a list, a child (after
    // the hash move or the null move) starts its list where ours would.
    pos.plyStack[ply + 1].moveListBegin = st.moveListBegin;
    pos.plyStack[ply + 1].singularSubtree = st.singularSubtree;
    const TTEntry entry = ttProbe(pos.key);
    const int bound = entry.bound();
    int ttScore = 0;
    Move hashMove{};
    const bool afterNullMove = ply > 0 && isNoMove(pos.plyStack[ply - 1].currentMove);
    if (bound) {
        ttScore = ttScoreFromStore(entry.score(), ply);
        if (selective && !pvNode && entry.depth() >= depth && ply > 0 && !afterNullMove) {
            if ((bound & BOUND_LOWER) && ttScore >= beta) return ttScore;
            if ((bound & BOUND_UPPER) && ttScore <= alpha) return ttScore;
            if (bound == BOUND_EXACT) return ttScore;
        }
        hashMove = ply == 0 ? st.bestMove : entry.move();
    }

    // Tablebases.
    if (selective && ply > 0 && tbLargestPieces() > 0 && pos.rule50 == 0 && !st.castlingRights) {
        const int pieces = popCount(pos.occupancy());
        const int largest = tbLargestPieces();
        if (pieces < largest || (pieces == largest && depth >= tbProbeDepth())) {
            const int wdl = tbProbeWdlHook(ply, pos);
            if (wdl >= 0) {
                bumpCounter(pos.tbHits);
                const int storeDepth = std::min(127, depth + largest);
                if (wdl == 4) {
                    const int score = TB_WIN - ply;
                    if (score >= beta) {
                        ttStore(pos.key, Move{}, score, storeDepth, BOUND_LOWER);
                        return score;
                    }
                } else if (wdl == 0) {
                    const int score = ply - TB_WIN;
                    if (score <= alpha) {
                        ttStore(pos.key, Move{}, score, storeDepth, BOUND_UPPER);
                        return score;
                    }
                } else {
                    ttStore(pos.key, Move{}, 0, storeDepth, BOUND_EXACT);
                    return 0;
                }
            }
        }
    }

    // Static evaluation.
    st.staticEval = i16(NO_EVAL);
    bool improving = true;
    int eval = NO_EVAL;
    if (!st.inCheck) {
        st.staticEval = i16(evaluate(ply, pos));
        eval = st.staticEval;
        if (bound == BOUND_EXACT || (bound == BOUND_LOWER && ttScore > eval) || (bound == BOUND_UPPER && ttScore < eval))
            eval = ttScore;
        improving = ply < 2 || st.staticEval >= pos.plyStack[ply - 2].staticEval;

        if (!pvNode && selective) {
            // Reverse futility.
            if (depth <= 6 && std::abs(eval) < MATE_IN_MAX && eval >= beta + FUTILITY_PER_DEPTH * depth &&
                hasNonPawnMaterial(pos, us))
                return eval;

            if (depth <= 3) {
                // Razoring.
                if (eval + RAZOR_MARGIN[improving][depth] < alpha) {
                    const int v = quiesce(ply, 0, alpha, beta, pos);
                    if (v < alpha) return v;
                }
            } else {
                // Null move, verified from depth 10 on.
                const bool nullTwoPliesBack = ply >= 2 && isNoMove(pos.plyStack[ply - 2].currentMove);
                if (!st.singularSubtree && !nullTwoPliesBack && eval >= beta && hasNonPawnMaterial(pos, us)) {
                    const int r = depth / 4 + std::min(3, (eval - beta) / 90) + 3;
                    const int nd = depth - r;
                    st.currentMove = Move{};
                    doNullMove(ply, pos);
                    PlyState& child = pos.plyStack[ply + 1];
                    child.inCheck = 0;
                    const int v = nd < 1 ? -quiesce(ply + 1, 0, -beta, 1 - beta, pos)
                                         : -alphaBeta(ply + 1, nd, -beta, 1 - beta, pos);
                    undoNullMove(ply, pos);
                    if (stopSearch.load(std::memory_order_relaxed)) return 0;
                    if (v >= beta) {
                        if (depth < NULL_VERIFY_DEPTH) return v <= MATE_IN_MAX ? v : beta;
                        const int verify = nd > 0 ? alphaBeta(ply, std::min(nd, 3), beta - 1, beta, pos)
                                                  : quiesce(ply, 0, beta - 1, beta, pos);
                        if (verify >= beta) return verify <= MATE_IN_MAX ? verify : beta;
                    }
                }
                // ProbCut.
                if (depth >= 5 && std::abs(eval) < MATE_IN_MAX) {
                    int v;
                    if (probCut(ply, depth, beta, hashMove, pos, v)) return v;
                    if (stopSearch.load(std::memory_order_relaxed)) return 0;
                }
            }
        }
    }

    // Internal iterative reduction.
    if (selective && pvNode && isNoMove(hashMove) && depth > 7) depth -= 2;

    // The move loop.
    int bestScore = -MATE_VALUE;
    const int alphaAtEntry = alpha;
    pos.plyStack[ply + 1].killer1 = pos.plyStack[ply + 1].killer2 = Move{};
    int moveCount = 0, quietCount = 0, searchedCount = 0, extendedQuiets = 0;
    bool skipQuiets = false;
    PieceToHistory* followUp = followUpTable(ply, pos);
    PieceToHistory* counter = counterMoveTable(ply, pos);
    if (ply > 0) st.bestMove = Move{};
    initPicker(ply, hashMove, pos);
    hashMove = st.ttMove;  // zero when it did not fit the position

    for (Move m = nextMove(ply, pos); !isNoMove(m); m = nextMove(ply, pos)) {
        const int stage = st.pickStage;
        const int piece = pos.board[m.from];
        const bool capture = pos.board[m.to] != 0 || m.flag == FLAG_EP;

        // Pruning (never in check, where it could hide the only evasions)
        // starts only once a move has been searched without being mated, so
        // that a node never ends with every legal move pruned: no move
        // searched then means mate or stalemate.
        const bool mayPrune = selective && ply > 0 && !st.inCheck && bestScore > -MATE_IN_MAX;
        if (mayPrune) {
            if (!pos.board[m.to] && m.flag != FLAG_EP && depth <= 3 && followUp && counter &&
                pos.history[piece - 2][m.to] < 0 && (*followUp)[piece - 2][m.to] < 0 && (*counter)[piece - 2][m.to] < 0)
                continue;
            if (stage == STAGE_BAD_CAPTURES && depth <= 6 && m.flag != FLAG_EP && !isCastling(m.flag) &&
                !seeAtLeast(m, -110 * depth, pos))
                continue;
        }

        // Once late-move pruning has begun, what surely gives no check is
        // pruned below anyway: no need to make it to find out.
        if (mayPrune && skipQuiets && !mayGiveCheck(m, piece, pos)) continue;
        const bool legal = st.inCheck ? (stage == STAGE_EVASIONS || isFullyLegal(m, pos)) : isLegal(ply, m, pos);
        if (!legal) continue;
        // The exchange test of a checking move must see the board before it.
        bool givesCheck = makeSearchMove(ply, m, piece, pos);

        // Late-move pruning (made first, so that checks are exempt).
        if (mayPrune && !givesCheck &&
            (skipQuiets ||
             (!pvNode && depth <= 7 && isQuietStage(stage) && searchedCount >= LMP_COUNT[improving][depth]))) {
            undoMove(ply, m, pos);
            skipQuiets = true;
            continue;
        }

        moveCount++;
        if (!capture) quietCount++;
        int newDepth = depth - 1;

        // Extensions.
        if (selective && moveCount == 1 && stage == STAGE_HASH && sameMove(m, hashMove) && ply > 0 && depth >= 7 &&
            entry.depth() >= depth - 3 && bound && bound != BOUND_UPPER && std::abs(ttScore) < MATE_IN_MAX) {
            undoMove(ply, m, pos);
            const int sBeta = ttScore - (5 * depth) / 4;
            const bool reached = alternativeReaches(ply, depth, sBeta, pos);
            if (stopSearch.load(std::memory_order_relaxed)) return 0;
            if (reached && sBeta >= beta) return sBeta;
            givesCheck = makeSearchMove(ply, m, piece, pos);
            if (!reached) newDepth = depth;
        } else if (selective) {
            if (givesCheck) {
                bool extend = m.flag == FLAG_EP || isCastling(m.flag);
                if (!extend) {
                    undoMove(ply, m, pos);
                    extend = seeAtLeast(m, 0, pos);
                    makeSearchMove(ply, m, piece, pos);
                }
                if (extend) newDepth = depth;
            } else if (!capture && quietCount <= 4 && followUp && counter && (*followUp)[piece - 2][m.to] > 4096 &&
                       (*counter)[piece - 2][m.to] > 4096) {
                newDepth = depth;
            }
        }

        if (stage != STAGE_BAD_CAPTURES) searchedCount++;
        if (newDepth == depth && !capture) extendedQuiets++;

        // Search: the first move with the full window, the others with a
        // null window at a reduced depth first.
        int v;
        if (moveCount == 1) {
            v = childSearch(ply, newDepth, alpha, beta, pos);
        } else {
            int r = 0;
            if (selective && depth >= 3 && !capture) {
                r = lmrTable[std::min(depth, 127)][std::min(searchedCount, 255)];
                if (!improving) r++;
                if (extendedQuiets > 3) r++;
                const int hs = quietScore(m, piece, pos, followUp, counter) - 5120;
                r -= std::clamp(hs / 9216, -2, 1);
                r = std::max(r, 0);
                if (r > 0 && pvNode) r--;
                if (pieceType(piece) == PAWN_T) {
                    if (r > 0 && rankOf(m.to) == (us == WHITE ? 6 : 1)) r--;
                    if ((sameMove(m, st.killer1) || sameMove(m, st.killer2)) &&
                        !(frontSpan[us][m.to] & pos.pieces[WPAWN + (us ^ 1)]))
                        r--;
                }
            }
            v = childSearch(ply, newDepth - r, alpha, alpha + 1, pos);
            if (newDepth > 0 && r != 0 && v > alpha) v = childSearch(ply, newDepth, alpha, alpha + 1, pos);
            if (v > alpha && v < beta) v = childSearch(ply, newDepth, alpha, beta, pos);
        }

        undoMove(ply, m, pos);
        if (stopSearch.load(std::memory_order_relaxed)) return 0;

        if (v > bestScore) {
            bestScore = v;
            if (v > alpha) {
                st.bestMove = withPiece(m, piece);
                alpha = v;
                if (ply == 0) {
                    pos.bestMoveChanges++;
                    pos.partialScore = i16(v);
                    pos.rootDepth = i16(depth);
                    pos.rootDepthComplete = 0;
                }
                if (v >= beta) {
                    ttStore(pos.key, st.bestMove, ttScoreToStore(v, ply), depth, BOUND_LOWER);
                    if (!capture && !st.inCheck) updateQuietCutoff(ply, m, depth, pos);
                    return v;
                }
            }
        }
    }

    if (moveCount == 0) return st.inCheck ? ply - MATE_VALUE : 0;
    if (pos.rule50 >= 100) return 0;
    if (bestScore > alphaAtEntry)
        ttStore(pos.key, st.bestMove, ttScoreToStore(bestScore, ply), depth, BOUND_EXACT);
    else
        ttStore(pos.key, hashMove, ttScoreToStore(bestScore, ply), depth, BOUND_UPPER);
    return bestScore;
}
