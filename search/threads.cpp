#include "search/threads.h"

#include <cstring>

#include "platform/numa.h"
#include "search/driver.h"
#include "search/tt.h"

int threadCount = 1;
std::atomic<bool> stopSearch{false};
std::atomic<bool> ponderSearch{false};
std::atomic<bool> readyToStop{false};
std::vector<std::unique_ptr<worker>> threads;

worker::worker(int index) : threadIndex(index) {
    std::memset(static_cast<void*>(&positionStorage), 0, sizeof positionStorage);
    clearHistories();
    clearEvalCaches(caches);
}

void worker::start() {
    thread = std::thread(&worker::idleLoop, this);
    std::unique_lock<std::mutex> lock(mutex);
    wakeCondition.wait(lock, [this] { return !searching; });
}

worker::~worker() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        exitFlag = true;
        searching = true;
    }
    wakeCondition.notify_all();
    if (thread.joinable()) thread.join();
}

void worker::run() { iterativeDeepening(*this); }

boss::boss() : worker(0) {}

void boss::run() { bossRun(*this); }

void worker::idleLoop() {
    bindThisThread(threadIndex);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        searching = false;
        wakeCondition.notify_all();
        wakeCondition.wait(lock, [this] { return searching; });
        if (exitFlag) return;
        lock.unlock();
        run();
        bindThisThread(threadIndex);
        lock.lock();
    }
}

void worker::takeRootPosition(const Position& root) {
    std::memcpy(static_cast<void*>(&positionStorage), &root, sizeof root);
    Position& p = positionStorage;
    p.plyStack[0].moveListBegin = moveBuffer;
    p.followUpHistory = &followUpHistory;
    p.counterMoveHistory = &counterMoveHistory;
    attachEvalCaches(p, caches);
    p.threadIndex = threadIndex;
    p.searchNodes = p.quiescenceNodes = p.tbHits = 0;
    p.accumulators[0].computed = 0;
}

void worker::clearHistories() {
    std::memset(followUpHistory, 0, sizeof followUpHistory);
    std::memset(counterMoveHistory, 0, sizeof counterMoveHistory);
}

namespace {

// The workers are built in place; the object is large (a few MB).
std::unique_ptr<worker> makeWorker(int index) {
    struct startedWorker : worker {
        explicit startedWorker(int i) : worker(i) { start(); }
    };
    return std::make_unique<startedWorker>(index);
}

std::unique_ptr<worker> makeBoss() {
    struct startedBoss : boss {
        startedBoss() { start(); }
    };
    return std::make_unique<startedBoss>();
}

}  // namespace

void waitIdle(worker& t) {
    std::unique_lock<std::mutex> lock(t.mutex);
    t.wakeCondition.wait(lock, [&t] { return !t.searching; });
}

void wake(worker& t) {
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        t.searching = true;
    }
    t.wakeCondition.notify_all();
}

void setThreadCount(int n) {
    if (!threads.empty()) {
        waitIdle(*threads[0]);
        while (!threads.empty()) threads.pop_back();
    }
    if (n > 0) {
        threads.push_back(makeBoss());
        while (int(threads.size()) < n) threads.push_back(makeWorker(int(threads.size())));
    }
    clearHistories();
}

void prepareSearch(const Position& root) {
    // Everything a thread reads from the others is reset before any thread
    // starts, so that a thread that starts late sees this search's values.
    stopSearch = false;
    readyToStop = false;
    stopCheckDepth = 0;
    for (auto& t : threads) t->searchDepth = 0;
    ttNewSearch();
    for (auto& t : threads) t->takeRootPosition(root);
}

void startSearch(const Position& root) {
    prepareSearch(root);
    wake(*threads[0]);
}

void finishSearch() {
    if (threads.empty()) return;
    worker& b = *threads[0];
    bool running;
    {
        std::lock_guard<std::mutex> lock(b.mutex);
        running = b.searching;
    }
    if (running) {
        stopSearch = true;
        waitIdle(b);
    }
}

u64 nodesSearched() {
    u64 n = 0;
    for (auto& t : threads) n += readCounter(t->position->searchNodes) + readCounter(t->position->quiescenceNodes);
    return n;
}

void clearHistories() {
    for (auto& t : threads) t->clearHistories();
}

void clearThreadEvalCaches() {
    for (auto& t : threads) clearEvalCaches(t->caches);
}
