// The tactical suite: the engine binary searches every position of
// tests/data/tactics.epd to depth 8 and to depth 12; the positions where it
// plays one of the listed best moves are counted and must reach a floor
// that a sound search clears easily and a broken one does not.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "board/fen.h"
#include "platform/clock.h"
#include "test_util.h"

namespace {

struct Problem {
    std::string fen;  // the four EPD fields
    std::vector<std::string> best;
    std::string id;
};

// Lines "<placement> <side> <castling> <ep> bm <move>...; id "<name>";".
std::vector<Problem> readSuite(const std::string& path) {
    std::vector<Problem> suite;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        std::istringstream words(line);
        Problem p;
        std::string w;
        for (int i = 0; i < 4 && words >> w; i++) p.fen += (i ? " " : "") + w;
        words >> w;
        EXPECT_EQ(w, "bm") << line;
        while (words >> w) {
            const bool last = w.back() == ';';
            if (last) w.pop_back();
            p.best.push_back(w);
            if (last) break;
        }
        const size_t quote = line.find("id \"");
        if (quote != std::string::npos) p.id = line.substr(quote + 4, line.find('"', quote + 4) - quote - 4);
        suite.push_back(p);
    }
    return suite;
}

// The engine binary as a child process on two pipes. Each "go" has to run
// to its end before the next command goes out: the engine takes the end of
// its input as "quit", which stops a search at once.
class EngineProcess {
public:
    EngineProcess() {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
            close(toChild[1]);
            close(fromChild[0]);
            execl(VELMORA_BINARY, VELMORA_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in_ = fdopen(toChild[1], "w");
        out_ = fdopen(fromChild[0], "r");
    }
    ~EngineProcess() {
        if (in_) {
            send("quit");
            std::fclose(in_);
        }
        if (out_) std::fclose(out_);
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "engine exit status " << status;
        }
    }
    bool running() const { return pid_ > 0 && in_ && out_; }
    void send(const std::string& command) {
        std::fputs((command + "\n").c_str(), in_);
        std::fflush(in_);
    }
    // The next output line that starts with `prefix` (empty at end of output).
    std::string waitFor(const std::string& prefix) {
        char buffer[8192];
        while (std::fgets(buffer, sizeof buffer, out_)) {
            std::string line(buffer);
            if (line.rfind(prefix, 0) == 0) return line;
        }
        return "";
    }

private:
    pid_t pid_ = -1;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
};

// Number of problems where the engine's move at `depth` is a best move.
int solvedAt(const std::vector<Problem>& suite, int depth) {
    EngineProcess engine;
    EXPECT_TRUE(engine.running());
    if (!engine.running()) return 0;
    engine.send("setoption name Hash value 16");
    int solved = 0;
    for (const Problem& p : suite) {
        engine.send("ucinewgame");
        engine.send("position fen " + p.fen + " 0 1");
        engine.send("go depth " + std::to_string(depth));
        std::istringstream reply(engine.waitFor("bestmove"));
        std::string word, move;
        reply >> word >> move;
        EXPECT_EQ(word, "bestmove") << p.id << ": no answer";
        for (const std::string& b : p.best) solved += move == b;
    }
    return solved;
}

}  // namespace

TEST(SearchTactics, WinAtChessSuiteAtDepths8And12) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<Problem> suite = readSuite(testData("tactics.epd"));
    ASSERT_GE(suite.size(), 100u);
    // Every listed move must be legal where it is listed.
    for (const Problem& p : suite) {
        TestPosition t(p.fen + " 0 1");
        ASSERT_FALSE(p.best.empty()) << p.id;
        for (const std::string& m : p.best) EXPECT_FALSE(isNoMove(parseLegalMove(m, 0, *t))) << p.id << " " << m;
    }

    const int n = int(suite.size());
    for (const auto& [depth, floorPercent] : {std::pair{8, 40}, std::pair{12, 60}}) {
        const i64 start = nowMs();
        const int solved = solvedAt(suite, depth);
        std::printf("[ tactics  ] depth %d: %d of %d solved in %.1f s\n", depth, solved, n,
                    double(nowMs() - start) / 1000);
        RecordProperty("solved_depth_" + std::to_string(depth), solved);
        EXPECT_GE(solved * 100, floorPercent * n) << "depth " << depth << ": " << solved << " of " << n;
    }
}
