// Training and export, as library calls (the trainer program and the tests
// use them).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "train/model.h"
#include "train/record.h"

struct TrainConfig {
    std::vector<std::string> data;  // record files or directories of *.bin
    std::string out;                // run directory
    std::string init;               // start from this model instead of random weights
    int epochs = 20;
    int batch = 16384;
    double lr = 1e-3;
    double lrEnd = 3e-5;            // cosine decay towards this
    double wdl = 0.25;              // weight of the game result in the target
    double scale = 0;               // sigmoid scale in centipawns; 0: fitted to the data
    int threads = 2;
    double validation = 0.02;       // share of games held out
    u64 seed = 1;
    double weightDecay = 1e-5;
    long long maxSamples = 0;       // 0: all
    bool kingRows = true;           // false: train the shared piece-square rows only
    bool kingBuckets = false;       // king-relative rows per king bucket, not per square
    bool quantAware = false;        // passes on the engine's integer grid (see FloatModel)
    bool mirror = false;            // each epoch, half the mirrorable positions file-mirrored
};

// Appends the records of a file or of every *.bin file of a directory.
bool loadRecordPath(const std::string& path, std::vector<TrainingRecord>& out, std::ostream& log);

// Whether a record starts a new game: a game's records are written together
// with rising plies, so a ply that does not rise begins the next game.
std::vector<u32> gameNumbers(const std::vector<TrainingRecord>& records);

// What the network learns to predict for a record: sigmoid(score / K)
// blended with the game result at weight wdl; the score alone for a position
// off the game's path, whose result is unknown.
double trainingTarget(const TrainingRecord& r, double scale, double wdl);

// How far the labels are from their games' results: the mean of
// (sigmoid(score / K) - result)^2 over every step-th record (positions off
// the game's path have no result and are passed over). Deeper searches
// give labels closer to the results, so this compares label budgets.
double labelError(const std::vector<TrainingRecord>& records, double scale, size_t step = 1);

// The sigmoid scale K that best maps scores to results: minimises labelError.
double fitScale(const std::vector<TrainingRecord>& records);

// Mean squared error of sigmoid(prediction / K) against the blended target.
double validationLoss(const FloatModel& m, const std::vector<TrainingRecord>& records, double scale, double wdl,
                      int threads);

bool runTraining(const TrainConfig& config, std::ostream& log);

// A network file read back into a model that quantises to the same network
// (every king square's row holds its folded weights, the shared rows are
// zero). The file also becomes the engine's current network.
bool importNetwork(const std::string& path, FloatModel& m, std::string* error);

// Quantises and writes the network file; reports the float-to-integer
// differences over `check` and verifies the written file reads back.
bool exportNetwork(const FloatModel& m, const std::string& path, const std::vector<TrainingRecord>& check,
                   std::ostream& log);
