// Start-up of the engine inside the training tools: tables, a small hash
// table, one search thread, the evaluator of choice, optional tablebases. The
// engine's own UCI output goes nowhere; the tools report on standard error.
#pragma once

#include <string>

#include "board/position.h"
#include "search/driver.h"
#include "search/openings.h"

struct EngineSetup {
    std::string network;        // network file; empty: hand-written evaluation everywhere
    std::string syzygyPath;     // empty: no tablebases
    int hashMb = 16;
};

// False (with a message on standard error) when the network or the
// tablebases cannot be loaded.
bool setUpEngine(const EngineSetup& setup);
