// The searches: alpha-beta with its pruning, reductions and extensions, the
// quiescence search, and the static exchange test. Scores are 16-bit, from
// the side to move's point of view.
#pragma once

#include <atomic>

#include "board/position.h"

constexpr int MATE_VALUE = 32000;
constexpr int MATE_IN_MAX = 31872;          // |score| >= this is a mate score
constexpr int TB_WIN = 31872;               // table win at ply p scores TB_WIN - p
constexpr int NO_EVAL = -32767;             // static evaluation of a ply in check
constexpr int SCORE_INFINITE = 32767;
constexpr int MAX_SEARCH_PLY = 127;
constexpr int TIME_CHECK_INTERVAL = 4096;
// Under a node limit the limit is looked at more often than the clock.
constexpr int NODE_CHECK_INTERVAL = 256;

// Search state shared by the threads (set by "go", read while searching).
extern std::atomic<bool> infiniteSearch;
// The start time and the hard limit are atomic: a "go" that arrives while
// the previous search is still finishing writes them before it waits.
extern std::atomic<i64> searchStartMs;
extern std::atomic<i32> hardTimeMs;

// Turns off every selective part of alpha-beta (pruning, reductions,
// extensions, table cut-offs): a test switch that makes the search a plain
// minimax over the same evaluation.
extern bool searchSelectivityOff;

int alphaBeta(int ply, int depth, int alpha, int beta, Position& pos);
int quiesce(int ply, int depth, int alpha, int beta, Position& pos);
// Whether the exchange started by `move` gains at least `threshold`.
bool seeAtLeast(Move move, int threshold, const Position& pos);

// Repetition of the current position within the last rule50 plies: inside
// the search line at once, before the root only at the second occurrence.
bool isRepetition(const Position& pos, int ply);
// The same by the rules of the game, for the printed line: a double step's
// en-passant square counts only where a pawn could take, although the key
// always carries it.
bool isRuleRepetition(const Position& pos, int ply);
// No pawns and at most a minor piece's worth of material on each side.
bool isInsufficientMaterial(const Position& pos);
// Legality of any generated move, whether or not the side is in check.
bool isFullyLegal(Move move, const Position& pos);
