// Perft (leaf counts of the legal move tree) and the move-generator
// self-checks against files of known counts.
#pragma once

#include <string>

#include "board/position.h"

// Leaves below plyStack[ply] at `depth` >= 1; the last ply is counted, not made.
u64 perft(int ply, int depth, Position& pos);
// The "perft" command on a copy of rootPosition.
void perftCommand(int depth);
// "rtest": lines "FEN ;depth ;count". Returns true when every line matched.
bool runPerftChecks(const std::string& path);
// "rtestRFC": lines "FEN;D1 n;D2 n;D3 n;D4 n;D5 n;D6 n".
bool runPerftChecksAllDepths(const std::string& path);

constexpr int MAX_PERFT_DEPTH = 100;
