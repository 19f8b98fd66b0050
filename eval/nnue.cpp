#include "eval/nnue.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>

#if defined(__AVX2__)
// GCC 12's AVX-512 header fills "undefined" registers with a self-assigned
// variable that its own -Wuninitialized then reports in every caller.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

// Function targets for the AVX-512 code: nothing in a build that targets
// these instructions anyway, the instructions themselves in an AVX2 build.
#define AVX512_TARGET __attribute__((target("avx512f,avx512bw")))
#define VNNI_TARGET __attribute__((target("avx512f,avx512bw,avx512vnni")))

#include "platform/output.h"
#include "platform/paths.h"

static_assert(std::endian::native == std::endian::little, "the network file is read as little-endian memory");

bool netLoaded = false;

namespace {

// The parameters in file order plus the layer weights regrouped for the
// vector code: for every group of four inputs, the four weights of each
// output lie together, so one 32-byte load serves eight outputs (one 64-byte
// load sixteen).
struct Network {
    NetworkParameters p;
    alignas(64) i8 l1Packed[NET_INPUTS / 4][NET_L1][4];
    alignas(64) i8 l2Packed[NET_L1 / 4][NET_L2][4];
};

std::unique_ptr<Network> active;

void packLayers(Network& net) {
    for (int g = 0; g < NET_INPUTS / 4; g++)
        for (int o = 0; o < NET_L1; o++)
            for (int j = 0; j < 4; j++) net.l1Packed[g][o][j] = net.p.l1Weights[o * NET_INPUTS + 4 * g + j];
    for (int g = 0; g < NET_L1 / 4; g++)
        for (int o = 0; o < NET_L2; o++)
            for (int j = 0; j < 4; j++) net.l2Packed[g][o][j] = net.p.l2Weights[o * NET_L1 + 4 * g + j];
}

template <typename T>
bool readValue(std::istream& in, T& value) {
    return bool(in.read(reinterpret_cast<char*>(&value), sizeof value));
}
template <typename T>
bool readArray(std::istream& in, T* values, size_t count) {
    return bool(in.read(reinterpret_cast<char*>(values), std::streamsize(sizeof(T) * count)));
}
template <typename T>
void writeArray(std::ostream& out, const T* values, size_t count) {
    out.write(reinterpret_cast<const char*>(values), std::streamsize(sizeof(T) * count));
}

// ---------------------------------------------------------------------------
// Accumulator: which ancestor to start from, and the features that changed.

struct FeatureChanges {
    int removed[2][3 * MAX_PLY];
    int added[2][3 * MAX_PLY];
    int removedCount[2] = {0, 0};
    int addedCount[2] = {0, 0};
};

// The nearest computed ancestor reachable within the budget of the board's
// piece count, or -1 for a refresh. A king move on the way forces a refresh,
// since every feature of that perspective depends on the king square.
int findBase(const Position& pos, int ply) {
    int budget = popCount(pos.occupancy());
    for (int q = ply; q >= 1; q--) {
        const DirtyPieces& d = pos.dirtyPieces[q];
        if (d.piece[0] == WKING || d.piece[0] == BKING) return -1;
        budget -= d.count + 1;
        if (budget < 1) return -1;
        if (pos.accumulators[q - 1].computed) return q - 1;
    }
    return -1;
}

void collectChanges(const Position& pos, int base, int ply, FeatureChanges& c) {
    for (int persp = 0; persp < 2; persp++) {
        const int k = pos.kingSquare(persp);
        for (int q = base + 1; q <= ply; q++) {
            const DirtyPieces& d = pos.dirtyPieces[q];
            for (int i = 0; i < d.count; i++) {
                if (d.from[i] != OFF_BOARD) c.removed[persp][c.removedCount[persp]++] = featureIndex(persp, k, d.piece[i], d.from[i]);
                if (d.to[i] != OFF_BOARD) c.added[persp][c.addedCount[persp]++] = featureIndex(persp, k, d.piece[i], d.to[i]);
            }
        }
    }
}

int activeFeatures(const Position& pos, int persp, int* features) {
    const int k = pos.kingSquare(persp);
    int n = 0;
    for (u64 b = pos.occupancy(); b;) {
        const int sq = popLsb(b);
        features[n++] = featureIndex(persp, k, pos.board[sq], sq);
    }
    return n;
}

// 16-bit wrapping row arithmetic, the reference.
struct ScalarRows {
    static void apply(i16* values, const i16* start, const NetworkParameters& p, const int* removed, int nRemoved,
                      const int* added, int nAdded) {
        std::memcpy(values, start, sizeof(i16) * NET_HALF);
        for (int r = 0; r < nRemoved; r++) {
            const i16* row = p.ftWeights + size_t(removed[r]) * NET_HALF;
            for (int i = 0; i < NET_HALF; i++) values[i] = i16(values[i] - row[i]);
        }
        for (int a = 0; a < nAdded; a++) {
            const i16* row = p.ftWeights + size_t(added[a]) * NET_HALF;
            for (int i = 0; i < NET_HALF; i++) values[i] = i16(values[i] + row[i]);
        }
    }
};

#if defined(__AVX2__)
// The same in registers: 64 values (four registers) at a time, every row
// applied before the values go back to memory.
struct Avx2Rows {
    static void apply(i16* values, const i16* start, const NetworkParameters& p, const int* removed, int nRemoved,
                      const int* added, int nAdded) {
        for (int chunk = 0; chunk < NET_HALF; chunk += 64) {
            __m256i v[4];
            for (int j = 0; j < 4; j++) v[j] = _mm256_load_si256(reinterpret_cast<const __m256i*>(start + chunk + 16 * j));
            for (int r = 0; r < nRemoved; r++) {
                const i16* row = p.ftWeights + size_t(removed[r]) * NET_HALF + chunk;
                for (int j = 0; j < 4; j++)
                    v[j] = _mm256_sub_epi16(v[j], _mm256_load_si256(reinterpret_cast<const __m256i*>(row + 16 * j)));
            }
            for (int a = 0; a < nAdded; a++) {
                const i16* row = p.ftWeights + size_t(added[a]) * NET_HALF + chunk;
                for (int j = 0; j < 4; j++)
                    v[j] = _mm256_add_epi16(v[j], _mm256_load_si256(reinterpret_cast<const __m256i*>(row + 16 * j)));
            }
            for (int j = 0; j < 4; j++) _mm256_store_si256(reinterpret_cast<__m256i*>(values + chunk + 16 * j), v[j]);
        }
    }
};
#endif

#if defined(VELMORA_AVX512_CODE)
// The whole accumulator half (256 values) in eight registers: each row is
// read once, front to back. Wrapping adds, so the order is free.
struct Avx512Rows {
    static_assert(NET_HALF == 8 * 32);
    AVX512_TARGET static void apply(i16* values, const i16* start, const NetworkParameters& p, const int* removed,
                                    int nRemoved, const int* added, int nAdded) {
        __m512i v[8];
        for (int j = 0; j < 8; j++) v[j] = _mm512_load_si512(start + 32 * j);
        for (int r = 0; r < nRemoved; r++) {
            const i16* row = p.ftWeights + size_t(removed[r]) * NET_HALF;
            for (int j = 0; j < 8; j++) v[j] = _mm512_sub_epi16(v[j], _mm512_load_si512(row + 32 * j));
        }
        for (int a = 0; a < nAdded; a++) {
            const i16* row = p.ftWeights + size_t(added[a]) * NET_HALF;
            for (int j = 0; j < 8; j++) v[j] = _mm512_add_epi16(v[j], _mm512_load_si512(row + 32 * j));
        }
        for (int j = 0; j < 8; j++) _mm512_store_si512(values + 32 * j, v[j]);
    }
};
#endif

// The rows of a change lie far apart in 24 MB of weights; asking for all of
// them before the arithmetic lets the memory system fetch them in parallel.
void prefetchRows(const NetworkParameters& p, const FeatureChanges& c) {
#if defined(__AVX2__)
    for (int persp = 0; persp < 2; persp++) {
        for (int i = 0; i < c.removedCount[persp]; i++)
            for (int line64 = 0; line64 < NET_HALF * 2; line64 += 64)
                _mm_prefetch(reinterpret_cast<const char*>(p.ftWeights + size_t(c.removed[persp][i]) * NET_HALF) + line64,
                             _MM_HINT_T0);
        for (int i = 0; i < c.addedCount[persp]; i++)
            for (int line64 = 0; line64 < NET_HALF * 2; line64 += 64)
                _mm_prefetch(reinterpret_cast<const char*>(p.ftWeights + size_t(c.added[persp][i]) * NET_HALF) + line64,
                             _MM_HINT_T0);
    }
#else
    (void)p;
    (void)c;
#endif
}

template <typename Rows>
void updateAccumulator(Position& pos, int ply) {
    Accumulator& acc = pos.accumulators[ply];
    if (acc.computed) return;
    const NetworkParameters& p = active->p;
    const int base = findBase(pos, ply);
    if (base >= 0) {
        FeatureChanges c;
        collectChanges(pos, base, ply, c);
        prefetchRows(p, c);
        for (int persp = 0; persp < 2; persp++)
            Rows::apply(acc.values[persp], pos.accumulators[base].values[persp], p, c.removed[persp],
                        c.removedCount[persp], c.added[persp], c.addedCount[persp]);
    } else {
        int features[32];
        for (int persp = 0; persp < 2; persp++) {
            const int n = activeFeatures(pos, persp, features);
            Rows::apply(acc.values[persp], p.ftBias, p, nullptr, 0, features, n);
        }
    }
    acc.computed = 1;
}

// ---------------------------------------------------------------------------
// Forward pass.

i32 forwardScalar(const Position& pos, int ply) {
    const NetworkParameters& p = active->p;
    const Accumulator& acc = pos.accumulators[ply];
    u8 input[NET_INPUTS];
    const int order[2] = {pos.sideToMove, pos.sideToMove ^ 1};
    for (int half = 0; half < 2; half++)
        for (int i = 0; i < NET_HALF; i++)
            input[half * NET_HALF + i] = u8(std::clamp<int>(acc.values[order[half]][i], 0, 127));
    u8 h1[NET_L1], h2[NET_L2];
    for (int o = 0; o < NET_L1; o++) {
        i32 sum = p.l1Bias[o];
        for (int i = 0; i < NET_INPUTS; i++) sum += p.l1Weights[o * NET_INPUTS + i] * input[i];
        h1[o] = u8(std::clamp(sum >> 6, 0, 127));
    }
    for (int o = 0; o < NET_L2; o++) {
        i32 sum = p.l2Bias[o];
        for (int i = 0; i < NET_L1; i++) sum += p.l2Weights[o * NET_L1 + i] * h1[i];
        h2[o] = u8(std::clamp(sum >> 6, 0, 127));
    }
    i32 out = p.outBias;
    for (int i = 0; i < NET_L2; i++) out += p.outWeights[i] * h2[i];
    return out;
}

#if defined(__AVX2__)
// Adds one group of four inputs times its packed weights into the 32 sums:
// maddubs makes 16-bit pair sums (inputs are at most 127, so they cannot
// overflow), madd widens them to 32 bits.
inline void addGroup(__m256i (&sum)[4], const u8* input, int g, const i8 (*packed)[32][4]) {
    const __m256i ones = _mm256_set1_epi16(1);
    i32 four;
    std::memcpy(&four, input + 4 * g, 4);
    const __m256i v = _mm256_set1_epi32(four);
    const __m256i* w = reinterpret_cast<const __m256i*>(packed[g]);
    for (int b = 0; b < 4; b++)
        sum[b] = _mm256_add_epi32(sum[b], _mm256_madd_epi16(_mm256_maddubs_epi16(v, _mm256_load_si256(w + b)), ones));
}

// Bias, shift by 6 and clamp to 0..127.
inline void finishLayer(const __m256i (&sum)[4], const i32* bias, u8* output) {
    const __m256i zero = _mm256_setzero_si256(), top = _mm256_set1_epi32(127);
    alignas(32) i32 result[32];
    for (int b = 0; b < 4; b++) {
        __m256i s = _mm256_add_epi32(sum[b], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bias + 8 * b)));
        s = _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(s, 6), zero), top);
        _mm256_store_si256(reinterpret_cast<__m256i*>(result + 8 * b), s);
    }
    for (int o = 0; o < 32; o++) output[o] = u8(result[o]);
}

i32 forwardAvx2(const Position& pos, int ply) {
    const Network& net = *active;
    const Accumulator& acc = pos.accumulators[ply];
    alignas(32) u8 input[NET_INPUTS];
    // Which groups of four inputs are not all zero: clipped inputs mostly
    // are, and their weights need not be read at all.
    u64 nonZero[2] = {0, 0};
    const int order[2] = {pos.sideToMove, pos.sideToMove ^ 1};
    const __m256i zero = _mm256_setzero_si256();
    for (int half = 0; half < 2; half++)
        for (int i = 0; i < NET_HALF; i += 32) {
            const __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(acc.values[order[half]] + i));
            const __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(acc.values[order[half]] + i + 16));
            // Saturating pack then max with 0 is clamp(0, 127); the pack
            // interleaves 128-bit lanes, the permute puts them back in order.
            const __m256i packed = _mm256_permute4x64_epi64(_mm256_max_epi8(_mm256_packs_epi16(a, b), zero), 0xD8);
            _mm256_store_si256(reinterpret_cast<__m256i*>(input + half * NET_HALF + i), packed);
            const int group = (half * NET_HALF + i) / 4;  // 8 groups per 32 bytes
            const u64 mask = u64(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(packed, zero))));
            nonZero[group / 64] |= mask << (group % 64);
        }
    __m256i sum[4] = {zero, zero, zero, zero};
    for (int word = 0; word < 2; word++)
        for (u64 m = nonZero[word]; m;) addGroup(sum, input, 64 * word + popLsb(m), net.l1Packed);
    alignas(32) u8 h1[NET_L1], h2[NET_L2];
    finishLayer(sum, net.p.l1Bias, h1);
    __m256i sum2[4] = {zero, zero, zero, zero};
    for (int g = 0; g < NET_L1 / 4; g++) addGroup(sum2, h1, g, net.l2Packed);
    finishLayer(sum2, net.p.l2Bias, h2);
    i32 out = net.p.outBias;
    for (int i = 0; i < NET_L2; i++) out += net.p.outWeights[i] * h2[i];
    return out;
}
#endif

#if defined(VELMORA_AVX512_CODE)
// The AVX2 forward pass on 512-bit registers: 64 inputs clipped at a time,
// the 32 sums of a layer in two registers of 16.

// Clips both halves to 0..127 (saturating pack, then max with 0, as in the
// AVX2 code) and marks the groups of four inputs that are not all zero.
AVX512_TARGET inline void clipInputs512(const Position& pos, int ply, u8* input, u64 (&nonZero)[2]) {
    const Accumulator& acc = pos.accumulators[ply];
    const int order[2] = {pos.sideToMove, pos.sideToMove ^ 1};
    const __m512i zero = _mm512_setzero_si512();
    // The pack works within 128-bit lanes, leaving the 64-bit quarters in the
    // order a0 b0 a1 b1 a2 b2 a3 b3; this puts them back to a0..a3 b0..b3.
    const __m512i laneOrder = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
    nonZero[0] = nonZero[1] = 0;
    for (int half = 0; half < 2; half++)
        for (int i = 0; i < NET_HALF; i += 64) {
            const __m512i a = _mm512_load_si512(acc.values[order[half]] + i);
            const __m512i b = _mm512_load_si512(acc.values[order[half]] + i + 32);
            const __m512i packed =
                _mm512_permutexvar_epi64(laneOrder, _mm512_max_epi8(_mm512_packs_epi16(a, b), zero));
            _mm512_store_si512(input + half * NET_HALF + i, packed);
            const int group = (half * NET_HALF + i) / 4;  // 16 groups per 64 bytes
            const u64 mask = u64(_mm512_cmpgt_epi32_mask(packed, zero));
            nonZero[group / 64] |= mask << (group % 64);
        }
}

// One group of four inputs times its packed weights into the 32 sums, as
// addGroup: the 16-bit pair sums of maddubs cannot saturate (inputs are at
// most 127), so this equals the scalar sum exactly, as does VNNI's dpbusd,
// which adds the four products straight into 32 bits.
AVX512_TARGET inline void addGroup512(__m512i (&sum)[2], const u8* input, int g, const i8 (*packed)[32][4]) {
    const __m512i ones = _mm512_set1_epi16(1);
    i32 four;
    std::memcpy(&four, input + 4 * g, 4);
    const __m512i v = _mm512_set1_epi32(four);
    const __m512i* w = reinterpret_cast<const __m512i*>(packed[g]);
    for (int b = 0; b < 2; b++)
        sum[b] = _mm512_add_epi32(sum[b], _mm512_madd_epi16(_mm512_maddubs_epi16(v, _mm512_load_si512(w + b)), ones));
}
VNNI_TARGET inline void addGroupVnni(__m512i (&sum)[2], const u8* input, int g, const i8 (*packed)[32][4]) {
    i32 four;
    std::memcpy(&four, input + 4 * g, 4);
    const __m512i v = _mm512_set1_epi32(four);
    const __m512i* w = reinterpret_cast<const __m512i*>(packed[g]);
    for (int b = 0; b < 2; b++) sum[b] = _mm512_dpbusd_epi32(sum[b], v, _mm512_load_si512(w + b));
}

// The sums of a layer over the groups marked in `groups`.
AVX512_TARGET inline void denseAvx512(__m512i (&sum)[2], const u8* input, const u64 (&groups)[2],
                                      const i8 (*packed)[32][4]) {
    for (int word = 0; word < 2; word++)
        for (u64 m = groups[word]; m;) addGroup512(sum, input, 64 * word + popLsb(m), packed);
}
// dpbusd adds into its own destination, so one pair of sums would make every
// group wait for the one before (five cycles each); alternate groups go to a
// second pair instead, and exact integer sums make the order free.
VNNI_TARGET inline void denseVnni(__m512i (&sum)[2], const u8* input, const u64 (&groups)[2],
                                  const i8 (*packed)[32][4]) {
    __m512i other[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
    for (int word = 0; word < 2; word++)
        for (u64 m = groups[word]; m;) {
            addGroupVnni(sum, input, 64 * word + popLsb(m), packed);
            if (m) addGroupVnni(other, input, 64 * word + popLsb(m), packed);
        }
    for (int b = 0; b < 2; b++) sum[b] = _mm512_add_epi32(sum[b], other[b]);
}

// Bias, shift by 6 and clamp to 0..127, as finishLayer.
AVX512_TARGET inline void finishLayer512(const __m512i (&sum)[2], const i32* bias, u8* output) {
    const __m512i zero = _mm512_setzero_si512(), top = _mm512_set1_epi32(127);
    for (int b = 0; b < 2; b++) {
        __m512i s = _mm512_add_epi32(sum[b], _mm512_loadu_si512(bias + 16 * b));
        s = _mm512_min_epi32(_mm512_max_epi32(_mm512_srai_epi32(s, 6), zero), top);
        // 0..127 narrows to bytes exactly
        _mm_storeu_si128(reinterpret_cast<__m128i*>(output + 16 * b), _mm512_cvtepi32_epi8(s));
    }
}

// In an AVX2 build the VNNI layers are a call away (a function cannot take
// in code for instructions it was not compiled for); in a VNNI build they
// are inlined.
template <bool Vnni>
AVX512_TARGET i32 forwardAvx512(const Position& pos, int ply) {
    const Network& net = *active;
    alignas(64) u8 input[NET_INPUTS];
    u64 nonZero[2];
    clipInputs512(pos, ply, input, nonZero);
    const __m512i zero = _mm512_setzero_si512();
    __m512i sum[2] = {zero, zero};
    if constexpr (Vnni)
        denseVnni(sum, input, nonZero, net.l1Packed);
    else
        denseAvx512(sum, input, nonZero, net.l1Packed);
    alignas(64) u8 h1[NET_L1], h2[NET_L2];
    finishLayer512(sum, net.p.l1Bias, h1);
    const u64 allGroups[2] = {(u64(1) << (NET_L1 / 4)) - 1, 0};
    __m512i sum2[2] = {zero, zero};
    if constexpr (Vnni)
        denseVnni(sum2, h1, allGroups, net.l2Packed);
    else
        denseAvx512(sum2, h1, allGroups, net.l2Packed);
    finishLayer512(sum2, net.p.l2Bias, h2);
    i32 out = net.p.outBias;
    for (int i = 0; i < NET_L2; i++) out += net.p.outWeights[i] * h2[i];
    return out;
}
#endif

// Outputs are kept clear of the mate scores whatever the network says.
i16 toScore(int score) { return i16(std::clamp(score, -31000, 31000)); }

}  // namespace

// ---------------------------------------------------------------------------
// Loading and writing.

bool loadNetwork(std::istream& in, std::string* error) {
    netLoaded = false;
    auto fail = [&](const char* why) {
        if (error) *error = why;
        say("Net read");
        return false;
    };
    auto fresh = std::make_unique<Network>();
    NetworkParameters& p = fresh->p;
    u32 descriptionLength = 0;
    if (!readValue(in, p.version) || !readValue(in, p.hash) || !readValue(in, descriptionLength))
        return fail("the file ends inside its header");

    // Where the size is known, the description length must account for it
    // exactly; this also keeps a wild length field from being read at all.
    const std::streampos afterHeader = in.tellg();
    if (afterHeader != std::streampos(-1) && in.seekg(0, std::ios::end)) {
        const std::streamoff total = in.tellg();
        in.seekg(afterHeader);
        if (total != std::streamoff(NET_FILE_BYTES) + descriptionLength)
            return fail(total < std::streamoff(NET_FILE_BYTES) + descriptionLength ? "the file is truncated"
                                                                                   : "the file is longer than a network");
    }
    in.clear();
    in.seekg(afterHeader);
    std::string description;
    for (u32 left = descriptionLength; left > 0;) {
        char chunk[4096];
        const u32 n = std::min<u32>(left, sizeof chunk);
        if (!in.read(chunk, n)) return fail("the file ends inside its description");
        description.append(chunk, n);
        left -= n;
    }
    const bool ok = readValue(in, p.transformerHash) && readArray(in, p.ftBias, NET_HALF) &&
                    readArray(in, p.ftWeights, size_t(NET_FEATURES) * NET_HALF) && readValue(in, p.networkHash) &&
                    readArray(in, p.l1Bias, NET_L1) && readArray(in, p.l1Weights, NET_L1 * NET_INPUTS) &&
                    readArray(in, p.l2Bias, NET_L2) && readArray(in, p.l2Weights, NET_L2 * NET_L1) &&
                    readValue(in, p.outBias) && readArray(in, p.outWeights, NET_L2);
    if (!ok) return fail("the file is truncated");
    if (in.peek() != std::char_traits<char>::eof()) return fail("the file is longer than a network");
    packLayers(*fresh);
    active = std::move(fresh);
    say("Net read");
    netLoaded = true;
    return true;
}

namespace {
const char* embeddedBytes = nullptr;
size_t embeddedSize = 0;
std::string embeddedName;

// A read-only stream over bytes in memory.
struct MemoryBuffer : std::streambuf {
    MemoryBuffer(const char* data, size_t size) {
        char* p = const_cast<char*>(data);
        setg(p, p, p + size);
    }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        char* target = (dir == std::ios_base::beg ? eback() : dir == std::ios_base::cur ? gptr() : egptr()) + off;
        if (target < eback() || target > egptr()) return pos_type(off_type(-1));
        setg(eback(), target, egptr());
        return pos_type(target - eback());
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }
};
}  // namespace

void setEmbeddedNetwork(const char* data, size_t size, const std::string& name) {
    embeddedBytes = data;
    embeddedSize = size;
    embeddedName = name;
}

bool loadNetworkFile(const std::string& name, std::string* error) {
    std::ifstream in(name, std::ios::binary);
    if (!in && name.find_first_of("/\\") == std::string::npos) in.open(executableDirectory() + name, std::ios::binary);
    if (!in && embeddedBytes && name == embeddedName) {
        MemoryBuffer buffer(embeddedBytes, embeddedSize);
        std::istream memory(&buffer);
        return loadNetwork(memory, error);
    }
    if (!in) {
        netLoaded = false;
        if (error) *error = "the file cannot be opened";
        return false;
    }
    return loadNetwork(in, error);
}

void writeNetwork(std::ostream& out, const NetworkParameters& p, const std::string& description) {
    const u32 length = u32(description.size());
    writeArray(out, &p.version, 1);
    writeArray(out, &p.hash, 1);
    writeArray(out, &length, 1);
    out.write(description.data(), std::streamsize(description.size()));
    writeArray(out, &p.transformerHash, 1);
    writeArray(out, p.ftBias, NET_HALF);
    writeArray(out, p.ftWeights, size_t(NET_FEATURES) * NET_HALF);
    writeArray(out, &p.networkHash, 1);
    writeArray(out, p.l1Bias, NET_L1);
    writeArray(out, p.l1Weights, NET_L1 * NET_INPUTS);
    writeArray(out, p.l2Bias, NET_L2);
    writeArray(out, p.l2Weights, NET_L2 * NET_L1);
    writeArray(out, &p.outBias, 1);
    writeArray(out, p.outWeights, NET_L2);
}

const NetworkParameters* currentNetwork() { return active ? &active->p : nullptr; }

// ---------------------------------------------------------------------------
// Entry points.

namespace nnue {

int scaleOutput(const Position& pos, i32 out) {
    return outputScaleFactor(popCount(pos.pieces[WPAWN] | pos.pieces[BPAWN]), pos.phase) * out / OUTPUT_SCALE_DIVISOR;
}

void computeAccumulatorScalar(Position& pos, int ply) { updateAccumulator<ScalarRows>(pos, ply); }

i32 rawOutputScalar(Position& pos, int ply) {
    computeAccumulatorScalar(pos, ply);
    return forwardScalar(pos, ply);
}

i16 evaluateScalar(Position& pos, int ply) {
    if (!active) return 0;
    return networkScore(pos, rawOutputScalar(pos, ply));
}

#if defined(__AVX2__)
void computeAccumulatorAvx2(Position& pos, int ply) { updateAccumulator<Avx2Rows>(pos, ply); }

i16 evaluateAvx2(Position& pos, int ply) {
    if (!active) return 0;
    computeAccumulatorAvx2(pos, ply);
    return networkScore(pos, forwardAvx2(pos, ply));
}
#endif

#if defined(VELMORA_AVX512_CODE)
void computeAccumulatorAvx512(Position& pos, int ply) { updateAccumulator<Avx512Rows>(pos, ply); }

i16 evaluateAvx512(Position& pos, int ply) {
    if (!active) return 0;
    computeAccumulatorAvx512(pos, ply);
    return networkScore(pos, forwardAvx512<false>(pos, ply));
}

i16 evaluateAvx512Vnni(Position& pos, int ply) {
    if (!active) return 0;
    computeAccumulatorAvx512(pos, ply);
    return networkScore(pos, forwardAvx512<true>(pos, ply));
}

bool cpuHasAvx512() { return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"); }
bool cpuHasAvx512Vnni() { return cpuHasAvx512() && __builtin_cpu_supports("avx512vnni"); }
#endif

}  // namespace nnue

i16 networkScore(const Position& pos, i32 rawOutput) { return toScore(nnue::scaleOutput(pos, rawOutput)); }

#if defined(VELMORA_AVX512)
#if defined(__AVX512VNNI__)
constexpr bool USE_VNNI = true;
#else
constexpr bool USE_VNNI = false;
#endif
void computeAccumulator(Position& pos, int ply) { nnue::computeAccumulatorAvx512(pos, ply); }
i16 evaluateNetwork(Position& pos, int ply) {
    return USE_VNNI ? nnue::evaluateAvx512Vnni(pos, ply) : nnue::evaluateAvx512(pos, ply);
}
i32 networkRawOutput(Position& pos, int ply) {
    if (!active) return 0;
    nnue::computeAccumulatorAvx512(pos, ply);
    return forwardAvx512<USE_VNNI>(pos, ply);
}
#elif defined(__AVX2__)
void computeAccumulator(Position& pos, int ply) { nnue::computeAccumulatorAvx2(pos, ply); }
i16 evaluateNetwork(Position& pos, int ply) { return nnue::evaluateAvx2(pos, ply); }
i32 networkRawOutput(Position& pos, int ply) {
    if (!active) return 0;
    nnue::computeAccumulatorAvx2(pos, ply);
    return forwardAvx2(pos, ply);
}
#else
void computeAccumulator(Position& pos, int ply) { nnue::computeAccumulatorScalar(pos, ply); }
i16 evaluateNetwork(Position& pos, int ply) { return nnue::evaluateScalar(pos, ply); }
i32 networkRawOutput(Position& pos, int ply) { return active ? nnue::rawOutputScalar(pos, ply) : 0; }
#endif
