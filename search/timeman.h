// Search limits of "go" and the time budget of a move.
#pragma once

#include <atomic>

#include "board/types.h"

// Limits read by "go" (reset to these defaults at every "go").
extern i32 clockTime[2];
extern i32 clockInc[2];
extern i32 movesToGo;
extern bool movesToGoGiven;
// Atomic, like the budget below: "go" writes it before it waits for a
// search that is still finishing, which reads it.
extern std::atomic<i32> depthLimit;
extern i32 mateLimit;
extern i64 nodeLimit;
// The node limits of the running search, summed over all threads. The hard
// one ends the search where the clock is checked (so it may overshoot by one
// check interval per thread); the soft one, used by the data generator, only
// stops the main thread from starting an iteration beyond the depth floor.
// Zero means none. "go" copies nodeLimit into the hard one once the previous
// search has ended.
extern std::atomic<u64> searchNodeLimit;
extern u64 softNodeLimit;
extern int softNodeDepthFloor;
extern i32 moveTime;

// Game progress: half-moves played, as far as known (1024 = unknown).
extern i32 gameStage;
// Set by "ucinewgame"; the next allocation measures the game's increment.
extern bool newGameFlag;
// The MoveOverhead and Ponder options.
extern i32 moveOverhead;
extern bool ponderEnabled;

// The budget: a soft target for the driver's stop decision and a hard limit
// checked inside the search.
extern std::atomic<i32> softTimeMs;
extern std::atomic<float> timeFactor;
extern float incrementFactor;

void resetLimits();
// Computes softTimeMs, hardTimeMs and timeFactor for the side to move of
// rootPosition from the limits, the Threads, Ponder and MoveOverhead
// options and the game stage.
void allocateTime();
