// Text forms of the board: FEN set-up (standard, X-FEN and Shredder-FEN
// castling), coordinate move text, the principal-variation text and the board
// diagram.
#pragma once

#include <string>

#include "board/position.h"

inline constexpr const char* START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// Replaces the board state of `pos` with the FEN. A malformed FEN (bad
// characters, wrong square count, kings missing or doubled, pawns on the
// first or last rank, more than 16 men or 8 pawns a side, no side to move,
// non-numeric counters, the side not to move in check) is refused: the
// function returns false, sets *error and leaves `pos` untouched. Castling
// rights without their king and rook, and an en-passant square without the
// pawn that double-stepped, are dropped rather than refused.
bool setPositionFromFen(const std::string& fen, Position& pos, std::string* error = nullptr);

// Start position number `index` (0..959, Scharnagl numbering) of Chess960,
// with Shredder-FEN castling letters; 518 is the standard array.
std::string chess960StartFen(int index);

// FEN of the position (Shredder-style castling letters in Chess960 mode).
std::string positionToFen(const Position& pos);

std::string squareText(int sq);
std::string moveToText(Move move, int side, const Position& pos);
// Text of plyStack[0..pvLast].bestMove, each move followed by one space.
std::string pvToText(const Position& pos, int pvLast);
// Reads coordinate text for the side to move without checking legality.
// Returns a zero move when the text is not of the form <sq><sq>[nbrq].
Move parseMoveText(const std::string& text, const Position& pos);
// Reads the text and matches it against the legal moves at `ply` (the list
// is generated into that ply's buffer). Returns a zero move when it is not
// a legal move.
Move parseLegalMove(const std::string& text, int ply, Position& pos);
std::string boardDiagram(const Position& pos);
