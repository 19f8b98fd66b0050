// Move ordering: the staged picker of the main search (hash move, winning
// captures, killers, counter move, losing captures, quiet moves by history),
// the test that a stored move fits the position, the history updates, and
// the ProbCut picker.
#pragma once

#include "board/position.h"

// Picker stages: the value of pickStage while the returned move is searched.
enum : u8 {
    STAGE_HASH_PENDING = 0,
    STAGE_HASH = 1,
    STAGE_GOOD_CAPTURES = 2,
    STAGE_KILLER1 = 4,
    STAGE_KILLER2 = 5,
    STAGE_COUNTER = 6,
    STAGE_BAD_CAPTURES = 7,
    STAGE_QUIETS = 9,
    STAGE_EVASIONS = 99
};

constexpr u8 LOSING_CAPTURE = 255;

// Moves carry the moving piece in their top byte once they are made, and
// whenever they are stored (table, killers, best move).
inline Move withPiece(Move m, int piece) {
    m.score = u8(piece);
    return m;
}

// Sets up the picker of a ply for a node with hash move `hashMove` (0 for none).
void initPicker(int ply, Move hashMove, Position& pos);
// The next move to search, or a zero move when the list is exhausted. The
// returned move carries the ordering data of its list entry.
Move nextMove(int ply, Position& pos);
// Whether a stored move (its top byte holding the moving piece) is one the
// generators could produce at this ply.
bool isPseudoLegal(int ply, Move move, const Position& pos);
// Rewards a quiet move that caused a cut-off, penalises the quiet moves tried
// before it, and updates the killers and counter move.
void updateQuietCutoff(int ply, Move move, int depth, Position& pos);
// The continuation tables selected for a node (nullptr when not selected).
PieceToHistory* followUpTable(int ply, const Position& pos);
PieceToHistory* counterMoveTable(int ply, const Position& pos);
// History score of a quiet move: main + follow-up + counter-move tables.
int quietScore(Move move, int piece, const Position& pos, const PieceToHistory* followUp, const PieceToHistory* counter);
