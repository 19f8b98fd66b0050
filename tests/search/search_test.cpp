// Alpha-beta and the quiescence search: exchange values, the search without
// its selective parts against a plain minimax, mate distances and draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "platform/clock.h"
#include "search/movepick.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/tt.h"
#include "test_util.h"

namespace {

// seeAtLeast for a move given as coordinate text in a FEN position.
bool see(const std::string& fen, const std::string& move, int threshold) {
    TestPosition t(fen);
    const Move m = parseLegalMove(move, 0, *t);
    EXPECT_FALSE(isNoMove(m)) << move << " is not legal in " << fen;
    return seeAtLeast(m, threshold, *t);
}

// A position record wired like a search thread's, with the process-wide
// search state set so that the clock never stops a search; the selectivity
// switch is restored afterwards.
struct Searcher {
    TestPosition tp;
    bool savedSwitch = searchSelectivityOff;

    explicit Searcher(const std::string& fen, bool selectivityOff = false) : tp(fen, true) {
        useBootstrapNetwork();
        searchSelectivityOff = selectivityOff;
        stopSearch = ponderSearch = false;
        infiniteSearch = true;
        searchStartMs = nowMs();
        hardTimeMs = 1 << 30;
        EXPECT_TRUE(ttResize(1));  // a small table is quick to clear between searches
    }
    ~Searcher() {
        searchSelectivityOff = savedSwitch;
        infiniteSearch = false;
        ttResize(ttSizeMb);
    }
    Position& pos() { return *tp; }
    void set(const std::string& fen) { ASSERT_TRUE(setPositionFromFen(fen, pos())) << fen; }

    // Makes the record's state at `ply` that of its root position, as if
    // the search had reached it along moves that are not null moves.
    void prepare(int ply) {
        Position& p = pos();
        const PlyState root = p.plyStack[0];
        for (int q = 0; q <= ply; q++) {
            PlyState& st = p.plyStack[q];
            st.castlingRights = root.castlingRights;
            st.epSquare = root.epSquare;
            st.moveListBegin = tp.buffer.get();
            st.singularSubtree = 0;
            st.killer1 = st.killer2 = st.bestMove = Move{};
            st.staticEval = 0;
            st.currentMove = makeMove(0, 1, 0, WKING);  // any move that is not null
            p.accumulators[q].computed = 0;
        }
        p.plyStack[ply + 1].singularSubtree = 0;
        p.plyStack[ply].inCheck = isInCheck(p);
        p.nodeCountdown = TIME_CHECK_INTERVAL;
    }

    // alphaBeta at the root (or another ply) from a fresh record state.
    int search(int depth, int alpha = -SCORE_INFINITE, int beta = SCORE_INFINITE, int ply = 0) {
        prepare(ply);
        return alphaBeta(ply, depth, alpha, beta, pos());
    }
};

// The plain minimax the search must reproduce without its selective parts:
// every legal move to the depth, then the quiescence search with the full
// window, and the search's draw, mate and fifty-move rules. Its cut-offs
// only save time: the root and the leaves get the full window.
int minimax(Position& pos, int ply, int depth, int alpha, int beta) {
    if (ply > 0 && (isRepetition(pos, ply) || isInsufficientMaterial(pos))) return 0;
    if (depth <= 0) return quiesce(ply, 0, -SCORE_INFINITE, SCORE_INFINITE, pos);
    PlyState& st = pos.plyStack[ply];
    generateLegal(ply, st.moveListBegin, pos);
    std::vector<Move> moves(st.moveListBegin, st.moveListEnd);
    if (moves.empty()) return st.inCheck ? ply - MATE_VALUE : 0;
    if (pos.rule50 >= 100) return 0;
    // Captures of the most valuable pieces first, for earlier cut-offs.
    std::stable_sort(moves.begin(), moves.end(),
                     [&pos](Move a, Move b) { return pos.board[a.to] > pos.board[b.to]; });
    int best = -SCORE_INFINITE;
    for (Move m : moves) {
        st.currentMove = withPiece(m, pos.board[m.from]);
        doMove(ply, m, pos);
        pos.plyStack[ply + 1].inCheck = isInCheck(pos);
        const int v = -minimax(pos, ply + 1, depth - 1, -beta, -std::max(alpha, best));
        undoMove(ply, m, pos);
        best = std::max(best, v);
        if (best >= beta) break;
    }
    return best;
}

}  // namespace

// Exchanges worked out by hand: each move passes the threshold given and
// fails the next one up. Promotions count as pawn moves, whatever the pawn
// becomes; a king takes last, and only when nothing attacks back.
TEST(See, ExchangeValues) {
    const struct {
        const char* fen;
        const char* move;
        int value;
    } cases[] = {
        {"4k3/8/8/3n4/4P3/8/8/4K3 w - - 0 1", "e4d5", 372},       // an undefended knight
        {"4k3/8/2p5/3n4/4P3/8/8/4K3 w - - 0 1", "e4d5", 284},     // defended by a pawn
        {"4k3/8/2p5/3p4/8/4N3/8/4K3 w - - 0 1", "e3d5", -284},    // knight for a pawn
        {"4k3/8/4p3/3p4/8/1B6/Q7/4K3 w - - 0 1", "b3d5", -196},   // the queen behind the bishop
        {"7k/3r4/8/3n4/8/8/3R4/3R3K w - - 0 1", "d2d5", 372},     // our second rook behind
        {"3r3k/3r4/8/3n4/8/8/3R4/3R3K w - - 0 1", "d2d5", -194},  // and a black rook behind theirs
        {"r3k3/1P6/1n6/8/8/8/8/4K3 w - - 0 1", "b7a8q", 478},     // rook minus pawn
        {"r3k3/1P6/1n6/8/8/8/8/4K3 w - - 0 1", "b7a8n", 478},
        {"4k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7a8q", 0},         // a free promotion
        {"1r2k3/P7/8/8/8/8/8/4K3 w - - 0 1", "a7a8q", -88},     // the rook takes the new queen
        {"8/8/4k3/3p4/8/8/8/3RK3 w - - 0 1", "d1d5", -478},     // the king takes the rook
        {"8/8/4k3/3p4/8/5B2/8/3RK3 w - - 0 1", "d1d5", 88},     // not with the bishop behind
        {"7k/8/4p3/3r4/4K3/1B6/8/8 w - - 0 1", "b3d5", 282},    // B takes R, P takes B, K takes P
        {"7k/8/1n2p3/3r4/4K3/1B6/8/8 w - - 0 1", "b3d5", 194},  // not while a knight guards d5
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(see(c.fen, c.move, c.value)) << c.fen << " " << c.move;
        EXPECT_FALSE(see(c.fen, c.move, c.value + 1)) << c.fen << " " << c.move;
    }
    // En passant and castling pass at any threshold.
    EXPECT_TRUE(see("4k3/8/2p5/3pP3/8/8/8/4K3 w - d6 0 2", "e5d6", 10000));
    EXPECT_TRUE(see("4k3/8/8/8/8/8/8/4K2R w K - 0 1", "e1g1", 10000));
}

// Without the selective parts the search is exactly the minimax of the same
// evaluation, at depths 1 to 4, over random positions of standard and
// Chess960 games, some of them close to the fifty-move limit.
TEST(Search, WithoutSelectivityMatchesMinimax) {
    Searcher s(START_FEN, true);
    Position& pos = s.pos();
    std::mt19937_64 rng(31337);
    const int count = 240 / SANITIZER_SCALE;
    int checked = 0;
    for (int i = 0; i < count; i++) {
        const bool is960 = i % 5 == 4;
        Chess960Mode mode(is960);
        s.set(is960 ? chess960StartFen(int(rng() % 960)) : START_FEN);
        playRandomMoves(pos, 4 + int(rng() % 100), rng);
        if (rng() % 5 == 0) pos.rule50 = i16(97 + rng() % 3);
        const int depth = i % 10 < 4 ? 1 : i % 10 < 7 ? 2 : i % 10 < 9 ? 3 : 4;
        if (legalMoveTexts(pos).empty()) continue;
        const u64 key = pos.key;
        s.prepare(0);
        const int expected = minimax(pos, 0, depth, -SCORE_INFINITE, SCORE_INFINITE);
        ttClear();
        const int got = s.search(depth);
        ASSERT_EQ(got, expected) << "depth " << depth << " in " << positionToFen(pos);
        ASSERT_EQ(pos.key, key);
        checked++;
    }
    EXPECT_GT(checked, count * 9 / 10);
}

// Mate in N plies scores 32000 - N (negated for the mated side). Deepening
// from 1, the exact score shows at the depth of the mate without the
// selective parts, a few plies later with them; no depth claims a faster one.
TEST(Search, MateScoresAreExactDistances) {
    const std::pair<const char*, int> cases[] = {  // plies to the mate, negative when the side to move is mated
        {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", 1},
        {"k7/8/2K5/8/8/8/8/7R w - - 0 1", 3},
        {"kbK5/pp6/RP6/8/8/8/8/8 b - - 0 1", -2},
        {"k4r2/1R4pb/1pQp1n1p/3P4/5p1P/3P2P1/r1q1R2K/8 w - - 0 1", 5},
        {"8/6pp/3q1p2/3n1k2/1P6/3NQ2P/5PP1/6K1 w - - 0 1", 5},
        {"r3k2r/pbp2pp1/3b1n2/1p6/3P3p/1B2N1Pq/PP1PQP1P/R1B2RK1 b kq - 0 1", 5},
    };
    for (const auto& [fen, mate] : cases) {
        const int plies = std::abs(mate);
        const int expected = mate > 0 ? MATE_VALUE - plies : plies - MATE_VALUE;
        for (bool off : {true, false}) {
            Searcher s(fen, off);
            s.prepare(0);
            int score = 0, depth = 0;
            while (score != expected && depth < (off ? plies : plies + 8)) {
                score = alphaBeta(0, ++depth, -SCORE_INFINITE, SCORE_INFINITE, s.pos());
                EXPECT_TRUE(mate > 0 ? score <= expected : score >= expected)
                    << fen << " claims " << score << " at depth " << depth;
            }
            EXPECT_EQ(score, expected) << fen << (off ? " without selectivity" : "") << " by depth " << depth;
        }
    }
}

// A mate score stored at one ply reads back, at another ply, as the same
// distance from that node.
TEST(Search, MateScoresThroughTheHashTable) {
    const std::string mateInOne = "6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1";
    Searcher s(mateInOne);
    Position& pos = s.pos();
    // Searched fresh at ply 4: the mate is 4 + 1 plies from the root.
    EXPECT_EQ(s.search(2, -SCORE_INFINITE, SCORE_INFINITE, 4), MATE_VALUE - 5);
    // Stored from a root search, then read at ply 4 by a null-window probe.
    ttClear();
    ASSERT_EQ(s.search(2), MATE_VALUE - 1);
    const u64 nodes = pos.searchNodes;
    EXPECT_EQ(s.search(2, 31000, 31001, 4), MATE_VALUE - 5);
    EXPECT_EQ(pos.searchNodes - nodes, 1u) << "the answer should come from the table";

    // The mated side: stored at ply 5, read at ply 1.
    Searcher mated("kbK5/pp6/RP6/8/8/8/8/8 b - - 0 1");
    ASSERT_EQ(mated.search(3, -SCORE_INFINITE, SCORE_INFINITE, 5), 5 + 2 - MATE_VALUE);
    const u64 before = mated.pos().searchNodes;
    EXPECT_EQ(mated.search(3, -31000, -30999, 1), 1 + 2 - MATE_VALUE);
    EXPECT_EQ(mated.pos().searchNodes - before, 1u);
}

// Draws and mates at the root and below it, each value within [low, high]
// for the window given. With rule50 at 100 a node is a draw whatever the
// window, unless the side to move is mated.
TEST(Search, StalemateFiftyMoveAndInsufficientMaterialDraws) {
    const struct {
        const char* fen;
        int ply, depth, low, high;
        int alpha = -SCORE_INFINITE, beta = SCORE_INFINITE;
    } cases[] = {
        {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 0, 3, 0, 0},  // stalemated
        {"7k/6Q1/6K1/8/8/8/8/8 b - - 0 1", 3, 3, 3 - MATE_VALUE, 3 - MATE_VALUE},
        // K+B against K+N is a draw below the root, with a rook it is not.
        {"8/8/3nk3/8/8/3BK3/8/8 w - - 0 1", 2, 4, 0, 0},
        {"8/8/3nk3/8/8/3RK3/8/8 w - - 0 1", 2, 4, 101, SCORE_INFINITE},
        // The clock at 99: every move leaves White, a rook up, in a draw; a
        // null window above the draw fails low.
        {"4k3/8/8/8/8/8/3R4/4K3 b - - 99 80", 0, 4, 0, 0},
        {"5k2/8/8/8/8/8/3R4/4K3 w - - 100 81", 1, 3, 0, 10, 10, 11},
        // A mate on the 100th half-move is a mate; an escaped check a draw.
        {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 99 80", 0, 3, MATE_VALUE - 1, MATE_VALUE - 1},
        {"R5k1/5ppp/8/8/8/8/8/6K1 b - - 100 81", 1, 3, 1 - MATE_VALUE, 1 - MATE_VALUE, 5, 6},
        {"R5k1/5pp1/8/8/8/8/8/6K1 b - - 100 81", 1, 3, 0, 0, 5, 6},
    };
    for (const auto& c : cases) {
        Searcher s(c.fen);
        const int v = s.search(c.depth, c.alpha, c.beta, c.ply);
        EXPECT_TRUE(v >= c.low && v <= c.high) << c.fen << " at ply " << c.ply << ": " << v;
    }
}

// After 1.e4 and two rounds of knight moves the position after 1.e4 stands
// for the third time by the rules, although its first key carries an
// en-passant square; not so where a black pawn on d4 could have taken.
TEST(Search, RuleRepetitionAfterADoubleStep) {
    for (bool capturable : {false, true}) {
        TestPosition t(capturable ? "rnbqkbnr/ppp1pppp/8/8/3p4/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1" : START_FEN);
        ASSERT_TRUE(playText(*t, "e2e4"));
        for (int round = 0; round < 2; round++)
            for (const char* m : {"g8f6", "g1f3", "f6g8", "f3g1"}) ASSERT_TRUE(playText(*t, m));
        EXPECT_FALSE(isRepetition(*t, 0));
        EXPECT_EQ(isRuleRepetition(*t, 0), !capturable) << (capturable ? "d4 pawn" : "start");
    }
}

// A repetition inside the search line is a draw at once (+1 or -1 by the
// node counter); one of a position seen once before the root is not, twice is.
TEST(Search, RepetitionDraws) {
    // White is a rook up; the knights can shuffle.
    const std::string fen = "4k1n1/pppp4/8/8/8/8/PPPP4/R3K1N1 w - - 0 1";
    const char* shuffle[4] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (bool off : {false, true}) {
        Searcher s(fen, off);
        Position& pos = s.pos();
        // Nf3 Nf6 Ng1 Ng8 brings back the root at ply 4: not yet a draw.
        s.prepare(0);
        for (int i = 0; i < 4; i++) s.tp.play(shuffle[i], i);
        EXPECT_FALSE(isRepetition(pos, 4));
        EXPECT_GT(alphaBeta(4, 2, -SCORE_INFINITE, SCORE_INFINITE, pos), 200);
        // Nf3 again repeats the position after the first Nf3: a draw.
        s.tp.play("g1f3", 4);
        const int v = alphaBeta(5, 3, -SCORE_INFINITE, SCORE_INFINITE, pos);
        EXPECT_EQ(v, off ? 0 : 2 * int(pos.searchNodes & 1) - 1);
    }

    for (int earlier : {1, 2}) {
        Searcher s(fen);
        Position& pos = s.pos();
        // The position after Nf3 occurs `earlier` times before the root.
        for (int round = 0; round < earlier; round++)
            for (const char* m : shuffle) ASSERT_TRUE(playText(pos, m));
        s.prepare(0);
        s.tp.play("g1f3", 0);
        const int v = -alphaBeta(1, 2, -SCORE_INFINITE, SCORE_INFINITE, pos);
        EXPECT_TRUE(earlier == 1 ? v > 200 : v == 1 || v == -1) << earlier << " earlier occurrences: " << v;
    }
}

