#include "board/position.h"

#include <initializer_list>

#include "board/attacks.h"
#include "eval/weights.h"

Position rootPosition;
Move rootMoveBuffer[MOVE_BUFFER_SIZE];

u64 zobristPiece[14][64];
u64 zobristEnPassant[8] = {0xc1e7974d83cf2e9aULL, 0xa065503b40caa076ULL, 0xc3b0a4e1876149cULL, 0x8a2e3741145c6e8ULL,
                           0xae4001635c8002c6ULL, 0x586d0580b0da0b01ULL, 0x7e7a662afcf4cc55ULL, 0x6445bbd8c88b77b1ULL};
u64 zobristCastling[16] = {0xb60876bcf1ac653fULL, 0xd4cdde2f569287f7ULL, 0x51d35eac0afccc14ULL, 0x3a7beeb09b44f869ULL,
                           0xd486dd2601e6eb11ULL, 0x30223840b621c72eULL, 0xbde5fbe6613d0596ULL, 0x80c0c4b4b30a4a0ULL,
                           0x5dead4ad97e078e3ULL, 0xe5a4fb8dc80c832dULL, 0x6a368a0a0c371606ULL, 0xd58ad32c0fb9dd66ULL,
                           0x9f7d65b07a4b56fdULL, 0x98b4526f3168a4deULL, 0x5b9c7c6cb738f8d9ULL, 0x52350392a46a0725ULL};
u64 zobristSide = 0xf31fa94fe63f529fULL;

void initZobrist() {
    // The piece keys are a fixed table of 768 constants in piece-code order
    // (code 2 squares 0..63 first). The first four are pinned; the rest come
    // from a splitmix64 stream with a fixed seed. Keys never leave the
    // process, so any well-mixed fixed set serves.
    static const u64 head[4] = {12465593870835614090ULL, 2169213759332388411ULL, 15122414357608959336ULL,
                                2794378144554106791ULL};
    u64 state = 0x5EED0F7E1A0C0DE5ULL;
    auto splitmix = [&state]() {
        u64 z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    for (int sq = 0; sq < 64; sq++) zobristPiece[0][sq] = zobristPiece[1][sq] = 0;
    int n = 0;
    for (int code = 2; code < 14; code++)
        for (int sq = 0; sq < 64; sq++, n++) zobristPiece[code][sq] = n < 4 ? head[n] : splitmix();
}

u64 computeKey(const Position& pos) {
    u64 k = 0;
    for (int sq = 0; sq < 64; sq++)
        if (pos.board[sq]) k ^= zobristPiece[pos.board[sq]][sq];
    const PlyState& st = pos.plyStack[0];
    k ^= zobristCastling[st.castlingRights & 15];
    if (st.epSquare) k ^= zobristEnPassant[st.epSquare & 7];
    if (pos.sideToMove == BLACK) k ^= zobristSide;
    return k;
}

u64 computePawnKingKey(const Position& pos) {
    u64 k = 0;
    for (int code : {WPAWN, BPAWN, WKING, BKING})
        for (u64 b = pos.pieces[code]; b;) k ^= zobristPiece[code][popLsb(b)];
    return k;
}

void recomputeSums(Position& pos) {
    pos.material[0] = pos.material[1] = 0;
    pos.psq[0] = pos.psq[1] = 0;
    pos.phase = 0;
    for (int code = WPAWN; code <= BKING; code++) {
        int c = pieceColour(code), t = pieceType(code);
        for (u64 b = pos.pieces[code]; b;) {
            int sq = popLsb(b);
            if (t != KING_T) pos.material[c] += pieceValue[t];
            pos.phase = i16(pos.phase + phaseWeight[t]);
            pos.psq[c] += pieceSquareScore[t][c == WHITE ? sq ^ 56 : sq];
        }
    }
}
