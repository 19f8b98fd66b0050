// The network: loading, the feature index, the incremental accumulator, AVX2
// and AVX-512 against scalar, the output scale and the bootstrap network.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/netbuild.h"
#include "eval/nnue.h"
#include "test_util.h"

namespace {

std::string serialise(const NetworkParameters& net, const std::string& description = "test") {
    std::ostringstream out(std::ios::binary);
    writeNetwork(out, net, description);
    return out.str();
}

// Loads from bytes with the engine's output silenced.
bool loadBytes(const std::string& bytes, std::string* error = nullptr) {
    CapturedOutput quiet;
    std::istringstream in(bytes, std::ios::binary);
    return loadNetwork(in, error);
}

std::unique_ptr<NetworkParameters> randomNet(u64 seed, int range = 32) {
    auto net = std::make_unique<NetworkParameters>();
    buildRandomNetwork(*net, seed, range);
    return net;
}

// The accumulator as a plain sum over the pieces on the board.
void referenceAccumulator(const Position& pos, const NetworkParameters& net, i16 out[2][NET_HALF]) {
    for (int persp = 0; persp < 2; persp++) {
        for (int i = 0; i < NET_HALF; i++) out[persp][i] = net.ftBias[i];
        for (int s = 0; s < 64; s++) {
            if (!pos.board[s]) continue;
            const i16* row = net.ftWeights + size_t(featureIndex(persp, pos.kingSquare(persp), pos.board[s], s)) * NET_HALF;
            for (int i = 0; i < NET_HALF; i++) out[persp][i] = i16(out[persp][i] + row[i]);
        }
    }
}

}  // namespace

TEST(Network, FeatureIndexMirrorsForBlack) {
    EXPECT_EQ(featureIndex(BLACK, sq("e8"), BKING, sq("e8")), featureIndex(WHITE, sq("e1"), WKING, sq("e1")));
    EXPECT_EQ(featureIndex(BLACK, sq("g8"), BPAWN, sq("c7")), featureIndex(WHITE, sq("g1"), WPAWN, sq("c2")));
    EXPECT_EQ(featureIndex(BLACK, sq("g8"), WQUEEN, sq("a1")), featureIndex(WHITE, sq("g1"), BQUEEN, sq("a8")));
    // Own pieces first within a type; king square times 12 kinds times 64.
    EXPECT_EQ(featureIndex(WHITE, sq("a1"), WPAWN, sq("a1")), 0);
    EXPECT_EQ(featureIndex(WHITE, sq("a1"), BPAWN, sq("a1")), 64);
    EXPECT_EQ(featureIndex(WHITE, sq("b1"), WPAWN, sq("a1")), 12 * 64);
    EXPECT_EQ(featureIndex(WHITE, sq("h8"), BKING, sq("h8")), NET_FEATURES - 1);
}

// Bad files are refused with their reason and leave no network, yet
// overwrite nothing; a good file works at once.
TEST(Network, LoadingRefusesBadFilesAndKeepsTheNetworkInUse) {
    initEngineForTests();
    const std::string first = serialise(*randomNet(1), "");
    ASSERT_EQ(first.size(), NET_FILE_BYTES);
    ASSERT_TRUE(loadBytes(first));
    TestPosition p(START_FEN);
    const i16 before = nnue::evaluateScalar(*p, 0);

    auto other = randomNet(2);
    const std::string bytes = serialise(*other, "a description of some length");
    std::string huge = bytes;
    const u32 wild = 0xFFFFFFF0u;
    std::memcpy(huge.data() + 8, &wild, 4);
    const std::pair<std::string, std::string> bad[] = {
        {bytes.substr(0, bytes.size() - 1), "the file is truncated"},
        {bytes + "x", "the file is longer than a network"},
        {bytes.substr(0, 7), "the file ends inside its header"},
        {huge, ""},
        {"", ""},
    };
    for (const auto& [file, reason] : bad) {
        std::string why;
        EXPECT_FALSE(loadBytes(file, &why)) << reason;
        EXPECT_TRUE(reason.empty() || why == reason) << why;
        EXPECT_FALSE(netLoaded) << reason;
    }
    p->accumulators[0].computed = 0;
    EXPECT_EQ(nnue::evaluateScalar(*p, 0), before);
    EXPECT_TRUE(loadBytes(bytes));
    EXPECT_TRUE(netLoaded);
    EXPECT_EQ(currentNetwork()->l1Weights[77], other->l1Weights[77]);
    EXPECT_FALSE(loadNetworkFile("/nonexistent/dir/net.nnue"));
}

using Compute = void (*)(Position&, int);
using Evaluate = i16 (*)(Position&, int);

// Along random lines of play with null moves and undos, `compute` gives the
// accumulator of the plain sum and every one of `evaluates` the scalar score,
// for weights large enough to wrap the sums and small enough to leave layers
// unclamped. Returns the number of plies checked.
int compareAlongRandomLines(Compute compute, std::initializer_list<Evaluate> evaluates) {
    std::mt19937_64 rng(5);
    static i16 expected[2][NET_HALF];
    int checks = 0;
    for (const auto& [seed, range] : {std::pair{3, 500}, std::pair{21, 16}}) {
        auto net = randomNet(u64(seed), range);
        EXPECT_TRUE(loadBytes(serialise(*net)));
        for (int game = 0; game < 30; game++) {
            const bool frc = game % 2;
            Chess960Mode mode(frc);
            TestPosition p(frc ? chess960StartFen(int(rng() % 960)) : std::string(START_FEN));
            playRandomMoves(*p, int(rng() % 40), rng);
            Position& pos = *p;
            Move path[24];  // a null move: isNoMove
            int depth = 0;
            auto up = [&] {
                depth--;
                isNoMove(path[depth]) ? undoNullMove(depth, pos) : undoMove(depth, path[depth], pos);
            };
            for (int step = 0; step < 150; step++) {
                if (depth > 0 && (depth >= 20 || rng() % 4 == 0)) {
                    up();
                } else {
                    generateLegal(depth, pos.plyStack[depth].moveListBegin, pos);
                    const long n = pos.plyStack[depth].moveListEnd - pos.plyStack[depth].moveListBegin;
                    const bool null = !pos.plyStack[depth].inCheck && rng() % 8 == 0;
                    if (n == 0 && !null) continue;
                    path[depth] = null ? Move{} : pos.plyStack[depth].moveListBegin[rng() % n];
                    null ? doNullMove(depth, pos) : doMove(depth, path[depth], pos);
                    depth++;
                }
                if (rng() % 3 == 0) continue;  // leave some plies uncomputed
                compute(pos, depth);
                referenceAccumulator(pos, *net, expected);
                if (std::memcmp(expected, pos.accumulators[depth].values, sizeof expected) != 0) {
                    ADD_FAILURE() << "accumulator differs: " << positionToFen(pos) << " ply " << depth;
                    return checks;
                }
                for (Evaluate evaluate : evaluates) {
                    const i16 score = evaluate(pos, depth), reference = nnue::evaluateScalar(pos, depth);
                    if (score != reference) {
                        ADD_FAILURE() << "score " << score << ", scalar " << reference << ": " << positionToFen(pos);
                        return checks;
                    }
                }
                checks++;
            }
            while (depth > 0) up();
            EXPECT_EQ(checkConsistency(pos), "");
        }
    }
    return checks;
}

TEST(Network, IncrementalAccumulatorEqualsTheSumAndAvx2EqualsScalar) {
    EXPECT_GT(compareAlongRandomLines(nnue::computeAccumulatorScalar, {}), 2500);
#if defined(__AVX2__)
    EXPECT_GT(compareAlongRandomLines(nnue::computeAccumulatorAvx2, {nnue::evaluateAvx2}), 2500);
#endif
}

// The AVX-512 code, compiled into AVX2 builds too, can only run where the
// processor has the instructions.
TEST(Network, Avx512EqualsScalar) {
#if defined(VELMORA_AVX512_CODE)
    if (!nnue::cpuHasAvx512())
        GTEST_SKIP() << "this processor has no AVX-512 (F, BW): the AVX-512 network code is not checked";
    EXPECT_GT(compareAlongRandomLines(nnue::computeAccumulatorAvx512, {nnue::evaluateAvx512}), 2500);
    if (!nnue::cpuHasAvx512Vnni())
        GTEST_SKIP() << "this processor has AVX-512 without VNNI: the VNNI layers are not checked";
    EXPECT_GT(compareAlongRandomLines(nnue::computeAccumulatorAvx512, {nnue::evaluateAvx512Vnni}), 2500);
#else
    GTEST_SKIP() << "this build has no AVX-512 network code";
#endif
}

// The output scale: (pawns + 55) x 16 + 11 x phase over 24576 (the forward
// pass itself: the exporter's integer reference in the pipeline test).
TEST(Network, OutputScaleFollowsPawnsAndPhase) {
    const std::pair<const char*, int> cases[] = {{"4k3/8/8/8/8/8/8/3QK3 b - - 0 1", 55 * 16 + 11 * 4},
                                                 {"4k3/7p/8/8/8/8/P7/3QK3 w - - 0 1", 57 * 16 + 11 * 4},
                                                 {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", 880},
                                                 {START_FEN, 1400}};
    for (const auto& [fen, factor] : cases) {
        TestPosition p(fen);
        EXPECT_EQ(nnue::scaleOutput(*p, 24576), factor) << fen;
        EXPECT_EQ(nnue::scaleOutput(*p, -24576 * 3), -3 * factor) << fen;
    }
}

// The bootstrap network: material for the side to move, central knights.
TEST(Network, BootstrapFollowsTheMaterialBalance) {
    auto net = std::make_unique<NetworkParameters>();
    buildBootstrapNetwork(*net);
    ASSERT_TRUE(loadBytes(serialise(*net)));
    auto value = [](const char* fen) {
        TestPosition p(fen);
        return int(evaluateNetwork(*p, 0));
    };
    EXPECT_EQ(value(START_FEN), 0);
    const int queen = value("rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    EXPECT_TRUE(queen > 1000 && queen < 1400) << queen;
    EXPECT_EQ(value("rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1"), -queen);
    const int pawn = value("rnbqkbnr/ppppppp1/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
    EXPECT_TRUE(pawn > 60 && pawn < 180) << pawn;
    EXPECT_GT(value("4k3/8/8/8/3N4/8/8/4K3 w - - 0 1"), value("4k3/8/8/8/8/8/8/N3K3 w - - 0 1"));
}
