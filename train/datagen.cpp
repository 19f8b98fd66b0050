// velmora_datagen: self-play games that write training records.
//
// One worker process per core plays one game at a time with the engine's own
// search on a node budget (the hash table, the stop flags and the limits are
// process-wide, so games run side by side as processes, not threads). Worker
// i appends whole games to OUT/part-i.bin and then records its progress in
// OUT/part-i.state ("seed games records"); a restarted run cuts each part
// back to its state and carries on with the next game of the same seeded
// sequence, so a run that stops and resumes writes what one uninterrupted run
// would. SIGINT/SIGTERM end every worker between two moves: the unfinished
// game is dropped, nothing torn is left behind.
//
// With --off-path X a worker also searches, at a share X of the keepable
// positions, the position after a random move other than the one played, and
// writes it to OUT/part-i-offpath.bin when it passes the same filters. Those
// are positions the search meets and the games never reach (after a weak
// move); they carry no result, so the trainer learns their score alone.
//
// With --tuning-band a worker also writes OUT/part-i.band: the positions of
// the same games that the hand-written evaluation answers and the Texel
// tuner loads (the network's records never include them). They are records
// like the others; "velmora_data texel" turns them into a tuning file.
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "platform/clock.h"
#include "search/search.h"
#include "search/tablebase_hook.h"
#include "search/threads.h"
#include "search/tt.h"
#include "train/arguments.h"
#include "train/engine_setup.h"
#include "train/record.h"
#include "tuning/texel.h"

namespace {

struct Options {
    std::string out;
    std::string network;  // empty: hand-written evaluation everywhere
    std::string syzygy;
    int workers = int(std::thread::hardware_concurrency());
    long long games = 0;  // per worker; 0 = until stopped
    long long positions = 0;  // in all; 0 = no limit
    u64 seed = 1;
    u64 softNodes = 2000;
    u64 hardNodes = 8000;
    int depthFloor = 4;
    double unkeptShare = 0.25;  // node limits for positions that cannot be kept
    int randomPlies = 8;
    double frcShare = 0.1;
    int openingLimit = 400;
    int winScore = 2500;
    int winPlies = 4;
    int drawPly = 60;
    int drawScore = 10;
    int drawPlies = 8;
    int maxPlies = 600;
    int hashMb = 16;  // cleared before every game, whose searches write well under 1 MB of it
    bool tuningBand = false;
    bool predictCaptures = false;
    double offPathShare = 0;
};

// Where a game's search nodes go: positions written, positions searched in
// full and then filtered out by their best move or score, positions known
// unkeepable before the search (in check, lopsided), opening verification.
enum NodeUse { NODES_KEPT, NODES_FILTERED, NODES_UNKEPT, NODES_OPENING, NODES_OFF_PATH, NODE_USES };
constexpr const char* nodeUseNames[NODE_USES] = {"kept", "filtered", "unkept", "opening", "off-path"};

// Counters each worker updates in shared memory, read by the parent.
struct Progress {
    std::atomic<long long> games, positions, bandPositions, whiteWins, draws, blackWins, rejectedOpenings, searches;
    std::atomic<long long> nodes[NODE_USES];
    std::atomic<long long> predictedCaptures, predictionMisses;
    std::atomic<long long> offPathSearches, offPathPositions;
};

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

[[noreturn]] void usage() {
    std::cerr << "usage: velmora_datagen --out DIR [--net FILE | --hce] [--workers N] [--games N]\n"
                 "         [--positions N] [--seed N] [--soft-nodes N] [--hard-nodes N] [--depth-floor N]\n"
                 "         [--random-plies N] [--frc-share X] [--opening-limit CP] [--unkept-share X]\n"
                 "         [--hash MB] [--syzygy DIRS] [--tuning-band] [--predict-captures] [--off-path X]\n"
                 "  --net FILE   label with the network (the normal case)\n"
                 "  --hce        label with the hand-written evaluation everywhere (default without --net)\n"
                 "  --tuning-band  also write the positions the Texel tuner fits to OUT/part-N.band\n"
                 "  --predict-captures  search a position whose hash move captures with the reduced budget\n"
                 "                      first, in full only when its best move is quiet\n"
                 "  --off-path X  at a share X of the positions also search and keep the position after a\n"
                 "                random other move (written without a result to OUT/part-N-offpath.bin)\n";
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        // Counts of games, positions and nodes and the seed may be large; the rest are ints.
        auto number = [&](long long high = INT_MAX) { return wholeArgument(a, value(), 0, high); };
        auto share = [&]() { return realArgument(a, value(), 0, 1); };
        if (a == "--out") o.out = value();
        else if (a == "--net") o.network = value();
        else if (a == "--hce") o.network.clear();
        else if (a == "--syzygy") o.syzygy = value();
        else if (a == "--workers") o.workers = int(number());
        else if (a == "--games") o.games = number(LLONG_MAX);
        else if (a == "--positions") o.positions = number(LLONG_MAX);
        else if (a == "--seed") o.seed = u64(number(LLONG_MAX));
        else if (a == "--soft-nodes") o.softNodes = u64(number(LLONG_MAX));
        else if (a == "--hard-nodes") o.hardNodes = u64(number(LLONG_MAX));
        else if (a == "--depth-floor") o.depthFloor = int(number());
        else if (a == "--random-plies") o.randomPlies = int(number());
        else if (a == "--frc-share") o.frcShare = share();
        else if (a == "--opening-limit") o.openingLimit = int(number());
        else if (a == "--unkept-share") o.unkeptShare = share();
        else if (a == "--hash") o.hashMb = int(number());
        else if (a == "--tuning-band") o.tuningBand = true;
        else if (a == "--predict-captures") o.predictCaptures = true;
        else if (a == "--off-path") o.offPathShare = share();
        else usage();
    }
    if (o.out.empty() || o.workers < 1 || o.hashMb < 1 || o.hashMb > 4096 || o.hardNodes < o.softNodes ||
        !(o.unkeptShare > 0 && o.unkeptShare <= 1))
        usage();
    return o;
}

// The game position and its move buffer (large: kept out of the stack).
Position gamePos;
Move gameMoves[MOVE_BUFFER_SIZE];
EvalCaches gameCaches;

void setUp(const std::string& fen, bool frc) {
    chess960 = frc;
    setPositionFromFen(fen, gamePos);
    gamePos.plyStack[0].moveListBegin = gameMoves;
    attachEvalCaches(gamePos, gameCaches);
}

void play(Move m) {
    playRootMove(gamePos, m);
}

bool isCaptureOrPromotion(const Position& pos, Move m) {
    return pos.board[m.to] != EMPTY || m.flag == FLAG_EP || isPromotion(m.flag);
}
bool isCaptureOrPromotion(Move m) { return isCaptureOrPromotion(gamePos, m); }

bool predictsCapture(TTEntry e) { return e.word && isCaptureOrPromotion(e.move()); }

// Whether a search's score can label its position: a finished iteration, a
// quiet best move and no mate score (game positions and siblings alike).
bool quietLabel(const Position& pos, const SearchResult& r) {
    return r.depth > 0 && !isNoMove(r.move) && !isCaptureOrPromotion(pos, r.move) && std::abs(r.score) < MATE_IN_MAX;
}

// The sibling of the game position after a random legal move other than
// `played` (gameMoves still holds the game position's moves), searched with
// the full budget and kept under the game positions' own filters.
Position offPathPos;
Move offPathMoves[MOVE_BUFFER_SIZE];

void searchOffPath(const Options& o, SplitMix& rng, Progress& progress, int moves, Move played,
                   std::vector<TrainingRecord>& offPath) {
    if (moves < 2) return;
    int pick = int(rng.below(u64(moves - 1)));
    if (sameMove(gameMoves[pick], played)) pick = moves - 1;
    offPathPos = gamePos;
    offPathPos.plyStack[0].moveListBegin = offPathMoves;
    playRootMove(offPathPos, gameMoves[pick]);
    if (legalMoveCount(offPathPos, offPathMoves) == 0 || offPathPos.plyStack[0].inCheck ||
        !networkEvaluates(offPathPos) || offPathPos.rule50 >= 100 || isRepetition(offPathPos, 0))
        return;
    const SearchResult r = searchNodes(offPathPos, o.softNodes, o.hardNodes, o.depthFloor);
    progress.offPathSearches++;
    progress.nodes[NODES_OFF_PATH] += (long long)r.nodes;
    if (quietLabel(offPathPos, r)) {
        offPath.push_back(packRecord(offPathPos, r.score, offPathPos.gamePly));
        offPath.back().flags |= RECORD_NO_RESULT;
        progress.offPathPositions++;
    }
}

// Plays one opening: random legal plies from the standard or a Chess960
// start array, accepted when a short search scores it within the limit.
bool playOpening(const Options& o, SplitMix& rng, Progress& progress) {
    const bool frc = rng.unit() < o.frcShare;
    setUp(frc ? chess960StartFen(int(rng.below(960))) : std::string(START_FEN), frc);
    OpeningRules rules;
    rules.randomPlies = o.randomPlies;
    rules.softNodes = o.softNodes;
    rules.hardNodes = o.hardNodes;
    rules.depthFloor = o.depthFloor;
    rules.scoreLimit = o.openingLimit;
    u64 nodes = 0;
    const bool accepted = playRandomOpening(gamePos, gameMoves, rules, rng, &nodes);
    progress.nodes[NODES_OPENING] += (long long)nodes;
    return accepted;
}

// Result of a finished game from White's view: 1, 0, -1. Positions are
// written with results from their side to move's view.
// `band` (may be null) receives the positions for the tuner.
int playGame(const Options& o, SplitMix& rng, Progress& progress, std::vector<TrainingRecord>& kept,
             std::vector<TrainingRecord>& offPath, std::vector<TrainingRecord>* band) {
    while (!playOpening(o, rng, progress)) {
        progress.rejectedOpenings++;
        if (stopRequested) return 2;
    }
    ttClear();
    clearHistories();
    kept.clear();
    offPath.clear();
    if (band) band->clear();
    int winRun = 0, drawRun = 0, result = 2;  // 2: not decided yet
    for (int ply = 0; result == 2; ply++) {
        if (stopRequested) return 2;
        const int us = gamePos.sideToMove;
        const int moves = legalMoveCount(gamePos, gameMoves);
        if (moves == 0) {
            result = gamePos.plyStack[0].inCheck ? (us == WHITE ? -1 : 1) : 0;
            break;
        }
        if (gamePos.rule50 >= 100 || isRepetition(gamePos, 0) || isInsufficientMaterial(gamePos) ||
            ply >= o.maxPlies) {
            result = 0;
            break;
        }
        if (tbLargestPieces() > 0 && !gamePos.plyStack[0].castlingRights &&
            popCount(gamePos.occupancy()) <= tbLargestPieces()) {
            const int wdl = tbProbeWdlHook(0, gamePos);  // 0..4, side to move's view
            if (wdl >= 0) {
                const int v = wdl == 4 ? 1 : wdl == 0 ? -1 : 0;
                result = us == WHITE ? v : -v;
                break;
            }
        }
        // A position in check or with a lopsided balance is never written, so
        // its search only has to steer the game: a share of the budget does.
        const bool keepable = !gamePos.plyStack[0].inCheck && networkEvaluates(gamePos);
        auto search = [&](double share) {
            return searchNodes(gamePos, std::max<u64>(1, u64(double(o.softNodes) * share)),
                               std::max<u64>(1, u64(double(o.hardNodes) * share)), o.depthFloor);
        };
        // With --predict-captures, a keepable position whose hash move (most
        // often the previous search's expected reply) captures or promotes is
        // searched with the reduced budget first, since its best move will
        // most likely bar it, and in full only when that search's move is
        // quiet after all.
        SearchResult r;
        if (keepable && o.predictCaptures && predictsCapture(ttProbe(gamePos.key))) {
            progress.predictedCaptures++;
            r = search(o.unkeptShare);
            if (!isCaptureOrPromotion(r.move)) {
                progress.predictionMisses++;
                const u64 firstNodes = r.nodes;
                r = search(1.0);
                r.nodes += firstNodes;
            }
        } else
            r = search(keepable ? 1.0 : o.unkeptShare);
        progress.searches++;
        if (isNoMove(r.move)) {
            result = 0;
            break;
        }
        const int white = us == WHITE ? r.score : -r.score;
        const bool quiet = quietLabel(gamePos, r);
        if (quiet) {
            if (keepable)
                kept.push_back(packRecord(gamePos, r.score, gamePos.gamePly));
            else if (band && !gamePos.plyStack[0].inCheck && tuningLoadKeeps(gamePos))
                band->push_back(packRecord(gamePos, r.score, gamePos.gamePly));
        }
        progress.nodes[!keepable ? NODES_UNKEPT : quiet ? NODES_KEPT : NODES_FILTERED] += (long long)r.nodes;
        if (keepable && o.offPathShare > 0 && rng.unit() < o.offPathShare)
            searchOffPath(o, rng, progress, moves, r.move, offPath);

        // Adjudication on the search's own verdicts.
        winRun = std::abs(white) >= o.winScore && (winRun == 0 || (white > 0) == (winRun > 0))
                     ? winRun + (white > 0 ? 1 : -1)
                     : 0;
        if (std::abs(winRun) >= o.winPlies) {
            result = winRun > 0 ? 1 : -1;
            break;
        }
        drawRun = ply >= o.drawPly && std::abs(white) <= o.drawScore ? drawRun + 1 : 0;
        if (drawRun >= o.drawPlies) {
            result = 0;
            break;
        }
        play(r.move);
    }
    for (std::vector<TrainingRecord>* written : {&kept, band})
        if (written)
            for (TrainingRecord& rec : *written) rec.result = i8(rec.sideToMove == WHITE ? result : -result);
    return result;
}

struct PartState {
    u64 seed = 0;
    long long games = 0, records = 0;
    long long bandRecords = 0;  // absent from the files of runs without --tuning-band
    long long offPathRecords = 0;  // absent from the files of runs before --off-path
};

std::string partPath(const Options& o, int index, const char* ext) {
    return o.out + "/part-" + std::to_string(index) + ext;
}

bool readState(const std::string& path, PartState& s) {
    std::ifstream in(path);
    if (!(in >> s.seed >> s.games >> s.records)) return false;
    if (!(in >> s.bandRecords)) s.bandRecords = 0;
    if (!(in >> s.offPathRecords)) s.offPathRecords = 0;
    return true;
}

bool writeState(const std::string& path, const PartState& s) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << s.seed << " " << s.games << " " << s.records << " " << s.bandRecords << " " << s.offPathRecords << "\n";
        if (!out.flush()) return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

int runWorker(const Options& o, int index, Progress& progress) {
    EngineSetup setup;
    setup.network = o.network;
    setup.syzygyPath = o.syzygy;
    setup.hashMb = o.hashMb;
    if (!setUpEngine(setup)) return 1;

    const std::string data = partPath(o, index, ".bin"), statePath = partPath(o, index, ".state");
    const std::string bandData = partPath(o, index, ".band"), offPathData = partPath(o, index, "-offpath.bin");
    // Cuts a file back to what the state file says it holds.
    auto cutBack = [](const std::string& path, long long records) {
        const long long have = countRecords(path);
        if (have < 0 && records == 0) return true;
        if (have < records || !truncateRecords(path, records)) {
            std::cerr << path << " is shorter than its state file says\n";
            return false;
        }
        return true;
    };
    PartState state;
    if (readState(statePath, state)) {
        if (state.seed != o.seed) {
            std::cerr << statePath << " was written with seed " << state.seed << ", not " << o.seed << "\n";
            return 1;
        }
    } else {
        state = PartState{};
        state.seed = o.seed;
    }
    if (!cutBack(data, state.records) || !cutBack(bandData, state.bandRecords) ||
        !cutBack(offPathData, state.offPathRecords))
        return 1;

    std::vector<TrainingRecord> kept, band, offPath;
    kept.reserve(1024);
    band.reserve(1024);
    offPath.reserve(1024);
    while (!stopRequested && (o.games == 0 || state.games < o.games) &&
           (o.positions == 0 || progress.positions.load() < o.positions)) {
        // Game g of worker i has its own stream: the sequence does not depend
        // on how the run was split into sessions.
        SplitMix rng(o.seed * 0x9E3779B97F4A7C15ull ^ (u64(index) << 48) ^ u64(state.games));
        rng.next();
        const int result = playGame(o, rng, progress, kept, offPath, o.tuningBand ? &band : nullptr);
        if (result == 2) break;  // stopped
        for (const auto& [path, records] :
             {std::pair(&data, &kept), std::pair(&bandData, &band), std::pair(&offPathData, &offPath)})
            if (!appendRecords(*path, *records)) {
                std::cerr << "cannot write " << *path << ": " << std::strerror(errno) << "\n";
                return 1;
            }
        state.games++;
        state.records += (long long)kept.size();
        state.bandRecords += (long long)band.size();  // empty without --tuning-band
        state.offPathRecords += (long long)offPath.size();  // empty without --off-path
        if (!writeState(statePath, state)) {
            std::cerr << "cannot write " << statePath << "\n";
            return 1;
        }
        progress.games++;
        progress.positions += (long long)kept.size();
        progress.bandPositions += (long long)band.size();
        (result > 0 ? progress.whiteWins : result < 0 ? progress.blackWins : progress.draws)++;
    }
    return 0;
}

void report(const Progress* p, int workers, i64 startMs, long long startPositions) {
    long long games = 0, positions = 0, band = 0, ww = 0, d = 0, bw = 0, rejected = 0, searches = 0;
    long long uses[NODE_USES] = {}, nodes = 0, predicted = 0, missed = 0, offSearched = 0, offKept = 0;
    for (int i = 0; i < workers; i++) {
        games += p[i].games, positions += p[i].positions, band += p[i].bandPositions, rejected += p[i].rejectedOpenings;
        searches += p[i].searches;
        for (int u = 0; u < NODE_USES; u++) uses[u] += p[i].nodes[u];
        ww += p[i].whiteWins, d += p[i].draws, bw += p[i].blackWins;
        predicted += p[i].predictedCaptures, missed += p[i].predictionMisses;
        offSearched += p[i].offPathSearches, offKept += p[i].offPathPositions;
    }
    for (int u = 0; u < NODE_USES; u++) nodes += uses[u];
    const long long gameNodes = nodes - uses[NODES_OPENING];
    const double seconds = std::max<double>(1e-3, double(nowMs() - startMs) / 1000.0);
    char line[256];
    std::snprintf(line, sizeof line,
                  "positions %lld (+%lld, %.0f/s)  games %lld  white %lld draw %lld black %lld  openings rejected %lld"
                  "  nodes/search %.0f  band %lld",
                  startPositions + positions, positions, double(positions) / seconds, games, ww, d, bw, rejected,
                  double(gameNodes) / double(std::max(1LL, searches)), band);
    std::string shares = "  nodes";
    for (int u = 0; u < NODE_USES; u++) {
        char part[48];
        std::snprintf(part, sizeof part, " %s %.1f%%", nodeUseNames[u], 100.0 * double(uses[u]) / double(std::max(1LL, nodes)));
        shares += part;
    }
    if (offSearched)
        shares += "  off-path searched " + std::to_string(offSearched) + " kept " + std::to_string(offKept);
    if (predicted) shares += "  predicted captures " + std::to_string(predicted) + " (quiet " + std::to_string(missed) + ")";
    std::cerr << line << shares << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    if (mkdir(o.out.c_str(), 0755) != 0 && errno != EEXIST) {
        std::cerr << "cannot create " << o.out << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    long long startPositions = 0;
    for (int i = 0;; i++) {
        const long long n = countRecords(partPath(o, i, ".bin"));
        if (n < 0) break;
        startPositions += n;
    }

    auto* progress = static_cast<Progress*>(
        mmap(nullptr, sizeof(Progress) * size_t(o.workers), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (progress == MAP_FAILED) return 1;
    for (int i = 0; i < o.workers; i++) new (&progress[i]) Progress{};

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::vector<pid_t> children;
    for (int i = 0; i < o.workers; i++) {
        const pid_t pid = fork();
        if (pid == 0) std::_Exit(runWorker(o, i, progress[i]));
        if (pid < 0) {
            std::cerr << "cannot start worker " << i << "\n";
            stopRequested = 1;
            break;
        }
        children.push_back(pid);
    }

    const i64 start = nowMs();
    i64 lastReport = start;
    int running = int(children.size()), failures = 0;
    bool forwarded = false;
    while (running > 0) {
        int status = 0;
        const pid_t done = waitpid(-1, &status, WNOHANG);
        if (done > 0) {
            running--;
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failures++;
            continue;
        }
        if (stopRequested && !forwarded) {
            for (pid_t c : children) kill(c, SIGTERM);
            forwarded = true;
        }
        usleep(100000);
        if (nowMs() - lastReport >= 10000) {
            lastReport = nowMs();
            report(progress, o.workers, start, startPositions);
        }
    }
    report(progress, o.workers, start, startPositions);
    return failures ? 1 : 0;
}
