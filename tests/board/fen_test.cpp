// FEN set-up, refusal of malformed FENs, move text in both castling modes.
#include <gtest/gtest.h>

#include <tuple>

#include "board/fen.h"
#include "board/movegen.h"
#include "test_util.h"

// The fields a FEN sets: castling rights only where king and rook stand, an
// en-passant square only behind a double-stepped pawn, the move number as
// game plies (clamped to the key history), missing fields as "- - 0 1".
TEST(Fen, FieldsAndDefaults) {
    Chess960Mode mode(false);
    const struct {
        const char* fen;
        int rights, epSquare, gamePly, rule50;
        const char* written;  // positionToFen, "" = the FEN itself
    } cases[] = {
        {START_FEN, 15, 0, 1, 0, ""},
        {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", 15, sq("e4"), 2, 0, ""},
        {"4k3/8/8/8/8/8/8/4K3 w", 0, 0, 1, 0, "4k3/8/8/8/8/8/8/4K3 w - - 0 1"},
        // 599 plies clamped to 512, plus the stored key.
        {"4k3/8/8/8/8/8/8/4K3 b - - 7 300", 0, 0, 513, 7, "4k3/8/8/8/8/8/8/4K3 b - - 7 257"},
        {"4k3/8/8/8/8/8/8/4K3 w KQkq - 0 1", 0, 0, 1, 0, "4k3/8/8/8/8/8/8/4K3 w - - 0 1"},
        {"r3k2r/8/8/8/8/8/4K3/R6R w KQkq - 0 1", CASTLE_BK | CASTLE_BQ, 0, 1, 0, "r3k2r/8/8/8/8/8/4K3/R6R w kq - 0 1"},
        {"4k3/8/8/8/8/8/8/4K3 b - e3 0 1", 0, 0, 2, 0, "4k3/8/8/8/8/8/8/4K3 b - - 0 1"},
    };
    for (const auto& c : cases) {
        TestPosition p(c.fen);
        EXPECT_EQ(std::tuple(int(p->plyStack[0].castlingRights), int(p->plyStack[0].epSquare), p->gamePly, p->rule50),
                  std::tuple(c.rights, c.epSquare, c.gamePly, c.rule50))
            << c.fen;
        EXPECT_EQ(positionToFen(*p), *c.written ? c.written : c.fen);
        EXPECT_EQ(checkConsistency(*p), "") << c.fen;
    }
}

TEST(Fen, CastlingLettersInBothForms) {
    Chess960Mode mode(false);
    TestPosition classic(START_FEN);
    TestPosition shredder("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1");
    EXPECT_EQ(shredder->plyStack[0].castlingRights, classic->plyStack[0].castlingRights);
    for (int i = 0; i < 4; i++) EXPECT_EQ(shredder->castleRookSquare[i], classic->castleRookSquare[i]);
    EXPECT_EQ(shredder->key, classic->key);

    chess960 = true;
    TestPosition xfen("1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w KQkq - 0 1");
    EXPECT_EQ(std::vector<int>(xfen->castleRookSquare, xfen->castleRookSquare + 4),
              (std::vector<int>{sq("g1"), sq("g8"), sq("b1"), sq("b8")}));
    // K names the outermost rook on the back rank, not one further up.
    TestPosition outer("4k3/8/8/8/R7/8/8/4K1RR w K - 0 1");
    EXPECT_EQ(outer->castleRookSquare[0], sq("h1"));
    TestPosition shredder960("4k3/8/8/8/8/8/8/R3KR1R w F - 0 1");
    EXPECT_EQ(shredder960->castleRookSquare[0], sq("f1"));
    EXPECT_EQ(shredder960->plyStack[0].castlingRights, CASTLE_WK);
}

// Refused FENs name what is wrong ("" where any reason will do) and leave
// the position as it was.
TEST(Fen, MalformedFensAreRefusedAndLeaveThePositionAlone) {
    TestPosition p("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 3 20");
    const std::string before = positionToFen(*p);
    const std::pair<const char*, const char*> cases[] = {
        {"", "empty FEN"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", "no side to move"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1", "bad placement character 'X'"},
        {"rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "rank 7 holds more than 8 squares"},
        {"rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "rank 7 does not hold 8 squares"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w KQkq - 0 1", ""},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/8 w KQkq - 0 1", ""},
        {"rnbq1bnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQ - 0 1", "each side needs exactly one king"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1", "side to move must be 'w' or 'b'"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - zero 1", "half-move clock is not a number"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 one", "move number is not a number"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq z9 0 1", "bad en-passant square"},
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KXkq - 0 1", ""},
        {"P3k3/8/8/8/8/8/8/4K3 w - - 0 1", ""},
        {"4k3/8/8/8/8/8/8/4K2p w - - 0 1", ""},
        {"4k3/8/8/8/8/8/4Q3/4K3 w - - 0 1", "the side not to move is in check"},
        {"QQQQQQQQ/QQQQQQQQ/QN6/8/8/8/8/K6k w - - 0 1", ""},
    };
    for (const auto& [bad, reason] : cases) {
        std::string error;
        EXPECT_FALSE(setPositionFromFen(bad, *p, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_TRUE(!*reason || error == reason) << bad << ": " << error;
        EXPECT_EQ(positionToFen(*p), before) << bad;
        EXPECT_EQ(checkConsistency(*p), "") << bad;
    }
}

TEST(Fen, ReadingMovesFindsTheirKind) {
    Chess960Mode mode(false);
    TestPosition p("r3k2r/6P1/8/3pP3/8/8/4P3/R3K2R w KQkq d6 0 1");
    auto read = [&](const char* text) { return parseMoveText(text, *p); };
    EXPECT_EQ(read("e1g1").flag, FLAG_CASTLE_K);
    EXPECT_EQ(read("e1c1").flag, FLAG_CASTLE_Q);
    EXPECT_EQ(read("e5d6").flag, FLAG_EP);
    EXPECT_EQ(read("e5d6").to, sq("d5"));
    EXPECT_EQ(read("e2e4").flag, FLAG_DOUBLE);
    EXPECT_EQ(read("g7h8q").flag, FLAG_PROMO_Q);
    EXPECT_EQ(read("g7g8n").flag, FLAG_PROMO_N);
    for (const char* junk : {"", "e2", "e2e9", "i1a1", "g7g8k", "g7g8p", "g7g8x", "e2e4qq"})
        EXPECT_TRUE(isNoMove(read(junk))) << junk;
    EXPECT_TRUE(isNoMove(parseLegalMove("e2e5", 0, *p)));
    EXPECT_TRUE(isNoMove(parseLegalMove("e1h1", 0, *p)));  // king takes own rook is not castling here
    EXPECT_EQ(parseLegalMove("g7h8r", 0, *p).flag, FLAG_PROMO_R);

    chess960 = true;
    TestPosition q("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
    const Move castle = parseLegalMove("e1a1", 0, *q);
    EXPECT_EQ(castle.flag, FLAG_CASTLE_Q);
    EXPECT_EQ(castle.to, sq("c1"));
}
