#include "train/training.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "train/engine_setup.h"

namespace fs = std::filesystem;

namespace {

inline double sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }
inline double resultValue(const TrainingRecord& r) { return 0.5 * (r.result + 1); }

}  // namespace

double trainingTarget(const TrainingRecord& r, double scale, double wdl) {
    const double fromScore = sigmoid(r.score / scale);
    return hasResult(r) ? (1 - wdl) * fromScore + wdl * resultValue(r) : fromScore;
}

namespace {

template <typename F>
void parallelFor(int threads, F&& f) {
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; t++) pool.emplace_back([&f, t] { f(t); });
    f(0);
    for (auto& th : pool) th.join();
}

// AdamW over ranges of the flat parameter array.
struct Optimiser {
    std::vector<float> m, v;
    double beta1 = 0.9, beta2 = 0.999, eps = 1e-8;
    u64 step = 0;
    explicit Optimiser(size_t n) : m(n, 0.0f), v(n, 0.0f) {}

    double c1 = 1, c2 = 1;  // bias corrections of the current step

    // Once per batch, before its updates.
    void nextStep() {
        step++;
        c1 = 1.0 - std::pow(beta1, double(step));
        c2 = 1.0 - std::pow(beta2, double(step));
    }

    // Updates params[from, to) with gradients g[0, to - from).
    void update(float* params, const float* g, size_t from, size_t to, double lr, double decay) {
        const float a = float(lr / c1), rc2 = float(1.0 / c2), b1 = float(beta1), b2 = float(beta2);
        const float wd = float(lr * decay), e = float(eps);
        float* mm = m.data();
        float* vv = v.data();
#pragma omp simd
        for (size_t i = from; i < to; i++) {
            const float gi = g[i - from];
            mm[i] = b1 * mm[i] + (1.0f - b1) * gi;
            vv[i] = b2 * vv[i] + (1.0f - b2) * gi * gi;
            params[i] -= a * mm[i] / (std::sqrt(vv[i] * rc2) + e) + wd * params[i];
        }
    }
};

struct Batch {
    std::vector<Sample> samples;
    std::vector<float> gradAcc;     // [sample][512]
    std::vector<u32> kingOrder[2];  // per perspective: samples by king square
    explicit Batch(int n)
        : samples(size_t(n)),
          gradAcc(size_t(n) * NET_INPUTS),
          kingOrder{std::vector<u32>(size_t(n)), std::vector<u32>(size_t(n))} {}
};

}  // namespace

bool loadRecordPath(const std::string& path, std::vector<TrainingRecord>& out, std::ostream& log) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        std::vector<std::string> files;
        for (const auto& e : fs::directory_iterator(path, ec))
            if (e.path().extension() == ".bin") files.push_back(e.path().string());
        std::sort(files.begin(), files.end());
        bool ok = true;
        for (const auto& f : files) ok = loadRecordPath(f, out, log) && ok;
        return ok;
    }
    const size_t before = out.size();
    if (!readRecords(path, out)) {
        log << "cannot read " << path << "\n";
        return false;
    }
    log << path << ": " << out.size() - before << " records\n";
    return true;
}

std::vector<u32> gameNumbers(const std::vector<TrainingRecord>& records) {
    std::vector<u32> game(records.size());
    u32 g = 0;
    for (size_t i = 0; i < records.size(); i++) {
        if (i > 0 && records[i].ply <= records[i - 1].ply) g++;
        game[i] = g;
    }
    return game;
}

double labelError(const std::vector<TrainingRecord>& records, double scale, size_t step) {
    step = std::max<size_t>(1, step);
    double e = 0;
    size_t n = 0;
    for (size_t i = 0; i < records.size(); i += step) {
        if (!hasResult(records[i])) continue;
        const double d = sigmoid(records[i].score / scale) - resultValue(records[i]);
        e += d * d;
        n++;
    }
    return n ? e / double(n) : 0;
}

double fitScale(const std::vector<TrainingRecord>& records) {
    const size_t step = std::max<size_t>(1, records.size() / 1000000);
    double lo = 50, hi = 2000;
    for (int it = 0; it < 60; it++) {  // golden-section search
        const double m1 = hi - (hi - lo) * 0.618, m2 = lo + (hi - lo) * 0.618;
        if (labelError(records, m1, step) < labelError(records, m2, step)) hi = m2;
        else lo = m1;
    }
    return (lo + hi) / 2;
}

double validationLoss(const FloatModel& m, const std::vector<TrainingRecord>& records, double scale, double wdl,
                      int threads) {
    if (records.empty()) return 0;
    std::vector<double> sums(size_t(threads), 0.0);
    parallelFor(threads, [&](int t) {
        Sample s;
        auto a = std::make_unique<Activations>();
        for (size_t i = size_t(t); i < records.size(); i += size_t(threads)) {
            makeSample(records[i], s, m.kingBuckets);
            const double p = sigmoid(modelForward(m, s, *a) / scale);
            const double target = trainingTarget(records[i], scale, wdl);
            sums[size_t(t)] += (p - target) * (p - target);
        }
    });
    double total = 0;
    for (double x : sums) total += x;
    return total / double(records.size());
}

bool importNetwork(const std::string& path, FloatModel& m, std::string* error) {
    if (!loadNetworkFile(path, error)) return false;
    dequantize(*currentNetwork(), m);
    return true;
}

bool exportNetwork(const FloatModel& m, const std::string& path, const std::vector<TrainingRecord>& check,
                   std::ostream& log) {
    auto net = std::make_unique<NetworkParameters>();
    std::string error;
    if (!quantize(m, *net, &error)) {
        log << "export stopped: " << error << "\n";
        return false;
    }
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        writeNetwork(out, *net, "Velmora trained network");
        if (!out.flush()) {
            log << "cannot write " << path << "\n";
            return false;
        }
    }
    double sum = 0, worst = 0;
    Sample s;
    auto a = std::make_unique<Activations>();
    for (const TrainingRecord& r : check) {
        makeSample(r, s);
        const double d = std::abs(double(modelForward(m, s, *a)) - integerForward(*net, s));
        sum += d;
        worst = std::max(worst, d);
    }
    char text[200];
    std::snprintf(text, sizeof text, "exported %s: float vs integer over %zu positions: mean %.2f cp, max %.1f cp",
                  path.c_str(), check.size(), check.empty() ? 0.0 : sum / double(check.size()), worst);
    log << text << "\n";
    return true;
}

bool runTraining(const TrainConfig& c, std::ostream& log) {
    std::error_code ec;
    fs::create_directories(c.out, ec);
    std::vector<TrainingRecord> all;
    for (const std::string& path : c.data)
        if (!loadRecordPath(path, all, log)) return false;
    if (all.size() < 2) {
        log << "not enough records\n";
        return false;
    }

    // Whole games go to validation, chosen by a hash of the game number.
    const std::vector<u32> games = gameNumbers(all);
    std::vector<TrainingRecord> train, valid;
    train.reserve(all.size());
    for (size_t i = 0; i < all.size(); i++) {
        SplitMix h(c.seed ^ (u64(games[i]) * 0x2545F4914F6CDD1Dull));
        (h.unit() < c.validation ? valid : train).push_back(all[i]);
    }
    std::vector<TrainingRecord>().swap(all);
    if (c.maxSamples > 0 && (long long)train.size() > c.maxSamples) train.resize(size_t(c.maxSamples));
    if (train.empty()) {
        log << "no training records left after holding out the validation games\n";
        return false;
    }
    const double scale = c.scale > 0 ? c.scale : fitScale(train);
    log << "training " << train.size() << " positions, validating " << valid.size() << " (" << games.back() + 1
        << " games), sigmoid scale " << scale << " cp, result weight " << c.wdl << "\n";

    FloatModel m;
    Optimiser opt(m.p.size());
    u64 epoch = 0;
    const std::string checkpoint = c.out + "/checkpoint.bin";
    if (loadFloats(checkpoint, {&m.p, &opt.m, &opt.v}, &opt.step, &epoch)) {
        log << "resuming from " << checkpoint << " after epoch " << epoch << "\n";
    } else if (!c.init.empty()) {
        if (!loadFloats(c.init, {&m.p}, nullptr, nullptr)) {
            log << "cannot read model " << c.init << "\n";
            return false;
        }
        log << "starting from " << c.init << "\n";
    } else {
        initModel(m, c.seed);
    }

    if (!c.kingRows) {
        for (size_t i = 0; i < size_t(NET_FEATURES) * NET_HALF; i++)
            if (m.p[i] != 0.0f) {
                log << "the model has king-relative weights: train it with them\n";
                return false;
            }
        m.kingRows = false;
    }
    m.kingBuckets = c.kingRows && c.kingBuckets;
    setQuantAware(m, c.quantAware);

    const int threads = c.threads;
    const size_t batchSize = size_t(c.batch);
    const u64 stepsPerEpoch = (train.size() + batchSize - 1) / batchSize;
    const u64 totalSteps = stepsPerEpoch * u64(std::max(1, c.epochs));
    Batch batch(c.batch);
    std::vector<DenseGradients> dense(static_cast<size_t>(threads));
    std::vector<float> ftGrad(size_t(TRAIN_FEATURES) * NET_HALF, 0.0f);
    std::vector<u8> touched(TRAIN_FEATURES, 0);
    std::vector<int> touchedRows;
    std::vector<double> lossSums(static_cast<size_t>(threads));
    std::vector<u32> order(train.size());
    std::vector<TrainingRecord> checkSample(valid.begin(), valid.begin() + long(std::min<size_t>(valid.size(), 20000)));
    // A run that starts from a model says where it starts, on the same held-out games.
    if (epoch == 0 && !c.init.empty() && c.epochs > 0) {
        char text[120];
        std::snprintf(text, sizeof text, "starting validation loss %.6f",
                      validationLoss(m, valid, scale, c.wdl, threads));
        log << text << std::endl;
    }

    for (; epoch < u64(c.epochs); epoch++) {
        SplitMix rng(c.seed * 7919 + epoch);
        for (size_t i = 0; i < order.size(); i++) order[i] = u32(i);
        for (size_t i = order.size() - 1; i > 0; i--) std::swap(order[i], order[rng.below(i + 1)]);

        const i64 start = nowMs();
        double epochLoss = 0;
        for (size_t first = 0; first < order.size(); first += batchSize) {
            const size_t n = std::min(batchSize, order.size() - first);
            const double progress = double(opt.step) / double(totalSteps);
            const double lr = c.lrEnd + 0.5 * (c.lr - c.lrEnd) * (1 + std::cos(M_PI * std::min(1.0, progress)));
            const float invN = 1.0f / float(n);

            // Forward and backward above the transformer, samples split by thread.
            parallelFor(threads, [&](int t) {
                DenseGradients& g = dense[size_t(t)];
                std::fill(g.g.begin(), g.g.end(), 0.0f);
                auto a = std::make_unique<Activations>();
                double loss = 0;
                for (size_t i = size_t(t); i < n; i += size_t(threads)) {
                    const TrainingRecord& r = train[order[first + i]];
                    Sample& s = batch.samples[i];
                    // Mirroring a position is a new one with the same label; which half of them is
                    // mirrored changes from epoch to epoch, at no cost in time.
                    const bool mirror = c.mirror && (SplitMix(c.seed ^ (epoch << 40) ^ (first + i)).next() & 1) && mirrorable(r);
                    makeSample(r, s, m.kingBuckets, mirror);
                    const double p = sigmoid(modelForward(m, s, *a) / scale);
                    const double target = trainingTarget(r, scale, c.wdl);
                    loss += (p - target) * (p - target);
                    const float gradScore = float(2 * (p - target) * p * (1 - p) / scale) * invN;
                    modelBackward(m, s, *a, gradScore, g, &batch.gradAcc[i * NET_INPUTS]);
                }
                lossSums[size_t(t)] = loss;
            });
            for (double x : lossSums) epochLoss += x;

            // Scatter into the transformer rows: threads split the columns.
            for (size_t i = 0; i < n; i++) {
                const Sample& s = batch.samples[i];
                for (int persp = 0; persp < 2; persp++)
                    for (int k = 0; k < s.count; k++) {
                        const int f = s.features[persp][k];
                        for (int row : {f, factorFeature(f)})
                            if (!touched[size_t(row)] && (m.kingRows || row >= NET_FEATURES))
                                touched[size_t(row)] = 1, touchedRows.push_back(row);
                    }
            }
            // Each perspective's samples in order of its king square: a king
            // square's 768 gradient rows then stay in cache while used.
            for (int persp = 0; persp < 2; persp++) {
                u32 bucket[65] = {};
                for (size_t i = 0; i < n; i++) bucket[batch.samples[i].features[persp][0] / FACTOR_FEATURES + 1]++;
                for (int k = 0; k < 64; k++) bucket[k + 1] += bucket[k];
                for (size_t i = 0; i < n; i++)
                    batch.kingOrder[persp][bucket[batch.samples[i].features[persp][0] / FACTOR_FEATURES]++] = u32(i);
            }
            parallelFor(threads, [&](int t) {
                const int from = NET_HALF * t / threads, to = NET_HALF * (t + 1) / threads;
                for (int persp = 0; persp < 2; persp++)
                    for (size_t k = 0; k < n; k++) {
                        const size_t i = batch.kingOrder[persp][k];
                        const Sample& s = batch.samples[i];
                        const int side = persp == s.sideToMove ? 0 : 1;
                        const float* g = &batch.gradAcc[i * NET_INPUTS + size_t(side) * NET_HALF];
                        for (int piece = 0; piece < s.count; piece++) {
                            const int f = s.features[persp][piece];
                            float* __restrict r = &ftGrad[size_t(m.kingRows ? f : factorFeature(f)) * NET_HALF];
#pragma omp simd
                            for (int j = from; j < to; j++) r[j] += g[j];
                        }
                    }
                // A shared row's gradient is the sum of its king-relative
                // rows' gradients: one add per touched row, not per sample.
                if (!m.kingRows) return;
                for (const int row : touchedRows) {
                    if (row >= NET_FEATURES) continue;
                    const float* __restrict r = &ftGrad[size_t(row) * NET_HALF];
                    float* __restrict shared = &ftGrad[size_t(factorFeature(row)) * NET_HALF];
#pragma omp simd
                    for (int j = from; j < to; j++) shared[j] += r[j];
                }
            });

            // Updates: the touched rows (split by thread) and the dense part.
            opt.nextStep();
            for (int t = 1; t < threads; t++)
                for (size_t i = 0; i < dense[0].g.size(); i++) dense[0].g[i] += dense[size_t(t)].g[i];
            parallelFor(threads, [&](int t) {
                for (size_t k = size_t(t); k < touchedRows.size(); k += size_t(threads)) {
                    const size_t at = size_t(touchedRows[k]) * NET_HALF;
                    opt.update(m.p.data(), &ftGrad[at], at, at + NET_HALF, lr, 0.0);
                    std::fill(&ftGrad[at], &ftGrad[at] + NET_HALF, 0.0f);
                    touched[size_t(touchedRows[k])] = 0;
                }
                if (t == 0)
                    opt.update(m.p.data(), dense[0].g.data(), ModelLayout::denseStart, ModelLayout::size, lr,
                               c.weightDecay);
            });
            touchedRows.clear();
            clipModel(m);
            refreshGrid(m);
        }
        const double seconds = std::max(1e-3, double(nowMs() - start) / 1000.0);
        const double vloss = validationLoss(m, valid, scale, c.wdl, threads);
        char text[300];
        std::snprintf(text, sizeof text,
                      "epoch %llu  train loss %.6f  validation loss %.6f  %.0f samples/s  %.1f s",
                      (unsigned long long)(epoch + 1), epochLoss / double(order.size()), vloss,
                      double(order.size()) / seconds, seconds);
        log << text << std::endl;
        if (m.kingBuckets) spreadBucketRows(m);
        if (!saveFloats(checkpoint, {&m.p, &opt.m, &opt.v}, opt.step, epoch + 1) ||
            !saveFloats(c.out + "/model.bin", {&m.p}, opt.step, epoch + 1)) {
            log << "cannot write the checkpoint in " << c.out << "\n";
            return false;
        }
        if (!exportNetwork(m, c.out + "/epoch-" + std::to_string(epoch + 1) + ".nnue", checkSample, log))
            return false;
    }
    return true;
}
