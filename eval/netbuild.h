// Networks made by the engine itself: a deterministic bootstrap network that
// encodes the material and piece-square balance, and random networks for
// tests and benchmarks.
#pragma once

#include <cstdint>

#include "eval/nnue.h"

// The bootstrap network. Every transformer row carries the value of its piece
// on its square (material plus piece-square value, the mean of middle and
// end game, in units of 2 centipawns), the same for every king square. The
// 128 "own" and 128 "enemy" outputs of a perspective form a thermometer code:
// output c holds clamp(S + offset - 127c, 0, 127), so their sum is the side's
// total S + offset. Layer 1 turns own minus enemy into sixteen clipped
// channels for a positive balance and sixteen for a negative one, layer 2
// passes them through, and the output weights recombine them, so the score
// follows the side to move's material-plus-placement balance (to about
// +-40 pawns) scaled by the usual pawn-and-phase factor.
void buildBootstrapNetwork(NetworkParameters& net);

// Uniform random parameters from a seed; `weightRange` bounds the
// transformer weights (absolute value).
void buildRandomNetwork(NetworkParameters& net, uint64_t seed, int weightRange = 32);
