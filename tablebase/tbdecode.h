// Decoding of Syzygy table contents: the index of a position, the headers of
// a mapped file, the pair-substitution blocks and the DTZ value maps.
#pragma once

#include <cstddef>

#include "tablebase/tbfiles.h"

// Binomial and square-mapping tables of the index computation (built once).
void tbInitIndexTables();

// Reads the headers of a mapped WDL or DTZ file into the entry's PairsData.
// False when the file does not fit the table (corrupt or truncated).
bool tbDecodeHeaders(TableEntry& entry, int type, const u8* data, size_t size);

// Value at `index` of one compressed table; *ok is cleared when the
// compressed data turn out to be inconsistent.
int tbDecompress(const PairsData& d, u64 index, const u8* fileEnd, bool* ok);

// Result of probeTable.
enum TbProbeStatus : int { TB_PROBE_CHANGE_STM = -1, TB_PROBE_FAIL = 0, TB_PROBE_OK = 1 };

// The table value of the position (en-passant rights ignored): for WDL the
// value -2..2 from the side to move's view; for DTZ the stored distance for
// the given WDL value (in plies, not yet offset by the zeroing move). DTZ
// tables hold one side to move: the other side answers TB_PROBE_CHANGE_STM.
int probeTable(const TbPosition& pos, int type, int wdl, int& status);
