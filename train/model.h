// The float twin of the engine's network, for training.
//
// Same shape as the file: a 49152-feature king-relative transformer with 256
// outputs per perspective, side to move first, then 512 -> 32 -> 32 -> 1.
// Every activation is clipped to [0, 1], the float image of the engine's
// 0..127 bytes, and every weight is kept inside what its integer type holds
// after scaling, so that quantisation changes the function only by rounding:
//   transformer  int16 = 127 x float          (input bytes = 127 x activation)
//   hidden       int8  = 64 x float, int32 bias = 64 x 127 x float
//   output       int8  = 127 x float, int32 bias = 127 x 127 x float
// The output y is in units of 127 x 127 raw engine outputs, so the engine's
// score is factor(pawns, phase) x 16129 / 24576 x y centipawns.
//
// The transformer has 768 extra rows, one per (piece kind, square) seen from
// the perspective, shared by every king square; a position activates both
// its king-relative rows and these, and export folds them into every king
// square's row.
#pragma once

#include <string>
#include <vector>

#include "eval/nnue.h"
#include "train/record.h"

constexpr int FACTOR_FEATURES = 768;
constexpr int TRAIN_FEATURES = NET_FEATURES + FACTOR_FEATURES;
constexpr int MAX_PIECES = 32;
constexpr float FT_QUANT = 127.0f;
constexpr float HIDDEN_QUANT = 64.0f;
constexpr float OUTPUT_QUANT = 127.0f;
constexpr float OUTPUT_UNIT = FT_QUANT * OUTPUT_QUANT;  // raw engine output of y = 1
constexpr float HIDDEN_WEIGHT_LIMIT = 127.0f / HIDDEN_QUANT;
constexpr float OUTPUT_WEIGHT_LIMIT = 127.0f / OUTPUT_QUANT;

// The parameters as one flat array (the optimiser treats it as such).
struct ModelLayout {
    static constexpr size_t ftWeights = 0;
    static constexpr size_t ftBias = ftWeights + size_t(TRAIN_FEATURES) * NET_HALF;
    static constexpr size_t l1Weights = ftBias + NET_HALF;          // [32][512]
    static constexpr size_t l1Bias = l1Weights + NET_L1 * NET_INPUTS;
    static constexpr size_t l2Weights = l1Bias + NET_L1;           // [32][32]
    static constexpr size_t l2Bias = l2Weights + NET_L2 * NET_L1;
    static constexpr size_t outWeights = l2Bias + NET_L2;
    static constexpr size_t outBias = outWeights + NET_L2;
    static constexpr size_t size = outBias + 1;
    static constexpr size_t denseStart = ftBias;  // everything but the transformer rows
};

struct FloatModel {
    std::vector<float> p = std::vector<float>(ModelLayout::size, 0.0f);
    // False while the king-relative rows are all zero and left untrained:
    // the model is then a king-independent 768-input network, which learns
    // from far fewer positions (and twice as fast).
    bool kingRows = true;
    // King buckets: every king square of a bucket reads the king-relative
    // rows of the bucket's first square (kingBucketSquare), so nine sets of
    // rows learn from the positions that 64 would share. spreadBucketRows
    // copies them over the whole bucket, which makes the model an ordinary
    // per-square one for export.
    bool kingBuckets = false;
    // Quantisation-aware training: the passes read the dense parameters from
    // `onGrid`, a copy rounded to the engine's integer steps (refreshGrid),
    // and round the activations as the engine does, while the gradients
    // update the float parameters (straight through the rounding). The model
    // then learns the network the engine will run, not a float neighbour.
    bool quantAware = false;
    std::vector<float> onGrid;
    float* row(int feature) { return p.data() + size_t(feature) * NET_HALF; }
    const float* row(int feature) const { return p.data() + size_t(feature) * NET_HALF; }
};

// A position ready for the network: the king-relative features of each
// perspective (the factor rows follow from them), the side to move, and the
// output scale of its material.
struct Sample {
    u16 features[2][MAX_PIECES];
    u8 count;
    u8 sideToMove;
    u16 factor;    // the engine's output scale factor for this material
    float scale;   // centipawns per unit of y: factor x 16129 / 24576
};

// With `kingBuckets`, the king-relative features use each king's bucket square.
// With `mirror`, the sample is the record's position with files a and h
// exchanged, which scores the same when nobody can castle (`mirrorable`).
void makeSample(const TrainingRecord& r, Sample& s, bool kingBuckets = false, bool mirror = false);
// Whether a record's position surely has no castling right. Records keep no
// castling rights, so a side whose king stands on its first rank beside an own
// rook there counts as able to castle (in Chess960 too).
bool mirrorable(const TrainingRecord& r);
// The first square of the king bucket of `sq`, both seen from the same side:
// files a-c, d-e and f-h, crossed with the first rank, ranks 2-3 and the rest.
int kingBucketSquare(int sq);
void spreadBucketRows(FloatModel& m);
inline int factorFeature(int feature) { return NET_FEATURES + feature % FACTOR_FEATURES; }

// Random initial weights (king-relative rows zero).
void initModel(FloatModel& m, u64 seed);
// Clamps the hidden and output weights to their integer ranges.
void clipModel(FloatModel& m);
// Switches quantisation-aware passes on or off, and brings `onGrid` up to
// date with the float parameters (call after every update while on).
void setQuantAware(FloatModel& m, bool on);
void refreshGrid(FloatModel& m);

// Activations of one sample, kept for the backward pass.
struct Activations {
    alignas(64) float acc[2][NET_HALF];   // [0] side to move, [1] the other; before clipping
    alignas(64) float z1[NET_L1], h1[NET_L1];
    alignas(64) float z2[NET_L2], h2[NET_L2];
    float y;
};

// Centipawns, side to move's view.
float modelForward(const FloatModel& m, const Sample& s, Activations& a);

// Gradients of the dense part, one set per thread.
struct DenseGradients {
    std::vector<float> g = std::vector<float>(ModelLayout::size - ModelLayout::denseStart, 0.0f);
    float& at(size_t index) { return g[index - ModelLayout::denseStart]; }
};
// Back-propagates dLoss/dScore through the layers above the transformer into
// `dense` and returns dLoss/dAcc (512 values, side to move first) in gradAcc.
// The transformer bias gradient is accumulated in `dense` as well.
void modelBackward(const FloatModel& m, const Sample& s, const Activations& a, float gradScore, DenseGradients& dense,
              float* gradAcc);

// Quantises to the engine's integer parameters. Fails, saying which value,
// when a folded weight does not fit its integer type.
bool quantize(const FloatModel& m, NetworkParameters& out, std::string* error);
// The integer forward pass on quantised parameters, computed here from the
// sample (not through the engine's accumulators): the score the engine
// must print for that position.
int integerForward(const NetworkParameters& net, const Sample& s);
// The inverse of quantize: a model whose quantisation gives `net` back
// exactly, so that a shipped network (whose float model may be long gone)
// can be trained on. The shared rows stay zero: every king square's row
// holds its own folded weights.
void dequantize(const NetworkParameters& net, FloatModel& m);

// Model files: the flat parameters (and optionally the optimiser's moments).
bool saveFloats(const std::string& path, const std::vector<const std::vector<float>*>& arrays, u64 step,
                u64 epoch);
bool loadFloats(const std::string& path, const std::vector<std::vector<float>*>& arrays, u64* step, u64* epoch);
// The parameter-wise mean of model files (their optimiser moments ignored).
bool averageModelFiles(const std::vector<std::string>& paths, FloatModel& m, std::string* error);
