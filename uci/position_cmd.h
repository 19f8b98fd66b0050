// The "position" command: sets rootPosition from the start position or a
// FEN and plays a list of moves on it at ply 0, filling the key history.
#pragma once

#include <sstream>

#include "board/types.h"

void positionCommand(std::istringstream& words);
// Plays one legal move on rootPosition without leaving ply 0.
void applyRootMove(Move move);
