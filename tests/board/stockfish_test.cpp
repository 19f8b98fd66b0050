// The legal move generator against Stockfish: for positions from random
// games its "go perft 1" lists must be exactly our legal moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "perft_suite.h"

namespace {

// One position as we see it: its FEN and our legal moves (sorted).
struct Listed {
    std::string fen;
    std::vector<std::string> moves;
};

// The move lines of each "go perft 1", sorted, up to its "Nodes searched".
std::vector<std::vector<std::string>> askStockfish(const std::string& exe, const std::vector<Listed>& samples,
                                                   bool frc) {
    std::string input = frc ? "setoption name UCI_Chess960 value true\n" : "";
    for (const Listed& s : samples) input += "position fen " + s.fen + "\ngo perft 1\n";
    std::vector<std::vector<std::string>> answers;
    std::vector<std::string> current;
    for (const std::string& line : splitLines(runEngine(input + "quit\n", {}, exe))) {
        if (line.rfind("Nodes searched: ", 0) == 0) {
            std::sort(current.begin(), current.end());
            answers.push_back(std::move(current));
            current.clear();
        }
        const size_t colon = line.find(": ");
        if ((colon == 4 || colon == 5) && line[0] >= 'a' && line[0] <= 'h' && line[1] >= '1' && line[1] <= '8')
            current.push_back(line.substr(0, colon));
    }
    return answers;
}

// Samples in check, with castling, en passant, promotion, no legal move.
using Coverage = std::array<int, 5>;

// One move of a "lively" game, half of the time a double step, en passant,
// promotion or castling. False, ending the game, at mate or stalemate and
// now and then where a rare move is on offer.
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

// Random games of 0..120 plies (half of them lively) from drawn starts,
// until `count` distinct final positions.
std::vector<Listed> makeSamples(const std::function<std::string(std::mt19937_64&)>& pickStart, size_t count,
                                u64 seed, Coverage& cov) {
    std::mt19937_64 rng(seed);
    TestPosition game(START_FEN), reread(START_FEN);
    std::vector<Listed> samples;
    std::set<std::string> seen;
    for (size_t i = 0; samples.size() < count && i < 4 * count; i++) {
        const std::string start = pickStart(rng);
        EXPECT_TRUE(setPositionFromFen(start, *game)) << start;
        const int plies = int(rng() % 121);
        for (int ply = 0; ply < plies; ply++) {
            if (i % 2 == 1) playRandomMoves(*game, 1, rng);
            else if (!livelyMove(*game, rng)) break;
        }
        Listed s{positionToFen(*game), legalMoveTexts(*game)};
        if (!seen.insert(s.fen).second) continue;
        const Move* begin = game->plyStack[0].moveListBegin;
        const Move* end = game->plyStack[0].moveListEnd;
        cov[0] += game->plyStack[0].inCheck != 0;
        cov[1] += std::any_of(begin, end, [](Move m) { return isCastling(m.flag); });
        cov[2] += std::any_of(begin, end, [](Move m) { return m.flag == FLAG_EP; });
        cov[3] += std::any_of(begin, end, [](Move m) { return isPromotion(m.flag); });
        cov[4] += begin == end;
        // The FEN must carry everything the generator depends on.
        EXPECT_TRUE(setPositionFromFen(s.fen, *reread)) << s.fen;
        EXPECT_EQ(legalMoveTexts(*reread), s.moves) << "re-read FEN " << s.fen;
        EXPECT_EQ(positionToFen(*reread), s.fen);
        samples.push_back(std::move(s));
    }
    return samples;
}

}  // namespace

// Games from the perft suites' positions and start positions; each batch
// must reach every special case often enough.
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
    } cases[] = {{false, "standard.txt", 3000, 0x5eed0001, {100, 100, 60, 150, 40}},
                 {true, "chess960.txt", 1500, 0x5eed0960, {35, 180, 35, 30, 5}}};
    for (const auto& c : cases) {
        Chess960Mode mode(c.frc);
        std::vector<std::string> fromFile;  // the suite's positions themselves: the perft tests
        for (const PerftCase& p : readPerftSuite(c.file)) fromFile.push_back(p.fen);
        auto pick = [&](std::mt19937_64& rng) {
            const bool fileFen = (rng() % 3 == 0) == c.frc;
            return fileFen ? fromFile[rng() % fromFile.size()] : c.frc ? chess960StartFen(int(rng() % 960)) : START_FEN;
        };
        Coverage cov{};
        const std::vector<Listed> samples = makeSamples(pick, c.count, c.seed, cov);
        const auto answers = askStockfish(exe, samples, c.frc);
        ASSERT_EQ(answers.size(), samples.size()) << "Stockfish did not answer every position";
        int mismatches = 0;
        for (size_t i = 0; i < samples.size(); i++)
            if (answers[i] != samples[i].moves && ++mismatches <= 8)
                ADD_FAILURE() << samples[i].fen << "\n  Stockfish: " << testing::PrintToString(answers[i])
                              << "\n  ours:      " << testing::PrintToString(samples[i].moves);
        EXPECT_EQ(mismatches, 0) << c.file;
        for (size_t k = 0; k < cov.size(); k++) EXPECT_GE(cov[k], c.least[k]) << c.file << " special case " << k;
    }
}
