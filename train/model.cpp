#include "train/model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "eval/weights.h"
#include "train/engine_setup.h"

int kingBucketSquare(int sq) {
    const int file = sq & 7, rank = sq >> 3;
    return (rank == 0 ? 0 : rank < 3 ? 8 : 24) + (file < 3 ? 0 : file < 5 ? 3 : 5);
}

void spreadBucketRows(FloatModel& m) {
    for (int k = 0; k < 64; k++)
        if (const int first = kingBucketSquare(k); first != k)
            std::copy_n(m.row(first * FACTOR_FEATURES), size_t(FACTOR_FEATURES) * NET_HALF, m.row(k * FACTOR_FEATURES));
}

bool mirrorable(const TrainingRecord& r) {
    u64 kings[2] = {0, 0}, rooks[2] = {0, 0};
    forEachPiece(r, [&](int piece, int sq) {
        if (pieceType(piece) == KING_T) kings[pieceColour(piece)] |= 1ull << sq;
        if (pieceType(piece) == ROOK_T) rooks[pieceColour(piece)] |= 1ull << sq;
    });
    constexpr u64 firstRank[2] = {0xFFull, 0xFFull << 56};
    for (int c : {WHITE, BLACK})
        if ((kings[c] & firstRank[c]) && (rooks[c] & firstRank[c])) return false;
    return true;
}

void makeSample(const TrainingRecord& r, Sample& s, bool kingBuckets, bool mirror) {
    const int flip = mirror ? 7 : 0;
    int king[2] = {0, 0}, pawns = 0, phase = 0;
    forEachPiece(r, [&](int piece, int sq) {
        if (pieceType(piece) == KING_T) king[pieceColour(piece)] = sq ^ flip;
        pawns += pieceType(piece) == PAWN_T;
        phase += phaseWeight[pieceType(piece)];
    });
    if (kingBuckets) {  // Black's king is bucketed as Black sees it
        king[WHITE] = kingBucketSquare(king[WHITE]);
        king[BLACK] = kingBucketSquare(king[BLACK] ^ 56) ^ 56;
    }
    int n = 0;
    forEachPiece(r, [&](int piece, int sq) {
        if (n >= MAX_PIECES) return;
        s.features[WHITE][n] = u16(featureIndex(WHITE, king[WHITE], piece, sq ^ flip));
        s.features[BLACK][n] = u16(featureIndex(BLACK, king[BLACK], piece, sq ^ flip));
        n++;
    });
    s.count = u8(n);
    s.sideToMove = r.sideToMove;
    s.factor = u16(outputScaleFactor(pawns, phase));
    s.scale = float(s.factor) * OUTPUT_UNIT / float(OUTPUT_SCALE_DIVISOR);
}

void initModel(FloatModel& m, u64 seed) {
    SplitMix rng(seed);
    auto uniform = [&](float limit) { return float((rng.unit() * 2.0 - 1.0) * limit); };
    std::fill(m.p.begin(), m.p.end(), 0.0f);
    // The shared piece-square rows carry the random start; the king-relative
    // rows start at zero and learn only corrections, so a king square that
    // training rarely sees evaluates like the shared rows, not like noise.
    for (size_t i = size_t(NET_FEATURES) * NET_HALF; i < size_t(TRAIN_FEATURES) * NET_HALF; i++)
        m.p[ModelLayout::ftWeights + i] = uniform(0.05f);
    for (int i = 0; i < NET_HALF; i++) m.p[ModelLayout::ftBias + i] = 0.25f;
    for (int i = 0; i < NET_L1 * NET_INPUTS; i++) m.p[ModelLayout::l1Weights + i] = uniform(1.0f / std::sqrt(float(NET_INPUTS)) * 1.7f);
    for (int i = 0; i < NET_L1; i++) m.p[ModelLayout::l1Bias + i] = 0.1f;
    for (int i = 0; i < NET_L2 * NET_L1; i++) m.p[ModelLayout::l2Weights + i] = uniform(1.0f / std::sqrt(float(NET_L1)) * 1.7f);
    for (int i = 0; i < NET_L2; i++) m.p[ModelLayout::l2Bias + i] = 0.1f;
    for (int i = 0; i < NET_L2; i++) m.p[ModelLayout::outWeights + i] = uniform(1.0f / std::sqrt(float(NET_L2)));
}

void clipModel(FloatModel& m) {
    auto clip = [&](size_t from, size_t to, float limit) {
        for (size_t i = from; i < to; i++) m.p[i] = std::clamp(m.p[i], -limit, limit);
    };
    clip(ModelLayout::l1Weights, ModelLayout::l1Bias, HIDDEN_WEIGHT_LIMIT);
    clip(ModelLayout::l2Weights, ModelLayout::l2Bias, HIDDEN_WEIGHT_LIMIT);
    clip(ModelLayout::outWeights, ModelLayout::outBias, OUTPUT_WEIGHT_LIMIT);
}

void setQuantAware(FloatModel& m, bool on) {
    m.quantAware = on;
    m.onGrid.assign(on ? ModelLayout::size : 0, 0.0f);
    refreshGrid(m);
}

void refreshGrid(FloatModel& m) {
    if (!m.quantAware) return;
    auto grid = [&](size_t from, size_t to, float step) {
        for (size_t i = from; i < to; i++) m.onGrid[i] = std::round(m.p[i] * step) / step;
    };
    grid(ModelLayout::ftBias, ModelLayout::l1Weights, FT_QUANT);
    grid(ModelLayout::l1Weights, ModelLayout::l1Bias, HIDDEN_QUANT);
    grid(ModelLayout::l1Bias, ModelLayout::l2Weights, HIDDEN_QUANT * FT_QUANT);
    grid(ModelLayout::l2Weights, ModelLayout::l2Bias, HIDDEN_QUANT);
    grid(ModelLayout::l2Bias, ModelLayout::outWeights, HIDDEN_QUANT * FT_QUANT);
    grid(ModelLayout::outWeights, ModelLayout::outBias, OUTPUT_QUANT);
    grid(ModelLayout::outBias, ModelLayout::size, OUTPUT_UNIT);
}

namespace {

inline float clip01(float x) { return std::min(1.0f, std::max(0.0f, x)); }

// An activation as the next layer sees it: clipped to [0, 1] and, in
// quantisation-aware passes, rounded to the engine's 0..127.
inline float activation(const FloatModel& m, float x) {
    return m.quantAware ? std::nearbyint(clip01(x) * 127.0f) * (1.0f / 127.0f) : clip01(x);
}

// The transformer outputs as the first layer reads them, side to move first.
inline void firstLayerInputs(const FloatModel& m, const Activations& a, float* x) {
    for (int i = 0; i < NET_INPUTS; i++) x[i] = activation(m, a.acc[i / NET_HALF][i % NET_HALF]);
}

alignas(64) const float ZERO_ROW[NET_HALF] = {};

// The dense parameters the passes read (indexed like m.p).
inline const float* denseParams(const FloatModel& m) { return m.quantAware ? m.onGrid.data() : m.p.data(); }

// out[o] = bias[o] + sum_i w[o][i] x[i]
template <int IN, int OUT>
void dense(const float* w, const float* bias, const float* x, float* out) {
    for (int o = 0; o < OUT; o++) {
        const float* row = w + o * IN;
        float sum = 0.0f;
#pragma omp simd reduction(+ : sum)
        for (int i = 0; i < IN; i++) sum += row[i] * x[i];
        out[o] = bias[o] + sum;
    }
}

}  // namespace

float modelForward(const FloatModel& m, const Sample& s, Activations& a) {
    const float* p = denseParams(m);
    for (int side = 0; side < 2; side++) {
        const int perspective = side == 0 ? s.sideToMove : s.sideToMove ^ 1;
        float* __restrict acc = a.acc[side];
        std::memcpy(acc, p + ModelLayout::ftBias, sizeof(float) * NET_HALF);
        for (int i = 0; i < s.count; i++) {
            const int f = s.features[perspective][i];
            const float* __restrict r2 = m.row(factorFeature(f));
            if (m.quantAware) {  // the exported row: the folded sum, rounded
                const float* __restrict r1 = m.kingRows ? m.row(f) : ZERO_ROW;
#pragma omp simd
                for (int j = 0; j < NET_HALF; j++)
                    acc[j] += std::nearbyint((r1[j] + r2[j]) * FT_QUANT) * (1.0f / FT_QUANT);
            } else if (m.kingRows) {
                const float* __restrict r1 = m.row(f);
#pragma omp simd
                for (int j = 0; j < NET_HALF; j++) acc[j] += r1[j] + r2[j];
            } else {
#pragma omp simd
                for (int j = 0; j < NET_HALF; j++) acc[j] += r2[j];
            }
        }
    }
    alignas(64) float x[NET_INPUTS];
    firstLayerInputs(m, a, x);
    dense<NET_INPUTS, NET_L1>(p + ModelLayout::l1Weights, p + ModelLayout::l1Bias, x, a.z1);
    for (int j = 0; j < NET_L1; j++) a.h1[j] = activation(m, a.z1[j]);
    dense<NET_L1, NET_L2>(p + ModelLayout::l2Weights, p + ModelLayout::l2Bias, a.h1, a.z2);
    for (int j = 0; j < NET_L2; j++) a.h2[j] = activation(m, a.z2[j]);
    float y = p[ModelLayout::outBias];
    for (int j = 0; j < NET_L2; j++) y += p[ModelLayout::outWeights + j] * a.h2[j];
    a.y = y;
    return y * s.scale;
}

void modelBackward(const FloatModel& m, const Sample& s, const Activations& a, float gradScore, DenseGradients& dense,
              float* gradAcc) {
    const float* p = denseParams(m);
    const float gy = gradScore * s.scale;
    dense.at(ModelLayout::outBias) += gy;
    alignas(64) float g2[NET_L2], g1[NET_L1];
    for (int j = 0; j < NET_L2; j++) {
        dense.at(ModelLayout::outWeights + j) += gy * a.h2[j];
        g2[j] = (a.z2[j] > 0.0f && a.z2[j] < 1.0f) ? gy * p[ModelLayout::outWeights + j] : 0.0f;
    }
    std::fill(g1, g1 + NET_L1, 0.0f);
    for (int o = 0; o < NET_L2; o++) {
        if (g2[o] == 0.0f) continue;
        dense.at(ModelLayout::l2Bias + o) += g2[o];
        float* gw = &dense.at(ModelLayout::l2Weights + size_t(o) * NET_L1);
        const float* w = p + ModelLayout::l2Weights + o * NET_L1;
        for (int i = 0; i < NET_L1; i++) {
            gw[i] += g2[o] * a.h1[i];
            g1[i] += g2[o] * w[i];
        }
    }
    for (int j = 0; j < NET_L1; j++)
        if (!(a.z1[j] > 0.0f && a.z1[j] < 1.0f)) g1[j] = 0.0f;

    alignas(64) float x[NET_INPUTS];
    firstLayerInputs(m, a, x);
    std::fill(gradAcc, gradAcc + NET_INPUTS, 0.0f);
    for (int o = 0; o < NET_L1; o++) {
        const float g = g1[o];
        if (g == 0.0f) continue;
        dense.at(ModelLayout::l1Bias + o) += g;
        float* gw = &dense.at(ModelLayout::l1Weights + size_t(o) * NET_INPUTS);
        const float* w = p + ModelLayout::l1Weights + o * NET_INPUTS;
#pragma omp simd
        for (int i = 0; i < NET_INPUTS; i++) {
            gw[i] += g * x[i];
            gradAcc[i] += g * w[i];
        }
    }
    const float* acc = &a.acc[0][0];
    float* gb = &dense.at(ModelLayout::ftBias);
    for (int i = 0; i < NET_INPUTS; i++) {
        if (!(acc[i] > 0.0f && acc[i] < 1.0f)) gradAcc[i] = 0.0f;
        gb[i % NET_HALF] += gradAcc[i];
    }
}

bool quantize(const FloatModel& m, NetworkParameters& out, std::string* error) {
    std::memset(&out, 0, sizeof out);
    out.version = 0x56454C31u;  // "VEL1"
    const float* p = m.p.data();
    auto fail = [&](const char* what, long index, double value, double limit) {
        if (error) {
            char text[200];
            std::snprintf(text, sizeof text, "%s[%ld] = %.1f is outside +-%.0f", what, index, value, limit);
            *error = text;
        }
        return false;
    };
    auto toInt = [](double v) { return std::lround(v); };
    for (int j = 0; j < NET_HALF; j++) {
        const long v = toInt(p[ModelLayout::ftBias + j] * FT_QUANT);
        if (std::abs(v) > 32767) return fail("transformer bias", j, double(v), 32767);
        out.ftBias[j] = i16(v);
    }
    for (int f = 0; f < NET_FEATURES; f++) {
        const float* r = m.row(f);
        const float* fr = m.row(factorFeature(f));
        for (int j = 0; j < NET_HALF; j++) {
            const long v = toInt((double(r[j]) + fr[j]) * FT_QUANT);
            if (std::abs(v) > 32767) return fail("transformer weight", long(f) * NET_HALF + j, double(v), 32767);
            out.ftWeights[size_t(f) * NET_HALF + j] = i16(v);
        }
    }
    auto hidden = [&](size_t wAt, size_t bAt, int count, int biases, i8* w, i32* b, const char* name) {
        for (int i = 0; i < count; i++) {
            const long v = toInt(p[wAt + i] * HIDDEN_QUANT);
            if (std::abs(v) > 127) return fail(name, i, double(v), 127);
            w[i] = i8(v);
        }
        for (int i = 0; i < biases; i++) {
            const double v = double(p[bAt + i]) * HIDDEN_QUANT * FT_QUANT;
            if (std::abs(v) > 2e9) return fail(name, i, v, 2e9);
            // The engine shifts right (a floor): half a step more rounds to nearest.
            b[i] = i32(toInt(v) + HIDDEN_QUANT / 2);
        }
        return true;
    };
    if (!hidden(ModelLayout::l1Weights, ModelLayout::l1Bias, NET_L1 * NET_INPUTS, NET_L1, out.l1Weights, out.l1Bias,
                "layer 1") ||
        !hidden(ModelLayout::l2Weights, ModelLayout::l2Bias, NET_L2 * NET_L1, NET_L2, out.l2Weights, out.l2Bias,
                "layer 2"))
        return false;
    for (int i = 0; i < NET_L2; i++) {
        const long v = toInt(p[ModelLayout::outWeights + i] * OUTPUT_QUANT);
        if (std::abs(v) > 127) return fail("output weight", i, double(v), 127);
        out.outWeights[i] = i8(v);
    }
    const double bias = double(p[ModelLayout::outBias]) * OUTPUT_UNIT;
    if (std::abs(bias) > 2e9) return fail("output bias", 0, bias, 2e9);
    out.outBias = i32(toInt(bias));
    return true;
}

void dequantize(const NetworkParameters& net, FloatModel& m) {
    std::fill(m.p.begin(), m.p.end(), 0.0f);
    float* p = m.p.data();
    for (int j = 0; j < NET_HALF; j++) p[ModelLayout::ftBias + j] = net.ftBias[j] / FT_QUANT;
    for (size_t i = 0; i < size_t(NET_FEATURES) * NET_HALF; i++) p[ModelLayout::ftWeights + i] = net.ftWeights[i] / FT_QUANT;
    // quantize adds half a step to the hidden biases (the engine's shift floors).
    const auto hidden = [&](size_t wAt, size_t bAt, int count, int biases, const i8* w, const i32* b) {
        for (int i = 0; i < count; i++) p[wAt + i] = w[i] / HIDDEN_QUANT;
        for (int i = 0; i < biases; i++)
            p[bAt + i] = float((double(b[i]) - HIDDEN_QUANT / 2) / (double(HIDDEN_QUANT) * FT_QUANT));
    };
    hidden(ModelLayout::l1Weights, ModelLayout::l1Bias, NET_L1 * NET_INPUTS, NET_L1, net.l1Weights, net.l1Bias);
    hidden(ModelLayout::l2Weights, ModelLayout::l2Bias, NET_L2 * NET_L1, NET_L2, net.l2Weights, net.l2Bias);
    for (int i = 0; i < NET_L2; i++) p[ModelLayout::outWeights + i] = net.outWeights[i] / OUTPUT_QUANT;
    p[ModelLayout::outBias] = float(double(net.outBias) / OUTPUT_UNIT);
}

int integerForward(const NetworkParameters& net, const Sample& s) {
    u8 x[NET_INPUTS];
    for (int side = 0; side < 2; side++) {
        const int perspective = side == 0 ? s.sideToMove : s.sideToMove ^ 1;
        i16 acc[NET_HALF];
        std::memcpy(acc, net.ftBias, sizeof acc);
        for (int i = 0; i < s.count; i++) {
            const i16* row = net.ftWeights + size_t(s.features[perspective][i]) * NET_HALF;
            for (int j = 0; j < NET_HALF; j++) acc[j] = i16(u16(acc[j]) + u16(row[j]));
        }
        for (int j = 0; j < NET_HALF; j++) x[side * NET_HALF + j] = u8(std::clamp<int>(acc[j], 0, 127));
    }
    u8 h1[NET_L1], h2[NET_L2];
    for (int o = 0; o < NET_L1; o++) {
        i32 sum = net.l1Bias[o];
        for (int i = 0; i < NET_INPUTS; i++) sum += net.l1Weights[o * NET_INPUTS + i] * x[i];
        h1[o] = u8(std::clamp(sum >> 6, 0, 127));
    }
    for (int o = 0; o < NET_L2; o++) {
        i32 sum = net.l2Bias[o];
        for (int i = 0; i < NET_L1; i++) sum += net.l2Weights[o * NET_L1 + i] * h1[i];
        h2[o] = u8(std::clamp(sum >> 6, 0, 127));
    }
    i32 out = net.outBias;
    for (int i = 0; i < NET_L2; i++) out += net.outWeights[i] * h2[i];
    return std::clamp(s.factor * out / OUTPUT_SCALE_DIVISOR, -31000, 31000);
}

namespace {
constexpr u64 FLOATS_MAGIC = 0x314C444F4D4C4556ull;  // "VELMODL1"
}

bool saveFloats(const std::string& path, const std::vector<const std::vector<float>*>& arrays, u64 step, u64 epoch) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    const u64 header[4] = {FLOATS_MAGIC, u64(arrays.size()), step, epoch};
    bool ok = std::fwrite(header, sizeof header, 1, f) == 1;
    for (const auto* a : arrays) {
        const u64 n = a->size();
        ok = ok && std::fwrite(&n, sizeof n, 1, f) == 1 && std::fwrite(a->data(), sizeof(float), n, f) == n;
    }
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool loadFloats(const std::string& path, const std::vector<std::vector<float>*>& arrays, u64* step, u64* epoch) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    u64 header[4];
    bool ok = std::fread(header, sizeof header, 1, f) == 1 && header[0] == FLOATS_MAGIC;
    const u64 stored = ok ? header[1] : 0;
    for (size_t i = 0; ok && i < arrays.size(); i++) {
        u64 n = 0;
        if (i >= stored) {  // a file without moments: they start at zero
            std::fill(arrays[i]->begin(), arrays[i]->end(), 0.0f);
            continue;
        }
        ok = std::fread(&n, sizeof n, 1, f) == 1 && n == arrays[i]->size() &&
             std::fread(arrays[i]->data(), sizeof(float), n, f) == n;
    }
    std::fclose(f);
    if (ok && step) *step = header[2];
    if (ok && epoch) *epoch = header[3];
    return ok;
}

bool averageModelFiles(const std::vector<std::string>& paths, FloatModel& m, std::string* error) {
    if (paths.empty()) {
        *error = "no models to average";
        return false;
    }
    std::vector<double> sum(m.p.size(), 0.0);
    FloatModel one;
    for (const std::string& path : paths) {
        if (!loadFloats(path, {&one.p}, nullptr, nullptr)) {
            *error = "cannot read model " + path;
            return false;
        }
        for (size_t i = 0; i < sum.size(); i++) sum[i] += one.p[i];
    }
    for (size_t i = 0; i < sum.size(); i++) m.p[i] = float(sum[i] / double(paths.size()));
    return true;
}
