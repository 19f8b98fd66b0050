// Random openings for self-play: a few random legal plies from a start
// position, kept only when a short search finds the result balanced. The
// data generator plays its games from them and "genfens" hands them to
// match runners.
#pragma once

#include "board/position.h"

// Counter xor-shift-multiply generator: one stream per seed.
struct SplitMix {
    u64 state;
    explicit SplitMix(u64 seed) : state(seed) {}
    u64 next() {
        u64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    u64 below(u64 n) { return next() % n; }
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
};

struct OpeningRules {
    int randomPlies = 8;
    // The verification search (see searchNodes).
    u64 softNodes = 2000;
    u64 hardNodes = 8000;
    int depthFloor = 4;
    // Largest score, either way, of a kept opening.
    int scoreLimit = 400;
};

// Fills `moves` (the position's move buffer) with the legal moves of `pos`
// at ply 0 and returns their number.
int legalMoveCount(Position& pos, Move* moves);

// Plays rules.randomPlies random legal moves on `pos` (set up by the caller;
// `moves` is its move buffer), drawing from `rng`. True when every ply had a
// move, the result still has one, and the verification search (on the first
// search thread; none may be running) scores it within the limit. The
// verification search's nodes are added to `*searched` when it is given.
bool playRandomOpening(Position& pos, Move* moves, const OpeningRules& rules, SplitMix& rng,
                       u64* searched = nullptr);
