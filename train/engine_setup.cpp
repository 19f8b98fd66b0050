#include "train/engine_setup.h"

#include <cstdio>
#include <iostream>

#include "board/attacks.h"
#include "eval/evaluate.h"
#include "eval/nnue.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "search/driver.h"
#include "search/search.h"
#include "search/tablebase_hook.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "tablebase/tbfiles.h"

bool setUpEngine(const EngineSetup& setup) {
    static FILE* nowhere = std::fopen("/dev/null", "w");
    initOutput();
    setOutputStream(nowhere);
    initTables();
    ttSizeMb = setup.hashMb;
    ttInit();
    threadCount = 1;
    setThreadCount(1);
    if (setup.network.empty()) {
        handWrittenEverywhere = true;
    } else {
        std::string error;
        if (!loadNetworkFile(setup.network, &error)) {
            std::cerr << "cannot use network " << setup.network << ": " << error << "\n";
            return false;
        }
        handWrittenEverywhere = false;
    }
    if (!setup.syzygyPath.empty() && (!tbInit(setup.syzygyPath) || tbLargest == 0)) {
        std::cerr << "no Syzygy tables found in " << setup.syzygyPath << "\n";
        return false;
    }
    return true;
}
