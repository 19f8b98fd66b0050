// What the search needs from the tablebases, kept to a few calls.
#pragma once

#include "board/position.h"

// Largest piece count of the loaded tables (0 = none).
int tbLargestPieces();
// The SyzygyProbeDepth option.
int tbProbeDepth();
// Win/draw/loss of the position for the side to move: 0 loss, 1 blessed
// loss, 2 draw, 3 cursed win, 4 win; -1 when the tables give no answer.
int tbProbeWdlHook(int ply, Position& pos);
// A tablebase-optimal root move (printing its own "info" line), or a zero
// move when the tables give none.
Move tbProbeRootHook(Position& pos);
