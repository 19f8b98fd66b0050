#include "search/timeman.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "board/position.h"
#include "search/search.h"
#include "search/threads.h"

i32 clockTime[2] = {900000, 900000};
i32 clockInc[2] = {0, 0};
i32 movesToGo = 30;
bool movesToGoGiven = false;
std::atomic<i32> depthLimit{0};
i32 mateLimit = 0;
i64 nodeLimit = 0;
std::atomic<u64> searchNodeLimit{0};
u64 softNodeLimit = 0;
int softNodeDepthFloor = 0;
i32 moveTime = 0;
i32 gameStage = 0;
bool newGameFlag = true;
i32 moveOverhead = 100;
bool ponderEnabled = false;
std::atomic<i32> softTimeMs{0};
std::atomic<float> timeFactor{1.0f};
float incrementFactor = 1.37f;

void resetLimits() {
    clockTime[0] = clockTime[1] = 900000;
    clockInc[0] = clockInc[1] = 0;
    movesToGo = 30;
    movesToGoGiven = false;
    depthLimit = mateLimit = moveTime = 0;
    nodeLimit = 0;
    infiniteSearch = false;
}

void allocateTime() {
    const int side = rootPosition.sideToMove;
    const i32 t = clockTime[side], inc = clockInc[side];
    const int g = gameStage;
    // "movestogo 0" would divide by zero below: it is read as no movestogo.
    const bool withMovesToGo = movesToGoGiven && movesToGo > 0;

    float share, hardShare = 0.5f;
    if (!withMovesToGo) {
        share = threadCount < 4 ? 0.66f : threadCount < 32 ? 0.76f : threadCount < 129 ? 0.86f : 0.92f;
        if (g == 1024) {
            share *= 1.4f;
            movesToGo = 30;
        } else {
            movesToGo = g < 18 ? 40 : g < 51 ? 22 : g < 81 ? 25 : g < 201 ? 20 : 15;
        }
    } else {
        const float base = threadCount < 4 ? 0.73f : 0.8f;
        share = g < 18 ? base * 0.9f : g < 51 ? base * 1.1f : base;
        if (movesToGo == 1) hardShare = 0.9f;
    }

    if (newGameFlag) {
        newGameFlag = false;
        const i32 r = std::clamp(t / std::max(inc, 1), 100, 360);
        incrementFactor = 1.37f + float(r - 100) * 0.0014615385f;
    }
    if (ponderEnabled) share *= 1.1f;
    timeFactor = 1.0f;

    // 64-bit arithmetic: clock words may be anything up to the i32 maximum,
    // and the budgets are clamped back into range at the end.
    float m = float(movesToGo);
    if (!withMovesToGo) m *= incrementFactor;
    const i64 total = i64(t) + (i64(m) - 1) * i64(inc);
    const i64 remaining = i64(t) - moveOverhead;
    i64 soft = i64(std::max(1.0f, float(total / movesToGo) * share));
    i64 hard = movesToGo == 1 ? total - moveOverhead : i64(std::min(float(remaining) * hardShare, 5.0f * float(soft)));
    if (!withMovesToGo) {
        if (remaining / soft < 4) {
            soft /= 2;
            hard /= 2;
            timeFactor = 5.0f;
        }
    } else if (movesToGo == 4) {
        hard = std::max<i64>(hard, 40);
    }

    constexpr i64 LONGEST = std::numeric_limits<i32>::max() - 1;
    if (moveTime != 0) {
        hardTimeMs = moveTime;
        softTimeMs = i32(std::min<i64>(10 * i64(moveTime), LONGEST));
        return;
    }
    soft = std::min(soft, LONGEST);
    softTimeMs = i32(soft);
    hardTimeMs = i32(std::clamp<i64>(std::min(hard, remaining), soft + 1, LONGEST + 1));
}
