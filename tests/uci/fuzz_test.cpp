// Robustness of the command loop: thousands of random, mutated and malformed
// command lines, in process and through the binary's standard input.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/makemove.h"
#include "board/movegen.h"
#include "board/perft.h"
#include "search/threads.h"
#include "tablebase/tablebase.h"
#include "test_util.h"
#include "uci/engine.h"
#include "uci/options.h"

namespace {

// Commands a fuzz run must not send: they end the run, start long work or
// read files from fixed paths.
bool isHarmless(const std::string& line) {
    std::istringstream words(line);
    std::string command, word, name, value;
    words >> command;
    for (const char* banned : {"quit", "go", "rtest", "rtestRFC", "texel", "evil"})
        if (command == banned) return false;
    long v;
    // A perft depth that is refused keeps the previous one, which is small.
    if (command == "perft") return !(words >> word) || !readInteger(word, v) || v <= 3 || v > MAX_PERFT_DEPTH;
    if (command != "setoption") return true;
    // The option's own parsing: skip one word, name up to "value".
    words >> word;
    while (words >> word && word != "value") name += (name.empty() ? "" : " ") + word;
    while (words >> word) value += (value.empty() ? "" : " ") + word;
    if (name == "Hash") return !readInteger(value, v) || v <= 64;
    return name != "Threads" || !readInteger(value, v) || v <= 8;
}

struct LineMaker {
    explicit LineMaker(u64 seed) : rng(seed), scratch(START_FEN) {}

    // A harmless command line, never containing a line break.
    std::string next() {
        for (;;) {
            const std::string line = chance(25) ? mutate(fresh()) : fresh();
            if (isHarmless(line)) return line;
        }
    }

    std::mt19937_64 rng;
    TestPosition scratch;

    int pick(int n) { return int(rng() % u64(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    template <class T>
    const T& oneOf(const std::vector<T>& v) { return v[pick(int(v.size()))]; }

    // Random legal moves from the FEN, " e2e4 e7e5..."; the scratch position
    // ends where they lead.
    std::string game(const std::string& fen, int plies) {
        std::string moves;
        if (!setPositionFromFen(fen, *scratch)) return moves;
        for (int i = 0; i < plies; i++) {
            const std::vector<std::string> legal = legalMoveTexts(*scratch);
            if (legal.empty()) break;
            const std::string& text = oneOf(legal);
            playText(*scratch, text);
            moves += " " + text;
        }
        return moves;
    }

    std::string gameFen() {
        game(chance(30) ? chess960StartFen(pick(960)) : std::string(START_FEN), pick(80));
        return positionToFen(*scratch);
    }

    std::string number() {
        static const std::vector<std::string> oddValues = {
            "0", "1", "-1", "2", "3", "8", "16", "64", "65", "100", "101", "127", "128", "255", "256", "1000",
            "60000", "60001", "2147483647", "2147483648", "-2147483649", "9223372036854775808",
            "99999999999999999999999", "-99999999999999999999999", "+7", "007", "0x10", "1e3", "-0", "abc", "",
            "-", "+", "3.5", "\t4"};
        return chance(50) ? oneOf(oddValues) : std::to_string(pick(2001) - 1000);
    }

    std::string word() {
        static const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-/<>.";
        std::string w;
        for (int n = 1 + pick(12); n > 0; n--) w += letters[pick(int(letters.size()))];
        return w;
    }

    // Coordinates (with a promotion letter now and then) or any word.
    std::string moveWord() {
        if (chance(40)) return word();
        std::string w = {char('a' + pick(8)), char('1' + pick(8)), char('a' + pick(8)), char('1' + pick(8))};
        if (chance(20)) w += "nbrqkpx"[pick(7)];
        return w;
    }

    std::string fenGarbage() {
        static const std::string alphabet = "pnbrqkPNBRQK12345678/";
        std::string placement;
        for (int n = pick(80); n > 0; n--) placement += alphabet[pick(int(alphabet.size()))];
        static const std::vector<std::string> sides = {"w", "b", "x", "", "W", "wb"};
        static const std::vector<std::string> rights = {"-", "KQkq", "K", "q", "HAha", "BGbg", "Kk", "AHah", "Zz", ""};
        static const std::vector<std::string> eps = {"-", "e3", "d6", "a1", "h8", "e9", "zz", "e", ""};
        return placement + " " + oneOf(sides) + " " + oneOf(rights) + " " + oneOf(eps) + " " + number() + " " + number();
    }

    std::string positionLine() {
        // FENs cut short come from mutate().
        switch (pick(7)) {
        case 0:
            return "position startpos" + (chance(85) ? " moves" + game(START_FEN, pick(120)) : "");
        case 1: {
            const std::string fen = gameFen();
            return "position fen " + fen + (chance(70) ? " moves" + game(fen, pick(40)) : "");
        }
        case 2:
            return "position fen " + fenGarbage() + (chance(50) ? " moves" + game(START_FEN, pick(4)) : "");
        case 3: {
            std::string line = chance(50) ? "position startpos moves" : "position fen " + gameFen() + " moves";
            for (int n = pick(12); n > 0; n--) line += " " + moveWord();
            return line;
        }
        case 4: {
            // Long games: knights to and fro past the end of the key history.
            std::string line = chance(50) ? std::string("position startpos moves")
                                          : "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - " +
                                                number() + " " + number() + " moves";
            for (int n = 100 + pick(400); n > 0; n--) line += " g1f3 g8f6 f3g1 f6g8";
            return line;
        }
        case 5: {
            static const std::vector<std::string> odd = {
                "position", "position moves e2e4", "position fen", "position fen moves", "position startpos e2e4 e7e5",
                "position startpos moves", "position fen 8/8/8/8/8/8/8/8 w - - 0 1", "position  startpos   moves  e2e4",
                "position fen 4k3/8/8/8/8/8/8/4K3 w - - 0 1 moves e1e2 e8e7", "position startpos moves e2e4 moves e7e5",
                "position fen 4k3/4P3/8/8/8/8/8/4K3 b - - 0 1", "position fen k7/8/8/8/8/8/8/KQQQQQQQ w - - 0 1",
                "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1 extra words"};
            return oneOf(odd);
        }
        default: {  // a good FEN with one field replaced or dropped
            std::istringstream in(gameFen());
            std::vector<std::string> fields{std::istream_iterator<std::string>(in), {}};
            const int at = pick(int(fields.size()));
            fields[at] = chance(50) ? "" : chance(50) ? number() : word();
            std::string line = "position fen";
            for (const std::string& f : fields) line += f.empty() ? "" : " " + f;
            return line;
        }
        }
    }

    std::string setoptionLine() {
        static const std::vector<std::string> names = {
            "Hash", "Threads", "Ponder", "MoveOverhead", "SyzygyPath", "SyzygyProbeDepth", "WindowsNumaNode",
            "NetFile", "UCI_Chess960", "UCI_Chess960", "Move Overhead", "hash", "", "value"};
        static const std::vector<std::string> values = {"true", "false", "True", "<empty>", "", "value"};
        const std::string name = chance(90) ? oneOf(names) : word();
        const std::string value = chance(60) ? number() : chance(70) ? oneOf(values) : word();
        // Mostly well formed; else without "value", its argument or "name".
        const std::string forms[] = {"setoption name " + name + " value " + value, "setoption name " + name,
                                     "setoption " + name + " value " + value, "setoption name " + name + " value"};
        return forms[std::max(0, pick(6) - 2)];
    }

    std::string randomBytes() {
        std::string s(size_t(pick(200)), ' ');
        for (char& c : s) c = char(1 + pick(255));
        std::replace(s.begin(), s.end(), '\n', ' ');
        return s;
    }

    // A huge number, option name or game, or a line without any blank.
    std::string longLine() {
        static const std::vector<std::pair<std::string, std::string>> parts = {
            {"perft ", "9"}, {"setoption name", " Hash x"}, {"position startpos moves e2e4", " e7e5"}, {"", "x"}};
        const auto& [head, piece] = oneOf(parts);
        std::string s = head;
        for (int n = 0; n < 4000; n++) s += piece;
        return s;
    }

    std::string fresh() {
        const int r = pick(100);
        if (r < 40) return positionLine();
        if (r < 55) return setoptionLine();
        if (r < 62) return "perft " + (chance(70) ? std::to_string(1 + pick(2)) : chance(20) ? "3" : number());
        if (r < 66) return "perft";
        if (r < 72) return "showboard";
        if (r < 76) return "isready";
        if (r < 78) return "ucinewgame";
        if (r < 79) return chance(30) ? "hashstats" : "uci";
        if (r < 82) return oneOf(std::vector<std::string>{"help", "stop", "ponderhit", "", "   ", "\t"});
        if (r < 90) return randomBytes();
        if (r < 92) return longLine();
        return word() + (chance(50) ? " " + word() : "");
    }

    std::string mutate(std::string line) {
        for (int n = 1 + pick(3); n > 0; n--) {
            const size_t at = line.empty() ? 0 : size_t(pick(int(line.size())));
            const int kind = pick(6);
            if (kind == 0 && !line.empty()) line.erase(at, 1);
            if (kind == 1) line.insert(at, 1, " /0123456789abcdefghkqrnbpKQRNBPw-"[pick(34)]);
            if (kind == 2 && !line.empty()) line[at] = char(1 + pick(126));
            if (kind == 3) line.resize(at);
            if (kind == 4) line.insert(at, " " + number() + " ");
            if (kind == 5) line.insert(at, " " + moveWord() + " ");
        }
        std::replace(line.begin(), line.end(), '\n', ' ');
        return line;
    }
};

// Keeps the engine quiet and puts back the options a fuzz run may change.
struct QuietEngine {
    CapturedOutput quiet;
    QuietEngine() { initEngineForTests(); }
    ~QuietEngine() {
        for (const char* line : {"setoption name Hash value 16", "setoption name Threads value 1",
                                 "setoption name UCI_Chess960 value false", "setoption name MoveOverhead value 100",
                                 "setoption name Ponder value false", "setoption name SyzygyProbeDepth value 0",
                                 "setoption name WindowsNumaNode value 0", "position startpos"})
            executeCommand(line);
        netFileName = DEFAULT_NET_FILE;
        syzygyPath = "<empty>";
        stopSearch = false;
    }
};

}  // namespace

// In process the root position stays sound after every line; the binary
// reads the first 2000 lines and answers each "isready" and "ucinewgame".
TEST(FuzzTest, RandomCommandLines) {
    QuietEngine quiet;
    ASSERT_TRUE(executeCommand("perft 1"));  // bare "perft" must stay shallow
    LineMaker maker(20240611);
    std::string input = "setoption name Hash value 16\nperft 1\n";
    int unchanged = 0, changed = 0, readyReplies = 1;
    for (int i = 0; i < 4000; i++) {
        const std::string text = maker.next();
        SCOPED_TRACE("text " + std::to_string(i) + ": " + text.substr(0, 300));
        if (i < 2000) {
            std::string command;
            std::istringstream(text) >> command;
            input += text + "\n";
            readyReplies += command == "isready" || command == "ucinewgame";
        }
        const u64 keyBefore = rootPosition.key;
        ASSERT_TRUE(executeCommand(text));
        ASSERT_EQ(checkConsistency(rootPosition), "");
        const int us = rootPosition.sideToMove;
        ASSERT_LE(us, 1);
        ASSERT_EQ(rootPosition.plyStack[0].moveListBegin, rootMoveBuffer);
        ASSERT_EQ(bool(rootPosition.plyStack[0].inCheck), isInCheck(rootPosition));
        // The side not to move is never left in check.
        ASSERT_FALSE(isSquareAttacked(rootPosition, rootPosition.kingSquare(us ^ 1), us, rootPosition.occupancy()));
        if (text.rfind("position", 0) == 0) (rootPosition.key == keyBefore ? unchanged : changed)++;
    }
    // The mix reaches both outcomes of the position command.
    EXPECT_GT(unchanged, 100);
    EXPECT_GT(changed, 100);
    const std::vector<std::string> lines = splitLines(runEngine(input + "isready\n"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "readyok");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "readyok"), readyReplies);
}
