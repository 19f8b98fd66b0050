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

struct Budget {
    int soft, hard;
    float factor;
};

// One allocation for White from a fresh set of limits.
Budget allocate(int time, int inc, int stage, bool newGame, float incFactor = 1.37f, int togo = 0) {
    initEngineForTests();
    setPositionFromFen(START_FEN, rootPosition);
    resetLimits();
    clockTime[WHITE] = time;
    clockInc[WHITE] = inc;
    if (togo) movesToGo = togo, movesToGoGiven = true;
    gameStage = stage;
    newGameFlag = newGame;
    incrementFactor = incFactor;
    allocateTime();
    return {softTimeMs, hardTimeMs, timeFactor};
}

struct Defaults {
    int threads = threadCount, overhead = moveOverhead;
    bool ponder = ponderEnabled;
    Defaults() { threadCount = 1, moveOverhead = 100, ponderEnabled = false; }
    ~Defaults() {
        threadCount = threads, moveOverhead = overhead, ponderEnabled = ponder;
        resetLimits();
    }
};

}  // namespace

// Budgets worked out from the allocation rules: the first search of a game
// (movestogo from the stage, the increment factor from the clock), short
// clocks, an increment larger than the clock (halved, factor 5), movestogo
// (one move left; four moves, whose 40 ms floor the time left caps), ponder
// and thread-count shares, an unknown stage.
TEST(TimeAllocation, Budgets) {
    const struct {
        int time, inc, stage;
        bool newGame;
        int togo, threads;
        bool ponder;
        int soft, hard;
        float factor;
    } cases[] = {
        {900000, 0, 0, true, 0, 1, false, 14850, 74250, 1.0f},
        {10000, 0, 30, false, 0, 1, false, 299, 1495, 1.0f},
        {1000, 1000, 30, true, 0, 1, false, 449, 450, 5.0f},
        {60000, 1000, 0, true, 0, 1, false, 1864, 9320, 1.0f},
        {5000, 0, 60, false, 1, 1, false, 3650, 4900, 1.0f},
        {120, 0, 60, false, 4, 1, false, 21, 22, 1.0f},
        {2000, 0, 60, false, 4, 1, false, 365, 950, 1.0f},
        {10000, 0, 30, false, 0, 1, true, int(454 * (0.66f * 1.1f)), -1, 1.0f},
        {10000, 0, 30, false, 0, 8, false, int(454 * 0.76f), -1, 1.0f},
        {10000, 0, 1024, false, 0, 1, false, int(10000 / 30 * (0.66f * 1.4f)), -1, 1.0f},
    };
    for (const auto& c : cases) {
        Defaults d;
        threadCount = c.threads;
        ponderEnabled = c.ponder;
        const Budget b = allocate(c.time, c.inc, c.stage, c.newGame, 1.37f, c.togo);
        const std::string where = std::to_string(c.time) + "+" + std::to_string(c.inc) + " stage " +
                                  std::to_string(c.stage) + " togo " + std::to_string(c.togo);
        EXPECT_EQ(b.soft, c.soft) << where;
        if (c.hard >= 0) {
            EXPECT_EQ(b.hard, c.hard) << where;
        }
        EXPECT_FLOAT_EQ(b.factor, c.factor) << where;
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

// "movestogo 0" is read as no movestogo instead of dividing by zero;
// "movetime" is the hard limit.
TEST(TimeAllocation, MovesToGoZeroAndMoveTime) {
    Defaults d;
    resetLimits();
    clockTime[WHITE] = 10000;
    movesToGo = 0;
    movesToGoGiven = true;
    gameStage = 30;
    allocateTime();
    EXPECT_EQ(softTimeMs, 299);
    EXPECT_EQ(hardTimeMs, 1495);
    resetLimits();
    moveTime = 500;
    allocateTime();
    EXPECT_EQ(hardTimeMs, 500);
    EXPECT_EQ(softTimeMs, 5000);
}

// Every clock word of "go" reaches the time manager; the hash statistics
// after the search give each age (every used entry has one) and each depth
// its share of the used entries in per cent.
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
    for (std::string line; std::getline(lines, line);) {
        table += line.rfind("Age distribution", 0) == 0 || line.rfind("Depth distribution", 0) == 0;
        int index, count, used;
        if (table >= 0 && std::sscanf(line.c_str(), "%d %d - %d", &index, &count, &used) == 3) sums[table] += used;
    }
    EXPECT_GE(sums[0], 90);
    EXPECT_LE(sums[0], 100);
    EXPECT_LE(sums[1], 100);
}
