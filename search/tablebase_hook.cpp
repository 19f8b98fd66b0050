#include "search/tablebase_hook.h"

#include "tablebase/tablebase.h"

int tbLargestPieces() { return tbLargest; }
int tbProbeDepth() { return syzygyProbeDepth; }
int tbProbeWdlHook(int ply, Position& pos) { return tbProbeWdl(ply, pos); }
Move tbProbeRootHook(Position& pos) { return tbProbeRoot(pos); }
