// The "genfens" command: opening positions for data generation, as OpenBench
// asks for them ("genfens N seed S book <file|None> [extra]"). Each position
// is printed as "info string genfens <FEN>"; the same seed, book and words
// give the same positions.
#pragma once

#include <sstream>

void genfensCommand(std::istringstream& words);
