// Time allocation: the budget for clocks with and without increments, with
// and without "movestogo", and "movetime".
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "board/fen.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "test_util.h"
#include "uci/engine.h"

namespace {

// One allocation for White from a fresh set of limits; togo -1: none given.
void allocate(int time, int inc, int stage, bool newGame, int togo = -1, int moveTimeMs = 0) {
    initEngineForTests();
    setPositionFromFen(START_FEN, rootPosition);
    resetLimits();
    clockTime[WHITE] = time;
    clockInc[WHITE] = inc;
    if (togo >= 0) movesToGo = togo, movesToGoGiven = true;
    moveTime = moveTimeMs;
    gameStage = stage;
    newGameFlag = newGame;
    incrementFactor = 1.37f;
    allocateTime();
}

struct Defaults {
    int threads = threadCount, overhead = moveOverhead;
    bool ponder = ponderEnabled;
    Defaults() { threadCount = 1, moveOverhead = 100, ponderEnabled = false; }
    ~Defaults() { threadCount = threads, moveOverhead = overhead, ponderEnabled = ponder, resetLimits(); }
};

}  // namespace

// Budgets worked out by hand: the first search of a game, short clocks, an
// increment larger than the clock (halved, factor 5), movestogo 1, 4 (its
// 40 ms floor capped by the time left) and 0 (read as none), ponder and
// thread-count shares, an unknown stage, and "movetime" as the hard limit.
TEST(TimeAllocation, Budgets) {
    const struct {
        int time, inc, stage, newGame, togo, threads, ponder, soft, hard;  // togo -1: none given
        float factor;
        int moveTime = 0;
    } cases[] = {
        {900000, 0, 0, true, -1, 1, false, 14850, 74250, 1.0f},
        {10000, 0, 30, false, -1, 1, false, 299, 1495, 1.0f},
        {10000, 0, 30, false, 0, 1, false, 299, 1495, 1.0f},
        {1000, 1000, 30, true, -1, 1, false, 449, 450, 5.0f},
        {60000, 1000, 0, true, -1, 1, false, 1864, 9320, 1.0f},
        {5000, 0, 60, false, 1, 1, false, 3650, 4900, 1.0f},
        {120, 0, 60, false, 4, 1, false, 21, 22, 1.0f},
        {2000, 0, 60, false, 4, 1, false, 365, 950, 1.0f},
        {10000, 0, 30, false, -1, 1, true, int(454 * (0.66f * 1.1f)), -1, 1.0f},
        {10000, 0, 30, false, -1, 8, false, int(454 * 0.76f), -1, 1.0f},
        {10000, 0, 1024, false, -1, 1, false, int(10000 / 30 * (0.66f * 1.4f)), -1, 1.0f},
        {900000, 0, 30, false, -1, 1, false, 5000, 500, 1.0f, 500},
    };
    for (const auto& c : cases) {
        Defaults d;
        threadCount = c.threads;
        ponderEnabled = c.ponder;
        SCOPED_TRACE(::testing::Message() << c.time << "+" << c.inc << " stage " << c.stage << " togo " << c.togo
                                          << " threads " << c.threads << " movetime " << c.moveTime);
        allocate(c.time, c.inc, c.stage, c.newGame, c.togo, c.moveTime);
        EXPECT_EQ(softTimeMs, c.soft);
        EXPECT_TRUE(c.hard < 0 || hardTimeMs == c.hard) << hardTimeMs;
        EXPECT_FLOAT_EQ(timeFactor, c.factor);
    }
    Defaults d;
    allocate(900000, 0, 0, true);
    EXPECT_FLOAT_EQ(incrementFactor, 1.75f);
    EXPECT_EQ(movesToGo, 40);
    EXPECT_FALSE(newGameFlag);
    allocate(1000, 1000, 30, true);
    EXPECT_FLOAT_EQ(incrementFactor, 1.37f);
    allocate(10000, 0, 1024, false);
    EXPECT_EQ(movesToGo, 30);
}

// Every clock word of "go" reaches the time manager; the hash statistics
// after the search give each age and each depth its per cent of the used
// entries (every used entry has an age).
TEST(GoCommand, ClockWordsReachTheLimitsAndHashSharesArePercentages) {
    initEngineForTests();
    Defaults defaults;
    useBootstrapNetwork();
    CapturedOutput out;
    executeCommand("setoption name Threads value 1");  // the workers
    executeCommand("position startpos");
    executeCommand("go depth 4 wtime 7000 btime 8000 winc 300 binc 400 movestogo 9");
    waitIdle(*threads[0]);
    EXPECT_EQ((std::vector<int>{clockTime[WHITE], clockTime[BLACK], clockInc[WHITE], clockInc[BLACK], movesToGo}),
              (std::vector<int>{7000, 8000, 300, 400, 9}));
    const size_t before = out.text().size();
    executeCommand("hashstats");
    std::istringstream lines(out.text().substr(before));
    int sums[2] = {}, table = -1;
    for (std::string text; std::getline(lines, text);) {
        table += text.rfind("Age distribution", 0) == 0 || text.rfind("Depth distribution", 0) == 0;
        int index, count, used;
        if (table >= 0 && std::sscanf(text.c_str(), "%d %d - %d", &index, &count, &used) == 3) sums[table] += used;
    }
    EXPECT_TRUE(sums[0] >= 90 && sums[0] <= 100) << sums[0];
    EXPECT_LE(sums[1], 100);
}
