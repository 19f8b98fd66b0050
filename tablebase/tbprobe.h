// Tablebase probes: win/draw/loss inside the search, distance-to-zeroing at
// the root. Both convert the engine position to a TbPosition and resolve
// captures and en passant with a small search before reading the tables.
#pragma once

#include "board/position.h"
#include "tablebase/tbposition.h"

// WDL values, side to move's view.
enum : int { TB_LOSS = -2, TB_BLESSED_LOSS = -1, TB_DRAW = 0, TB_CURSED_WIN = 1, TB_WIN = 2 };

// DTZ of the zeroing move itself for a WDL value: -1, -101, 0, 101, 1.
int tbDtzBeforeZeroing(int wdl);

// The WDL value of the position. `success`: 0 failure (a missing table or
// file), 1 a plain table value, 2 a capture decides it (a winning capture, or
// an en-passant capture that beats the table value): the best move zeroes.
int probeWdl(const TbPosition& pos, int& success);
// Signed plies to the next zeroing move under best play (positive: the side
// to move wins; beyond +-100 for cursed wins and blessed losses; 0 draw).
// May be one ply short, as the tables store it. `success` 0 on failure.
int probeDtz(const TbPosition& pos, int& success);

// Returned by rootBestMove when the root has no legal move.
constexpr TbMove TB_CHECKMATE_MARKER = 0xFFFF;
constexpr TbMove TB_STALEMATE_MARKER = 0xFFFE;
// The DTZ-optimal root move: the quickest win (smallest positive value; a
// mate counts 1), the longest resistance, or among drawing moves the one
// fixed by the material. 0 on failure. *rootDtz receives the root's DTZ.
TbMove rootBestMove(const TbPosition& pos, int* rootDtz);

// Search probe at `ply` (its en-passant square is read from that ply's
// state; the fifty-move counter is taken as 0). -1 on failure, else the WDL
// value + 2: 0 loss, 1 blessed loss, 2 draw, 3 cursed win, 4 win.
int tbProbeWdl(int ply, const Position& pos);

// Root probe with the position's fifty-move counter. On success prints
// "info score cp S depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv MOVE"
// and returns the legal engine move; a zero move on failure (also for
// positions with castling rights, more men than the tables or a checkmate
// or stalemate at the root). *score, when given, receives S.
Move tbProbeRoot(const Position& pos, int* score = nullptr);
