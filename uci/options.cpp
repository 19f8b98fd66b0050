#include "uci/options.h"

#include <algorithm>
#include <cstdlib>

#include "board/movegen.h"
#include "eval/nnue.h"
#include "platform/output.h"
#include "platform/numa.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "search/tt.h"
#include "tablebase/tablebase.h"
#include "uci/engine.h"


bool readInteger(const std::string& text, long& value) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t') s++;
    const char* digits = s + (*s == '+' || *s == '-');
    if (*digits < '0' || *digits > '9') return false;
    value = std::strtol(s, nullptr, 10);
    return true;
}

void printUciReply() {
    say(std::string("id name ") + ENGINE_NAME + BUILD_SUFFIX);
    say(std::string("id author ") + ENGINE_AUTHOR);
    say("option name Threads type spin default 1 min 1 max 256");
    say("option name Hash type spin default 256 min 1 max 262144");
    say("option name Ponder type check default false");
    say("option name MoveOverhead type spin default 100 min 1 max 60000");
    say("option name SyzygyPath type string default <empty>");
    say("option name SyzygyProbeDepth type spin default 0 min 0 max 127");
    say("option name WindowsNumaNode type spin default 0 min 0 max 4");
    say("option name NetFile type string default <empty>");
    say("option name UCI_Chess960 type check default false");
    say("uciok");
}

namespace {

// A spin value: clamped to its range; a value that is not a number is
// refused and the option keeps its value.
bool spinValue(const std::string& name, const std::string& value, long low, long high, int& out) {
    long v;
    if (!readInteger(value, v)) {
        say("info string " + name + " needs a number, got '" + value + "'; value unchanged");
        return false;
    }
    out = int(std::clamp(v, low, high));
    return true;
}

}  // namespace

void setoptionCommand(std::istringstream& words) {
    std::string word, name, value;
    words >> word;  // "name"
    while (words >> word && word != "value") name += (name.empty() ? "" : " ") + word;
    while (words >> word) value += (value.empty() ? "" : " ") + word;

    int v;
    if (name == "Hash") {
        if (!spinValue(name, value, 1, 262144, v)) return;
        if (!ttResize(v)) {
            say("info string Not enough memory for a hash table of " + std::to_string(v) + " MB; keeping " +
                std::to_string(ttSizeMb) + " MB");
            return;
        }
        ttSizeMb = v;
        say("info string Size of Hashtable set to : " + std::to_string(v));
    } else if (name == "Threads") {
        if (!spinValue(name, value, 1, 256, v)) return;
        threadCount = v;
        setThreadCount(v);
        say("info string Number of threads set to : " + std::to_string(v));
    } else if (name == "MoveOverhead") {
        if (!spinValue(name, value, 1, 60000, moveOverhead)) return;
        say("info string MoveOverhead set to : " + std::to_string(moveOverhead));
    } else if (name == "Ponder") {
        ponderEnabled = value == "true";
        say("info string Ponder set to : " + std::to_string(int(ponderEnabled)));
    } else if (name == "SyzygyPath") {
        syzygyPath = value;
        if (tbInit(syzygyPath) && tbLargest > 0)
            say("info string Syzygy tablebases used from directory : " + syzygyPath);
        else
            say("info string No Syzygy tablebases found in directory :" + syzygyPath);
    } else if (name == "SyzygyProbeDepth") {
        if (!spinValue(name, value, 0, 127, syzygyProbeDepth)) return;
        say("info string SyzygyProbeDepth set to: " + std::to_string(syzygyProbeDepth));
    } else if (name == "WindowsNumaNode") {
        if (!spinValue(name, value, 0, 4, v)) return;
        if (v != numaNodeOption) {
            numaNodeOption = v;
            setThreadCount(threadCount);  // every thread binds anew
        }
        say("info string WindowsNumaNode set to: " + std::to_string(v));
    } else if (name == "NetFile") {
        // The name is stored even when nothing is loaded, so that the next
        // refusal names what was set last.
        netFileName = value;
        if (value.empty() || value == "<empty>") return;
        std::string why;
        const bool loaded = loadNetworkFile(netFileName, &why);
        clearThreadEvalCaches();  // cached values came from the old network
        if (loaded)
            say("info string NetFile used : " + netFileName);
        else
            say("info string NetFile not found/correct: " + netFileName +
                ". Unable to calculate the best move for a position.");
    } else if (name == "UCI_Chess960") {
        chess960 = value == "true";
        say("info string UCI_Chess960 set to : " + std::to_string(int(chess960)));
    }
}
