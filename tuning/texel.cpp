#include "tuning/texel.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <sstream>

#include "board/attacks.h"
#include "board/fen.h"
#include "eval/evaluate.h"
#include "eval/nnue.h"
#include "eval/weights.h"
#include "platform/numa.h"
#include "platform/output.h"
#include "search/tt.h"

double texelK = 3.55;
std::vector<TuningRecord> tuningRecords;
int tuningThreadCount = 1;
std::vector<TuningParameter> tuningParameters;
int tuningParameterCount = 0;
std::vector<std::unique_ptr<texelWorker>> texelWorkers;
TuningClock tuningClock;

namespace {

// Positions whose balance is at least this far from level are not loaded:
// the network's view of them is of little use as a target.
constexpr int LOAD_BALANCE_LIMIT = 600;
// Network output per target unit.
constexpr int NETWORK_TARGET_DIVISOR = 58;
constexpr int NO_TARGET = 32767;

double logistic(double k, double x) { return 1.0 / (1.0 + std::exp(-k * x / 400.0)); }

std::string number(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

}  // namespace

bool tuningLoadKeeps(const Position& pos) { return std::abs(middleGameBalance(pos)) < LOAD_BALANCE_LIMIT; }

// ---------------------------------------------------------------------------
// Records.

TuningRecord makeTuningRecord(const Position& pos, const std::string& fen, double target, i16 networkScore) {
    TuningRecord r;
    r.fen = fen;
    std::memcpy(r.board, pos.board, sizeof r.board);
    std::memcpy(r.pieces, pos.pieces, sizeof r.pieces);
    r.key = pos.key;
    r.pawnKingKey = pos.pawnKingKey;
    r.sideToMove = pos.sideToMove;
    r.castlingRights = pos.plyStack[0].castlingRights;
    r.epSquare = pos.plyStack[0].epSquare;
    r.inCheck = pos.plyStack[0].inCheck;
    r.target = target;
    r.networkScore = networkScore;
    return r;
}

void restoreTuningRecord(const TuningRecord& r, Position& pos) {
    std::memcpy(pos.board, r.board, sizeof r.board);
    std::memcpy(pos.pieces, r.pieces, sizeof r.pieces);
    pos.key = r.key;
    pos.pawnKingKey = r.pawnKingKey;
    pos.sideToMove = r.sideToMove;
    pos.plyStack[0].castlingRights = r.castlingRights;
    pos.plyStack[0].epSquare = r.epSquare;
    pos.plyStack[0].inCheck = r.inCheck;
    recomputeSums(pos);
    pos.accumulators[0].computed = 0;
}

TuningLoad loadTuningFile(const std::string& path) {
    TuningLoad result;
    std::ifstream in(path);
    if (!in) return result;
    result.opened = true;

    // The root record is left alone: the positions are set up in a scratch
    // record of their own.
    auto scratch = std::make_unique<Position>();
    std::memset(static_cast<void*>(scratch.get()), 0, sizeof(Position));
    auto buffer = std::make_unique<Move[]>(MOVE_BUFFER_SIZE);
    Position& pos = *scratch;
    pos.plyStack[0].moveListBegin = buffer.get();

    std::string text;
    while (std::getline(in, text)) {
        std::istringstream words(text);
        std::string word, fen, result9;
        bool sawC9 = false;
        while (words >> word) {
            if (word == "c9") {
                sawC9 = true;
                break;
            }
            fen += (fen.empty() ? "" : " ") + word;
        }
        if (fen.empty() && !sawC9) continue;  // a blank line
        if (!sawC9 || !(words >> result9) || !setPositionFromFen(fen, pos)) {
            result.skipped++;
            continue;
        }
        if (!netLoaded || !tuningLoadKeeps(pos)) {
            result.notKept++;
            continue;
        }
        pos.accumulators[0].computed = 0;
        const i32 raw = networkRawOutput(pos, 0);
        int n = raw / NETWORK_TARGET_DIVISOR;
        if (pos.sideToMove == BLACK) n = -n;
        if (n == NO_TARGET) {
            result.notKept++;
            continue;
        }
        tuningRecords.push_back(makeTuningRecord(pos, fen, logistic(texelK, n), networkScore(pos, raw)));
        result.kept++;
    }
    return result;
}

// ---------------------------------------------------------------------------
// Registry.

void clearTuningParameters() {
    tuningParameters.clear();
    tuningParameterCount = 0;
}

void addTuningParameter(const TuningParameter& parameter) {
    tuningParameters.push_back(parameter);
    tuningParameterCount = int(tuningParameters.size());
}

void registerEvaluationTables() {
    static const char* const pieceNames[6] = {"pawn", "knight", "bishop", "rook", "queen", "king"};
    // End-game halves only: evaluate() hands a position to the network or to
    // the hand-written evaluation by the middle-game balance, and the targets
    // are the network's own. A middle-game step that pushes a record under
    // the hand-over line makes its error vanish, so the search would shrink
    // the middle-game values instead of fitting anything.
    addTuningParameter({"pieceValue[6]", &pieceValue[KNIGHT_T], 4, 9, 3, true, false, false, false});
    for (int type = 0; type < 6; type++) {
        Score* row = pieceSquareScore[type];
        bool symmetric = true;
        for (int i = 0; i < NOFSQUARES; i++) symmetric = symmetric && row[i] == row[i ^ 7];
        // Pawns never stand on the first and eighth ranks: those entries are
        // printed but not tuned.
        const bool pawn = type == PAWN_T;
        addTuningParameter({pieceNames[type], pawn ? row + 8 : row, pawn ? 48 : 64, pawn ? 10 : 11, 1, true, false,
                            symmetric, pawn});
    }
}

// ---------------------------------------------------------------------------
// Workers.

std::pair<size_t, size_t> workerShare(int index, int workers, size_t records) {
    const size_t slice = records / size_t(workers);
    const size_t first = size_t(index) * slice;
    return {first, index == workers - 1 ? records : first + slice};
}

texelWorker::texelWorker(int index) : worker(index) {
    Position& p = positionStorage;
    p.plyStack[0].moveListBegin = moveBuffer;
    p.followUpHistory = &followUpHistory;
    p.counterMoveHistory = &counterMoveHistory;
    p.threadIndex = index;
    attachEvalCaches(p, caches);
    thread = std::thread(&texelWorker::tuningLoop, this);
    std::unique_lock<std::mutex> lock(mutex);
    wakeCondition.wait(lock, [this] { return started; });
}

texelWorker::~texelWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        exitRequested = true;
        workPending = true;
    }
    wakeCondition.notify_all();
    if (thread.joinable()) thread.join();
}

void texelWorker::tuningLoop() {
    say("Lets go");
    bindThisThread(threadIndex);
    {
        std::lock_guard<std::mutex> lock(mutex);
        started = true;
    }
    wakeCondition.notify_all();
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex);
        wakeCondition.wait(lock, [this] { return workPending; });
        if (exitRequested) return;
        lock.unlock();
        run();
        lock.lock();
        workPending = false;
        lock.unlock();
        wakeCondition.notify_all();
        bindThisThread(threadIndex);
    }
}

void texelWorker::computeError() {
    // The tables may have changed since the last pass: nothing cached then
    // can be trusted.
    clearEvalCaches(caches);
    Position& pos = *position;
    const auto [first, last] = workerShare(threadIndex, int(texelWorkers.size()), tuningRecords.size());
    double sum = 0;
    for (size_t i = first; i < last; i++) {
        const TuningRecord& r = tuningRecords[i];
        restoreTuningRecord(r, pos);
        int e = evaluateWithNetworkScore(pos, r.networkScore);
        if (pos.sideToMove == BLACK) e = -e;
        const double p = 1.0 / (std::exp(-texelK * e / 400.0) + 1.0);
        sum += (r.target - p) * (r.target - p);
    }
    error = sum;
}

void setTexelWorkerCount(int n) {
    for (auto& w : texelWorkers) {
        std::unique_lock<std::mutex> lock(w->mutex);
        w->wakeCondition.wait(lock, [&w] { return !w->workPending; });
    }
    while (!texelWorkers.empty()) texelWorkers.pop_back();
    tuningThreadCount = n;
    for (int i = 0; i < n; i++) texelWorkers.push_back(std::make_unique<texelWorker>(i));
}

double runAllWorkers() {
    const auto start = std::chrono::steady_clock::now();
    for (auto& w : texelWorkers) {
        {
            std::lock_guard<std::mutex> lock(w->mutex);
            w->workPending = true;
        }
        w->wakeCondition.notify_all();
    }
    double sum = 0;
    for (auto& w : texelWorkers) {
        std::unique_lock<std::mutex> lock(w->mutex);
        w->wakeCondition.wait(lock, [&w] { return !w->workPending; });
        sum += w->error;
    }
    tuningClock.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    tuningClock.records += tuningRecords.size();
    // The command refuses to tune an empty set; this only keeps a stray call
    // from dividing by zero.
    return tuningRecords.empty() ? 0.0 : sum / double(tuningRecords.size());
}

// ---------------------------------------------------------------------------
// The searches.

double findOptimalK() {
    double best = 1.0, bestError = 99999999999.0, step = 1.0;
    for (int round = 0; round < 5; round++) {
        // Counting the steps (rather than adding step / 10 repeatedly) keeps
        // the grid exact; the upper bound follows the best K found so far.
        const double low = best - step;
        for (int j = 0;; j++) {
            const double k = low + j * step / 10;
            if (k > best + step + step * 1e-9) break;
            texelK = k;
            const double e = runAllWorkers();
            write("Trying the following K value " + number(k) + " error: " + number(e) + "\n");
            if (e < bestError) {
                best = k;
                bestError = e;
            }
        }
        flushOutput();
        step /= 10;
    }
    texelK = best;
    say(" Optimal K calculated : " + number(best));
    return best;
}

namespace {

// The value a step of `step` adds to one entry.
i32 stepValue(const TuningParameter& p, int step) {
    return p.packed && !p.plainTarget ? X(0, step) : step;
}

void setEntry(const TuningParameter& p, int i, i32 value) {
    p.values[i] = value;
    if (p.mirrored) p.values[i ^ 7] = value;
}

}  // namespace

double localSearch() {
    double bestError = runAllWorkers();
    say("Starting error " + number(bestError));
    for (int pass = 1;; pass++) {
        bool improving = false;
        for (int index = 0; index < tuningParameterCount; index++) {
            const TuningParameter& p = tuningParameters[size_t(index)];
            const int step = TUNING_STEPS[p.stepIndex];
            const i32 delta = stepValue(p, step);
            for (int i = 0; i < p.count; i++) {
                if (p.mirrored && (i & 7) >= 4) continue;  // written with its mirror image
                const i32 found = p.values[i];
                bool kept = false;
                for (const i32 trial : {found + delta, found - delta}) {
                    setEntry(p, i, trial);
                    const double e = runAllWorkers();
                    if (e < bestError) {
                        bestError = e;
                        say("Min error " + number(e) + " parameter " + std::to_string(index) + " " + p.name +
                            " stepsize " + std::to_string(step));
                        kept = improving = true;
                        break;
                    }
                }
                if (!kept) setEntry(p, i, found);
            }
        }
        say("\n Improving: " + std::to_string(pass));
        if (pass % 2 == 0) printTables();
        if (!improving) break;
    }
    say("Ending error " + number(runAllWorkers()) + " Minimum error " + number(bestError));
    return bestError;
}

// ---------------------------------------------------------------------------
// Printing.

namespace {

std::string entryText(const TuningParameter& p, i32 v) {
    if (!p.packed) return std::to_string(v);
    std::ostringstream out;
    out << "X(" << std::setw(4) << mgScore(v) << "," << std::setw(4) << egScore(v) << ")";
    return out.str();
}

void appendParameter(std::string& out, const TuningParameter& p) {
    const int kind = p.kind;
    if (kind == 10)
        out += "TCONST combEval pieceSquareScore[6][NOFSQUARES] = ";
    else if (kind == 11)
        out += "// " + p.name + "\n";
    else
        out += "TCONST combEval " + p.name + " = ";
    if (kind != 1 && kind != 3 && kind != 11) out += "\n{\n";
    if (kind == 5 || kind == 6) out += " X(   0,   0), ";
    if (kind == 7) out += " X(   0,   0),  X(   0,   0), ";
    if (kind == 8) out += " 0, ";
    if (kind == 9) out += " X(  82,  94), ";
    const int pad = p.padded ? 8 : 0;
    const int total = p.count + 2 * pad;
    for (int j = 0; j < total; j++) {
        out += entryText(p, p.values[j - pad]);
        if (j + 1 < total) out += (j + 1) % 8 == 0 ? ",\n" : ", ";
    }
    if (kind == 10 || kind == 11) out += ",\n";
    if (kind == 6 || kind == 7) out += ", X( 0, 0) ";
    if (kind == 9) out += ", X(12000, 12000) ";
    if (kind == 1 || kind == 3) out += ";\n";
    else if (kind != 10 && kind != 11) out += "\n};\n";
}

}  // namespace

std::string tableText() {
    // A run of piece-square rows ends with the brace the rows leave open.
    const std::vector<TuningParameter>& shown = tuningParameters;
    std::string out;
    bool open = false;
    for (size_t i = 0; i < shown.size(); i++) {
        appendParameter(out, shown[i]);
        open = shown[i].kind == 10 || (open && shown[i].kind == 11);
        if (open && (i + 1 == shown.size() || shown[i + 1].kind != 11)) {
            out += "};\n";
            open = false;
        }
    }
    return out;
}

void printTables() {
    write(tableText());
    flushOutput();
}

// ---------------------------------------------------------------------------
// The command.

namespace {

// Records kept from an earlier run may have been scored by another network.
void refreshNetworkScores(size_t count) {
    if (count == 0 || !netLoaded) return;
    auto scratch = std::make_unique<Position>();
    std::memset(static_cast<void*>(scratch.get()), 0, sizeof(Position));
    for (size_t i = 0; i < count; i++) {
        restoreTuningRecord(tuningRecords[i], *scratch);
        tuningRecords[i].networkScore = evaluateNetwork(*scratch, 0);
    }
}

}  // namespace

void texelCommand(int workerCount, bool withTables) {
    initTables();
    ttInit();
    const size_t earlier = tuningRecords.size();
    const TuningLoad load = loadTuningFile("lichess-good.epd");
    if (!load.opened) {
        write("There seems to be a problem with the tuning file. tuning not executed\n");
        flushOutput();
        return;
    }
    say("info string tuning file: " + std::to_string(load.kept) + " positions kept, " +
        std::to_string(load.notKept) + " without a network target, " + std::to_string(load.skipped) +
        " lines skipped (no c9 and result, or a refused FEN)");
    if (tuningRecords.empty()) {
        say(netLoaded ? "info string no tuning positions: nothing to tune"
                      : "info string no tuning positions: the targets need a network");
        return;
    }
    refreshNetworkScores(earlier);
    setTexelWorkerCount(workerCount);
    say("Starting texel tuning....");
    clearTuningParameters();
    if (withTables) registerEvaluationTables();

    const TuningClock before = tuningClock;
    texelK = findOptimalK();
    printTables();
    localSearch();
    printTables();

    // The tables may have changed under the search threads' caches and the
    // root's incremental sums.
    clearThreadEvalCaches();
    recomputeSums(rootPosition);
    const double seconds = tuningClock.seconds - before.seconds;
    const double records = double(tuningClock.records - before.records);
    std::ostringstream speed;
    speed << std::fixed << std::setprecision(1) << seconds << " s in error passes, "
          << std::setprecision(0) << (seconds > 0 ? records / seconds / workerCount : 0.0)
          << " records per second per thread";
    say("info string texel: " + speed.str());
}
