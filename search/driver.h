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

void iterativeDeepening(worker& thread);
void bossRun(boss& thread);
// Walks exact hash entries with legal moves from the position, up to maxPly
// moves, into plyStack[i].bestMove; sets pvLast. The position is restored.
void extractPv(Position& pos, int maxPly);
// The distance to mate in moves for a mate score (negative when mated).
int mateInMoves(int score);
