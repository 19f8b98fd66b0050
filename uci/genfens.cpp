#include "uci/genfens.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/fen.h"
#include "board/movegen.h"
#include "platform/clock.h"
#include "platform/output.h"
#include "search/openings.h"
#include "search/threads.h"
#include "search/tt.h"

namespace {

constexpr unsigned long long MAX_COUNT = 100000000;
// The data generator's openings: eight random plies from a start array. A
// book position is an opening already, so fewer plies only spread it.
constexpr int PLIES_FROM_START = 8;
constexpr int PLIES_FROM_BOOK = 4;
constexpr int HASH_MB = 16;
// Openings rejected in a row before giving up (a book of lopsided positions).
constexpr int MAX_REJECTED_IN_A_ROW = 10000;
constexpr int MALFORMED_REPORTED = 10;

void tell(const std::string& text) { say("info string genfens: " + text); }

// A whole unsigned decimal number; false for anything else (signs, text,
// more than 64 bits).
bool readUnsigned(const std::string& word, unsigned long long& out) {
    if (word.empty() || !std::isdigit(static_cast<unsigned char>(word[0]))) return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtoull(word.c_str(), &end, 10);
    return *end == 0 && errno == 0;
}

struct Request {
    unsigned long long count = 0;
    u64 seed = 0;
    std::string book;  // empty: none
    bool frc = false;
};

bool readRequest(std::istringstream& words, Request& r) {
    std::string word;
    if (!(words >> word) || !readUnsigned(word, r.count) || r.count == 0 || r.count > MAX_COUNT) {
        tell("the count must be a number from 1 to " + std::to_string(MAX_COUNT) + ", not '" + word +
             "'; usage: genfens N seed S book <file|None> [frc]");
        return false;
    }
    while (words >> word) {
        if (word == "seed") {
            std::string value;
            unsigned long long s;
            if (!(words >> value) || !readUnsigned(value, s)) {
                tell("the seed must be a number from 0 to 2^64-1, not '" + value + "'");
                return false;
            }
            r.seed = s;
        } else if (word == "book") {
            if (!(words >> r.book)) {
                tell("'book' needs a file name or None");
                return false;
            }
            std::string upper = r.book;
            for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
            if (upper == "NONE") r.book.clear();
        } else {
            std::string lower = word;
            for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
            if (lower == "frc" || lower == "chess960")
                r.frc = true;
            else
                tell("ignoring '" + word + "'");
        }
    }
    return true;
}

// The book's text and where its non-blank lines lie; lines are read as
// positions only when drawn, so that a book of millions costs no more than
// reading it.
struct Book {
    std::string name;
    std::string text;
    struct Line {
        size_t begin, length;
        long number;
        bool malformed;
    };
    std::vector<Line> lines;
    size_t malformed = 0;
};

bool readBook(const std::string& name, Book& book) {
    book.name = name;
    FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) {
        tell("cannot read book " + name + ": " + std::strerror(errno));
        return false;
    }
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) book.text.append(buffer, n);
    const bool failed = std::ferror(f);
    const int error = errno;
    std::fclose(f);
    if (failed) {
        tell("cannot read book " + name + ": " + std::strerror(error));
        return false;
    }
    long number = 0;
    for (size_t begin = 0; begin < book.text.size();) {
        size_t end = book.text.find('\n', begin);
        if (end == std::string::npos) end = book.text.size();
        number++;
        if (book.text.find_first_not_of(" \t\r", begin) < end) book.lines.push_back({begin, end - begin, number, false});
        begin = end + 1;
    }
    if (book.lines.empty()) {
        tell("book " + name + " holds no positions");
        return false;
    }
    return true;
}

// Sets `pos` from an EPD or FEN line: the four position fields, then the two
// counters where they follow (EPD operations are ignored).
bool setFromBookLine(const std::string& line, Position& pos, std::string& error) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string w; fields.size() < 6 && in >> w;) fields.push_back(w);
    if (fields.size() < 4) {
        error = "fewer than four fields";
        return false;
    }
    std::string fen = fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3];
    unsigned long long counter;
    const bool counters = fields.size() == 6 && readUnsigned(fields[4], counter) && readUnsigned(fields[5], counter);
    fen += counters ? " " + fields[4] + " " + fields[5] : " 0 1";
    return setPositionFromFen(fen, pos, &error);
}

Position openingPosition;
Move openingMoves[MOVE_BUFFER_SIZE];

// Sets the start of the next opening: a book line drawn at random (malformed
// ones are reported and drawn no more), a Chess960 array, or the standard
// start. False when the book has no usable line left.
bool setStart(const Request& r, Book& book, SplitMix& rng) {
    if (r.book.empty()) {
        const std::string fen = r.frc ? chess960StartFen(int(rng.below(960))) : std::string(START_FEN);
        return setPositionFromFen(fen, openingPosition);
    }
    for (;;) {
        if (book.malformed == book.lines.size()) {
            tell("book " + book.name + " holds no usable position");
            return false;
        }
        Book::Line& line = book.lines[rng.below(book.lines.size())];
        if (line.malformed) continue;
        std::string error;
        if (setFromBookLine(book.text.substr(line.begin, line.length), openingPosition, error)) return true;
        line.malformed = true;
        if (book.malformed++ < MALFORMED_REPORTED)
            tell("book " + book.name + " line " + std::to_string(line.number) + " skipped: " + error);
        else if (book.malformed == MALFORMED_REPORTED + 1)
            tell("book " + book.name + ": further malformed lines are skipped without a word");
    }
}

// The en-passant field names a square only where the capture is legal, as
// match runners write their FEN tags, so that a game's start reads back as
// the opening given.
std::string openingFen() {
    std::string fen = positionToFen(openingPosition);
    const int n = legalMoveCount(openingPosition, openingMoves);
    for (int i = 0; i < n; i++)
        if (openingMoves[i].flag == FLAG_EP) return fen;
    std::istringstream in(fen);
    std::string field[6];
    for (std::string& f : field) in >> f;
    return field[0] + " " + field[1] + " " + field[2] + " - " + field[4] + " " + field[5];
}

void generate(const Request& r, Book& book) {
    OpeningRules rules;
    rules.randomPlies = r.book.empty() ? PLIES_FROM_START : PLIES_FROM_BOOK;
    SplitMix rng(r.seed);
    const i64 start = nowMs();
    unsigned long long made = 0, rejected = 0;
    int inARow = 0;
    while (made < r.count) {
        if (!setStart(r, book, rng)) return;
        openingPosition.plyStack[0].moveListBegin = openingMoves;
        if (!playRandomOpening(openingPosition, openingMoves, rules, rng)) {
            rejected++;
            if (++inARow == MAX_REJECTED_IN_A_ROW) {
                tell(std::to_string(inARow) + " openings in a row were out of balance or ended the game; stopped");
                return;
            }
            continue;
        }
        inARow = 0;
        made++;
        say("info string genfens " + openingFen());
    }
    tell(std::to_string(made) + " positions, " + std::to_string(rejected) + " openings rejected, " +
         std::to_string(nowMs() - start) + " ms");
}

}  // namespace

void genfensCommand(std::istringstream& words) {
    Request r;
    if (!readRequest(words, r)) return;
    Book book;
    if (!r.book.empty() && !readBook(r.book, book)) return;
    finishSearch();
    const bool wasChess960 = chess960;
    chess960 = r.frc;  // the book's castling letters read as the variant's
    {
        // Nothing a later search reads may change: the openings' searches get
        // a table of their own, and the first thread's histories come back.
        TTLoan table(HASH_MB);
        if (!table.granted()) {
            tell("no memory for a " + std::to_string(HASH_MB) + " MB hash table");
        } else {
            worker& t = *threads[0];
            std::vector<char> saved(2 * sizeof(ContinuationHistory));
            std::memcpy(saved.data(), t.followUpHistory, sizeof(ContinuationHistory));
            std::memcpy(saved.data() + sizeof(ContinuationHistory), t.counterMoveHistory, sizeof(ContinuationHistory));
            t.clearHistories();
            generate(r, book);
            std::memcpy(t.followUpHistory, saved.data(), sizeof(ContinuationHistory));
            std::memcpy(t.counterMoveHistory, saved.data() + sizeof(ContinuationHistory), sizeof(ContinuationHistory));
        }
    }
    chess960 = wasChess960;
}
