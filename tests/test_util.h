// Helpers shared by the tests: one-time engine set-up, random games, a full
// consistency check of a position record, and running the engine binary.
#pragma once

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/position.h"

// Builds the tables and a small hash table once per test process.
void initEngineForTests();

// A fresh position record (heap, zeroed) with its own move buffer, set from
// the FEN; fails the test when the FEN is refused.
struct TestPosition {
    std::unique_ptr<Position> pos;
    std::unique_ptr<Move[]> buffer;
    explicit TestPosition(const std::string& fen);
    Position& operator*() { return *pos; }
    Position* operator->() { return pos.get(); }
};

// Every redundant field agrees with the board: bitboards with the square
// array, keys with computeKey, sums with recomputeSums, one king a side.
// Returns an empty string when consistent, else what is wrong.
std::string checkConsistency(const Position& pos);

// Legal moves of ply 0 as coordinate texts, sorted.
std::vector<std::string> legalMoveTexts(Position& pos);

// Plays up to `plies` random legal moves at ply 0 (as the position command
// does); stops early at mate or stalemate.
void playRandomMoves(Position& pos, int plies, std::mt19937_64& rng);

// A random Chess960 start position (index 0..959) as a Shredder-FEN.
std::string chess960StartFen(int index);

// Runs the engine binary with the given standard input and arguments,
// returns everything it printed on standard output.
std::string runEngine(const std::string& input, const std::vector<std::string>& args = {});

// Whole lines of the text.
std::vector<std::string> splitLines(const std::string& text);

// Path of a file under tests/data.
std::string testData(const std::string& relative);
