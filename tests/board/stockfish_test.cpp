// The legal move generator against Stockfish as an independent reference.
// Thousands of positions from random games are written as FEN and given to
// one Stockfish process; its "go perft 1" lists the legal moves, which must
// be exactly ours (deeper counts: the perft suites).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "board/perft.h"
#include "test_util.h"

namespace {

// Root moves with their leaf counts, as "go perft" prints them.
using Divide = std::map<std::string, u64>;

struct Answer {
    Divide divide;
    u64 nodes = 0;
};

// One position as we see it, and the question put to Stockfish about it.
struct Sample {
    std::string fen;
    std::vector<std::string> moves;  // legalMoveTexts
    u64 counted = 0;                 // countLegal
};

// One Stockfish process answers every sample, read from a file on stdin.
std::vector<Answer> askStockfish(const std::string& exe, const std::vector<Sample>& samples, bool frc) {
    std::string input = frc ? "setoption name UCI_Chess960 value true\n" : "";
    for (const Sample& s : samples) input += "position fen " + s.fen + "\ngo perft 1\n";
    const std::string output = runEngine(input + "quit\n", {}, exe);
    std::vector<Answer> answers;
    Answer current;
    for (const std::string& line : splitLines(output)) {
        if (line.rfind("Nodes searched: ", 0) == 0) {
            current.nodes = std::stoull(line.substr(16));
            answers.push_back(std::move(current));
            current = Answer{};
            continue;
        }
        const size_t colon = line.find(": ");
        const bool moveLine = (colon == 4 || colon == 5) && line[0] >= 'a' && line[0] <= 'h' && line[1] >= '1' &&
                              line[1] <= '8' && line[2] >= 'a' && line[2] <= 'h';
        if (moveLine) current.divide[line.substr(0, colon)] = std::stoull(line.substr(colon + 2));
    }
    return answers;
}

// The FEN field of each line of a perft data file ("FEN ;..." or "FEN;...").
std::vector<std::string> fensOf(const std::string& relative) {
    std::vector<std::string> fens;
    std::ifstream in(testData(relative));
    for (std::string line; std::getline(in, line);) {
        std::string fen = line.substr(0, line.find(';'));
        while (!fen.empty() && fen.back() == ' ') fen.pop_back();
        if (!fen.empty()) fens.push_back(fen);
    }
    EXPECT_FALSE(fens.empty()) << relative;
    return fens;
}

// How many samples exercise each special case; a batch that misses one of
// them proves little.
struct Coverage {
    int inCheck = 0, castling = 0, enPassant = 0, promotion = 0, noMoves = 0;
};

// One move of a "lively" game, steered towards the rarer move kinds: half of
// the time it picks among the double steps, en-passant captures, promotions
// and castlings when there are any. Returns false instead of moving (ending
// the game) at mate or stalemate, and now and then in a position that offers
// castling, en passant or a promotion.
bool livelyMove(Position& pos, std::mt19937_64& rng) {
    Move* begin = pos.plyStack[0].moveListBegin;
    generateLegal(0, begin, pos);
    std::vector<Move> all(begin, pos.plyStack[0].moveListEnd), special;
    for (Move m : all)
        if (m.flag >= FLAG_EP || isPromotion(m.flag)) special.push_back(m);
    const bool rare = std::any_of(special.begin(), special.end(), [](Move m) { return m.flag != FLAG_DOUBLE; });
    if (all.empty() || (rare && rng() % 4 == 0)) return false;
    const std::vector<Move>& from = !special.empty() && rng() % 2 ? special : all;
    playRootMove(pos, from[rng() % from.size()]);
    return true;
}

// The side that just moved left its king attacked: a move the generator
// should never have produced was played.
bool kingLeftAttacked(const Position& pos) {
    const int moved = pos.sideToMove ^ 1;
    return isSquareAttacked(pos, pos.kingSquare(moved), pos.sideToMove, pos.occupancy());
}

// Plays random games of 0..120 plies (half of them lively) from each start
// FEN once as it stands, then from starts drawn by `pickStart`, until there
// are `count` distinct final positions, and records what our generators say
// about each of them.
std::vector<Sample> makeSamples(const std::vector<std::string>& fixedStarts,
                                const std::function<std::string(std::mt19937_64&)>& pickStart, size_t count,
                                u64 seed, Coverage& cov) {
    std::mt19937_64 rng(seed);
    TestPosition game(START_FEN), reread(START_FEN);
    std::vector<Sample> samples;
    std::set<std::string> seen;
    int illegal = 0;
    for (size_t i = 0; samples.size() < count && i < 4 * count; i++) {
        const bool fixed = i < fixedStarts.size();
        const std::string start = fixed ? fixedStarts[i] : pickStart(rng);
        EXPECT_TRUE(setPositionFromFen(start, *game)) << start;
        const int plies = fixed ? 0 : int(rng() % 121);
        bool broken = false;
        for (int ply = 0; ply < plies && !broken; ply++) {
            const std::string before = positionToFen(*game);
            if (i % 2 == 0) {
                if (!livelyMove(*game, rng)) break;
            } else {
                playRandomMoves(*game, 1, rng);
            }
            broken = kingLeftAttacked(*game);
            if (broken && ++illegal <= 5) ADD_FAILURE() << "a generated move leaves the king attacked in " << before;
        }
        if (broken) continue;

        Sample s;
        s.fen = positionToFen(*game);
        if (!seen.insert(s.fen).second) continue;
        s.moves = legalMoveTexts(*game);
        Position& pos = *game;
        Move* begin = pos.plyStack[0].moveListBegin;
        Move* end = pos.plyStack[0].moveListEnd;
        cov.inCheck += pos.plyStack[0].inCheck != 0;
        cov.noMoves += begin == end;
        cov.castling += std::any_of(begin, end, [](Move m) { return isCastling(m.flag); });
        cov.enPassant += std::any_of(begin, end, [](Move m) { return m.flag == FLAG_EP; });
        cov.promotion += std::any_of(begin, end, [](Move m) { return isPromotion(m.flag); });

        s.counted = countLegal(0, begin, pos);

        // The FEN must carry everything the generator depends on, or a
        // difference from Stockfish would really be a FEN fault.
        EXPECT_TRUE(setPositionFromFen(s.fen, *reread)) << s.fen;
        EXPECT_EQ(legalMoveTexts(*reread), s.moves) << "re-read FEN " << s.fen;
        EXPECT_EQ(positionToFen(*reread), s.fen);
        samples.push_back(std::move(s));
    }
    return samples;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
    return text;
}

// Compares every sample with Stockfish's answer; reports the first few
// positions that differ with the moves missing from or extra in our list.
void compareWithStockfish(const std::string& exe, const std::vector<Sample>& samples, bool frc) {
    const std::vector<Answer> answers = askStockfish(exe, samples, frc);
    ASSERT_EQ(answers.size(), samples.size()) << "Stockfish did not answer every position";

    int mismatches = 0;
    std::ostringstream report;
    auto note = [&](const Sample& s, const std::string& what) {
        if (++mismatches <= 8) report << "\n  " << s.fen << ": " << what;
    };
    for (size_t i = 0; i < samples.size(); i++) {
        const Sample& s = samples[i];
        std::vector<std::string> theirs;
        for (const auto& [move, count] : answers[i].divide) theirs.push_back(move);  // map order is sorted
        if (theirs != s.moves) {
            std::vector<std::string> missing, extra;
            std::set_difference(theirs.begin(), theirs.end(), s.moves.begin(), s.moves.end(),
                                std::back_inserter(missing));
            std::set_difference(s.moves.begin(), s.moves.end(), theirs.begin(), theirs.end(),
                                std::back_inserter(extra));
            note(s, "missing [" + joined(missing) + "] extra [" + joined(extra) + "]");
            continue;
        }
        if (s.counted != s.moves.size())
            note(s, "countLegal " + std::to_string(s.counted) + " but " + std::to_string(s.moves.size()) + " moves");
    }
    EXPECT_EQ(mismatches, 0) << mismatches << " differences from Stockfish, first ones:" << report.str();
}

// Standard chess from the start position and the perft suite's positions;
// Chess960 from its suite and random start positions. Each batch must reach
// every special case often enough to prove something.
TEST(StockfishReference, RandomGamesHaveTheSameLegalMoves) {
    const std::string exe = findStockfish();
    if (exe.empty()) GTEST_SKIP() << NO_STOCKFISH;
    initEngineForTests();
    const struct {
        bool frc;
        const char* file;
        size_t count;
        u64 seed;
        Coverage least;
    } cases[] = {{false, "perft/standard.txt", 3000, 0x5eed0001, {100, 100, 60, 150, 40}},
                 {true, "perft/chess960.txt", 1500, 0x5eed0960, {35, 180, 35, 30, 5}}};
    for (const auto& c : cases) {
        Chess960Mode mode(c.frc);
        const std::vector<std::string> fromFile = fensOf(c.file);
        std::vector<std::string> starts = fromFile;
        for (int index : {0, 518, 959}) starts.push_back(c.frc ? chess960StartFen(index) : START_FEN);
        auto pick = [&](std::mt19937_64& rng) {
            const bool fileFen = (rng() % 3 == 0) == c.frc;
            return fileFen ? fromFile[rng() % fromFile.size()] : c.frc ? chess960StartFen(int(rng() % 960)) : START_FEN;
        };
        Coverage cov;
        const std::vector<Sample> samples = makeSamples(starts, pick, c.count, c.seed, cov);
        compareWithStockfish(exe, samples, c.frc);
        EXPECT_GE(cov.inCheck, c.least.inCheck) << c.file;
        EXPECT_GE(cov.castling, c.least.castling) << c.file;
        EXPECT_GE(cov.enPassant, c.least.enPassant) << c.file;
        EXPECT_GE(cov.promotion, c.least.promotion) << c.file;
        EXPECT_GE(cov.noMoves, c.least.noMoves) << c.file;
    }
}

}  // namespace
