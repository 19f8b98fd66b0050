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

// Every line's FEN and the counts it gives, by depth: "FEN ;depth ;count"
// lines (standard.txt) or "FEN;D1 n;...;D6 n" lines (chess960.txt). Checks
// the counts from minDepth to maxDepth and the position record afterwards.
inline void runPerftSuite(const std::string& file, bool chess960Mode, size_t lines, int minDepth, int maxDepth) {
    Chess960Mode mode(chess960Mode);
    std::ifstream in(testData("perft/" + file));
    size_t read = 0;
    for (std::string text; std::getline(in, text); read++) {
        std::istringstream parts(text);
        std::string fen;
        std::getline(parts, fen, ';');
        std::vector<std::pair<int, u64>> counts;
        for (std::string field; std::getline(parts, field, ';');) {
            if (field[0] == 'D') counts.emplace_back(std::stoi(field.substr(1)), std::stoull(field.substr(3)));
            else if (counts.empty()) counts.emplace_back(std::stoi(field), 0);  // the depth, then its count
            else counts.back().second = std::stoull(field);
        }
        TestPosition p(fen);
        for (const auto& [depth, count] : counts) {
            if (depth >= minDepth && depth <= maxDepth) {
                EXPECT_EQ(perft(0, depth, *p), count) << fen << " depth " << depth;
            }
        }
        EXPECT_EQ(checkConsistency(*p), "") << fen;
    }
    EXPECT_EQ(read, lines) << file;
}
