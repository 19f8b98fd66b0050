#include "uci/go.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
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

// The words of one "go". They are read into this record first and become
// the search's limits only once the previous search has ended, so that a
// "go" sent before the last "bestmove" cannot change the running search.
struct GoWords {
    i64 arrivalMs = 0;
    bool ponder = false;
    bool infinite = false;
    i32 clock[2] = {900000, 900000};
    i32 increment[2] = {0, 0};
    i32 movesToGo = 30;
    bool movesToGoGiven = false;
    i32 depth = 0;
    i64 nodes = 0;
    i32 mate = 0;
    i32 moveTime = 0;
    bool clockGiven = false;
};

// A whole decimal number (sign allowed), clamped to the range of its field;
// false for anything else.
template <typename T>
bool readNumber(std::istringstream& words, T& out) {
    std::string word;
    if (!(words >> word)) return false;
    char* end = nullptr;
    const long long v = std::strtoll(word.c_str(), &end, 10);  // saturates beyond 64 bits
    if (end == word.c_str() || *end) return false;
    out = T(std::clamp<long long>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
    return true;
}

GoWords readGoWords(std::istringstream& words) {
    GoWords g;
    g.arrivalMs = nowMs();
    for (std::string word; words >> word;) {
        bool ok = true;
        g.clockGiven |= word == "wtime" || word == "btime" || word == "movetime";
        if (word == "ponder")
            g.ponder = true;
        else if (word == "wtime")
            ok = readNumber(words, g.clock[WHITE]);
        else if (word == "btime")
            ok = readNumber(words, g.clock[BLACK]);
        else if (word == "winc")
            ok = readNumber(words, g.increment[WHITE]);
        else if (word == "binc")
            ok = readNumber(words, g.increment[BLACK]);
        else if (word == "movestogo")
            ok = g.movesToGoGiven = readNumber(words, g.movesToGo);
        else if (word == "depth")
            ok = readNumber(words, g.depth);
        else if (word == "nodes")
            ok = readNumber(words, g.nodes);
        else if (word == "mate")
            ok = readNumber(words, g.mate);
        else if (word == "movetime")
            ok = readNumber(words, g.moveTime);
        else if (word == "infinite")
            g.infinite = true;
        if (!ok) break;  // a number that does not read ends the limits
    }
    return g;
}

// Makes the record the search's limits and budget. Only while no search runs.
void publishLimits(const GoWords& g) {
    searchStartMs = g.arrivalMs;
    ponderSearch = g.ponder;
    resetLimits();
    infiniteSearch = g.infinite;
    for (int side : {WHITE, BLACK}) {
        clockTime[side] = g.clock[side];
        clockInc[side] = g.increment[side];
    }
    movesToGo = g.movesToGo;
    movesToGoGiven = g.movesToGoGiven;
    depthLimit = g.depth;
    nodeLimit = g.nodes;
    mateLimit = g.mate;
    moveTime = g.moveTime;
    allocateTime();
    // A node count alone is a complete limit: the default clock does not cut it short.
    if (nodeLimit > 0 && !g.clockGiven) softTimeMs = hardTimeMs = 1 << 30;
    searchNodeLimit = u64(std::max<i64>(0, nodeLimit));
    softNodeLimit = 0;
}

}  // namespace

void goCommand(std::istringstream& words) {
    if (!netLoaded) {
        say("info string NetFile not found/correct: " + netFileName + ". Unable to calculate the best move for the position.");
        return;
    }
    const GoWords g = readGoWords(words);

    // A search that only "stop" or "ponderhit" would end cannot be waited
    // for here (the loop reads no command while it waits): the new "go"
    // ends it as "stop" would, and it prints its move first.
    if (infiniteSearch || ponderSearch) finishSearch();
    waitIdle(*threads[0]);

    publishLimits(g);
    startSearch(rootPosition);
}
