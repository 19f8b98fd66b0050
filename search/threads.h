// Search threads. Each thread object owns an OS thread and everything its
// search needs privately: its Position, move buffer, continuation histories
// and evaluation caches. Threads sleep on their condition variable between
// searches; "go" wakes the boss (thread 0), the boss wakes the workers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "board/position.h"
#include "eval/evaluate.h"

// Value of the Threads option: how many search threads run, and how many
// threads clear the hash table.
extern int threadCount;

// Flags written by the command loop and polled by the search threads. Each
// writer stores a definite value; relaxed atomics keep them lock-free.
extern std::atomic<bool> stopSearch;
extern std::atomic<bool> ponderSearch;
extern std::atomic<bool> readyToStop;

class worker {
public:
    explicit worker(int index);
    virtual ~worker();
    worker(const worker&) = delete;
    worker& operator=(const worker&) = delete;

    // The search this thread runs when woken.
    virtual void run();

    // Copies the root position into this thread and points the copy at the
    // thread's own buffers and tables.
    void takeRootPosition(const Position& root);
    void clearHistories();

    Position positionStorage;
    Position* position = &positionStorage;
    Move moveBuffer[MOVE_BUFFER_SIZE];
    ContinuationHistory followUpHistory;
    ContinuationHistory counterMoveHistory;
    EvalCaches caches;
    std::mutex mutex;
    std::condition_variable wakeCondition;
    int threadIndex;
    std::atomic<int> searchDepth{0};
    bool exitFlag = false;
    bool searching = true;
    std::thread thread;

protected:
    // Second half of construction: starts the OS thread and waits until it
    // is idle. Called by the most derived constructor.
    void start();

private:
    void idleLoop();
};

class boss : public worker {
public:
    boss();
    void run() override;
    Move savedBestMove{};
    Move savedPonderMove{};
    // Where the info line of a shallow iteration walks its variation.
    Position pvScratch;
};

extern std::vector<std::unique_ptr<worker>> threads;

// Replaces all thread objects by n new ones (waits for a running search).
void setThreadCount(int n);
void waitIdle(worker& t);
void wake(worker& t);
// Readies a search of the root with the limits already set (no search may
// be running): resets the state the threads share and hands every thread the
// root. The data generator then runs the boss's iterations itself.
void prepareSearch(const Position& root);
// prepareSearch, then wakes the boss.
void startSearch(const Position& root);
// Commands that change what a search reads (the hash table, the network,
// the threads, the options) or use the shared move buffer first end a
// running search: it stops at once and prints its move, as after "stop".
void finishSearch();
// Nodes (alpha-beta and quiescence) searched by all threads in this search.
u64 nodesSearched();
// Zeroes every thread's continuation histories ("ucinewgame").
void clearHistories();
// Empties every thread's evaluation caches (a new network).
void clearThreadEvalCaches();

// Reads a counter that its owner thread updates.
inline u64 readCounter(const u64& counter) { return std::atomic_ref<const u64>(counter).load(std::memory_order_relaxed); }
// The owner's increment: a plain load and store, visible to readCounter.
inline void bumpCounter(u64& counter) {
    std::atomic_ref<u64> ref(counter);
    ref.store(ref.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}
