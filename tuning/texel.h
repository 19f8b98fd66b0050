// Texel tuning of the hand-written evaluation. The targets are the network's
// win probabilities, so the tuner fits the hand-written evaluation to the
// network: it finds the logistic scale K that best maps evaluations to those
// targets, then walks the registered tables one entry at a time, keeping
// every step that lowers the mean squared error, and prints the tables as
// source text.
//
// The error passes run on a pool of texelWorker threads, each over its own
// slice of the records. The command thread only changes texelK and the
// parameter values while every worker is idle.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/position.h"
#include "search/threads.h"

// The logistic scale: target and prediction are 1 / (1 + exp(-K x / 400)).
extern double texelK;

// One loaded position, kept as a ready board so that the error passes never
// parse text again.
struct TuningRecord {
    std::string fen;
    u8 board[64];
    u64 pieces[14];
    u64 key;
    u64 pawnKingKey;
    u8 sideToMove;
    u8 castlingRights;
    i8 epSquare;
    u8 inCheck;
    double target;  // the network's win probability for White
    // The network's evaluation, side to move's view. The tuned tables never
    // change it, so the error passes do not run the network again.
    i16 networkScore;
};

extern std::vector<TuningRecord> tuningRecords;
// Number of texelWorker threads (the argument of "texel").
extern int tuningThreadCount;

// One table (or part of one) the local search may change.
struct TuningParameter {
    std::string name;
    i32* values;        // packed X(mg, eg) pairs or plain integers
    int count;
    int kind;           // 0..11: how printTables decorates it
    int stepIndex;      // into TUNING_STEPS
    bool packed;
    bool plainTarget;   // step the whole value (the middle-game part of a pair); else the end-game part
    bool mirrored;      // 8-wide diagram kept left-right symmetric: entry i ^ 7 follows entry i
    bool padded;        // printed with the 8 table entries just before and after the tuned ones
};

constexpr int TUNING_STEPS[5] = {1, 2, 3, 5, 9};

extern std::vector<TuningParameter> tuningParameters;
extern int tuningParameterCount;

// Adds the end-game halves of the piece values and the piece-square tables
// to the registry (the middle-game halves decide the hand-over to the
// network, which would make the fit degenerate).
void registerEvaluationTables();
void clearTuningParameters();
void addTuningParameter(const TuningParameter& parameter);

// Records [first, last) of worker `index` out of `workers`: equal slices of
// records / workers, the last worker also taking the remainder.
std::pair<size_t, size_t> workerShare(int index, int workers, size_t records);

// What a load did with the lines of a tuning file.
struct TuningLoad {
    bool opened = false;
    size_t kept = 0;
    size_t notKept = 0;   // no network, balance too large, or no usable target
    size_t skipped = 0;   // no c9 or result token, or a FEN the engine refuses
};

// Whether a load with a network keeps the position: its middle-game
// material-plus-placement balance is under the load limit.
bool tuningLoadKeeps(const Position& pos);

// Appends the positions of a tuning file ("FEN c9 result" lines) to
// tuningRecords with the network's targets at the current texelK.
TuningLoad loadTuningFile(const std::string& path);

// The record snapshot of a set-up position, and the way back.
TuningRecord makeTuningRecord(const Position& pos, const std::string& fen, double target, i16 networkScore);
void restoreTuningRecord(const TuningRecord& record, Position& pos);

class texelWorker : public worker {
public:
    explicit texelWorker(int index);
    ~texelWorker() override;

    // The error over this worker's slice of the records, into `error`.
    virtual void computeError();
    void run() override { computeError(); }

    bool workPending = false;
    bool exitRequested = false;
    double error = 0;

private:
    void tuningLoop();
    bool started = false;
};

extern std::vector<std::unique_ptr<texelWorker>> texelWorkers;

// Replaces the pool by n fresh workers (n >= 1).
void setTexelWorkerCount(int n);
// One error pass over all records on all workers: the mean squared error.
double runAllWorkers();
// Five rounds of a grid search for K, each ten times finer than the last.
double findOptimalK();
// Coordinate-wise search over the registry; returns the minimum error.
double localSearch();
// The registered tables as source text.
std::string tableText();
void printTables();

// The "texel" command: tables, hash table, tuning file, workers, K, and the
// local search over the evaluation tables (over nothing with an empty
// registry).
void texelCommand(int workerCount, bool withTables);

// Seconds spent in error passes and records evaluated, since start-up.
struct TuningClock {
    double seconds = 0;
    u64 records = 0;
};
extern TuningClock tuningClock;
