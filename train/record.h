// Training records: one kept position of a self-play game in 32 bytes.
//
// Layout (little-endian, no padding):
//   0  u64  occupancy: bit s set when square s (a1 = 0 .. h8 = 63) holds a piece
//   8  u8[16] piece codes of the occupied squares in ascending square order,
//           two per byte, the lower square in the low nibble (codes 2..13)
//  24  i16  search score, side to move's view, centipawns
//  26  u16  game ply (half-moves since the game's start array)
//  28  i8   game result, side to move's view: -1 loss, 0 draw, 1 win
//  29  u8   side to move (0 White, 1 Black)
//  30  u8   fifty-move counter (clamped to 255)
//  31  u8   flags: bit 0 (RECORD_NO_RESULT) marks a position off the game's
//           path, whose result byte means nothing; the rest are 0
//
// Files are plain arrays of records, so they can be appended to, split and
// concatenated with ordinary tools; a file whose size is not a multiple of 32
// ends in a torn record, which readers ignore and writers cut off.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "board/position.h"

struct TrainingRecord {
    u64 occupancy;
    u8 pieces[16];
    i16 score;
    u16 ply;
    i8 result;
    u8 sideToMove;
    u8 rule50;
    u8 flags;

    int pieceAt(int index) const { return (pieces[index >> 1] >> ((index & 1) * 4)) & 15; }
};
static_assert(sizeof(TrainingRecord) == 32);

// A position one move off the game's path (the generator's --off-path): it was
// never played on, so only its score can teach anything.
constexpr u8 RECORD_NO_RESULT = 1;
inline bool hasResult(const TrainingRecord& r) { return !(r.flags & RECORD_NO_RESULT); }

TrainingRecord packRecord(const Position& pos, int score, int ply);
// The position of a record as a FEN (no castling rights, no en-passant square).
std::string recordToFen(const TrainingRecord& r);

// Calls f(pieceCode, square) for every piece of the record.
template <typename F>
void forEachPiece(const TrainingRecord& r, F&& f) {
    u64 occ = r.occupancy;
    for (int i = 0; occ; i++) f(r.pieceAt(i), popLsb(occ));
}

// Reads the whole records of a file (a torn tail is dropped). False when the
// file cannot be opened.
bool readRecords(const std::string& path, std::vector<TrainingRecord>& out);
// Number of whole records in a file (-1 when it cannot be opened).
long long countRecords(const std::string& path);
// Appends records with one write; false on a write error.
bool appendRecords(const std::string& path, const std::vector<TrainingRecord>& records);
// Cuts a file back to `records` whole records.
bool truncateRecords(const std::string& path, long long records);
