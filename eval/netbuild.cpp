#include "eval/netbuild.h"

#include <cstring>
#include <random>

#include "eval/weights.h"

namespace {

constexpr int UNIT = 2;          // centipawns per transformer unit
constexpr int OFFSET = 200;      // keeps a side's total positive (a lone king can score below 0)
constexpr int CHANNELS = NET_HALF / 2;
constexpr int OUTPUT_WEIGHT = 35;  // 1400 x 35 / 24576 = 2 cp per unit at full material

// Value in units of a piece seen from a perspective: `own` pieces read the
// table as White reads it, enemy pieces as Black does; both come to the same
// entry whichever colour the perspective is.
int unitValue(int type, int perspectiveSq, bool own) {
    const Score psq = pieceSquareScore[type][own ? perspectiveSq ^ 56 : perspectiveSq];
    const Score total = psq + (type == KING_T ? 0 : pieceValue[type]);
    return (mgScore(total) + egScore(total)) / 2 / UNIT;
}

}  // namespace

void buildBootstrapNetwork(NetworkParameters& net) {
    std::memset(&net, 0, sizeof net);
    net.version = 0x7AF32F16u;
    for (int c = 0; c < CHANNELS; c++) net.ftBias[c] = net.ftBias[CHANNELS + c] = i16(OFFSET - 127 * c);
    for (int king = 0; king < 64; king++)
        for (int pieceIndex = 0; pieceIndex < 12; pieceIndex++)
            for (int sq = 0; sq < 64; sq++) {
                const bool own = (pieceIndex & 1) == 0;
                const int value = unitValue(pieceIndex / 2, sq, own);
                i16* row = net.ftWeights + size_t((king * 12 + pieceIndex) * 64 + sq) * NET_HALF;
                for (int c = 0; c < CHANNELS; c++) row[(own ? 0 : CHANNELS) + c] = i16(value);
            }
    // Layer 1 reads only the side to move's half: +64 on its own channels,
    // -64 on the enemy's (and the reverse for the negative channels), so
    // (sum >> 6) is the balance in units less 127 per channel step.
    for (int o = 0; o < NET_L1; o++) {
        const int sign = o < 16 ? 1 : -1;
        const int step = o % 16;
        net.l1Bias[o] = -64 * 127 * step;
        for (int i = 0; i < NET_HALF; i++) net.l1Weights[o * NET_INPUTS + i] = i8(i < CHANNELS ? 64 * sign : -64 * sign);
    }
    for (int o = 0; o < NET_L2; o++) net.l2Weights[o * NET_L1 + o] = 64;
    for (int o = 0; o < NET_L2; o++) net.outWeights[o] = i8(o < 16 ? OUTPUT_WEIGHT : -OUTPUT_WEIGHT);
}

void buildRandomNetwork(NetworkParameters& net, uint64_t seed, int weightRange) {
    std::mt19937_64 rng(seed);
    auto uniform = [&rng](int low, int high) { return low + int(rng() % u64(high - low + 1)); };
    net.version = u32(rng());
    net.hash = u32(rng());
    net.transformerHash = u32(rng());
    net.networkHash = u32(rng());
    for (i16& b : net.ftBias) b = i16(uniform(-200, 400));
    for (size_t i = 0; i < size_t(NET_FEATURES) * NET_HALF; i++) net.ftWeights[i] = i16(uniform(-weightRange, weightRange));
    for (i32& b : net.l1Bias) b = uniform(-20000, 20000);
    for (i8& w : net.l1Weights) w = i8(uniform(-128, 127));
    for (i32& b : net.l2Bias) b = uniform(-8000, 8000);
    for (i8& w : net.l2Weights) w = i8(uniform(-128, 127));
    net.outBias = uniform(-3000, 3000);
    for (i8& w : net.outWeights) w = i8(uniform(-128, 127));
}
