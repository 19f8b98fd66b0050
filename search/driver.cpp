#include "search/driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "search/movepick.h"
#include "search/search.h"
#include "search/tablebase_hook.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "search/tt.h"

std::atomic<i64> elapsedMs{0};
std::atomic<int> stopCheckDepth{0};
std::atomic<u64> tbHitsTotal{0};
bool quietSearch = false;

namespace {

// Aspiration widths by thread index mod 32: the first window, then the
// widening after each successive fail.
constexpr int ASPIRATION[32][5] = {
    {15, 35, 40, 80, 160},  {9, 24, 34, 75, 113},   {15, 35, 40, 80, 160},  {54, 69, 79, 195, 15},
    {35, 40, 80, 160, 15},  {35, 40, 80, 160, 12},  {27, 37, 83, 117, 51},  {66, 76, 187, 169, 15},
    {35, 40, 80, 160, 15},  {35, 40, 80, 160, 15},  {35, 40, 80, 160, 48},  {63, 73, 179, 165, 15},
    {30, 40, 91, 121, 18},  {33, 43, 99, 125, 15},  {35, 40, 80, 160, 45},  {60, 70, 171, 161, 21},
    {36, 46, 107, 129, 15}, {35, 40, 80, 160, 15},  {35, 40, 80, 160, 42},  {57, 67, 163, 157, 15},
    {35, 40, 80, 160, 15},  {35, 40, 80, 160, 24},  {39, 49, 115, 133, 39}, {54, 64, 155, 153, 27},
    {42, 52, 123, 137, 15}, {35, 40, 80, 160, 15},  {35, 40, 80, 160, 36},  {51, 61, 147, 149, 15},
    {35, 40, 80, 160, 30},  {45, 55, 131, 141, 15}, {35, 40, 80, 160, 33},  {48, 58, 139, 145, 0}};

i64 millisecondsSinceStart() { return nowMs() - searchStartMs; }

struct Totals {
    u64 nodes = 0;
    u64 tbHits = 0;
};

Totals totals() {
    Totals t;
    for (auto& th : threads) {
        const Position& p = *th->position;
        t.nodes += readCounter(p.searchNodes) + readCounter(p.quiescenceNodes);
        t.tbHits += readCounter(p.tbHits);
    }
    tbHitsTotal.store(t.tbHits, std::memory_order_relaxed);
    return t;
}

std::string countsText(i64 time) {
    const Totals t = totals();
    const u64 ms = u64(std::max<i64>(1, time));
    return " nodes " + std::to_string(t.nodes) + " nps " + std::to_string(t.nodes * 1000 / ms) + " time " +
           std::to_string(ms) + " tbhits " + std::to_string(t.tbHits);
}

void printInfo(const Position& p, int score, int depth, int selDepth, i64 time) {
    say("info score cp " + std::to_string(score) + " depth " + std::to_string(depth) + " seldepth " +
        std::to_string(selDepth) + countsText(time) + " pv " + pvToText(p, p.pvLast));
}

void printMate(const Position& p, int score, int depth, i64 time) {
    say("info score mate " + std::to_string(mateInMoves(score)) + " depth " + std::to_string(depth) + countsText(time) +
        " pv " + pvToText(p, p.pvLast));
}

bool isMateWithin(int score, int depth) {
    return (score >= MATE_IN_MAX && MATE_VALUE - score <= depth) || (score <= -MATE_IN_MAX && score + MATE_VALUE <= depth);
}

}  // namespace

int mateInMoves(int score) { return score > 0 ? (MATE_VALUE - score) / 2 + 1 : -((MATE_VALUE + score) / 2); }

namespace {

// A line drawn by the rules goes no further (a mate on the hundredth
// half-move ends it anyway).
bool lineIsDrawn(const Position& pos, int ply) { return isRuleRepetition(pos, ply) || pos.rule50 >= 100; }

// Walks exact hash entries with legal moves from ply `first` on, stores them
// in plyStack[i].bestMove and returns the number of moves made; the caller
// undoes them.
int walkPv(Position& pos, int first, int maxPly) {
    int made = first;
    for (int i = first; i < maxPly && i < MAX_SEARCH_PLY; i++) {
        const TTEntry e = ttProbe(pos.key);
        const Move m = e.move();
        if (e.bound() != BOUND_EXACT || isNoMove(m)) break;
        pos.plyStack[i].inCheck = isInCheck(pos);
        if (!isPseudoLegal(i, m, pos) || !isFullyLegal(m, pos)) break;
        pos.plyStack[i].bestMove = m;
        doMove(i, m, pos);
        pos.pvLast = u8(i);
        made = i + 1;
        if (lineIsDrawn(pos, i + 1)) break;
    }
    return made;
}

// The line of an iteration below depth 10, where the driver neither stores
// the root in the table nor extracts the variation (that extraction may
// replace the root move and sets the ponder move): the root's own best move,
// then the exact entries after it, walked on a copy so that the search sees
// nothing of it.
void printShallowInfo(const Position& p, Position& scratch, int score, int depth, i64 time) {
    std::memcpy(static_cast<void*>(&scratch), &p, sizeof p);
    const Move best = p.plyStack[0].bestMove;
    scratch.pvLast = 0;
    doMove(0, best, scratch);
    int made = 1;
    if (!lineIsDrawn(scratch, 1)) made = walkPv(scratch, 1, depth);
    for (int i = made - 1; i >= 0; i--) undoMove(i, scratch.plyStack[i].bestMove, scratch);
    printInfo(scratch, score, depth, p.selDepth, time);
}

}  // namespace

void extractPv(Position& pos, int maxPly) {
    pos.pvLast = 0;
    const int made = walkPv(pos, 0, maxPly);
    for (int i = made - 1; i >= 0; i--) undoMove(i, pos.plyStack[i].bestMove, pos);
}

void iterativeDeepening(worker& thread) {
    Position& p = *thread.position;
    const bool main = thread.threadIndex == 0;
    const int minTime = std::max(100, softTimeMs / 16);
    p.nodeCountdown = TIME_CHECK_INTERVAL;
    p.plyStack[0].killer1 = p.plyStack[0].killer2 = Move{};
    const int* width = ASPIRATION[thread.threadIndex % 32];
    p.plyStack[0].inCheck = isInCheck(p);
    generateLegal(0, p.plyStack[0].moveListBegin, p);
    const long rootMoves = p.plyStack[0].moveListEnd - p.plyStack[0].moveListBegin;
    p.rootDepthComplete = 1;
    p.rootDepth = 0;
    p.rootScore = -SCORE_INFINITE;
    p.pvLast = 0;
    int alpha = -SCORE_INFINITE, beta = SCORE_INFINITE, prevScore = -SCORE_INFINITE;
    double scale = 1.0;
    bool keepGoing = true;

    if (rootMoves == 0) {
        // Mated: "info score mate 0". Stalemated: a draw. Either way there is
        // no move, and "bestmove" carries the empty move, whichever thread
        // gets here first.
        p.plyStack[0].bestMove = Move{};
        p.pvLast = 0;
        if (main) {
            stopSearch = true;
            say(p.plyStack[0].inCheck ? "info score mate 0" : "info score cp 0 depth 0");
            elapsedMs = 1;
        }
        return;
    }
    if (main && tbLargestPieces() > 0 && !p.plyStack[0].castlingRights &&
        popCount(p.occupancy()) <= tbLargestPieces()) {
        const Move m = tbProbeRootHook(p);
        if (!isNoMove(m)) {
            stopSearch = true;
            p.plyStack[0].bestMove = m;
            p.pvLast = 0;
            elapsedMs = 1;
            p.rootDepthComplete = 1;
            p.rootDepth = 127;
            return;
        }
    }

    // A search stopped before its first move raised alpha still answers
    // with a legal move.
    if (isNoMove(p.plyStack[0].bestMove) || !isPseudoLegal(0, p.plyStack[0].bestMove, p))
        p.plyStack[0].bestMove = withPiece(p.plyStack[0].moveListBegin[0], p.board[p.plyStack[0].moveListBegin[0].from]);

    const int limit = rootMoves == 1 ? 3 : depthLimit.load();
    const int threshold = threadCount > 3 ? threadCount / 2 + 1 : threadCount / 2;
    p.plyStack[0].singularSubtree = p.plyStack[1].singularSubtree = 0;

    for (int depth = 1;; depth++) {
        bool skip = false;
        if (!main && depth > 9) {
            int deeper = 0;
            for (auto& other : threads)
                if (other.get() != &thread && other->searchDepth.load(std::memory_order_relaxed) >= depth &&
                    ++deeper >= threshold) {
                    skip = true;
                    break;
                }
        }
        if (!skip) {
            p.selDepth = 0;
            thread.searchDepth = depth;
            p.bestMoveChanges = 0;
            int failLows = 0, failHighs = 0, reduction = 0, score = 0;
            if (depth > 5) {
                alpha = std::max(-SCORE_INFINITE, prevScore - width[0]);
                beta = std::min(SCORE_INFINITE, prevScore + width[0]);
            }
            bool finished = false;
            while (!stopSearch.load(std::memory_order_relaxed)) {
                score = alphaBeta(0, std::max(1, depth - reduction), alpha, beta, p);
                if (stopSearch.load(std::memory_order_relaxed)) break;
                if (score <= alpha) {
                    failLows++;
                    reduction = 0;
                    beta = (alpha + beta) / 2;
                    alpha = failLows > 4 ? -MATE_VALUE : score - width[failLows];
                } else if (score >= beta) {
                    failHighs++;
                    reduction++;
                    beta = failHighs > 4 ? MATE_VALUE : score + width[failHighs];
                    if (main && failLows == 0 && !infiniteSearch && !ponderSearch && limit == 0) {
                        elapsedMs = millisecondsSinceStart();
                        if (double(elapsedMs.load()) > double(softTimeMs) * scale) stopSearch = true;
                    }
                } else {
                    finished = true;
                    break;
                }
            }
            const bool completed = finished && !stopSearch.load(std::memory_order_relaxed);
            if (completed) {
                prevScore = p.rootScore = i16(score);
                if (main && depth > 9) ttStore(p.key, p.plyStack[0].bestMove, score, depth, BOUND_EXACT);
                p.rootDepthComplete = 1;
                p.rootDepth = i16(depth);
            }

            int instability = p.bestMoveChanges;
            if (failLows > 1 || failHighs > 1) instability += std::max(failLows, failHighs) - 1;
            elapsedMs = millisecondsSinceStart();

            if (main) {
                boss& b = static_cast<boss&>(thread);
                const bool mate = isMateWithin(prevScore, depth) && !stopSearch;
                if (depth > 9) {
                    extractPv(p, depth);
                    if (!stopSearch && p.pvLast > 0) {
                        b.savedBestMove = p.plyStack[0].bestMove;
                        b.savedPonderMove = p.plyStack[1].bestMove;
                    }
                    if (!quietSearch) printInfo(p, prevScore, depth, p.selDepth, elapsedMs);
                } else if (completed && !mate && !quietSearch) {
                    // Shallow searches (fixed node counts, data generation)
                    // get a score too; a mate line below stands for it.
                    printShallowInfo(p, b.pvScratch, prevScore, depth, elapsedMs);
                }
                if (mate) {
                    if (!quietSearch) printMate(p, prevScore, depth, elapsedMs);
                    if (!infiniteSearch && !ponderSearch) break;
                }
            }

            // Stop decision: the soft target, stretched or shrunk by how
            // often the best move changed.
            bool check = false;
            if (elapsedMs > minTime && depth > stopCheckDepth) {
                check = true;
                stopCheckDepth = depth;
            }
            if (depth > 5) {
                double x;
                if (instability <= 1)
                    x = scale * 0.9;
                else if (scale <= 1.0)
                    x = 1.0 + 0.2 * instability;
                else
                    x = 0.8 * scale + 0.2 * instability;
                scale = std::clamp(x, 0.6, 2.0);
            }
            if (check || main) {
                if (limit != 0) {
                    if (depth >= limit) keepGoing = false;
                } else {
                    if (double(elapsedMs.load()) * timeFactor.load() > double(softTimeMs) * scale) readyToStop = true;
                    keepGoing = ponderSearch || !readyToStop;
                }
                if (infiniteSearch) keepGoing = true;
            }
            if (main && softNodeLimit && depth >= softNodeDepthFloor && nodesSearched() >= softNodeLimit)
                keepGoing = false;
        }
        if (stopSearch || depth >= MAX_SEARCH_PLY || !keepGoing) break;
    }
    elapsedMs = millisecondsSinceStart();
    // A shallow iteration stopped after it changed the root move: the move
    // played is not the one of the last line printed, so print its own.
    if (main && !quietSearch && !p.rootDepthComplete && p.rootDepth <= 9)
        printShallowInfo(p, static_cast<boss&>(thread).pvScratch, p.partialScore, p.rootDepth, elapsedMs);
    if (!keepGoing) stopSearch = true;
}

void bossRun(boss& self) {
    self.savedBestMove = self.savedPonderMove = Move{};
    for (auto& t : threads)
        if (t.get() != &self) wake(*t);
    iterativeDeepening(self);
    readyToStop = true;
    while (!stopSearch && (ponderSearch || infiniteSearch)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stopSearch = true;
    for (auto& t : threads)
        if (t.get() != &self) waitIdle(*t);

    // The vote: the deepest completed iteration wins, then the better score
    // (a mate score always counts by score).
    // A root without legal moves (the boss's move is empty) has nothing to
    // vote on.
    worker* chosen = &self;
    if (threadCount != 1 && depthLimit == 0 && !isNoMove(self.position->plyStack[0].bestMove)) {
        auto merit = [](const worker* t) { return 2 * t->position->rootDepth + t->position->rootDepthComplete; };
        for (auto& t : threads) {
            const Position& tp = *t->position;
            const Position& bp = *chosen->position;
            if (merit(t.get()) != merit(chosen) && tp.rootScore < MATE_IN_MAX) {
                if (merit(t.get()) > merit(chosen)) chosen = t.get();
            } else if (tp.rootScore > bp.rootScore) {
                chosen = t.get();
            }
        }
    }
    Position& r = *chosen->position;
    if (chosen != &self) {
        extractPv(r, r.rootDepth);
        elapsedMs = std::max<i64>(1, elapsedMs);
        printInfo(r, r.rootScore, r.rootDepth, r.selDepth, elapsedMs);
    }
    const Move best = r.plyStack[0].bestMove;
    Move ponder = r.pvLast > 0 ? r.plyStack[1].bestMove : Move{};
    if (isNoMove(ponder) && sameMove(best, self.savedBestMove)) ponder = self.savedPonderMove;
    std::string reply = "bestmove " + moveToText(best, r.sideToMove, r);
    if (!isNoMove(ponder)) reply += " ponder " + moveToText(ponder, r.sideToMove ^ 1, r);
    say(reply);
}

SearchResult searchNodes(const Position& pos, u64 softNodes, u64 hardNodes, int depthFloor) {
    worker& t = *threads[0];
    resetLimits();
    ponderSearch = false;  // a stopped "go ponder" leaves it set
    depthLimit = 0;
    searchStartMs = nowMs();
    softTimeMs = hardTimeMs = 1 << 30;
    timeFactor = 1.0f;
    searchNodeLimit = hardNodes;
    softNodeLimit = softNodes;
    softNodeDepthFloor = depthFloor;
    prepareSearch(pos);
    const bool wasQuiet = quietSearch;
    quietSearch = true;
    iterativeDeepening(t);
    quietSearch = wasQuiet;
    softNodeLimit = 0;
    searchNodeLimit = 0;
    const Position& p = *t.position;
    return {p.rootScore, p.plyStack[0].bestMove, p.rootDepth, nodesSearched()};
}
