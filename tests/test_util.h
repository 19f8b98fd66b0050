// Helpers shared by the tests: engine set-up, random games, a consistency
// check of a position record, and running the engine binary.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <sys/types.h>
#include <vector>

#include "board/fen.h"
#include "board/position.h"

// Sanitizer builds are several times slower: loops over random positions
// divide their counts by this.
#if defined(__SANITIZE_THREAD__)
constexpr int SANITIZER_SCALE = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int SANITIZER_SCALE = 4;
#else
constexpr int SANITIZER_SCALE = 1;
#endif

// Sets the Chess960 mode (UCI_Chess960) for one scope.
struct Chess960Mode {
    bool saved;
    explicit Chess960Mode(bool on);
    ~Chess960Mode();
};

// Builds the tables and a small hash table once per test process.
void initEngineForTests();
// Loads the bootstrap network (built once per process), quietly.
void useBootstrapNetwork();

// Collects what the engine prints while alive (also keeps a test quiet).
struct CapturedOutput {
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;
    std::string text();
    FILE* file_;
    FILE* outer_;
};

// A whole file as bytes ("" when it cannot be read); a file written whole.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// A scratch directory under /tmp, removed with everything in it at the end.
struct TempDir {
    std::filesystem::path path;
    TempDir();
    ~TempDir();
    std::string str() const { return path.string(); }
    std::string operator/(const std::string& leaf) const { return (path / leaf).string(); }
    // Copies a table file of tests/data/syzygy/tables, optionally renamed.
    void copyTable(const std::string& file, const std::string& as = "") const;
    std::string read(const std::string& file) const { return readFile(*this / file); }
    void write(const std::string& file, const std::string& bytes) const { writeFile(*this / file, bytes); }
};

// A search thread's continuation histories and evaluation caches.
struct ThreadTables;

// A fresh position record (heap, zeroed) with its own move buffer, set from
// the FEN (a refused FEN fails the test); with threadTables it gets zeroed
// tables of its own, as a search thread's position has.
struct TestPosition {
    std::unique_ptr<Position> pos;
    std::unique_ptr<Move[]> buffer;
    std::shared_ptr<ThreadTables> tables;
    explicit TestPosition(const std::string& fen, bool threadTables = false);
    void clearCaches();
    Move* listAt(int ply) { return buffer.get() + ply * MAX_MOVES_PER_PLY; }
    // Makes a move given as text at `ply` as the search would; returns it.
    Move play(const std::string& text, int ply);
    Position& operator*() { return *pos; }
    Position* operator->() { return pos.get(); }
};

// What is wrong with the redundant fields of the record ("" when nothing):
// bitboards, keys, sums and key history against the board, one king a side.
std::string checkConsistency(const Position& pos);

// Legal moves of ply 0 as coordinate texts, sorted.
std::vector<std::string> legalMoveTexts(Position& pos);

// Plays a move given as text at ply 0; false (nothing played) when it is illegal.
bool playText(Position& pos, const std::string& text);

// Plays up to `plies` random legal moves at ply 0, as "position" does.
void playRandomMoves(Position& pos, int plies, std::mt19937_64& rng);

// Runs a program with the arguments, no shell between, its standard output
// and error into the files named (kept where ""); `meanwhile` gets its pid
// while it runs. Returns its exit code, -1 when it did not exit by itself.
int runProgram(std::vector<std::string> args, const std::string& outFile = "", const std::string& errFile = "",
               const std::function<void(pid_t)>& meanwhile = {});

// Runs the engine binary (or another program) on the standard input given;
// returns its standard output.
std::string runEngine(const std::string& input, const std::vector<std::string>& args = {},
                      const std::string& program = VELMORA_BINARY);

// The engine binary (or another program) as a child process, spoken to line
// by line through pipes; killed at the end if it still runs.
class EngineProcess {
public:
    explicit EngineProcess(const std::vector<std::string>& args = {}, const std::string& program = VELMORA_BINARY);
    ~EngineProcess();
    EngineProcess(const EngineProcess&) = delete;
    EngineProcess& operator=(const EngineProcess&) = delete;

    void send(const std::string& line);  // the line and a line end
    void closeInput();                   // end of input
    // The next output line; nothing on time-out or at the end of output.
    std::optional<std::string> readLine(int timeoutMs) { return waitFor("", timeoutMs); }
    // The first line with the prefix (or nothing); lines read go to *seen.
    std::optional<std::string> waitFor(const std::string& prefix, int timeoutMs,
                                       std::vector<std::string>* seen = nullptr);
    // The wait status once the engine has ended, -1 if it still runs.
    int waitExit(int timeoutMs);

private:
    bool fillBuffer(int timeoutMs);
    pid_t pid = -1;
    int toEngine = -1;
    int fromEngine = -1;
    std::string pending;
    bool outputEnded = false;
    int exitStatus = -1;
};

// Stockfish's path, or "" when it is not installed (its tests are skipped).
std::string findStockfish();
inline constexpr const char* NO_STOCKFISH =
    "Stockfish not found at /usr/games/stockfish or on PATH (apt-get install stockfish)";

std::vector<std::string> splitLines(const std::string& text);

// The square of a name such as "e4".
inline int sq(const char* name) { return (name[0] - 'a') + 8 * (name[1] - '1'); }

// Path of a file under tests/data.
std::string testData(const std::string& relative);
