// The search driver: iterative deepening with aspiration windows on each
// thread, the stop rules, the "info" lines, the principal variation read from
// the hash table, and the boss's vote and "bestmove".
#pragma once

#include <atomic>

#include "board/position.h"

class worker;
class boss;

// Time used since "go" (written by every thread after its iterations).
extern std::atomic<i64> elapsedMs;
extern std::atomic<int> stopCheckDepth;
extern std::atomic<u64> tbHitsTotal;
// Set while the engine searches for itself (openings, data generation): the
// search runs as ever but prints nothing.
extern bool quietSearch;

void iterativeDeepening(worker& thread);
void bossRun(boss& thread);
// Walks exact hash entries with legal moves from the position, up to maxPly
// moves, into plyStack[i].bestMove; sets pvLast. The position is restored.
void extractPv(Position& pos, int maxPly);
// The distance to mate in moves for a mate score (negative when mated).
int mateInMoves(int score);

// Searches `pos` with the driver on the calling thread, in the first search
// thread's record (no search may be running; nothing is printed): stops
// after the iteration in which `softNodes` are passed (but not before
// `depthFloor`), or at once at `hardNodes`. Returns the score of the last
// completed iteration (side to move's view), the best move, the depth
// completed (0 when none was) and the nodes searched.
struct SearchResult {
    int score;
    Move move;
    int depth;
    u64 nodes;
};
SearchResult searchNodes(const Position& pos, u64 softNodes, u64 hardNodes, int depthFloor);
