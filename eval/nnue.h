// The evaluation network: a HalfKP-style feature transformer (king square x
// piece x square, 49152 binary features, 256 outputs per perspective) and
// three small integer layers (512 -> 32 -> 32 -> 1).
//
// File layout, little-endian: version u32, hash u32, description length N
// u32, N description bytes, transformer hash u32, 256 i16 biases, 49152 rows
// of 256 i16 weights, network hash u32, layer 1 (32 i32 biases, 32 rows of
// 512 i8), layer 2 (32 i32 biases, 32 rows of 32 i8), output (i32 bias, 32
// i8). The header words are read and ignored.
//
// Accumulators live in the Position, one per ply, and follow the change
// lists written by make-move. Three implementations of the update and the
// forward pass exist: a plain scalar one, the reference; an AVX2 one; and an
// AVX-512 one, with and without the VNNI dot product. The vector ones read
// layer weights permuted at load time, and all give identical results. The
// engine uses the widest the build targets; an AVX2 build still compiles the
// AVX-512 code (for those instructions alone) so that tests and benchmarks
// can check it on a machine that has them.
#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <string>

#include "board/position.h"

// The engine's own path is AVX-512 (F and BW) when the build targets it.
#if defined(__AVX512F__) && defined(__AVX512BW__)
#define VELMORA_AVX512 1
#endif
// Whether the AVX-512 code is compiled at all: in an AVX-512 build, and in
// an AVX2 build where the compiler can target single functions (the Windows
// build leaves it out: mingw's stack alignment for 64-byte values cannot be
// relied on, and that build's engine never takes this path).
#if defined(VELMORA_AVX512) || (defined(__AVX2__) && defined(__GNUC__) && !defined(_WIN32))
#define VELMORA_AVX512_CODE 1
#endif

constexpr int NET_FEATURES = 64 * 12 * 64;
constexpr int NET_INPUTS = 2 * NET_HALF;
constexpr int NET_L1 = 32;
constexpr int NET_L2 = 32;
constexpr size_t NET_FILE_BYTES = 25184056;  // plus the description

// The parameters in file order.
struct NetworkParameters {
    u32 version, hash, transformerHash, networkHash;
    alignas(64) i16 ftBias[NET_HALF];
    alignas(64) i16 ftWeights[NET_FEATURES * NET_HALF];
    alignas(64) i32 l1Bias[NET_L1];
    alignas(64) i8 l1Weights[NET_L1 * NET_INPUTS];   // [output][input]
    alignas(64) i32 l2Bias[NET_L2];
    alignas(64) i8 l2Weights[NET_L2 * NET_L1];
    i32 outBias;
    alignas(64) i8 outWeights[NET_L2];
};

// Whether a network has been read and accepted.
extern bool netLoaded;

// Reads a network from a binary stream. The parameters in use are replaced
// only when the whole file reads correctly and has no bytes beyond the
// layout; otherwise they stay as they were, `netLoaded` is false and *error
// says why. Prints "Net read" after every attempt.
bool loadNetwork(std::istream& in, std::string* error = nullptr);
// Opens `name` (or, for a bare name that is not in the working directory,
// the same name beside the executable; failing both, the network built into
// the executable when it has that name) and loads it.
bool loadNetworkFile(const std::string& name, std::string* error = nullptr);
// A network built into the executable, loaded by loadNetworkFile(name) when
// no file of that name is in the working directory or beside the executable.
void setEmbeddedNetwork(const char* data, size_t size, const std::string& name);
// Writes parameters in the file layout.
void writeNetwork(std::ostream& out, const NetworkParameters& params, const std::string& description);
// The parameters in use (nullptr before the first successful load).
const NetworkParameters* currentNetwork();

// Feature of a piece for one perspective; Black sees the board mirrored
// vertically, and own pieces come first within each type.
inline int featureIndex(int perspective, int kingSq, int piece, int sq) {
    const int flip = perspective == WHITE ? 0 : 56;
    const int pieceIndex = 2 * pieceType(piece) + (pieceColour(piece) != perspective);
    return (((kingSq ^ flip) * 12 + pieceIndex) << 6) + (sq ^ flip);
}

// The output scaling: the raw output counts factor / 24576 centipawns, and
// the factor falls as pawns and pieces leave the board (1400 with all
// material, 880 with bare kings).
constexpr int OUTPUT_SCALE_DIVISOR = 24576;
inline int outputScaleFactor(int pawns, int phase) {
    return (pawns + 55) * 16 + (phase < 0 ? 0 : phase > 24 ? 24 : phase) * 11;
}

// Makes accumulators[ply] valid (incrementally from the nearest computed
// ancestor when the change lists allow, else by a refresh).
void computeAccumulator(Position& pos, int ply);
// Side-to-move score of the network, scaled by pawns and phase.
i16 evaluateNetwork(Position& pos, int ply);
// The network's last-layer output before that scaling (side to move).
i32 networkRawOutput(Position& pos, int ply);
// What evaluateNetwork gives for a raw output of this position.
i16 networkScore(const Position& pos, i32 rawOutput);

// The two implementations, for tests and benchmarks.
namespace nnue {
void computeAccumulatorScalar(Position& pos, int ply);
i16 evaluateScalar(Position& pos, int ply);
#if defined(__AVX2__)
void computeAccumulatorAvx2(Position& pos, int ply);
i16 evaluateAvx2(Position& pos, int ply);
#endif
#if defined(VELMORA_AVX512_CODE)
// Call only where the processor has the instructions (the checks below).
void computeAccumulatorAvx512(Position& pos, int ply);
i16 evaluateAvx512(Position& pos, int ply);
i16 evaluateAvx512Vnni(Position& pos, int ply);
// The processor (and the operating system) runs AVX-512 F and BW; and VNNI.
bool cpuHasAvx512();
bool cpuHasAvx512Vnni();
#endif
// Output of the last layer before scaling.
i32 rawOutputScalar(Position& pos, int ply);
// Scaling of a raw output by the material left.
int scaleOutput(const Position& pos, i32 out);
}  // namespace nnue
