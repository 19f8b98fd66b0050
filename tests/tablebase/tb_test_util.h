// Helpers of the tablebase tests (header only, shared by the fast and slow
// tests): the probe vectors and root-move lists, positions from FEN and at
// random, captured output and scratch table directories.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/fen.h"
#include "platform/output.h"
#include "tablebase/tablebase.h"
#include "test_util.h"

// "FEN;wdl;dtz" lines.
struct TbVector {
    std::string fen;
    int wdl;
    int dtz;
};

inline std::vector<TbVector> readTbVectors(const std::string& path) {
    std::vector<TbVector> out;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (text.empty() || text[0] == '#') continue;
        const size_t a = text.find(';'), b = text.find(';', a + 1);
        out.push_back({text.substr(0, a), std::stoi(text.substr(a + 1, b - a - 1)), std::stoi(text.substr(b + 1))});
    }
    return out;
}

// "FEN;move move ..." lines: the DTZ-optimal root moves.
struct TbRootCase {
    std::string fen;
    std::vector<std::string> moves;
};

inline std::vector<TbRootCase> readTbRootCases(const std::string& path) {
    std::vector<TbRootCase> out;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (text.empty() || text[0] == '#') continue;
        const size_t a = text.find(';');
        TbRootCase c{text.substr(0, a), {}};
        std::istringstream moves(text.substr(a + 1));
        for (std::string m; moves >> m;) c.moves.push_back(m);
        out.push_back(c);
    }
    return out;
}

// The position of the FEN at ply 0 with the FEN's halfmove clock.
inline TbPosition tbPositionFromFen(const std::string& fen) {
    TestPosition p(fen);
    return tbFromPosition(*p, 0, p->rule50);
}

// Coordinate text of a tablebase move ("e7e8q").
inline std::string tbMoveText(TbMove move) {
    std::string text = squareText(tbFrom(move)) + squareText(tbTo(move));
    if (tbPromotion(move)) text += " pnbrqk"[tbPromotion(move)];
    return text;
}

// Number of men in the FEN's board field.
inline int fenMen(const std::string& fen) {
    int men = 0;
    for (char c : fen.substr(0, fen.find(' '))) men += std::isalpha(static_cast<unsigned char>(c)) != 0;
    return men;
}

// The 3- and 4-man tables kept with the tests, and the shared directory that
// also holds 5-man tables (absent on some machines).
inline std::string smallTablesDir() { return testData("syzygy/tables"); }
inline std::string sharedTablesDir() { return std::string(VELMORA_SHARED_DATA) + "/syzygy"; }

// FEN of a TbPosition (no castling; the en-passant field from epSquare).
inline std::string tbToFen(const TbPosition& p) {
    std::string fen;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            const int sq = 8 * rank + file, type = tbTypeOn(p, sq);
            if (!type) {
                empty++;
                continue;
            }
            if (empty) fen += char('0' + empty), empty = 0;
            const char letter = " PNBRQK"[type];
            fen += (p.black & bit(sq)) ? char(std::tolower(letter)) : letter;
        }
        if (empty) fen += char('0' + empty);
        if (rank) fen += '/';
    }
    fen += p.whiteToMove ? " w - " : " b - ";
    fen += p.epSquare ? squareText(p.epSquare) : "-";
    return fen + " " + std::to_string(p.rule50) + " 1";
}

// A random legal position of the material ("KRPvKR": the first side
// White), side to move at random, no en passant, counter 0.
inline TbPosition randomTbPosition(const std::string& material, std::mt19937_64& rng) {
    for (;;) {
        TbPosition p{};
        p.whiteToMove = rng() & 1;
        int colour = WHITE;
        bool ok = true;
        for (char c : material) {
            if (c == 'v') {
                colour = BLACK;
                continue;
            }
            const int type = int(std::string(" PNBRQK").find(c));
            int sq;
            do sq = int(rng() % 64);
            while (tbOccupied(p) & bit(sq));
            if (type == TB_PAWN && (sq < 8 || sq >= 56)) ok = false;
            (colour == WHITE ? p.white : p.black) |= bit(sq);
            switch (type) {
            case TB_PAWN: p.pawns |= bit(sq); break;
            case TB_KNIGHT: p.knights |= bit(sq); break;
            case TB_BISHOP: p.bishops |= bit(sq); break;
            case TB_ROOK: p.rooks |= bit(sq); break;
            case TB_QUEEN: p.queens |= bit(sq); break;
            default: p.kings |= bit(sq); break;
            }
        }
        if (ok && tbIsValid(p)) return p;
    }
}

// The same position with the colours exchanged and the board turned round.
inline TbPosition tbMirror(const TbPosition& p) {
    auto flip = [](u64 b) { return __builtin_bswap64(b); };
    TbPosition m = p;
    m.white = flip(p.black);
    m.black = flip(p.white);
    m.kings = flip(p.kings);
    m.queens = flip(p.queens);
    m.rooks = flip(p.rooks);
    m.bishops = flip(p.bishops);
    m.knights = flip(p.knights);
    m.pawns = flip(p.pawns);
    m.epSquare = p.epSquare ? u8(p.epSquare ^ 56) : 0;
    m.whiteToMove = !p.whiteToMove;
    return m;
}

// Collects what the engine prints with say() while alive.
class CapturedOutput {
public:
    CapturedOutput() : file_(std::tmpfile()) { setOutputStream(file_); }
    ~CapturedOutput() {
        setOutputStream(nullptr);
        std::fclose(file_);
    }
    std::string text() {
        std::fflush(file_);
        std::rewind(file_);
        std::string out;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) out.append(buffer, n);
        return out;
    }

private:
    FILE* file_;
};

// A scratch directory under the system's temporary directory, removed at the end.
class TempTableDir {
public:
    explicit TempTableDir(const std::string& tag) {
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("velmora-tb-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempTableDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string path() const { return path_.string(); }
    // Copies a table file from the test tables, optionally under another name.
    void copy(const std::string& file, const std::string& as = "") const {
        std::filesystem::copy_file(smallTablesDir() + "/" + file, path_ / (as.empty() ? file : as),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    std::vector<unsigned char> read(const std::string& file) const {
        std::ifstream in(path_ / file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void write(const std::string& file, const std::vector<unsigned char>& bytes) const {
        std::ofstream out(path_ / file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

private:
    std::filesystem::path path_;
};
