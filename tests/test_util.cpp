#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "board/attacks.h"
#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "eval/netbuild.h"
#include "eval/nnue.h"
#include "platform/output.h"
#include "search/movepick.h"
#include "search/tt.h"

Chess960Mode::Chess960Mode(bool on) : saved(chess960) { chess960 = on; }
Chess960Mode::~Chess960Mode() { chess960 = saved; }

void initEngineForTests() {
    static std::once_flag once;
    std::call_once(once, [] {
        initTables();
        ttSizeMb = 16;
        ttInit();
        setPositionFromFen(START_FEN, rootPosition);
    });
}

void useBootstrapNetwork() {
    static const std::unique_ptr<NetworkParameters> net = [] {
        auto n = std::make_unique<NetworkParameters>();
        buildBootstrapNetwork(*n);
        return n;
    }();
    // Loading costs more than a comparison: skip it when the bootstrap
    // network is in use already.
    const NetworkParameters* current = currentNetwork();
    if (netLoaded && current) {
        bool same = std::equal(net->ftBias, net->ftBias + NET_HALF, current->ftBias) &&
                    std::equal(net->l1Weights, net->l1Weights + NET_L1 * NET_INPUTS, current->l1Weights) &&
                    std::equal(net->outWeights, net->outWeights + NET_L2, current->outWeights);
        for (size_t i = 0; same && i < size_t(NET_FEATURES) * NET_HALF; i += 4099)
            same = net->ftWeights[i] == current->ftWeights[i];
        if (same) return;
    }
    std::ostringstream out(std::ios::binary);
    writeNetwork(out, *net, "bootstrap");
    CapturedOutput quiet;
    std::istringstream in(out.str(), std::ios::binary);
    ASSERT_TRUE(loadNetwork(in));
}

// Captures nest: each gives the output back to the one it interrupted.
static FILE* activeCapture = nullptr;
CapturedOutput::CapturedOutput() : file_(std::tmpfile()), outer_(activeCapture) {
    setOutputStream(activeCapture = file_);
}
CapturedOutput::~CapturedOutput() {
    setOutputStream(activeCapture = outer_);
    std::fclose(file_);
}
std::string CapturedOutput::text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string out;
    for (int c; (c = std::fgetc(file_)) != EOF;) out += char(c);
    return out;
}

TempDir::TempDir() {
    char name[] = "/tmp/velmora_testXXXXXX";
    path = mkdtemp(name);
}
TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}
void TempDir::copyTable(const std::string& file, const std::string& as) const {
    std::filesystem::copy_file(testData("syzygy/tables/" + file), path / (as.empty() ? file : as),
                               std::filesystem::copy_options::overwrite_existing);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

int runProgram(std::vector<std::string> args, const std::string& outFile, const std::string& errFile,
               const std::function<void(pid_t)>& meanwhile) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!outFile.empty()) dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        if (!errFile.empty()) dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (meanwhile) meanwhile(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ThreadTables {
    ContinuationHistory followUp;
    ContinuationHistory counter;
    EvalCaches caches;
};

TestPosition::TestPosition(const std::string& fen, bool threadTables)
    : pos(std::make_unique<Position>()), buffer(std::make_unique<Move[]>(MOVE_BUFFER_SIZE)) {
    initEngineForTests();
    pos->plyStack[0].moveListBegin = buffer.get();
    std::string error;
    EXPECT_TRUE(setPositionFromFen(fen, *pos, &error)) << fen << ": " << error;
    if (!threadTables) return;
    tables = std::make_shared<ThreadTables>();
    pos->followUpHistory = &tables->followUp;
    pos->counterMoveHistory = &tables->counter;
    clearEvalCaches(tables->caches);
    attachEvalCaches(*pos, tables->caches);
}

Move TestPosition::play(const std::string& text, int ply) {
    Position& p = *pos;
    const Move m = parseLegalMove(text, ply, p);
    EXPECT_FALSE(isNoMove(m)) << text;
    p.plyStack[ply].currentMove = withPiece(m, p.board[m.from]);
    doMove(ply, m, p);
    p.plyStack[ply + 1].inCheck = isInCheck(p);
    p.plyStack[ply + 1].moveListBegin = listAt(ply + 1);
    p.plyStack[ply + 2].singularSubtree = 0;
    return m;
}

void TestPosition::clearCaches() {
    if (tables) clearEvalCaches(tables->caches);
}

std::string checkConsistency(const Position& pos) {
    std::ostringstream out;
    u64 white = 0, black = 0;
    for (int code = 2; code < 14; code++) {
        for (int other = code + 1; other < 14; other++)
            if (pos.pieces[code] & pos.pieces[other]) out << "bitboards " << code << " and " << other << " overlap; ";
        (code & 1 ? black : white) |= pos.pieces[code];
    }
    if (white != pos.pieces[0]) out << "white set differs; ";
    if (black != pos.pieces[1]) out << "black set differs; ";
    for (int sq = 0; sq < 64; sq++) {
        const int code = pos.board[sq];
        if (code == 1 || code > 13) out << "bad code on " << sq << "; ";
        else if (code == 0 && ((white | black) & bit(sq))) out << "empty square " << sq << " has a bit; ";
        else if (code && !(pos.pieces[code] & bit(sq))) out << "square " << sq << " missing from bitboard; ";
    }
    if (popCount(pos.pieces[WKING]) != 1 || popCount(pos.pieces[BKING]) != 1) out << "king count; ";
    if (pos.key != computeKey(pos)) out << "key differs from computeKey; ";
    if (pos.pawnKingKey != computePawnKingKey(pos)) out << "pawnKingKey differs; ";
    Position copy = pos;
    recomputeSums(copy);
    if (copy.material[0] != pos.material[0] || copy.material[1] != pos.material[1]) out << "material differs; ";
    if (copy.psq[0] != pos.psq[0] || copy.psq[1] != pos.psq[1]) out << "psq differs; ";
    if (copy.phase != pos.phase) out << "phase differs; ";
    if (pos.gamePly < 1 || pos.gamePly > KEY_HISTORY_SIZE) out << "gamePly out of range; ";
    else if (pos.keyHistory[pos.gamePly - 1] != pos.key) out << "last history key is not the key; ";
    return out.str();
}

std::vector<std::string> legalMoveTexts(Position& pos) {
    Move* begin = pos.plyStack[0].moveListBegin;
    generateLegal(0, begin, pos);
    std::vector<std::string> texts;
    for (Move* m = begin; m < pos.plyStack[0].moveListEnd; m++) texts.push_back(moveToText(*m, pos.sideToMove, pos));
    std::sort(texts.begin(), texts.end());
    return texts;
}

bool playText(Position& pos, const std::string& text) {
    pos.plyStack[0].inCheck = isInCheck(pos);
    const Move m = parseLegalMove(text, 0, pos);
    if (isNoMove(m)) return false;
    playRootMove(pos, m);
    pos.plyStack[0].inCheck = isInCheck(pos);
    return true;
}

void playRandomMoves(Position& pos, int plies, std::mt19937_64& rng) {
    for (int i = 0; i < plies; i++) {
        Move* begin = pos.plyStack[0].moveListBegin;
        generateLegal(0, begin, pos);
        const long n = pos.plyStack[0].moveListEnd - begin;
        if (n == 0) return;
        playRootMove(pos, begin[rng() % n]);
        pos.plyStack[0].inCheck = isInCheck(pos);
    }
}

std::string runEngine(const std::string& input, const std::vector<std::string>& args, const std::string& program) {
    const TempDir dir;
    std::ofstream(dir / "input") << input;
    std::string command = program;
    for (const std::string& a : args) command += " '" + a + "'";
    std::string output;
    FILE* pipe = popen((command + " < " + dir / "input").c_str(), "r");
    char chunk[4096];
    for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    const int status = pipe ? pclose(pipe) : -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "engine exit status " << status;
    return output;
}

std::string findStockfish() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs("/usr/games:" + std::string(path ? path : ""));
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && access((dir + "/stockfish").c_str(), X_OK) == 0) return dir + "/stockfish";
    return "";
}

EngineProcess::EngineProcess(const std::vector<std::string>& args, const std::string& program) {
    // A write to an engine that has already ended must fail, not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2 failed";
        return;
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        // dup2 clears close-on-exec on the copies; everything else closes.
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    toEngine = input[1];
    fromEngine = output[0];
    if (pid < 0) ADD_FAILURE() << "fork failed";
}

EngineProcess::~EngineProcess() {
    closeInput();
    if (pid > 0 && exitStatus == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (fromEngine >= 0) close(fromEngine);
}

void EngineProcess::send(const std::string& text) {
    const std::string packet = text + "\n";
    for (size_t done = 0; toEngine >= 0 && done < packet.size();) {
        const ssize_t n = write(toEngine, packet.data() + done, packet.size() - done);
        if (n <= 0) return ADD_FAILURE() << "could not send '" << text << "' to the engine";
        done += size_t(n);
    }
}

void EngineProcess::closeInput() {
    if (toEngine >= 0) close(toEngine);
    toEngine = -1;
}

bool EngineProcess::fillBuffer(int timeoutMs) {
    if (outputEnded || fromEngine < 0) return false;
    pollfd p{fromEngine, POLLIN, 0};
    if (poll(&p, 1, std::max(0, timeoutMs)) <= 0) return false;
    char chunk[4096];
    const ssize_t n = read(fromEngine, chunk, sizeof chunk);
    outputEnded = n <= 0;
    if (n > 0) pending.append(chunk, size_t(n));
    return n > 0;
}

std::optional<std::string> EngineProcess::waitFor(const std::string& prefix, int timeoutMs,
                                                  std::vector<std::string>* seen) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string text = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (seen) seen->push_back(text);
            if (text.rfind(prefix, 0) == 0) return text;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left < 0 || (!fillBuffer(int(left)) && (outputEnded || std::chrono::steady_clock::now() >= deadline)))
            return std::nullopt;
    }
}

int EngineProcess::waitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid > 0 && exitStatus == -1) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            exitStatus = status;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        // Keep reading, so that an engine with a full output pipe can end.
        if (!fillBuffer(5)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exitStatus;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::string testData(const std::string& relative) { return std::string(VELMORA_TEST_DATA) + "/" + relative; }
