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
// lists written by make-move. Two implementations of the update and the
// forward pass exist: a plain scalar one, the reference, and an AVX2 one
// (default where the build has AVX2) that reads layer weights permuted at
// load time. Both give identical results.
#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <string>

#include "board/position.h"

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
// Output of the last layer before scaling.
i32 rawOutputScalar(Position& pos, int ply);
// Scaling of a raw output by the material left.
int scaleOutput(const Position& pos, i32 out);
}  // namespace nnue
