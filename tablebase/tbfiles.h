// Syzygy table files: discovery from the SyzygyPath option, registration by
// material signature, file checks, lazy read-only mapping and the decoded
// headers of each table.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/mapfile.h"
#include "tablebase/tbposition.h"

// File kinds, in the order of their extensions.
enum TbFileType : int { TB_WDL = 0, TB_DTM = 1, TB_DTZ = 2 };
inline constexpr const char* TB_EXTENSION[3] = {".rtbw", ".rtbm", ".rtbz"};
inline constexpr u32 TB_MAGIC[3] = {0x5D23E871u, 0x88AC504Bu, 0xA50C66D7u};

// Material signature multipliers, [colour][TB_PAWN..TB_QUEEN] (kings add nothing).
inline constexpr u64 TB_SIGNATURE_MULTIPLIER[2][6] = {
    {0, 0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull, 0xD6E8FEB86659FD93ull,
     0xFF51AFD7ED558CCDull},
    {0, 0xC4CEB9FE1A85EC53ull, 0x94D049BB133111EBull, 0xBF58476D1CE4E5B9ull, 0x8CB92BA72F3D8DD7ull,
     0xA0761D6478BD642Full}};

// Signature from piece counts [colour][type]; `reversed` swaps the colours.
u64 tbSignature(const int counts[2][7], bool reversed = false);
u64 tbSignature(const TbPosition& p, bool reversed = false);
// Signature of a table name such as "KRPvKR".
u64 tbSignature(const std::string& name, bool reversed = false);

// One compressed value table: one side to move of one pawn file.
struct PairsData {
    // Index computation.
    u8 pieces[TB_MAX_MEN];          // table piece codes (type, +8 for the second side) in encoding order
    u8 groupLen[TB_MAX_MEN + 1];    // lengths of the encoding groups, zero-terminated
    u64 groupFactor[TB_MAX_MEN + 1];
    u64 tableSize;                  // number of indices
    // Block compression.
    u8 flags;                       // 0x80 one value for every index; DTZ: 1 side to move, 2 mapped, 4/8 plies, 16 wide map
    u8 singleValue;
    u8 minLen;
    u8 maxLen;
    u8 spanBits;
    u32 blockSize;
    u32 blockCount;                 // blocks stored
    u32 blockLengthCount;           // entries of the block-length list (with padding)
    u32 symbolCount;
    u64 sparseCount;
    const u8* sparseIndex;          // 6 bytes an entry: block (u32), offset (u16)
    const u8* blockLengths;         // u16 each: values in the block - 1
    const u8* data;
    const u8* lowestSymbol;         // u16 per code length
    const u8* tree;                 // 3 bytes a symbol: two 12-bit halves
    const u64* base;                // first code of each length, left-aligned
    const u8* symbolLength;         // values a symbol expands to, - 1
    std::unique_ptr<u64[]> storage; // owns base and symbolLength
    // DTZ value maps, in the file's order (win, loss, cursed win, blessed
    // loss): offset of the first value in the file and number of values.
    u32 mapOffset[4];
    u16 mapCount[4];
};

// One mapped file of a table.
struct TableFile {
    FileView view;
    std::atomic<bool> ready{false};
    bool failed = false;            // mapping or decoding failed; not retried (guarded by the mutex)
};

struct TableEntry {
    u64 key;                        // signature of the material as named
    u64 key2;                       // of the colour-reversed material
    char name[16];
    u8 pieceCount;
    bool symmetric;
    bool hasPawns;
    bool hasDtm;
    bool hasDtz;
    bool kkEncoding;                // pawnless, only the two kings occur once
    u8 pawnCount[2];                // leading side (fewer pawns, not zero) first
    u8 wdlSides;                    // separate WDL tables per side to move (from the header)
    u8 files;                       // 4 for pawn tables, else 1
    TableFile wdlFile;
    TableFile dtzFile;
    PairsData* wdl;                 // [file * 2 + side]
    PairsData* dtz;                 // [file]
};

struct PiecesEntry : TableEntry {
    PairsData wdlPairs[2];
    PairsData dtzPairs[1];
};
struct PawnsEntry : TableEntry {
    PairsData wdlPairs[8];
    PairsData dtzPairs[4];
};

constexpr int TB_PIECES_CAPACITY = 650;
constexpr int TB_PAWNS_CAPACITY = 861;
constexpr int TB_HASH_SIZE = 4096;

// The largest piece count of any registered table (WDL or DTM); 0 = none.
extern int tbLargest;
extern int tbMaxWdl;
extern int tbMaxDtm;

struct TbCounts {
    int wdl, dtm, dtz;
};
TbCounts tbCounts();
// The directories taken from the last SyzygyPath.
const std::vector<std::string>& tbDirectories();

// Discards every registered table and registers those found in the
// ";"-separated directories of `path` ("" or "<empty>" means none).
bool tbInit(const std::string& path);

// Names of every material of 3 to 7 men, each once, as the files are named.
std::vector<std::string> tbAllTableNames();
// Random legal positions of every registered material of at most `maxMen`
// men, `perMaterial` of each, the named side alternately White and Black.
std::vector<TbPosition> tbSamplePositions(int maxMen, int perMaterial, std::mt19937_64& rng);

// Signatures in the lookup hash (a symmetric material has one, others two).
int tbHashCount();
// The registered table of a signature (either colour order), nullptr if none.
TableEntry* tbFindTable(u64 signature);
// Maps and decodes one file of the table on first use (WDL or DTZ); false
// when the file cannot be used.
bool tbEnsureMapped(TableEntry& entry, int type);
