// Helpers of the fast and slow tablebase tests: data files, positions, moves.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "board/fen.h"
#include "tablebase/tablebase.h"
#include "test_util.h"

// Lines of the tablebase data files, "FEN;wdl;dtz" (probe vectors) or
// "FEN;move move ..." (the DTZ-optimal root moves).
struct TbVector {
    std::string fen;
    int wdl = 0, dtz = 0;
    std::vector<std::string> moves;
};

inline std::vector<TbVector> readTbFile(const std::string& path) {
    std::vector<TbVector> out;
    std::ifstream in(path);
    for (std::string text; std::getline(in, text);) {
        if (text.empty() || text[0] == '#') continue;
        const size_t a = text.find(';'), b = text.find(';', a + 1);
        TbVector v{text.substr(0, a), 0, 0, {}};
        std::istringstream moves(b == std::string::npos ? text.substr(a + 1) : "");
        for (std::string m; moves >> m;) v.moves.push_back(m);
        if (b != std::string::npos) {
            v.wdl = std::stoi(text.substr(a + 1));
            v.dtz = std::stoi(text.substr(b + 1));
        }
        out.push_back(v);
    }
    EXPECT_FALSE(out.empty()) << path;
    return out;
}

// The position of the FEN at ply 0 with the FEN's halfmove clock.
inline TbPosition tbPositionFromFen(const std::string& fen) {
    TestPosition p(fen);
    return tbFromPosition(*p, 0, p->rule50);
}

// Coordinate text of a tablebase move ("e7e8q").
inline std::string tbMoveText(TbMove move) {
    std::string text = squareText(tbFrom(move)) + squareText(tbTo(move));
    if (tbPromotion(move)) text += " pnbrqk"[tbPromotion(move)];
    return text;
}

// Probes every line of a vector file up to the first failure; returns the
// count of positions by number of men.
inline std::vector<int> expectVectorsAgree(const std::string& path) {
    std::vector<int> byMen(8);
    for (const TbVector& v : readTbFile(path)) {
        const TbPosition p = tbPositionFromFen(v.fen);
        int wdlSuccess, dtzSuccess;
        const std::pair<int, int> got(probeWdl(p, wdlSuccess), probeDtz(p, dtzSuccess));
        EXPECT_EQ(std::tuple(got.first, got.second, wdlSuccess && dtzSuccess), std::tuple(v.wdl, v.dtz, true)) << v.fen;
        if (testing::Test::HasFailure()) break;
        byMen[tbMenCount(p)]++;
    }
    return byMen;
}

// The 3- and 4-man tables kept with the tests; the shared 5-man directory.
inline std::string smallTablesDir() { return testData("syzygy/tables"); }
inline std::string sharedTablesDir() { return std::string(VELMORA_SHARED_DATA) + "/syzygy"; }
