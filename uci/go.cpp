#include "uci/go.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "eval/nnue.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "search/driver.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "uci/engine.h"

namespace {

// A whole decimal number (sign allowed); false for anything else.
template <typename T>
bool readNumber(std::istringstream& words, T& out) {
    std::string word;
    if (!(words >> word)) return false;
    char* end = nullptr;
    const long long v = std::strtoll(word.c_str(), &end, 10);
    if (end == word.c_str() || *end) return false;
    out = T(v);
    return true;
}

}  // namespace

void goCommand(std::istringstream& words) {
    if (!netLoaded) {
        say("info string NetFile not found/correct: " + netFileName + ". Unable to calculate the best move for the position.");
        return;
    }
    searchStartMs = nowMs();
    ponderSearch = false;
    resetLimits();

    i32 depth = 0;
    bool clockGiven = false;
    for (std::string word; words >> word;) {
        bool ok = true;
        clockGiven |= word == "wtime" || word == "btime" || word == "movetime";
        if (word == "ponder")
            ponderSearch = true;
        else if (word == "wtime")
            ok = readNumber(words, clockTime[WHITE]);
        else if (word == "btime")
            ok = readNumber(words, clockTime[BLACK]);
        else if (word == "winc")
            ok = readNumber(words, clockInc[WHITE]);
        else if (word == "binc")
            ok = readNumber(words, clockInc[BLACK]);
        else if (word == "movestogo")
            ok = movesToGoGiven = readNumber(words, movesToGo);
        else if (word == "depth")
            ok = readNumber(words, depth);
        else if (word == "nodes")
            ok = readNumber(words, nodeLimit);
        else if (word == "mate")
            ok = readNumber(words, mateLimit);
        else if (word == "movetime")
            ok = readNumber(words, moveTime);
        else if (word == "infinite")
            infiniteSearch = true;
        if (!ok) break;  // a number that does not read ends the limits
    }
    depthLimit = depth;

    allocateTime();
    // A node count alone is a complete limit: the default clock does not cut it short.
    if (nodeLimit > 0 && !clockGiven) {
        softTimeMs = hardTimeMs = 1 << 30;
    }
    waitIdle(*threads[0]);
    stopSearch = false;
    readyToStop = false;
    stopCheckDepth = 0;
    searchNodeLimit = u64(std::max<i64>(0, nodeLimit));
    softNodeLimit = 0;
    ttNewSearch();
    for (auto& t : threads) t->takeRootPosition(rootPosition);
    wake(*threads[0]);
}
