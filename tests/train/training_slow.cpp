// A tiny training run: generated games, training, export, the engine using it.
#include <gtest/gtest.h>

#include <sstream>

#include "board/fen.h"
#include "eval/evaluate.h"
#include "eval/nnue.h"
#include "test_util.h"
#include "train/train_test_util.h"
#include "train/training.h"

// Thirty thousand positions are few for a network of this size: the
// king-independent rows are trained alone, as for a first network.
TEST(Pipeline, TinyTrainingRunLearnsMaterial) {
    TempDir dir;
    ASSERT_EQ(0, datagen(dir / "data", {"--workers", "2", "--positions", "30000", "--soft-nodes", "150",
                                        "--hard-nodes", "600", "--depth-floor", "1"}));
    TrainConfig c;
    c.data = {dir / "data"};
    c.out = dir / "run";
    c.epochs = 6;
    c.batch = 512;
    c.lr = 2e-3;
    c.validation = 0.1;
    c.kingRows = false;
    std::ostringstream log;
    ASSERT_TRUE(runTraining(c, log)) << log.str();

    std::vector<TrainingRecord> all;
    ASSERT_TRUE(loadRecordPath(dir / "data", all, log));
    const double scale = fitScale(all);
    FloatModel initial, trained;
    initModel(initial, c.seed);
    ASSERT_TRUE(loadFloats(c.out + "/model.bin", {&trained.p}, nullptr, nullptr));
    EXPECT_LT(validationLoss(trained, all, scale, c.wdl, 2), validationLoss(initial, all, scale, c.wdl, 2));

    // A run from that model starts where the first one ended, on the same
    // held-out games.
    auto lastLoss = [](const std::string& text, const std::string& label) {
        const size_t at = text.rfind(label);
        return at == std::string::npos ? -1.0 : std::stod(text.substr(at + label.size()));
    };
    TrainConfig more = c;
    more.out = dir / "more";
    more.init = c.out + "/model.bin";
    more.epochs = 1;
    std::ostringstream moreLog;
    ASSERT_TRUE(runTraining(more, moreLog)) << moreLog.str();
    const double ended = lastLoss(log.str(), "validation loss ");
    const double started = lastLoss(moreLog.str(), "starting validation loss ");
    EXPECT_GT(ended, 0) << log.str();
    EXPECT_NEAR(started, ended, 2e-6) << moreLog.str();

    // The exported network, read back and run on the integer grid, loses what
    // the model on that grid loses: the figure `velmora_train eval` prints
    // for a network. (The plain float model loses a few per cent less.)
    initEngineForTests();
    FloatModel imported, onGrid = trained;
    std::string error;
    ASSERT_TRUE(importNetwork(c.out + "/epoch-6.nnue", imported, &error)) << error;
    setQuantAware(imported, true);
    setQuantAware(onGrid, true);
    const double gridLoss = validationLoss(onGrid, all, scale, c.wdl, 2);
    EXPECT_NEAR(validationLoss(imported, all, scale, c.wdl, 2), gridLoss, 0.001 * gridLoss);

    // A knight up is for the network itself; a queen up goes to the
    // hand-written evaluation but must come out right with the network loaded.
    const struct {
        const char* fen;
        int sign;
        bool network;
    } cases[] = {{"r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 1, true},
                 {"r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1", -1, true},
                 {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/R1BQKBNR w KQkq - 0 1", -1, true},
                 {"rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 1, false},
                 {"rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1", -1, false}};
    auto caches = std::make_unique<EvalCaches>();
    for (const auto& k : cases) {
        TestPosition p(k.fen);
        clearEvalCaches(*caches);
        attachEvalCaches(*p, *caches);
        ASSERT_EQ(k.network, networkEvaluates(*p)) << k.fen;
        EXPECT_GT(k.sign * evaluate(0, *p), 150) << k.fen << "\n" << log.str();
    }
}
