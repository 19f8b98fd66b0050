#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "board/attacks.h"
#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "search/tt.h"

void initEngineForTests() {
    static std::once_flag once;
    std::call_once(once, [] {
        initTables();
        ttSizeMb = 16;
        ttInit();
        setPositionFromFen(START_FEN, rootPosition);
    });
}

TestPosition::TestPosition(const std::string& fen)
    : pos(std::make_unique<Position>()), buffer(std::make_unique<Move[]>(MOVE_BUFFER_SIZE)) {
    initEngineForTests();
    pos->plyStack[0].moveListBegin = buffer.get();
    std::string error;
    EXPECT_TRUE(setPositionFromFen(fen, *pos, &error)) << fen << ": " << error;
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

std::string chess960StartFen(int index) {
    // Scharnagl numbering: bishops, queen, knights, then R K R in the gaps.
    std::array<char, 8> rank{};
    int n = index;
    rank[2 * (n % 4) + 1] = 'B', n /= 4;
    rank[2 * (n % 4)] = 'B', n /= 4;
    auto place = [&rank](char piece, int nth) {
        for (int f = 0; f < 8; f++)
            if (!rank[f] && nth-- == 0) {
                rank[f] = piece;
                return;
            }
    };
    place('Q', n % 6), n /= 6;
    static const int knights[10][2] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}};
    place('N', knights[n][1]);
    place('N', knights[n][0]);
    place('R', 0), place('K', 0), place('R', 0);
    std::string white(rank.begin(), rank.end()), black = white;
    for (char& c : black) c = char(c + ('a' - 'A'));
    std::string castling;
    for (int f = 7; f >= 0; f--)
        if (rank[f] == 'R') castling += char('A' + f);
    std::string lower = castling;
    for (char& c : lower) c = char(c + ('a' - 'A'));
    return black + "/pppppppp/8/8/8/8/PPPPPPPP/" + white + " w " + castling + lower + " - 0 1";
}

std::string runEngine(const std::string& input, const std::vector<std::string>& args) {
    char inName[] = "/tmp/velmora_inXXXXXX";
    const int fd = mkstemp(inName);
    EXPECT_GE(fd, 0);
    {
        std::ofstream in(inName);
        in << input;
    }
    close(fd);
    std::string command = std::string(VELMORA_BINARY);
    for (const std::string& a : args) command += " '" + a + "'";
    command += std::string(" < ") + inName;
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "engine exit status " << status;
    }
    unlink(inName);
    return output;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::string testData(const std::string& relative) { return std::string(VELMORA_TEST_DATA) + "/" + relative; }
