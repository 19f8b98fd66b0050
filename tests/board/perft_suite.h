// The perft suites under tests/data/perft, run at a range of depths.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "board/perft.h"
#include "test_util.h"

struct PerftCase {
    std::string fen;
    std::vector<std::pair<int, u64>> counts;  // depth, count
};

// "FEN ;depth ;count" (standard.txt) or "FEN;D1 n;...;D6 n" (chess960.txt).
inline std::vector<PerftCase> readPerftSuite(const std::string& file) {
    std::vector<PerftCase> cases;
    std::ifstream in(testData("perft/" + file));
    for (std::string text; std::getline(in, text);) {
        std::istringstream parts(text);
        PerftCase c;
        std::getline(parts, c.fen, ';');
        for (std::string field; std::getline(parts, field, ';');) {
            if (field[0] == 'D') c.counts.emplace_back(std::stoi(field.substr(1)), std::stoull(field.substr(3)));
            else if (c.counts.empty()) c.counts.emplace_back(std::stoi(field), 0);  // the depth, then its count
            else c.counts.back().second = std::stoull(field);
        }
        cases.push_back(c);
    }
    return cases;
}

// Checks the counts from minDepth to maxDepth, then the position record.
inline void runPerftSuite(const std::string& file, bool chess960Mode, size_t lines, int minDepth, int maxDepth) {
    Chess960Mode mode(chess960Mode);
    const std::vector<PerftCase> cases = readPerftSuite(file);
    EXPECT_EQ(cases.size(), lines) << file;
    for (const PerftCase& c : cases) {
        TestPosition p(c.fen);
        for (const auto& [depth, count] : c.counts)
            if (depth >= minDepth && depth <= maxDepth) {
                EXPECT_EQ(perft(0, depth, *p), count) << c.fen << " depth " << depth;
            }
        EXPECT_EQ(checkConsistency(*p), "") << c.fen;
    }
}
