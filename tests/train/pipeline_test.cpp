// The training pipeline: records, resumable generator runs, exact export.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

#include "board/fen.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "eval/nnue.h"
#include "test_util.h"
#include "train/arguments.h"
#include "train/engine_setup.h"
#include "train/model.h"
#include "train/train_test_util.h"
#include "train/training.h"
#include "tuning/texel.h"

TEST(Pipeline, RecordsKeepTheBoardAndSideToMove) {
    initEngineForTests();
    std::mt19937_64 rng(3);
    for (int game = 0; game < 40; game++) {
        Chess960Mode mode(game % 4 == 0);
        TestPosition p(game % 4 == 0 ? chess960StartFen(int(rng() % 960)) : std::string(START_FEN));
        playRandomMoves(*p, 10 + game, rng);
        const TrainingRecord r = packRecord(*p, -123, 77);
        TestPosition back(recordToFen(r));
        ASSERT_EQ(0, std::memcmp(p->board, back->board, 64)) << recordToFen(r);
        EXPECT_EQ(std::tuple(back->sideToMove, int(r.score), int(r.ply)), std::tuple(p->sideToMove, -123, 77));
        EXPECT_TRUE(recordToFen(r).ends_with(" 39")) << recordToFen(r);  // ply 77: move 39
    }
}

// A run stopped after one game and resumed writes exactly what one run
// writes (also when searches depend on what the hash table predicts); a
// signal leaves whole games; records obey the generator's filters, the
// tuner's band holds only what the network's records leave out, and the
// off-path positions are marked as having no result.
TEST(Pipeline, GeneratorResumesExactlyAndStopsCleanly) {
    TempDir dir;
    for (const std::string variant : {"", "--predict-captures", "--off-path"}) {
        auto run = [&](const std::string& out, const char* games) {
            std::vector<std::string> args = {"--games", games, "--tuning-band"};
            if (!variant.empty()) args.push_back(variant);
            if (variant == "--off-path") args.push_back("0.5");
            return datagen(dir / (out + variant), args);
        };
        ASSERT_EQ(0, run("once", "3"));
        ASSERT_EQ(0, run("twice", "1"));
        ASSERT_EQ(0, run("twice", "3"));
        std::vector<std::string> parts = {"/part-0.bin", "/part-0.band"};
        if (variant == "--off-path") parts.push_back("/part-0-offpath.bin");
        for (const std::string& part : parts) {
            const auto once = dir.read("once" + variant + part);
            ASSERT_GT(once.size(), 0u) << variant << part;
            EXPECT_EQ(once, dir.read("twice" + variant + part)) << variant << part;
        }
    }

    datagen(dir / "stopped", {}, true);
    std::ifstream state(dir / "stopped/part-0.state");
    long long seed = 0, games = 0, count = 0;
    ASSERT_TRUE(state >> seed >> games >> count);
    EXPECT_EQ(count * 32, (long long)dir.read("stopped/part-0.bin").size());

    initEngineForTests();
    std::vector<TrainingRecord> written;
    for (const char* part : {"once/part-0.bin", "once--off-path/part-0.bin", "once--off-path/part-0-offpath.bin"}) {
        written.clear();
        ASSERT_TRUE(readRecords(dir / part, written));
        const bool offPath = std::string(part).ends_with("offpath.bin");
        for (const TrainingRecord& r : written) {
            TestPosition p(recordToFen(r));
            EXPECT_FALSE(isInCheck(*p));
            EXPECT_LT(std::abs(r.score), 31872);
            EXPECT_TRUE(r.result >= -1 && r.result <= 1);
            EXPECT_TRUE(networkEvaluates(*p));
            EXPECT_EQ(offPath, !hasResult(r)) << part;
        }
    }
    // Off-path positions are siblings, never the positions the game went through.
    std::vector<TrainingRecord> game, off;
    ASSERT_TRUE(readRecords(dir / "once--off-path/part-0.bin", game));
    ASSERT_TRUE(readRecords(dir / "once--off-path/part-0-offpath.bin", off));
    for (const TrainingRecord& r : off)
        EXPECT_TRUE(std::none_of(game.begin(), game.end(), [&](const TrainingRecord& g) {
            return g.ply == r.ply && std::memcmp(&g, &r, 24) == 0;
        })) << recordToFen(r);
    written.clear();
    ASSERT_TRUE(readRecords(dir / "once/part-0.band", written));
    for (const TrainingRecord& r : written) {
        TestPosition p(recordToFen(r));
        EXPECT_FALSE(isInCheck(*p) || networkEvaluates(*p)) << recordToFen(r);
        EXPECT_TRUE(tuningLoadKeeps(*p)) << recordToFen(r);
    }
}

// Small random values in every king-relative row (initModel leaves them zero).
static void fillKingRows(FloatModel& m, u64 seed) {
    SplitMix noise(seed);
    for (int f = 0; f < NET_FEATURES; f++)
        for (int j = 0; j < NET_HALF; j++) m.row(f)[j] = float(noise.unit() * 0.04 - 0.02);
}

// The engine reading the exported file prints exactly what the exporter's
// integer pass computes, and the float model is close to both.
TEST(Pipeline, ExportedNetworkEvaluatesLikeTheModel) {
    initEngineForTests();
    FloatModel m;
    initModel(m, 11);
    fillKingRows(m, 5);  // both kinds of rows non-zero: the fold must add them
    TempDir dir;
    std::ostringstream log;
    ASSERT_TRUE(exportNetwork(m, dir / "net.nnue", {}, log)) << log.str();
    ASSERT_TRUE(loadNetworkFile(dir / "net.nnue"));
    auto net = std::make_unique<NetworkParameters>();
    std::string error;
    ASSERT_TRUE(quantize(m, *net, &error)) << error;

    FloatModel onGrid = m;  // the same weights in quantisation-aware passes
    setQuantAware(onGrid, true);
    std::mt19937_64 rng(9);
    double totalDiff = 0, gridDiff = 0;
    int n = 0;
    for (int game = 0; game < 30; game++) {
        TestPosition p(START_FEN);
        playRandomMoves(*p, 5 + game, rng);  // both sides to move
        Sample s;
        makeSample(packRecord(*p, 0, 0), s);
        ASSERT_EQ(int(evaluateNetwork(*p, 0)), integerForward(*net, s)) << positionToFen(*p);
        Activations a;
        totalDiff += std::abs(modelForward(m, s, a) - float(integerForward(*net, s)));
        gridDiff += std::abs(modelForward(onGrid, s, a) - float(integerForward(*net, s)));
        n++;
    }
    EXPECT_LT(totalDiff / n, 8.0);
    EXPECT_LT(gridDiff / n, 1.0) << "plain passes: " << totalDiff / n;

    // A network read back into a model quantises to the same file again.
    FloatModel imported;
    dequantize(*net, imported);
    auto again = std::make_unique<NetworkParameters>();
    ASSERT_TRUE(quantize(imported, *again, &error)) << error;
    EXPECT_EQ(std::memcmp(net.get(), again.get(), sizeof(NetworkParameters)), 0);

    m.row(100)[3] = 300.0f;  // beyond int16 after scaling
    EXPECT_FALSE(exportNetwork(m, dir / "bad.nnue", {}, log));
}

// Bucketed king rows: after the spread, the per-square model evaluates every
// position as the bucketed one did, for both kings (Black's bucket mirrored).
TEST(Pipeline, KingBucketsSpreadToEveryKingSquare) {
    initEngineForTests();
    FloatModel m;
    initModel(m, 12);
    fillKingRows(m, 6);
    FloatModel spread = m;
    spreadBucketRows(spread);

    std::mt19937_64 rng(3);
    int kingsOffBucketSquare = 0;
    for (int game = 0; game < 40; game++) {
        TestPosition p("r3k2r/pppq1ppp/2n2n2/3pp3/3PP3/2N2N2/PPPQ1PPP/R3K2R w KQkq - 0 1");
        playRandomMoves(*p, 2 * game, rng);
        Sample bucketed, plain;
        const TrainingRecord r = packRecord(*p, 0, 0);
        makeSample(r, bucketed, true);
        makeSample(r, plain);
        for (int side : {WHITE, BLACK})
            kingsOffBucketSquare += bucketed.features[side][0] != plain.features[side][0];
        Activations a;
        const float before = modelForward(m, bucketed, a);
        EXPECT_FLOAT_EQ(before, modelForward(spread, plain, a)) << positionToFen(*p);
    }
    EXPECT_GT(kingsOffBucketSquare, 20);
}

// A mirrored sample is the sample of the position with files a and h
// exchanged (the same features, king buckets included), and only positions
// where nobody can castle are offered for it.
TEST(Pipeline, MirroredSamplesAreTheMirroredPositions) {
    initEngineForTests();
    auto mirrorFen = [](const std::string& fen) {
        std::istringstream in(fen);
        std::string board, rest, rank, out;
        in >> board;
        std::getline(in, rest);
        std::istringstream ranks(board);
        while (std::getline(ranks, rank, '/')) {
            if (!out.empty()) out += '/';
            out.append(rank.rbegin(), rank.rend());
        }
        return out + rest;
    };
    auto sorted = [](const Sample& s, int side) {
        std::vector<u16> f(s.features[side], s.features[side] + s.count);
        std::sort(f.begin(), f.end());
        return f;
    };
    std::mt19937_64 rng(5);
    for (int game = 0; game < 20; game++) {
        TestPosition p("1rb1k2r/pp1n1ppp/2p1pn2/q7/1bPP4/2N1PN2/PP1B1PPP/R2QKB1R b - - 0 1");
        playRandomMoves(*p, game, rng);
        const std::string fen = positionToFen(*p);
        TestPosition q(mirrorFen(fen));
        for (bool buckets : {false, true}) {
            Sample mirrored, direct;
            makeSample(packRecord(*p, 0, 0), mirrored, buckets, true);
            makeSample(packRecord(*q, 0, 0), direct, buckets);
            ASSERT_EQ(mirrored.count, direct.count);
            EXPECT_EQ(mirrored.factor, direct.factor);
            for (int side : {WHITE, BLACK}) EXPECT_EQ(sorted(mirrored, side), sorted(direct, side)) << fen;
        }
    }
    EXPECT_FALSE(mirrorable(packRecord(*TestPosition(START_FEN), 0, 0)));
    EXPECT_FALSE(mirrorable(packRecord(*TestPosition("4k3/8/8/8/8/8/8/4K2R w - - 0 1"), 0, 0)));
    EXPECT_TRUE(mirrorable(packRecord(*TestPosition("4k3/8/8/8/8/8/7R/4K3 w - - 0 1"), 0, 0)));
}

// Averaging reads every file and refuses a missing one rather than averaging
// fewer models than it was given.
TEST(Pipeline, AveragedModelIsTheParameterMean) {
    const TempDir dir;  // its own directory: suites may run side by side
    FloatModel a, b;
    initModel(a, 1);
    initModel(b, 2);
    ASSERT_TRUE(saveFloats(dir / "avg-a.bin", {&a.p}, 0, 0));
    ASSERT_TRUE(saveFloats(dir / "avg-b.bin", {&b.p}, 0, 0));
    FloatModel mean;
    std::string error;
    ASSERT_TRUE(averageModelFiles({dir / "avg-a.bin", dir / "avg-b.bin"}, mean, &error)) << error;
    for (size_t i : {size_t(0), ModelLayout::l1Weights + 17, ModelLayout::outBias})
        EXPECT_FLOAT_EQ(mean.p[i], (a.p[i] + b.p[i]) / 2) << i;
    EXPECT_FALSE(averageModelFiles({dir / "avg-a.bin", dir / "no-such-model.bin"}, mean, &error));
    EXPECT_NE(error.find("no-such-model.bin"), std::string::npos);
}

// Labels are scored from the side to move's view, and the fitted scale is
// the one where they sit closest to the results.
TEST(Pipeline, LabelErrorComparesScoresWithResults) {
    std::vector<TrainingRecord> r;
    for (int i = 0; i < 400; i++) {
        TrainingRecord x{};
        x.score = i16((i % 40 - 20) * 30);
        x.result = i8(i % 7 == 0 ? 0 : (x.score > 0) == (i % 5 != 0) ? 1 : -1);  // mostly right, some upsets
        r.push_back(x);
    }
    std::vector<TrainingRecord> wrongSide = r;
    for (TrainingRecord& x : wrongSide) x.result = i8(-x.result);
    EXPECT_LT(labelError(r, 200), 0.2);
    EXPECT_GT(labelError(wrongSide, 200), 0.4);

    const double k = fitScale(r);
    EXPECT_LE(labelError(r, k), labelError(r, 0.8 * k));
    EXPECT_LE(labelError(r, k), labelError(r, 1.25 * k));
    EXPECT_NEAR(labelError(r, k, 2), labelError(r, k), 0.03);  // every other record: about the same

    // A record without a result is learnt from its score alone and left out
    // of the label error; a normal one blends in its result.
    std::vector<TrainingRecord> marked = wrongSide;
    for (TrainingRecord& x : marked) x.flags |= RECORD_NO_RESULT;
    marked.insert(marked.end(), r.begin(), r.end());
    EXPECT_DOUBLE_EQ(labelError(marked, k), labelError(r, k));
    TrainingRecord x{};
    x.score = 300;
    x.result = -1;
    const double fromScore = trainingTarget(x, 300, 0), blended = trainingTarget(x, 300, 0.25);
    EXPECT_NEAR(blended, 0.75 * fromScore, 1e-12);
    x.flags = RECORD_NO_RESULT;
    EXPECT_EQ(trainingTarget(x, 300, 0.25), fromScore);
}

// A mistyped option must stop a tool before it starts an hour of work.
TEST(Pipeline, ToolNumbersMustBeWholeAndInRange) {
    EXPECT_EQ(realArgument("--wdl", "0.25", 0, 1), 0.25);
    EXPECT_EQ(wholeArgument("--seed", "9000000000", 0, LLONG_MAX), 9000000000LL);
    EXPECT_EQ(wholeArgument("--max-samples", "5e6", 0, LLONG_MAX), 5000000);
    EXPECT_EQ(wholeArgument("--epochs", "2.0", 0, INT_MAX), 2);
    const auto rejected = ::testing::ExitedWithCode(2);
    EXPECT_EXIT(realArgument("--frc-share", "0.1x", 0, 1), rejected, "--frc-share: '0.1x' is not a number");
    EXPECT_EXIT(realArgument("--frc-share", "1.5", 0, 1), rejected, "from 0");
    EXPECT_EXIT(realArgument("--scale", "nan", 1e-3, 1e6), rejected, "--scale");
    EXPECT_EXIT(wholeArgument("--workers", "1.5", 0, INT_MAX), rejected, "--workers");
    EXPECT_EXIT(wholeArgument("--workers", "", 0, INT_MAX), rejected, "--workers");
    EXPECT_EXIT(wholeArgument("--batch", "2.5e0", 0, INT_MAX), rejected, "--batch");
    EXPECT_EXIT(wholeArgument("--batch", "1e10", 0, INT_MAX), rejected, "--batch");
    EXPECT_EXIT(wholeArgument("--seed", "1e30", 0, LLONG_MAX), rejected, "--seed");
    EXPECT_EXIT(wholeArgument("--games", "99999999999999999999", 0, LLONG_MAX), rejected, "--games");
}
