// Search-thread state shared with the command loop.
#pragma once

#include <atomic>

// Value of the Threads option: how many search threads run, and how many
// threads clear the hash table.
extern int threadCount;

// Flags written by the command loop and polled by the search threads. Each
// writer stores a definite value; relaxed atomics keep them lock-free.
extern std::atomic<bool> stopSearch;
extern std::atomic<bool> ponderSearch;
extern std::atomic<bool> readyToStop;
