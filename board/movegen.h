// Move generators. Each writes Move records from `out` on, then stores the end
// pointer in plyStack[ply].moveListEnd and plyStack[ply + 1].moveListBegin, so
// the lists of successive plies lie back to back in one buffer.
//
// Captures and quiet moves are separate passes (a cut-off after a capture
// saves generating the quiet moves). Apart from the evasions and the two legal
// generators the lists are pseudo-legal: the caller tests isLegal().
#pragma once

#include "board/position.h"

// Chess960 castling rules in move reading/writing and legality (UCI_Chess960).
extern bool chess960;

// Sets notPinned; in check produces evasions and sets pickStage to 99.
// Otherwise: captures, capture-promotions (all four pieces), en passant.
void generateCaptures(int ply, Move* out, Position& pos);
// Quiet promotions, pawn pushes, castling, quiet piece and king moves. Must
// follow generateCaptures of the same ply.
void generateQuiets(int ply, Move* out, Position& pos);
// Legal replies to check.
void generateEvasions(int ply, Move* out, Position& pos);
// Captures with queen promotions only, then quiet queen promotions.
void generateQuiescenceCaptures(int ply, Move* out, Position& pos);
// Only captures on the square the previous move went to.
void generateRecaptures(int ply, Move* out, Position& pos);
// Fully legal list (root and perft); sets inCheck.
void generateLegal(int ply, Move* out, Position& pos);
// Number of moves generateLegal would produce.
u64 countLegal(int ply, Move* out, Position& pos);
// Legality of a pseudo-legal move of a side that is not in check.
bool isLegal(int ply, Move move, Position& pos);

// Whether a castling move is among those generateQuiets would produce.
bool castlingIsPseudoLegal(int ply, Move move, Position& pos);

// Complement of the side to move's pieces pinned to its king.
u64 computeNotPinned(const Position& pos);
