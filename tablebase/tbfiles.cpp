#include "tablebase/tbfiles.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/output.h"
#include "tablebase/tbdecode.h"

int tbLargest = 0;
std::string syzygyPath = "<empty>";
int syzygyProbeDepth = 0;
int tbMaxWdl = 0;
int tbMaxDtm = 0;

namespace {

#ifdef _WIN32
constexpr char PATH_SEPARATOR = '\\';
#else
constexpr char PATH_SEPARATOR = '/';
#endif

std::vector<std::string> tbPaths;
int wdlCount = 0, dtmCount = 0, dtzCount = 0;

// Allocated at the first initialisation and reused.
PiecesEntry* piecesEntries = nullptr;
PawnsEntry* pawnsEntries = nullptr;
int piecesUsed = 0, pawnsUsed = 0;

struct HashSlot {
    u64 key;
    TableEntry* entry;
};
HashSlot tbHash[TB_HASH_SIZE];

// Serialises the first mapping of every file.
std::mutex tbMutex;

constexpr const char PIECE_LETTERS[] = " PNBRQK";

FileHandle tbOpenFile(const std::string& name, const char* extension) {
    for (const std::string& dir : tbPaths) {
        const FileHandle file = openForReading(dir + PATH_SEPARATOR + name + extension);
        if (file != INVALID_FILE) return file;
    }
    return INVALID_FILE;
}

void reportIncomplete(const std::string& name, const char* extension) {
    std::fprintf(stderr, "Incomplete tablebase file %s%s\n", name.c_str(), extension);
    std::fflush(stderr);
    say("info string Incomplete tablebase file " + name + extension);
}

// The file exists and its size fits the format (16 modulo 64).
bool tbFileOk(const std::string& name, const char* extension) {
    const FileHandle file = tbOpenFile(name, extension);
    if (file == INVALID_FILE) return false;
    u64 size = 0;
    const bool sized = fileSize(file, size);
    closeFile(file);
    if (!sized || size % 64 != 16) {
        reportIncomplete(name, extension);
        return false;
    }
    return true;
}

void tbReleaseFile(TableFile& f) {
    if (f.view.data) {
        unsigned long error = 0;
        const int failed = unmapView(f.view, &error);
        if (failed == 1) std::fprintf(stderr, "unmap failed, error code %lu\n", error);
        if (failed == 2) std::fprintf(stderr, "CloseHandle failed, error code %lu\n", error);
    }
    f.view = FileView{};
    f.ready.store(false, std::memory_order_relaxed);
    f.failed = false;
}

template <class Entry>
void resetEntry(Entry& e) {
    tbReleaseFile(e.wdlFile);
    tbReleaseFile(e.dtzFile);
    for (PairsData& d : e.wdlPairs) d = PairsData{};
    for (PairsData& d : e.dtzPairs) d = PairsData{};
    e.wdl = e.wdlPairs;
    e.dtz = e.dtzPairs;
}

void countMaterial(const std::string& name, int counts[2][7]) {
    std::memset(counts, 0, sizeof(int) * 14);
    int colour = WHITE;
    for (char c : name) {
        if (c == 'v') {
            colour = BLACK;
            continue;
        }
        const char* at = std::strchr(PIECE_LETTERS, c);
        if (at && c != ' ') counts[colour][at - PIECE_LETTERS]++;
    }
}

void insertHash(u64 key, TableEntry* entry) {
    int slot = int(key >> 52);
    while (tbHash[slot].entry) slot = (slot + 1) & (TB_HASH_SIZE - 1);
    tbHash[slot] = {key, entry};
}

void registerTable(const std::string& name) {
    int counts[2][7];
    countMaterial(name, counts);
    const bool hasPawns = counts[WHITE][TB_PAWN] + counts[BLACK][TB_PAWN] > 0;
    TableEntry* e;
    if (hasPawns) {
        PawnsEntry& p = pawnsEntries[pawnsUsed++];
        p.wdl = p.wdlPairs;
        p.dtz = p.dtzPairs;
        e = &p;
    } else {
        PiecesEntry& p = piecesEntries[piecesUsed++];
        p.wdl = p.wdlPairs;
        p.dtz = p.dtzPairs;
        e = &p;
    }
    e->key = tbSignature(counts);
    e->key2 = tbSignature(counts, true);
    std::snprintf(e->name, sizeof e->name, "%s", name.c_str());
    int men = 0;
    for (int c = 0; c < 2; c++)
        for (int t = TB_PAWN; t <= TB_KING; t++) men += counts[c][t];
    e->pieceCount = u8(men);
    e->symmetric = e->key == e->key2;
    e->hasPawns = hasPawns;
    e->files = hasPawns ? 4 : 1;
    if (hasPawns) {
        const int w = counts[WHITE][TB_PAWN], b = counts[BLACK][TB_PAWN];
        const bool blackLeads = b > 0 && (w == 0 || b < w);
        e->pawnCount[0] = u8(blackLeads ? b : w);
        e->pawnCount[1] = u8(blackLeads ? w : b);
        e->kkEncoding = false;
    } else {
        int unique = 0;
        for (int c = 0; c < 2; c++)
            for (int t = TB_PAWN; t <= TB_KING; t++) unique += counts[c][t] == 1;
        e->kkEncoding = unique == 2;
        e->pawnCount[0] = e->pawnCount[1] = 0;
    }
    e->hasDtm = tbFileOk(name, TB_EXTENSION[TB_DTM]);
    e->hasDtz = tbFileOk(name, TB_EXTENSION[TB_DTZ]);

    wdlCount++;
    dtmCount += e->hasDtm;
    dtzCount += e->hasDtz;
    if (men > tbMaxWdl) tbMaxWdl = men;
    if (e->hasDtm && men > tbMaxDtm) tbMaxDtm = men;

    insertHash(e->key, e);
    if (!e->symmetric) insertHash(e->key2, e);
}

// Maps the file and decodes its headers. A file that cannot be mapped by the
// system ends the process; a missing, short or corrupt file fails the probe.
bool tbMapFile(TableEntry& e, int type) {
    TableFile& f = type == TB_WDL ? e.wdlFile : e.dtzFile;
    const char* extension = TB_EXTENSION[type];
    const FileHandle file = tbOpenFile(e.name, extension);
    if (file == INVALID_FILE) {
        std::fprintf(stderr, "Could not open %s%s\n", e.name, extension);
        return false;
    }
    u64 size = 0;
    if (!fileSize(file, size) || size % 64 != 16) {
        closeFile(file);
        reportIncomplete(e.name, extension);
        return false;
    }
    unsigned long error = 0;
    const MapStatus status = mapReadOnly(file, size, f.view, &error);
    closeFile(file);
    if (status != MapStatus::Ok) {
        if (status == MapStatus::MappingFailed)
            std::fprintf(stderr, "CreateFileMapping() failed, error = %lu.\n", error);
        else
            std::fprintf(stderr, "MapViewOfFile() failed, error = %lu.\n", error);
        std::fprintf(stderr, "Could not map %s%s into memory.\n", e.name, extension);
        std::exit(1);
    }
    u32 magic;
    std::memcpy(&magic, f.view.data, 4);
    if (magic != TB_MAGIC[type] || !tbDecodeHeaders(e, type, f.view.data, f.view.size)) {
        std::fprintf(stderr, "Corrupted table.\n");
        tbReleaseFile(f);
        return false;
    }
    return true;
}

}  // namespace

u64 tbSignature(const int counts[2][7], bool reversed) {
    u64 key = 0;
    for (int c = 0; c < 2; c++)
        for (int t = TB_PAWN; t <= TB_QUEEN; t++)
            key += u64(counts[c][t]) * TB_SIGNATURE_MULTIPLIER[c ^ int(reversed)][t];
    return key;
}

u64 tbSignature(const TbPosition& p, bool reversed) {
    u64 key = 0;
    for (int c = 0; c < 2; c++)
        for (int t = TB_PAWN; t <= TB_QUEEN; t++)
            key += u64(popCount(tbPieces(p, t) & tbSide(p, c))) * TB_SIGNATURE_MULTIPLIER[c ^ int(reversed)][t];
    return key;
}

u64 tbSignature(const std::string& name, bool reversed) {
    int counts[2][7];
    countMaterial(name, counts);
    return tbSignature(counts, reversed);
}

std::vector<TbPosition> tbSamplePositions(int maxMen, int perMaterial, std::mt19937_64& rng) {
    std::vector<TbPosition> positions;
    for (const std::string& name : tbAllTableNames()) {
        if (int(name.size()) - 1 > maxMen || !tbFindTable(tbSignature(name))) continue;
        const size_t v = name.find('v');
        const std::string reversed = name.substr(v + 1) + "v" + name.substr(0, v);
        for (int i = 0; i < perMaterial; i++) positions.push_back(tbRandomPosition(i & 1 ? reversed : name, rng));
    }
    return positions;
}

TbCounts tbCounts() { return {wdlCount, dtmCount, dtzCount}; }
const std::vector<std::string>& tbDirectories() { return tbPaths; }

std::vector<std::string> tbAllTableNames() {
    // Pieces strongest first; a side never lists a stronger piece after a
    // weaker one. The side with more pieces is named first; with equal
    // numbers, the stronger list (compared piece by piece) is.
    static const char order[] = "QRBNP";
    std::vector<std::string> names;
    // All piece lists of n pieces, strongest first, as index vectors.
    auto lists = [](int n) {
        std::vector<std::vector<int>> out;
        std::vector<int> cur(size_t(n), 0);
        if (n == 0) return std::vector<std::vector<int>>{{}};
        while (true) {
            out.push_back(cur);
            int i = n - 1;
            while (i >= 0 && cur[size_t(i)] == 4) i--;
            if (i < 0) break;
            cur[size_t(i)]++;
            for (int j = i + 1; j < n; j++) cur[size_t(j)] = cur[size_t(i)];
        }
        return out;
    };
    auto text = [&](const std::vector<int>& l) {
        std::string s = "K";
        for (int i : l) s += order[i];
        return s;
    };
    for (int total = 1; total <= TB_MAX_MEN - 2; total++)
        for (int strong = total; strong * 2 >= total; strong--) {
            const int weak = total - strong;
            for (const auto& a : lists(strong))
                for (const auto& b : lists(weak)) {
                    if (strong == weak && b < a) continue;
                    names.push_back(text(a) + "v" + text(b));
                }
        }
    return names;
}

int tbHashCount() {
    int used = 0;
    for (const HashSlot& slot : tbHash) used += slot.entry != nullptr;
    return used;
}

TableEntry* tbFindTable(u64 signature) {
    for (int slot = int(signature >> 52);; slot = (slot + 1) & (TB_HASH_SIZE - 1)) {
        if (!tbHash[slot].entry) return nullptr;
        if (tbHash[slot].key == signature) return tbHash[slot].entry;
    }
}

bool tbEnsureMapped(TableEntry& entry, int type) {
    TableFile& f = type == TB_WDL ? entry.wdlFile : entry.dtzFile;
    if (f.ready.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> lock(tbMutex);
    if (f.ready.load(std::memory_order_relaxed)) return true;
    if (f.failed) return false;
    if (!tbMapFile(entry, type)) {
        f.failed = true;
        return false;
    }
    f.ready.store(true, std::memory_order_release);
    return true;
}

bool tbInit(const std::string& path) {
    static bool tablesBuilt = false;
    if (!tablesBuilt) {
        tbInitIndexTables();
        tbInitAttackTables();
        tablesBuilt = true;
    }

    for (int i = 0; i < piecesUsed; i++) resetEntry(piecesEntries[i]);
    for (int i = 0; i < pawnsUsed; i++) resetEntry(pawnsEntries[i]);
    piecesUsed = pawnsUsed = 0;
    tbPaths.clear();
    std::memset(tbHash, 0, sizeof tbHash);
    wdlCount = dtmCount = dtzCount = 0;
    tbMaxWdl = tbMaxDtm = tbLargest = 0;

    if (path.empty() || path == "<empty>") return true;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(';', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) tbPaths.push_back(path.substr(start, end - start));
        start = end + 1;
    }

    if (!piecesEntries) piecesEntries = new (std::nothrow) PiecesEntry[TB_PIECES_CAPACITY]();
    if (!pawnsEntries) pawnsEntries = new (std::nothrow) PawnsEntry[TB_PAWNS_CAPACITY]();
    if (!piecesEntries || !pawnsEntries) {
        std::fprintf(stderr, "Out of memory.\n");
        std::exit(1);
    }

    for (const std::string& name : tbAllTableNames())
        if (tbFileOk(name, TB_EXTENSION[TB_WDL])) registerTable(name);

    tbLargest = tbMaxWdl > tbMaxDtm ? tbMaxWdl : tbMaxDtm;
    return true;
}
