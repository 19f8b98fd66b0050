// The tactical suite: the positions of tests/data/tactics.epd where the
// engine binary plays a listed best move at depths 8 and 12 must reach a
// floor that a sound search clears easily and a broken one does not.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../uci/engine_session.h"
#include "platform/clock.h"

namespace {

struct Problem {
    std::string fen;  // the four EPD fields
    std::vector<std::string> best;
};

// Lines "<placement> <side> <castling> <ep> bm <move>...; id "<name>";".
std::vector<Problem> readSuite(const std::string& path) {
    std::vector<Problem> suite;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const size_t bm = line.find(" bm "), end = line.find(';');
        if (bm == std::string::npos || end < bm) continue;  // an empty line
        Problem p{line.substr(0, bm), {}};
        std::istringstream moves(line.substr(bm + 4, end - bm - 4));
        for (std::string w; moves >> w;) p.best.push_back(w);
        suite.push_back(p);
    }
    return suite;
}

// Number of problems where the engine's move at `depth` is a best move.
int solvedAt(const std::vector<Problem>& suite, int depth) {
    session::Engine engine;
    int solved = 0;
    for (const Problem& p : suite) {
        engine.send("ucinewgame");
        engine.send("position fen " + p.fen + " 0 1");
        const session::Lines out = engine.search("go depth " + std::to_string(depth), 600000);
        const std::string move = out.empty() ? "" : session::words(out.back()).at(1);
        for (const std::string& b : p.best) solved += move == b;
    }
    return solved;
}

}  // namespace

TEST(SearchTactics, WinAtChessSuiteAtDepths8And12) {
    const std::vector<Problem> suite = readSuite(testData("tactics.epd"));
    ASSERT_GE(suite.size(), 100u);
    const int n = int(suite.size());
    for (const auto& [depth, floorPercent] : {std::pair{8, 40}, std::pair{12, 60}}) {
        const i64 start = nowMs();
        const int solved = solvedAt(suite, depth);
        std::printf("[ tactics  ] depth %d: %d of %d solved in %.1f s\n", depth, solved, n,
                    double(nowMs() - start) / 1000);
        EXPECT_GE(solved * 100, floorPercent * n) << "depth " << depth << ": " << solved << " of " << n;
    }
}
