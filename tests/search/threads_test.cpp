// The state the search threads share, as each search begins.
#include <gtest/gtest.h>

#include "board/fen.h"
#include "platform/clock.h"
#include "search/driver.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "test_util.h"

namespace {

struct TwoThreads {
    TwoThreads() {
        initEngineForTests();
        setThreadCount(2);
        resetLimits();
        searchStartMs = nowMs();
    }
    ~TwoThreads() {
        setThreadCount(0);
        stopSearch = readyToStop = false;
        resetLimits();
    }
};

}  // namespace

// Every thread's depth is reset before any thread starts (a late one must
// not show the last search's depth), and a worker starting after the boss
// has decided to stop leaves that decision alone (else "ponderhit" waits).
TEST(SearchThreads, StateAtTheStartOfASearch) {
    TwoThreads scope;
    ASSERT_TRUE(setPositionFromFen("7k/6Q1/6K1/8/8/8/8/8 b - - 0 1", rootPosition));  // mated: nobody searches
    for (auto& t : threads) t->searchDepth = 40;
    startSearch(rootPosition);
    waitIdle(*threads[0]);
    for (auto& t : threads) EXPECT_EQ(t->searchDepth.load(), 0) << "thread " << t->threadIndex;

    setPositionFromFen(START_FEN, rootPosition);
    softTimeMs = hardTimeMs = 1 << 30;
    threads[1]->takeRootPosition(rootPosition);
    stopSearch = readyToStop = true;  // the boss has already ended the search
    iterativeDeepening(*threads[1]);
    EXPECT_TRUE(readyToStop);
}
