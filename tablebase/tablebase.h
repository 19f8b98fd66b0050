// Syzygy tablebases: what the search, the driver and the options use.
//   tbInit(path)           SyzygyPath: register the tables of the directories
//   tbLargest              most men of any registered table, 0 = none
//   tbProbeWdl(ply, pos)   search probe: -1 failure, else WDL + 2 (0 loss .. 4 win)
//   tbProbeRoot(pos)       root probe: the move to play (prints its "info" line), or no move
#pragma once

#include "tablebase/tbfiles.h"
#include "tablebase/tbprobe.h"

// The SyzygyPath and SyzygyProbeDepth options.
extern std::string syzygyPath;
extern int syzygyProbeDepth;
