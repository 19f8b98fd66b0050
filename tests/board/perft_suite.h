// Reads the perft suites under tests/data/perft.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/types.h"
#include "test_util.h"

struct PerftCase {
    std::string fen;
    std::vector<u64> counts;  // counts[d - 1] = perft at depth d; 0 = not given
};

// "FEN ;depth ;count" lines.
inline std::vector<PerftCase> readStandardSuite() {
    std::vector<PerftCase> cases;
    std::ifstream in(testData("perft/standard.txt"));
    for (std::string text; std::getline(in, text);) {
        std::istringstream parts(text);
        std::string fen, depth, count;
        std::getline(parts, fen, ';');
        std::getline(parts, depth, ';');
        std::getline(parts, count, ';');
        PerftCase c{fen, std::vector<u64>(size_t(std::stoi(depth)), 0)};
        c.counts.back() = std::stoull(count);
        cases.push_back(c);
    }
    return cases;
}

// "FEN;D1 n;...;D6 n" lines.
inline std::vector<PerftCase> readChess960Suite() {
    std::vector<PerftCase> cases;
    std::ifstream in(testData("perft/chess960.txt"));
    for (std::string text; std::getline(in, text);) {
        std::istringstream parts(text);
        PerftCase c;
        std::getline(parts, c.fen, ';');
        for (std::string field; std::getline(parts, field, ';');) c.counts.push_back(std::stoull(field.substr(3)));
        cases.push_back(c);
    }
    return cases;
}
