// The Texel tuner: the worker slices, loading with network targets, the K
// search, the local search, the printed tables read back, and the command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "eval/evaluate.h"
#include "eval/nnue.h"
#include "eval/weights.h"
#include "test_util.h"
#include "tuning/texel.h"

namespace {

using Lines = std::vector<std::string>;

// Quiet output, no records or parameters, the bootstrap network; restored after.
class Tuner : public ::testing::Test {
protected:
    void SetUp() override {
        initEngineForTests();
        useBootstrapNetwork();
        std::memcpy(savedValues, pieceValue, sizeof savedValues);
        std::memcpy(savedSquares, pieceSquareScore, sizeof savedSquares);
        tuningRecords.clear();
        clearTuningParameters();
        savedK = texelK;
    }
    void TearDown() override {
        setTexelWorkerCount(0);
        tuningRecords.clear();
        clearTuningParameters();
        texelK = savedK;
        std::memcpy(pieceValue, savedValues, sizeof savedValues);
        std::memcpy(pieceSquareScore, savedSquares, sizeof savedSquares);
        netLoaded = true;
    }

    // Targets that the tables as they stand meet exactly at K.
    static void targetsFromEvaluation(double k) {
        for (TuningRecord& r : tuningRecords) {
            TestPosition tp(r.fen, true);
            const int e = evaluate(0, *tp);
            r.target = 1.0 / (1.0 + std::exp(-k * (tp->sideToMove == WHITE ? e : -e) / 400.0));
        }
    }

    CapturedOutput quiet;
    Score savedValues[6];
    Score savedSquares[6][NOFSQUARES];
    double savedK = 0;
};

TEST(TexelShares, SlicesCoverTheRecordsOnce) {
    struct Case {
        int workers;
        size_t records;
        std::vector<std::pair<size_t, size_t>> shares;
    };
    const Case cases[] = {
        {4, 10, {{0, 2}, {2, 4}, {4, 6}, {6, 10}}},
        {3, 10, {{0, 3}, {3, 6}, {6, 10}}},
        {4, 3, {{0, 0}, {0, 0}, {0, 0}, {0, 3}}},
    };
    for (const Case& c : cases)
        for (int i = 0; i < c.workers; i++)
            EXPECT_EQ(workerShare(i, c.workers, c.records), c.shares[size_t(i)]) << c.workers << " workers, " << i;
}

// The sample holds 22 good positions and three bad lines (no c9, no result,
// a nine-square rank); without a network no record is kept. The targets are
// White-relative.
TEST_F(Tuner, LoadingKeepsWhiteRelativeNetworkTargetsAndSkipsBadLines) {
    for (const bool network : {false, true}) {
        tuningRecords.clear();
        netLoaded = network;
        const TuningLoad load = loadTuningFile(testData("lichess-good.epd"));
        EXPECT_TRUE(load.opened);
        EXPECT_EQ(load.skipped, 3u);
        EXPECT_EQ(load.kept, network ? 22u : 0u) << "network " << network;
        EXPECT_EQ(load.notKept, network ? 0u : 22u);
        EXPECT_EQ(tuningRecords.size(), load.kept);
    }
    EXPECT_FALSE(loadTuningFile("/nonexistent/lichess-good.epd").opened);

    // The same rook-down position with the colours exchanged: the targets
    // add up to one, and White's is below one half.
    tuningRecords.clear();
    const TempDir dir;
    std::ofstream(dir / "colours.epd") << "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/1NBQKBNR w Kkq - c9 \"0-1\";\n"
                                          "1nbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQk - c9 \"1-0\";\n";
    ASSERT_EQ(loadTuningFile(dir / "colours.epd").kept, 2u);
    EXPECT_LT(tuningRecords[0].target, 0.4);
    EXPECT_GT(tuningRecords[0].target, 0.01) << "a rook down is a clear loss, not a certain one";
    EXPECT_NEAR(tuningRecords[0].target + tuningRecords[1].target, 1.0, 1e-9);
}

TEST_F(Tuner, KSearchFindsTheScaleOfTheTargets) {
    ASSERT_EQ(loadTuningFile(testData("lichess-good.epd")).kept, 22u);
    // The error passes reuse each record's network score: a zero error below
    // needs network-evaluated records among them.
    const auto networkRecords = std::count_if(tuningRecords.begin(), tuningRecords.end(),
                                              [](const TuningRecord& r) { return networkEvaluates(*TestPosition(r.fen)); });
    EXPECT_GT(networkRecords, 10);
    setTexelWorkerCount(3);
    // 2.7 lies beyond the first round's range 0..2: the range must follow.
    for (const double k : {0.35, 1.2345, 2.7}) {
        targetsFromEvaluation(k);
        EXPECT_NEAR(findOptimalK(), k, 2e-4);
        EXPECT_NEAR(runAllWorkers(), 0.0, 1e-9);
    }
}

// Hand-evaluated positions with a rook on a1 or a8 (rook table entry 56,
// first of the registered range): the planted change must be undone.
TEST_F(Tuner, LocalSearchUndoesAPlantedChange) {
    for (const char* fen : {"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", "r5k1/5ppp/8/8/8/8/5PPP/6K1 b - - 0 1",
                            "1nbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQk - 0 1",
                            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/1NBQKBNR b Kkq - 0 1"}) {
        TestPosition tp(fen);
        ASSERT_FALSE(networkEvaluates(*tp)) << fen;
        tuningRecords.push_back(makeTuningRecord(*tp, fen, 0.0, 0));  // no network score: hand-evaluated
    }
    Score* rookRank = &pieceSquareScore[ROOK_T][56];
    const std::pair<TuningParameter, Score> cases[] = {  // the parameter, the change planted into its rook entry
        {{"middle game", rookRank, 8, 11, 2, true, true, false, false}, X(3, 0)},
        {{"end game", rookRank, 8, 11, 1, true, false, false, false}, X(0, -2)},
        {{"mirrored", rookRank, 8, 11, 0, true, true, true, false}, X(-1, 0)},
        {{"piece value", &pieceValue[KNIGHT_T], 4, 9, 3, true, true, false, false}, X(5, 0)},
    };
    setTexelWorkerCount(2);
    texelK = 1.1;
    for (const auto& [parameter, plant] : cases) {
        SCOPED_TRACE(parameter.name);
        std::memcpy(pieceSquareScore, savedSquares, sizeof savedSquares);
        if (parameter.mirrored)
            for (int i = 0; i < 4; i++) rookRank[i ^ 7] = rookRank[i];
        targetsFromEvaluation(texelK);
        Score* values = parameter.values;
        const std::vector<Score> good(values, values + parameter.count);
        const int planted = parameter.kind == 9 ? ROOK_T - KNIGHT_T : 0;
        values[planted] += plant;
        if (parameter.mirrored) values[planted ^ 7] += plant;
        clearTuningParameters();
        addTuningParameter(parameter);
        ASSERT_GT(runAllWorkers(), 1e-9) << "the plant must show in the error";

        EXPECT_NEAR(localSearch(), 0.0, 1e-12);
        EXPECT_EQ(std::vector<Score>(values, values + parameter.count), good);
    }
}

// Rook-down openings with drawn targets: the registered tables may only move
// the end-game halves, never the middle-game balance that hands a position
// to the network (whose kept score, 0, would meet the target for free).
// Middle-game positions keep the run short: end-game steps barely move them.
TEST_F(Tuner, RegisteredTablesNeverMoveTheHandOver) {
    std::vector<int> balances;
    for (const char* fen : {"1nbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQk - 0 1",
                            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/1NBQKBNR b Kkq - 0 1"}) {
        TestPosition tp(fen);
        ASSERT_FALSE(networkEvaluates(*tp)) << fen;
        tuningRecords.push_back(makeTuningRecord(*tp, fen, 0.5, 0));
        balances.push_back(middleGameBalance(*tp));
    }
    registerEvaluationTables();
    setTexelWorkerCount(2);
    localSearch();
    for (size_t i = 0; i < tuningRecords.size(); i++) {
        TestPosition tp(tuningRecords[i].fen);
        EXPECT_EQ(middleGameBalance(*tp), balances[i]);
    }
}

// All numbers of a printed table after its head, X(a, b) pairs as two.
std::vector<int> numbersAfter(const std::string& text, const std::string& head) {
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    std::vector<int> numbers;
    const std::string body = text.substr(std::min(head.size(), text.size()));
    const std::regex number("-?[0-9]+");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), number); it != std::sregex_iterator(); ++it)
        numbers.push_back(std::stoi(it->str()));
    return numbers;
}

TEST_F(Tuner, RegisteredTablesPrintAsTheEvaluationTables) {
    registerEvaluationTables();
    pieceSquareScore[KNIGHT_T][27] += X(-7, 4);  // something besides the shipped values
    pieceValue[BISHOP_T] += X(3, -2);
    const std::string text = tableText();
    const std::string psqHead = "TCONST combEval pieceSquareScore[6][NOFSQUARES] = ";
    const size_t split = text.find(psqHead);
    ASSERT_NE(split, std::string::npos);
    EXPECT_EQ(text.find(psqHead, split + 1), std::string::npos) << "printed once, not once per half";

    std::vector<int> values, squares;
    for (const Score s : pieceValue) values.insert(values.end(), {mgScore(s), egScore(s)});
    for (const auto& row : pieceSquareScore)
        for (const Score s : row) squares.insert(squares.end(), {mgScore(s), egScore(s)});
    EXPECT_EQ(numbersAfter(text.substr(0, split), "TCONST combEval pieceValue[6] = "), values);
    EXPECT_EQ(numbersAfter(text.substr(split), psqHead), squares);
}

// The command through the engine binary, in a working directory of its own.
TEST(TexelCommand, RunsOrExplainsWhyNot) {
    struct Case {
        const char* fileText;  // nullptr: no tuning file
        std::string command;
        Lines present, absent;
    };
    const std::string sampleText = readFile(testData("lichess-good.epd"));
    const Case cases[] = {
        {nullptr, "texel abc",
         {"info string texel: 'abc' is neither a thread count nor 'empty'; ignored",
          "There seems to be a problem with the tuning file. tuning not executed"},
         {"Starting texel tuning...."}},
        {"no marker here\nrnbqkbnr/8/8 w - - c9 \"1-0\";\n", "texel 2",
         {"info string no tuning positions: nothing to tune"},
         {"Starting texel tuning....", "Lets go"}},
        {sampleText.c_str(), "texel 2 empty",
         {"Lets go", "Starting texel tuning....", " Improving: 1"},
         {" Improving: 2", "TCONST combEval pieceValue[6] = "}},
    };
    const std::filesystem::path home = std::filesystem::current_path();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const TempDir dir;
        if (c.fileText) std::ofstream(dir / "lichess-good.epd") << c.fileText;
        std::filesystem::current_path(dir.path);
        const Lines lines = splitLines(runEngine(c.command + "\nisready\n"));
        std::filesystem::current_path(home);
        auto has = [&lines](const std::string& l) { return std::count(lines.begin(), lines.end(), l); };
        for (const std::string& l : c.present) EXPECT_GE(has(l), 1) << l;
        for (const std::string& l : c.absent) EXPECT_EQ(has(l), 0) << l;
        EXPECT_EQ(lines.back(), "readyok");
    }
}

}  // namespace
