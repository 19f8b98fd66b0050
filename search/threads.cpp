#include "search/threads.h"

int threadCount = 1;
std::atomic<bool> stopSearch{false};
std::atomic<bool> ponderSearch{false};
std::atomic<bool> readyToStop{false};
