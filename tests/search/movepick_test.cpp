// The staged move picker: every legal move exactly once, in stage order,
// whatever the stored moves hold; the history and killer updates after a
// quiet cut-off.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "search/movepick.h"
#include "search/search.h"
#include "test_util.h"

namespace {

constexpr int SCRATCH_PLY = 100;

// The moves at `ply` with their pieces, generated on a far ply so that `ply`
// keeps its state: the legal list, or what the generators give the picker.
std::vector<Move> generated(TestPosition& t, int ply, bool legal) {
    Position& pos = *t;
    PlyState& s = pos.plyStack[SCRATCH_PLY];
    const PlyState& st = pos.plyStack[ply];
    s.castlingRights = st.castlingRights;
    s.epSquare = st.epSquare;
    s.inCheck = st.inCheck;
    s.moveListBegin = t.listAt(SCRATCH_PLY);
    if (legal) {
        generateLegal(SCRATCH_PLY, s.moveListBegin, pos);
    } else {
        generateCaptures(SCRATCH_PLY, s.moveListBegin, pos);
        if (!st.inCheck) generateQuiets(SCRATCH_PLY, s.moveListEnd, pos);
    }
    std::vector<Move> out;
    for (Move* m = s.moveListBegin; m < s.moveListEnd; m++) out.push_back(withPiece(*m, pos.board[m->from]));
    return out;
}

std::vector<u32> sortedIds(const std::vector<Move>& moves) {
    std::vector<u32> ids;
    for (Move m : moves) ids.push_back(moveId(m));
    std::sort(ids.begin(), ids.end());
    return ids;
}

// A hash move, killer or counter move: none, a legal move, a generated move
// (perhaps illegal), a move of the previous position, or a word of random
// squares and flag, usually from and carrying a piece of the side to move.
Move storedMove(const std::vector<Move>& legal, const std::vector<Move>& pseudo, const std::vector<Move>& stale,
                const Position& pos, std::mt19937_64& rng) {
    const int kind = int(rng() % 5);
    const std::vector<Move>& list = kind == 1 ? legal : kind == 2 ? pseudo : stale;
    if (kind < 4) return kind == 0 || list.empty() ? Move{} : list[rng() % list.size()];
    int from = int(rng() % 64);
    if (rng() % 2) {
        u64 own = pos.pieces[pos.sideToMove];
        for (int skip = int(rng() % popCount(own)); skip > 0; skip--) own &= own - 1;
        from = lsb(own);
    }
    const int flag = rng() % 2 ? 0 : int(rng() % 16);
    return makeMove(from, int(rng() % 64), flag, rng() % 5 ? pos.board[from] : int(rng() % 16));
}

// Scores in -8000..8000 from a cheap generator (the tables are large).
void fillRandom(i16* table, size_t n, std::mt19937_64& rng) {
    u64 x = rng() | 1;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        table[i] = i16(int(x % 16001) - 8000);
    }
}

// Runs the picker of `ply` as the search does, checks each move against its
// stage and the moves the search's legality rule accepts against the legal
// list; false when something was wrong.
bool checkPicker(Position& pos, int ply, Move hash, const std::vector<Move>& legal) {
    PlyState& st = pos.plyStack[ply];
    const u64 key = pos.key;
    const bool hashFits = !isNoMove(hash) && isPseudoLegal(ply, hash, pos);
    const PieceToHistory* followUp = followUpTable(ply, pos);
    const PieceToHistory* counter = counterMoveTable(ply, pos);
    const Move killer1 = st.killer1, killer2 = st.killer2;
    initPicker(ply, hash, pos);
    std::vector<Move> returned, accepted;
    int lastStage = 0, lastQuietScore = 1 << 30;
    for (Move m = nextMove(ply, pos); !isNoMove(m); m = nextMove(ply, pos)) {
        const int stage = st.pickStage, piece = pos.board[m.from];
        EXPECT_GE(stage, lastStage) << "stages go backwards";
        EXPECT_TRUE(st.inCheck ? stage == STAGE_HASH || stage == STAGE_EVASIONS : stage != STAGE_EVASIONS);
        EXPECT_TRUE(isPseudoLegal(ply, withPiece(m, piece), pos));
        lastStage = stage;
        const bool stageFits = stage == STAGE_HASH            ? hashFits && sameMove(m, hash)
                               : stage == STAGE_GOOD_CAPTURES ? m.flag == FLAG_EP || seeAtLeast(m, 0, pos)
                               : stage == STAGE_KILLER1       ? sameMove(m, killer1)
                               : stage == STAGE_KILLER2       ? sameMove(m, killer2)
                               : stage == STAGE_BAD_CAPTURES  ? !seeAtLeast(m, 0, pos)
                                                              : true;
        EXPECT_TRUE(stageFits) << "stage " << stage << " " << moveToText(m, pos.sideToMove, pos);
        if (stage == STAGE_QUIETS) {
            const int score = quietScore(m, piece, pos, followUp, counter);
            EXPECT_LE(score, lastQuietScore) << "quiet moves out of history order";
            lastQuietScore = score;
        }
        returned.push_back(m);
        if (st.inCheck ? stage == STAGE_EVASIONS || isFullyLegal(m, pos) : isLegal(ply, m, pos)) accepted.push_back(m);
    }
    EXPECT_EQ(pos.key, key);
    const std::vector<u32> all = sortedIds(returned), acceptedIds = sortedIds(accepted), legalIds = sortedIds(legal);
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a move returned twice";
    EXPECT_EQ(acceptedIds, legalIds) << "ply " << ply << " of " << positionToFen(pos);
    return acceptedIds == legalIds;
}

}  // namespace

// Random games, standard and Chess960; at every position the picker runs at
// ply 0 or after two moves inside the search stack (the second perhaps a
// null move), with random histories and stored moves.
TEST(MovePick, EveryLegalMoveExactlyOnce) {
    TestPosition t(START_FEN, true);
    Position& pos = *t;
    std::mt19937_64 rng(2024);
    fillRandom(&(*pos.followUpHistory)[0][0][0][0], sizeof(ContinuationHistory) / sizeof(i16), rng);
    fillRandom(&(*pos.counterMoveHistory)[0][0][0][0], sizeof(ContinuationHistory) / sizeof(i16), rng);
    std::vector<Move> stale;
    const int games = 48 / SANITIZER_SCALE;
    int positions = 0, inCheck = 0, failures = 0;
    for (int game = 0; game < games && failures < 5; game++) {
        const bool is960 = game % 4 == 3;
        Chess960Mode mode(is960);
        ASSERT_TRUE(setPositionFromFen(is960 ? chess960StartFen(int(rng() % 960)) : START_FEN, pos));
        fillRandom(&pos.history[0][0], 12 * 64, rng);
        for (int gamePly = 0; gamePly < 160 && failures < 5; gamePly++) {
            pos.plyStack[0].inCheck = isInCheck(pos);
            const std::vector<Move> rootLegal = generated(t, 0, true);
            if (rootLegal.empty()) break;

            const int ply = rng() % 4 ? 2 : 0;
            pos.threadIndex = int(rng() % 4);
            std::vector<Move> made;
            for (int p = 0; p < ply; p++) {
                PlyState& st = pos.plyStack[p];
                st.inCheck = isInCheck(pos);
                pos.plyStack[p + 1].moveListBegin = t.listAt(p + 1);
                const std::vector<Move> moves = generated(t, p, true);
                const bool null = p == 1 && !st.inCheck && rng() % 5 == 0;
                if (!null && moves.empty()) break;
                st.currentMove = null ? Move{} : moves[rng() % moves.size()];
                null ? doNullMove(p, pos) : doMove(p, st.currentMove, pos);
                made.push_back(st.currentMove);
            }
            if (int(made.size()) == ply) {
                PlyState& st = pos.plyStack[ply];
                st.inCheck = isInCheck(pos);
                const std::vector<Move> legal = generated(t, ply, true), pseudo = generated(t, ply, false);
                auto stored = [&] { return storedMove(legal, pseudo, stale, pos, rng); };
                st.killer1 = stored();
                st.killer2 = rng() % 8 ? stored() : st.killer1;
                const Move prev = pos.plyStack[ply ? ply - 1 : 0].currentMove;
                if (ply && prev.score >= 2) pos.counterMoves[prev.score - 2][prev.to] = moveWord(stored());
                const Move hash = rng() % 8 ? stored() : st.killer1;
                failures += !checkPicker(pos, ply, hash, legal);
                positions++;
                inCheck += st.inCheck;
                stale = pseudo;
            }
            for (int p = int(made.size()) - 1; p >= 0; p--)
                isNoMove(made[p]) ? undoNullMove(p, pos) : undoMove(p, made[p], pos);
            ASSERT_EQ(checkConsistency(pos), "");
            playRootMove(pos, rootLegal[rng() % rootLegal.size()]);
        }
    }
    EXPECT_GT(positions, 60 * games);
    EXPECT_GT(inCheck, 2 * games);
}

// A quiet cut-off: the move gains in all three tables and becomes the
// counter move and first killer; quiet moves tried before it lose; from
// depth 19 on only the killers move.
TEST(MovePick, QuietCutoffUpdates) {
    TestPosition t(START_FEN, true);
    Position& pos = *t;
    // 1. e4 e5 inside the search stack, so that both continuation tables
    // are selected at ply 2.
    const Move made[2] = {t.play("e2e4", 0), t.play("e7e5", 1)};
    PlyState& st = pos.plyStack[2];
    st.killer1 = st.killer2 = Move{};
    PieceToHistory* followUp = followUpTable(2, pos);
    PieceToHistory* counter = counterMoveTable(2, pos);
    ASSERT_TRUE(followUp && counter);
    auto tables = [&](Move m) {
        const int p = pos.board[m.from] - 2;
        return std::vector<int>{pos.history[p][m.to], (*followUp)[p][m.to], (*counter)[p][m.to]};
    };

    // No captures here: the first three moves are quiet moves; cut off on the third.
    initPicker(2, Move{}, pos);
    std::vector<Move> tried;
    for (int i = 0; i < 3; i++) {
        tried.push_back(nextMove(2, pos));
        ASSERT_EQ(st.pickStage, STAGE_QUIETS);
    }
    const Move cut = tried[2];
    updateQuietCutoff(2, cut, 3, pos);
    EXPECT_EQ(tables(cut), (std::vector<int>{288, 288, 288}));
    for (int i : {0, 1}) EXPECT_EQ(tables(tried[i]), (std::vector<int>{-288, -288, -288})) << i;
    EXPECT_TRUE(sameMove(moveFromWord(pos.counterMoves[BPAWN - 2][made[1].to]), cut));
    EXPECT_TRUE(sameMove(st.killer1, cut));
    EXPECT_EQ(st.killer1.score, pos.board[cut.from]);
    EXPECT_TRUE(isNoMove(st.killer2));

    // The same move again: killer2 stays empty. A new move pushes it down.
    initPicker(2, Move{}, pos);
    updateQuietCutoff(2, cut, 3, pos);
    EXPECT_TRUE(isNoMove(st.killer2));
    const Move other = tried[0];
    updateQuietCutoff(2, other, 19, pos);
    EXPECT_TRUE(sameMove(st.killer1, other) && sameMove(st.killer2, cut));
    EXPECT_EQ(tables(other), (std::vector<int>{-288, -288, -288})) << "no table update from depth 19 on";

    // A cut-off by the second killer after the hash move: the hash move and
    // the first killer, both tried before it, lose.
    std::fill(&pos.history[0][0], &pos.history[0][0] + 12 * 64, i16(0));
    auto stored = [&](Move m) { return withPiece(m, pos.board[m.from]); };
    st.killer1 = stored(tried[1]);
    st.killer2 = stored(tried[2]);
    initPicker(2, stored(tried[0]), pos);
    const int stages[3] = {STAGE_HASH, STAGE_KILLER1, STAGE_KILLER2};
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(sameMove(nextMove(2, pos), tried[i]));
        EXPECT_EQ(st.pickStage, stages[i]);
    }
    updateQuietCutoff(2, tried[2], 2, pos);
    EXPECT_EQ((std::vector<int>{tables(tried[0])[0], tables(tried[1])[0], tables(tried[2])[0]}),
              (std::vector<int>{-128, -128, 128}));
}
