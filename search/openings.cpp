#include "search/openings.h"

#include <cstdlib>

#include "board/makemove.h"
#include "board/movegen.h"
#include "search/driver.h"

int legalMoveCount(Position& pos, Move* moves) {
    pos.plyStack[0].inCheck = isInCheck(pos);
    generateLegal(0, moves, pos);
    return int(pos.plyStack[0].moveListEnd - moves);
}

bool playRandomOpening(Position& pos, Move* moves, const OpeningRules& rules, SplitMix& rng, u64* searched) {
    for (int i = 0; i < rules.randomPlies; i++) {
        const int n = legalMoveCount(pos, moves);
        if (n == 0) return false;
        playRootMove(pos, moves[rng.below(u64(n))]);
    }
    if (legalMoveCount(pos, moves) == 0) return false;
    const SearchResult r = searchNodes(pos, rules.softNodes, rules.hardNodes, rules.depthFloor);
    if (searched) *searched += r.nodes;
    return r.depth > 0 && std::abs(r.score) <= rules.scoreLimit;
}
