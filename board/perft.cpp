#include "board/perft.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "search/tt.h"

u64 perft(int ply, int depth, Position& pos) {
    Move* begin = pos.plyStack[ply].moveListBegin;
    if (depth <= 1) return countLegal(ply, begin, pos);
    generateLegal(ply, begin, pos);
    Move* end = pos.plyStack[ply].moveListEnd;
    u64 nodes = 0;
    for (Move* m = begin; m < end; m++) {
        doMove(ply, *m, pos);
        nodes += perft(ply + 1, depth - 1, pos);
        undoMove(ply, *m, pos);
    }
    return nodes;
}

namespace {

std::string formatDouble(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

struct TimedCount {
    u64 nodes;
    i64 elapsedNs;
};

TimedCount timedPerft(Position& pos, int depth) {
    const i64 start = nowNs();
    const u64 nodes = perft(0, depth, pos);
    return {nodes, nowNs() - start};
}

bool readU64(const std::string& text, u64& value) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t') s++;
    if (*s < '0' || *s > '9') return false;
    char* end = nullptr;
    value = std::strtoull(s, &end, 10);
    return end != s;
}

bool readDepth(const std::string& text, int& depth) {
    char* end = nullptr;
    const long d = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || d < 1 || d > MAX_PERFT_DEPTH) return false;
    depth = int(d);
    return true;
}

std::vector<std::string> splitAt(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

const char* NO_FILE = "There seems to be a problem with the perftFile. check of the move generator not executed";

}  // namespace

void perftCommand(int depth) {
    auto local = std::make_unique<Position>(rootPosition);
    write(boardDiagram(*local));
    const TimedCount r = timedPerft(*local, depth);
    const double seconds = double(r.elapsedNs) / 1e9;
    say(std::to_string(r.elapsedNs) + " ns and " + formatDouble(seconds) + " in seconds");
    write("Perft results for depth: " + std::to_string(depth) + "  " + std::to_string(r.nodes) +
          "  Nodes per sec: " + formatDouble(double(r.nodes) / seconds) + "\n");
}

namespace {

// Runs the lines of a perft file: blank lines are skipped, and in "rtest"
// files a line "full" or "extended" ends the run. `parse` reads a line's
// fields (false: malformed); a malformed line or a refused FEN is reported
// and counts as a failure; `check` runs the position set from the FEN and
// says whether the counts matched. Returns false when the file cannot be read.
template <typename Parse, typename Check>
bool runPerftFile(const std::string& path, bool stopLines, Parse parse, Check check, bool& ok) {
    auto local = std::make_unique<Position>(rootPosition);
    std::ifstream file(path);
    if (!file) {
        write(std::string(NO_FILE) + "\n");
        return false;
    }
    ok = true;
    int lineNumber = 0;
    for (std::string text; std::getline(file, text);) {
        lineNumber++;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (stopLines && (text == "full" || text == "extended")) break;
        if (text.find_first_not_of(" \t") == std::string::npos) continue;
        const std::vector<std::string> parts = splitAt(text, ';');
        std::string error;
        if (!parse(parts)) {
            say("info string perft file line " + std::to_string(lineNumber) + " is malformed: " + text);
            ok = false;
        } else if (!setPositionFromFen(parts[0], *local, &error)) {
            say("info string perft file line " + std::to_string(lineNumber) + " has a bad FEN (" + error + ")");
            ok = false;
        } else if (!check(parts, *local)) {
            ok = false;
        }
    }
    return true;
}

}  // namespace

bool runPerftChecks(const std::string& path) {
    int depth = 0;
    u64 expected = 0;
    auto parse = [&](const std::vector<std::string>& parts) {
        return parts.size() >= 3 && readDepth(parts[1], depth) && readU64(parts[2], expected);
    };
    auto check = [&](const std::vector<std::string>& parts, Position& pos) {
        const TimedCount r = timedPerft(pos, depth);
        const bool match = r.nodes == expected;
        write(std::string(match ? "1" : "0") + "; " + parts[0] + "; " + std::to_string(depth) + "; " +
              std::to_string(expected) + "; " + std::to_string(r.nodes) + "; " + std::to_string(r.elapsedNs) + "\n");
        flushOutput();
        ttResize(128);
        return match;
    };
    bool ok = false;
    if (!runPerftFile(path, true, parse, check, ok)) return false;
    write("Results of the perft checks is OK: " + std::to_string(int(ok)) + "\n");
    return ok;
}

bool runPerftChecksAllDepths(const std::string& path) {
    u64 expected[6];
    auto parse = [&](const std::vector<std::string>& parts) {
        bool wellFormed = parts.size() == 7;
        for (int d = 0; wellFormed && d < 6; d++)
            wellFormed = parts[d + 1].size() > 3 && readU64(parts[d + 1].substr(3), expected[d]);
        return wellFormed;
    };
    auto check = [&](const std::vector<std::string>& parts, Position& pos) {
        say(parts[0]);
        for (int d = 1; d <= 6; d++) {
            const u64 nodes = perft(0, d, pos);
            if (nodes != expected[d - 1]) {
                say("WRONGGGGGGGGGGGG " + std::to_string(d) + " correct : " + std::to_string(expected[d - 1]) +
                    " berekend : " + std::to_string(nodes));
                return false;
            }
        }
        say("Okidoki");
        return true;
    };
    bool ok = false;
    if (!runPerftFile(path, false, parse, check, ok)) return false;
    write("Results of the perft checks (0 = wrong, 1 = OK) : " + std::to_string(int(ok)) + "\n");
    return ok;
}
