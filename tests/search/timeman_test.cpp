// Time allocation: the budget for clocks with and without increments, with
// and without "movestogo", and "movetime".
#include <gtest/gtest.h>

#include "board/fen.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "test_util.h"

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

TEST(TimeAllocation, FirstSearchWithoutClockWords) {
    Defaults d;
    const Budget b = allocate(900000, 0, 0, true);
    EXPECT_FLOAT_EQ(incrementFactor, 1.75f);
    EXPECT_EQ(movesToGo, 40);
    EXPECT_EQ(b.soft, 14850);
    EXPECT_EQ(b.hard, 74250);
    EXPECT_FALSE(newGameFlag);
}

TEST(TimeAllocation, ShortClockWithoutIncrement) {
    Defaults d;
    const Budget b = allocate(10000, 0, 30, false);
    EXPECT_EQ(movesToGo, 22);
    EXPECT_EQ(b.soft, 299);
    EXPECT_EQ(b.hard, 1495);
    EXPECT_FLOAT_EQ(b.factor, 1.0f);
}

TEST(TimeAllocation, IncrementLargerThanTheClockHalvesTheBudget) {
    Defaults d;
    const Budget b = allocate(1000, 1000, 30, true);
    EXPECT_FLOAT_EQ(incrementFactor, 1.37f);
    EXPECT_EQ(b.soft, 449);
    EXPECT_EQ(b.hard, 450);
    EXPECT_FLOAT_EQ(b.factor, 5.0f);
}

TEST(TimeAllocation, MinuteWithIncrement) {
    Defaults d;
    const Budget b = allocate(60000, 1000, 0, true);
    EXPECT_EQ(b.soft, 1864);
    EXPECT_EQ(b.hard, 9320);
}

TEST(TimeAllocation, MovesToGo) {
    Defaults d;
    Budget b = allocate(5000, 0, 60, false, 1.37f, 1);
    EXPECT_EQ(b.soft, 3650);
    EXPECT_EQ(b.hard, 4900);
    // Four moves to go raises the hard limit to 40 ms, which the time left
    // (20 ms after the overhead) then caps; it stays above the soft target.
    b = allocate(120, 0, 60, false, 1.37f, 4);
    EXPECT_EQ(b.soft, 21);
    EXPECT_EQ(b.hard, 22);
    b = allocate(2000, 0, 60, false, 1.37f, 4);
    EXPECT_EQ(b.soft, 365);
    EXPECT_EQ(b.hard, 950);
    // "movestogo 0" is read as no movestogo instead of dividing by zero.
    resetLimits();
    clockTime[WHITE] = 10000;
    movesToGo = 0;
    movesToGoGiven = true;
    gameStage = 30;
    allocateTime();
    EXPECT_EQ(softTimeMs, 299);
    EXPECT_EQ(hardTimeMs, 1495);
}

TEST(TimeAllocation, PonderThreadsUnknownStageAndMoveTime) {
    Defaults d;
    ponderEnabled = true;
    EXPECT_EQ(allocate(10000, 0, 30, false).soft, int(454 * (0.66f * 1.1f)));
    ponderEnabled = false;
    threadCount = 8;
    EXPECT_EQ(allocate(10000, 0, 30, false).soft, int(454 * 0.76f));
    threadCount = 1;
    const Budget unknown = allocate(10000, 0, 1024, false);
    EXPECT_EQ(movesToGo, 30);
    EXPECT_EQ(unknown.soft, int(10000 / 30 * (0.66f * 1.4f)));
    resetLimits();
    moveTime = 500;
    allocateTime();
    EXPECT_EQ(hardTimeMs, 500);
    EXPECT_EQ(softTimeMs, 5000);
}
