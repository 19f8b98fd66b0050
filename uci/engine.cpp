#include "uci/engine.h"

#include <cstring>
#include <iostream>
#include <sstream>

#include "board/attacks.h"
#include "board/fen.h"
#include "board/perft.h"
#include "eval/evaluate.h"
#include "eval/nnue.h"
#include "platform/output.h"
#include "platform/paths.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "tuning/texel.h"
#include "uci/bench.h"
#include "uci/genfens.h"
#include "uci/go.h"
#include "uci/hashreport.h"
#include "uci/options.h"
#include "uci/position_cmd.h"

std::string netFileName = DEFAULT_NET_FILE;
bool commandLineRun = false;

namespace {

int perftDepth = 6;
int texelArgument = 4;
constexpr int MAX_TEXEL_THREADS = 256;

// "texel [threads] [empty]": a number sets the thread count (kept for later
// runs); "empty" tunes K alone, with nothing registered.
void texelWords(std::istringstream& words) {
    std::string word;
    bool withTables = true;
    while (words >> word) {
        long n;
        if (word == "empty")
            withTables = false;
        else if (!readInteger(word, n))
            say("info string texel: '" + word + "' is neither a thread count nor 'empty'; ignored");
        else if (n < 1 || n > MAX_TEXEL_THREADS)
            say("info string texel threads must be 1 to " + std::to_string(MAX_TEXEL_THREADS) + "; using " +
                std::to_string(texelArgument));
        else
            texelArgument = int(n);
    }
    texelCommand(texelArgument, withTables);
}

void perftWord(std::istringstream& words) {
    std::string word;
    if (words >> word) {
        long d;
        if (!readInteger(word, d))
            say("info string perft depth '" + word + "' is not a number; using depth " + std::to_string(perftDepth));
        else if (d < 1 || d > MAX_PERFT_DEPTH)
            say("info string perft depth must be 1 to " + std::to_string(MAX_PERFT_DEPTH) + "; using depth " +
                std::to_string(perftDepth));
        else
            perftDepth = int(d);
    }
    perftCommand(perftDepth);
}

std::string pathArgument(std::istringstream& words) {
    std::string rest, word;
    while (words >> word) rest += (rest.empty() ? "" : " ") + word;
    return rest.empty() ? defaultPerftFile() : rest;
}

void ucinewgame() {
    finishSearch();
    ttClear();
    clearHistories();
    gameStage = 0;
    newGameFlag = true;
    // Forget the earlier positions, but not the current one: the history
    // always ends with the root's own key.
    std::memset(rootPosition.keyHistory, 0, sizeof rootPosition.keyHistory);
    rootPosition.keyHistory[rootPosition.gamePly - 1] = rootPosition.key;
    say("readyok");
}

void help() {
    write("supported UCI commands 'uci' 'ucinewgame' 'position' 'go' 'ponderhit' 'stop 'quit' 'setoption' "
          "'isready'\n");
    say("other commands 'perft depth', default depth=6, change board with 'position'; 'showboard' shows the "
        "current board");
}

}  // namespace

void startEngine() {
    say(std::string(ENGINE_NAME) + BUILD_SUFFIX);
    say(std::string("by ") + ENGINE_AUTHOR);
    say("");
    say("enter 'help' to see the commands");
    initTables();
    // A command-line run pays only for the pages it touches (a bench replaces
    // the table before it searches).
    ttInit(!commandLineRun);
    loadNetworkFile(netFileName);
    if (!netLoaded)
        say("info string NetFile not found/correct: " + netFileName + ". Unable to calculate the best move for a position.");
    setPositionFromFen(START_FEN, rootPosition);
    setThreadCount(threadCount);
}

bool executeCommand(const std::string& text) {
    std::istringstream words(text);
    std::string command;
    words >> command;

    if (command == "quit") {
        stopSearch = true;
        return false;
    } else if (command == "stop") {
        stopSearch = true;
    } else if (command == "position") {
        positionCommand(words);
    } else if (command == "go") {
        goCommand(words);
    } else if (command == "ponderhit") {
        if (readyToStop)
            stopSearch = true;
        else
            ponderSearch = false;
    } else if (command == "ucinewgame") {
        ucinewgame();
    } else if (command == "uci") {
        printUciReply();
    } else if (command == "setoption") {
        finishSearch();
        setoptionCommand(words);
    } else if (command == "isready") {
        say("readyok");
    } else if (command == "rtest") {
        finishSearch();
        runPerftChecks(pathArgument(words));
    } else if (command == "rtestRFC") {
        finishSearch();
        runPerftChecksAllDepths(pathArgument(words));
    } else if (command == "perft") {
        finishSearch();
        perftWord(words);
    } else if (command == "texel") {
        finishSearch();
        texelWords(words);
    } else if (command == "showboard") {
        write(boardDiagram(rootPosition));
    } else if (command == "evil") {
        // A scratch copy with caches of its own, so the root record and the
        // search threads' caches stay untouched; emptied each time, since a
        // network loaded in between would make a cached value stale.
        static Position scratch;
        static EvalCaches scratchCaches;
        scratch = rootPosition;
        clearEvalCaches(scratchCaches);
        attachEvalCaches(scratch, scratchCaches);
        recomputeSums(scratch);
        scratch.accumulators[0].computed = 0;
        say("Evaluation : " + std::to_string(evaluate(0, scratch)));
    } else if (command == "bench") {
        benchCommand(words);
    } else if (command == "genfens") {
        genfensCommand(words);
    } else if (command == "hashstats") {
        printHashStatistics();
    } else if (command == "help") {
        help();
    } else {
        write("Unknown command\n");
    }
    flushOutput();
    return true;
}

void commandLoop() {
    std::string input;
    for (;;) {
        if (!std::getline(std::cin, input)) input = "quit";
        if (!executeCommand(input)) break;
    }
}

void shutDownEngine() {
    setThreadCount(0);  // waits for a running search to print its move
    flushOutput();
}
