// Start-up of the engine inside the training tools: tables, a small hash
// table, one search thread, the evaluator of choice, optional tablebases. The
// engine's own UCI output goes nowhere; the tools report on standard error.
#pragma once

#include <string>

#include "board/position.h"
#include "search/driver.h"

struct EngineSetup {
    std::string network;        // network file; empty: hand-written evaluation everywhere
    std::string syzygyPath;     // empty: no tablebases
    int hashMb = 16;
};

// False (with a message on standard error) when the network or the
// tablebases cannot be loaded.
bool setUpEngine(const EngineSetup& setup);

// Counter xor-shift-multiply generator: one stream per seed.
struct SplitMix {
    u64 state;
    explicit SplitMix(u64 seed) : state(seed) {}
    u64 next() {
        u64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    u64 below(u64 n) { return next() % n; }
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
};
