// The static evaluation. evaluate() is the one entry point: it answers from
// the thread's evaluation cache when it can, otherwise it hands positions with
// a lopsided material-plus-placement balance to the hand-written evaluation
// below and everything else to the network. The hand-written evaluation works
// on packed X(mg, eg) pairs, keeps its pawn structure in a pawn cache and
// tapers the result by the game phase.
#pragma once

#include "board/position.h"

// One pawn-cache slot, indexed by the low 16 bits of the pawn-and-king key.
// The score (White-relative, packed) covers the pawn structure and the king
// pawn storm; both only depend on pawns and kings.
struct PawnCacheEntry {
    u64 key;           // the full pawn-and-king key; 0 never matches a real one
    u64 passedPawns;   // passed pawns of both colours
    Score score;
};

// One evaluation-cache slot, indexed by the low 14 bits of the position key.
// The score is White-relative, whichever evaluator produced it.
struct EvalCacheEntry {
    u64 key;
    i16 score;
};

constexpr int PAWN_CACHE_ENTRIES = 65536;
constexpr int EVAL_CACHE_ENTRIES = 16384;

// The caches of one search thread. Stale slots are harmless (every probe
// compares the full key), so clearing is only needed when the evaluation's
// parameters change.
struct EvalCaches {
    PawnCacheEntry pawn[PAWN_CACHE_ENTRIES];
    EvalCacheEntry eval[EVAL_CACHE_ENTRIES];
};

// Points the position's cache pointers at the record.
void attachEvalCaches(Position& pos, EvalCaches& caches);
void clearEvalCaches(EvalCaches& caches);

// Static evaluation from the side to move's point of view. `ply` picks the
// network accumulator. Needs attached caches and current sums and keys.
// Without a loaded network the hand-written evaluation answers everywhere.
i16 evaluate(int ply, Position& pos);

// The middle-game part of the material-plus-placement balance, White's view:
// what decides between the network and the hand-written evaluation.
int middleGameBalance(const Position& pos);

// Whether evaluate() hands the position to the network (the middle-game
// balance is below handWrittenBalance).
bool networkEvaluates(const Position& pos);

// evaluate() for a position whose network score (side to move's view) is
// already known: the same choice between the network and the hand-written
// evaluation, without the network pass and without the evaluation cache. The
// tuner keeps each position's network score, which the tuned tables never
// change.
i16 evaluateWithNetworkScore(Position& pos, i16 networkScore);

// The hand-written evaluation alone, side-to-move relative. It uses (and
// fills) the pawn cache, not the evaluation cache.
i16 evaluateHandWritten(Position& pos);

// Measurement switch: the hand-written evaluation answers everywhere, the
// network nowhere. Off by default; the build option
// VELMORA_HANDWRITTEN_EVERYWHERE turns it on for a whole engine (used to
// measure networks against the hand-written evaluation), and the data
// generator sets it to label games with the hand-written evaluation.
extern bool handWrittenEverywhere;

// Test switch: the push-mobility terms of both colours enter the mobility
// sums before either side's king danger reads them. Normally White's king
// danger is computed before Black's push term is added, Black's after
// White's; with the switch on the evaluation is exactly colour-symmetric.
extern bool evalSymmetricPushTerms;

// Pieces of the hand-written evaluation, for tests.
namespace evalterms {
// Pawn structure and king pawn storm of both colours, White-relative,
// computed without the cache; *passed receives the passed pawns.
Score pawnStructure(const Position& pos, u64* passed);
// The complexity adjustment: moves only the end-game part, towards zero by
// at most its size or away from zero, never across it.
Score applyComplexity(Score total, u64 pawns, bool pawnEnding);
// The whole hand-written evaluation before the taper: White-relative packed
// total with complexity and tempo applied (uses the pawn cache).
Score handWrittenTotal(Position& pos);
// Middle-game and end-game parts blended by the phase (clamped to 0..24),
// truncating towards zero.
int taper(Score total, int phase);
}  // namespace evalterms
