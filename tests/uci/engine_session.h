// Talking to the engine binary during a search, and checking what it says
// against the board code.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "test_util.h"

namespace session {

using Lines = std::vector<std::string>;

// Bounds for answers due at once and for whole searches (loaded machines,
// sanitizer builds).
constexpr int PROMPT_MS = 3000;
constexpr int SEARCH_MS = 60000;

inline long long msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The engine with a small hash table, ready for commands.
struct Engine : EngineProcess {
    Engine() {
        send("setoption name Hash value 16");
        sync();
    }
    // "isready" and its "readyok"; the lines before it are returned.
    Lines sync() {
        Lines seen;
        send("isready");
        EXPECT_TRUE(waitFor("readyok", SEARCH_MS, &seen)) << "no readyok";
        if (!seen.empty()) seen.pop_back();
        return seen;
    }
    // Every line up to "bestmove" after the go command (none on time-out).
    Lines search(const std::string& go, int timeoutMs = SEARCH_MS) {
        Lines seen;
        send(go);
        if (!waitFor("bestmove", timeoutMs, &seen)) {
            ADD_FAILURE() << "no bestmove within " << timeoutMs << " ms after '" << go << "'";
            seen.clear();
        }
        return seen;
    }
};

inline Lines words(const std::string& line) {
    std::istringstream in(line);
    Lines out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Checks "bestmove X [ponder Y]" against the position: X legal, Y legal
// after X. Returns X ("" on failure).
inline std::string checkBestMove(const std::string& fen, const std::string& line) {
    const Lines w = words(line);
    TestPosition pos(fen);
    const bool ok = (w.size() == 2 || (w.size() == 4 && w[2] == "ponder")) && w[0] == "bestmove" &&
                    playText(*pos, w[1]) && (w.size() == 2 || playText(*pos, w[3]));
    EXPECT_TRUE(ok) << "not a legal best move (and ponder move) in " << fen << ": " << line;
    return ok ? w[1] : "";
}

// The fields of an "info" line by keyword ("cp" or "mate" for the score).
inline std::map<std::string, std::string> infoFields(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream in(line);
    std::string key, value;
    in >> key;  // "info"
    while (in >> key && key != "pv")
        if (key != "score" && in >> value) fields[key] = value;
    for (std::string move; key == "pv" && in >> move;) fields["pv"] += (fields["pv"].empty() ? "" : " ") + move;
    return fields;
}

inline Lines withPrefix(const Lines& lines, const std::string& prefix) {
    Lines found;
    for (const std::string& l : lines)
        if (l.rfind(prefix, 0) == 0) found.push_back(l);
    return found;
}

// Why the game is over in this position ("" while it goes on); keys holds
// the key of every position of the game so far, this one included.
inline std::string gameEnding(Position& p, const std::vector<u64>& keys) {
    if (legalMoveTexts(p).empty()) return isInCheck(p) ? "checkmate" : "stalemate";
    if (p.rule50 >= 100) return "fifty-move rule";
    if (std::count(keys.begin(), keys.end(), p.key) >= 3) return "threefold repetition";
    // Insufficient material: kings and at most one minor piece, or kings and
    // bishops all on squares of one colour.
    if (p.pieces[WPAWN] | p.pieces[BPAWN] | p.pieces[WROOK] | p.pieces[BROOK] | p.pieces[WQUEEN] | p.pieces[BQUEEN])
        return "";
    const u64 knights = p.pieces[WKNIGHT] | p.pieces[BKNIGHT], bishops = p.pieces[WBISHOP] | p.pieces[BBISHOP];
    constexpr u64 oneColour = 0xAA55AA55AA55AA55ULL;
    const bool oneColourBishops = !knights && ((bishops & oneColour) == 0 || (bishops & ~oneColour) == 0);
    return popCount(knights | bishops) <= 1 || oneColourBishops ? "insufficient material" : "";
}

}  // namespace session
