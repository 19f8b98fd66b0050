// Evaluation constants shared by the incremental sums of the board and the
// hand-written evaluation. They are plain globals (not constexpr) because the
// Texel tuner adjusts them in place.
#pragma once

#include "board/types.h"

constexpr int NOFSQUARES = 64;

// Indexed by piece type (pawn .. king). The king's value never enters the sums.
extern Score pieceValue[6];
extern int phaseWeight[6];

// Packed piece-square values, written as a diagram from White's side: index 0
// is a8, 7 is h8, 63 is h1. A white piece on s reads entry s ^ 56, a black
// piece reads entry s.
extern Score pieceSquareScore[6][NOFSQUARES];
