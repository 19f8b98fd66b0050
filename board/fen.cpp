#include "board/fen.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "board/attacks.h"
#include "board/movegen.h"

namespace {

constexpr const char* PIECE_LETTERS = "  PpNnBbRrQqKk";
constexpr const char* PROMO_LETTERS = "  ppnnbbrrqq";

bool parseSquare(const std::string& s, size_t at, int& sq) {
    if (s.size() < at + 2) return false;
    int f = s[at] - 'a', r = s[at + 1] - '1';
    if (f < 0 || f > 7 || r < 0 || r > 7) return false;
    sq = 8 * r + f;
    return true;
}

bool parseInteger(const std::string& s, long& value) {
    if (s.empty()) return false;
    char* end = nullptr;
    value = std::strtol(s.c_str(), &end, 10);
    return *end == '\0';
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

// Outermost rook of a colour on its back rank, on the given side of its king.
int outermostRook(const u8* board, int colour, int kingSq, bool kingSide) {
    const int base = colour == WHITE ? 0 : 56;
    if (rankOf(kingSq) != rankOf(base)) return OFF_BOARD;
    if (kingSide) {
        for (int f = 7; f > fileOf(kingSq); f--)
            if (board[base + f] == WROOK + colour) return base + f;
    } else {
        for (int f = 0; f < fileOf(kingSq); f++)
            if (board[base + f] == WROOK + colour) return base + f;
    }
    return OFF_BOARD;
}

}  // namespace

bool setPositionFromFen(const std::string& fen, Position& pos, std::string* error) {
    std::istringstream in(fen);
    std::vector<std::string> fields;
    for (std::string w; in >> w;) fields.push_back(w);
    if (fields.empty()) return fail(error, "empty FEN");
    if (fields.size() < 2) return fail(error, "no side to move");
    // Missing trailing fields take their usual defaults.
    static const char* defaults[6] = {"", "", "-", "-", "0", "1"};
    while (fields.size() < 6) fields.push_back(defaults[fields.size()]);

    // Placement, from a8 rank by rank.
    u8 board[64] = {};
    int rank = 7, file = 0;
    int count[14] = {};
    for (char c : fields[0]) {
        if (c == '/') {
            if (file != 8) return fail(error, "rank " + std::to_string(rank + 1) + " does not hold 8 squares");
            if (--rank < 0) return fail(error, "more than 8 ranks");
            file = 0;
        } else if (c >= '1' && c <= '8') {
            file += c - '0';
            if (file > 8) return fail(error, "rank " + std::to_string(rank + 1) + " holds more than 8 squares");
        } else {
            const char* at = c ? std::strchr(PIECE_LETTERS + 2, c) : nullptr;
            if (!at) return fail(error, std::string("bad placement character '") + c + "'");
            if (file > 7) return fail(error, "rank " + std::to_string(rank + 1) + " holds more than 8 squares");
            const int code = int(at - PIECE_LETTERS);
            board[8 * rank + file++] = u8(code);
            count[code]++;
        }
    }
    if (rank != 0 || file != 8) return fail(error, "the placement does not cover 64 squares");
    if (count[WKING] != 1 || count[BKING] != 1) return fail(error, "each side needs exactly one king");
    for (int f = 0; f < 8; f++)
        for (int sq : {f, 56 + f})
            if (board[sq] == WPAWN || board[sq] == BPAWN) return fail(error, "pawn on the first or last rank");
    for (int c = 0; c < 2; c++) {
        int men = 0;
        for (int code = WPAWN + c; code <= BKING; code += 2) men += count[code];
        if (men > 16 || count[WPAWN + c] > 8) return fail(error, "too many pieces for one side");
    }

    int side;
    if (fields[1] == "w")
        side = WHITE;
    else if (fields[1] == "b")
        side = BLACK;
    else
        return fail(error, "side to move must be 'w' or 'b'");

    long halfmove, fullmove;
    if (!parseInteger(fields[4], halfmove)) return fail(error, "half-move clock is not a number");
    if (!parseInteger(fields[5], fullmove)) return fail(error, "move number is not a number");

    int kingSq[2] = {0, 0};
    for (int sq = 0; sq < 64; sq++)
        if (board[sq] == WKING || board[sq] == BKING) kingSq[board[sq] & 1] = sq;

    // Castling: KQkq, or file letters (Shredder-FEN); the side of a lettered
    // rook is found from its king's square.
    u8 rights = 0;
    i8 rookSq[4];
    if (chess960)
        rookSq[0] = rookSq[1] = rookSq[2] = rookSq[3] = i8(OFF_BOARD);
    else
        rookSq[0] = 7, rookSq[1] = 63, rookSq[2] = 0, rookSq[3] = 56;
    for (char c : fields[2]) {
        if (c == 'K') rights |= CASTLE_WK;
        else if (c == 'Q') rights |= CASTLE_WQ;
        else if (c == 'k') rights |= CASTLE_BK;
        else if (c == 'q') rights |= CASTLE_BQ;
        else if (c >= 'A' && c <= 'H') {
            int f = c - 'A';
            if (f >= kingSq[WHITE]) rights |= CASTLE_WK, rookSq[0] = i8(f);
            else rights |= CASTLE_WQ, rookSq[2] = i8(f);
        } else if (c >= 'a' && c <= 'h') {
            int s = 56 + (c - 'a');
            if (s >= kingSq[BLACK]) rights |= CASTLE_BK, rookSq[1] = i8(s);
            else rights |= CASTLE_BQ, rookSq[3] = i8(s);
        } else if (c != '-')
            return fail(error, std::string("bad castling character '") + c + "'");
    }
    // In Chess960, K and Q name the outermost rook of that side on the back
    // rank (X-FEN); a rook elsewhere on the board can never castle.
    static const u8 rightOf[4] = {CASTLE_WK, CASTLE_BK, CASTLE_WQ, CASTLE_BQ};
    if (chess960)
        for (int i = 0; i < 4; i++)
            if (rookSq[i] == OFF_BOARD && (rights & rightOf[i]))
                rookSq[i] = i8(outermostRook(board, i & 1, kingSq[i & 1], i < 2));
    // A right survives only with its king on the back rank and its rook on the
    // named square on the proper side of the king; otherwise castling would
    // move pieces that are not there. Outside Chess960 only a king on the e-file
    // castles, and only with a corner rook (a Shredder letter naming another
    // file would castle by rules the standard move generator does not check).
    for (int i = 0; i < 4; i++) {
        if (!(rights & rightOf[i])) continue;
        const int c = i & 1, r = rookSq[i], k = kingSq[c];
        const bool ok = r >= 0 && r < 64 && board[r] == WROOK + c && rankOf(k) == (c == WHITE ? 0 : 7) &&
                        rankOf(r) == rankOf(k) && (i < 2 ? r > k : r < k) &&
                        (chess960 || (fileOf(k) == 4 && (fileOf(r) == 0 || fileOf(r) == 7)));
        if (!ok) rights &= u8(~rightOf[i]);
    }

    // En passant: the FEN names the square behind the pawn that just
    // double-stepped; we store the pawn's own square. The square is dropped
    // unless that pawn stands there with the two squares behind it empty.
    int ep = 0;
    if (fields[3] != "-") {
        int t;
        if (fields[3].size() != 2 || !parseSquare(fields[3], 0, t)) return fail(error, "bad en-passant square");
        const int pawnSq = side == BLACK ? t + 8 : t - 8;
        const int originSq = side == BLACK ? t - 8 : t + 8;
        const bool rightRank = rankOf(t) == (side == BLACK ? 2 : 5);
        if (rightRank && board[pawnSq] == WPAWN + (side ^ 1) && !board[t] && !board[originSq]) ep = pawnSq;
    }

    u64 pieces[14] = {};
    for (int sq = 0; sq < 64; sq++)
        if (board[sq]) {
            pieces[board[sq]] |= bit(sq);
            pieces[board[sq] & 1] |= bit(sq);
        }
    if (attackedBy(pieces, kingSq[side ^ 1], side, pieces[0] | pieces[1]))
        return fail(error, "the side not to move is in check");

    // The FEN is accepted: from here on `pos` is replaced.
    for (int sq = 0; sq < 64; sq++) pos.board[sq] = board[sq];
    for (int i = 0; i < 14; i++) pos.pieces[i] = pieces[i];
    pos.sideToMove = u8(side);
    for (int i = 0; i < 4; i++) pos.castleRookSquare[i] = rookSq[i];
    PlyState& st = pos.plyStack[0];
    st.castlingRights = rights;
    st.epSquare = i8(ep);
    pos.rule50 = i16(std::clamp(halfmove, 0L, 1000L));
    long g = side + 2 * (std::clamp(fullmove, -1000000L, 1000000L) - 1);
    g = std::clamp(g, 0L, 512L);
    for (long i = 0; i < g; i++) pos.keyHistory[i] = 0;
    pos.key = computeKey(pos);
    pos.pawnKingKey = computePawnKingKey(pos);
    pos.keyHistory[g] = pos.key;
    pos.gamePly = i16(g + 1);
    st.inCheck = isInCheck(pos);
    pos.accumulators[0].computed = 0;
    recomputeSums(pos);
    return true;
}

std::string positionToFen(const Position& pos) {
    std::string fen;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            const int code = pos.board[8 * rank + file];
            if (!code) {
                empty++;
                continue;
            }
            if (empty) fen += char('0' + empty), empty = 0;
            fen += PIECE_LETTERS[code];
        }
        if (empty) fen += char('0' + empty);
        if (rank) fen += '/';
    }
    const PlyState& st = pos.plyStack[0];
    fen += pos.sideToMove == WHITE ? " w " : " b ";
    const u8 r = st.castlingRights;
    if (!r) fen += '-';
    static const u8 rightOf[4] = {CASTLE_WK, CASTLE_WQ, CASTLE_BK, CASTLE_BQ};
    static const int rookIndex[4] = {0, 2, 1, 3};
    for (int i = 0; i < 4; i++) {
        if (!(r & rightOf[i])) continue;
        const int sq = pos.castleRookSquare[rookIndex[i]];
        const bool white = i < 2;
        if (chess960)
            fen += char((white ? 'A' : 'a') + fileOf(sq));
        else
            fen += "KQkq"[i];
    }
    fen += ' ';
    if (st.epSquare)
        fen += squareText(pos.sideToMove == WHITE ? st.epSquare + 8 : st.epSquare - 8);
    else
        fen += '-';
    const int fullmove = 1 + std::max(0, pos.gamePly - 1) / 2;
    fen += ' ' + std::to_string(pos.rule50) + ' ' + std::to_string(fullmove);
    return fen;
}

std::string squareText(int sq) { return {char('a' + (sq & 7)), char('1' + (sq >> 3))}; }

std::string moveToText(Move move, int side, const Position& pos) {
    const int from = move.from, to = move.to;
    switch (move.flag) {
    case FLAG_EP:
        return squareText(from) + squareText(to + 8 - 16 * side);
    case FLAG_CASTLE_K:
    case FLAG_CASTLE_Q:
        if (chess960)
            return squareText(from) + squareText(pos.castleRookSquare[(to == 6 || to == 62) ? side : 2 + side]);
        return squareText(from) + squareText(to);
    default:
        if (isPromotion(move.flag)) return squareText(from) + squareText(to) + PROMO_LETTERS[move.flag];
        return squareText(from) + squareText(to);
    }
}

std::string pvToText(const Position& pos, int pvLast) {
    std::string text;
    int side = pos.sideToMove;
    for (int i = 0; i <= pvLast; i++, side ^= 1) text += moveToText(pos.plyStack[i].bestMove, side, pos) + ' ';
    return text;
}

Move parseMoveText(const std::string& text, const Position& pos) {
    int from, to;
    if ((text.size() != 4 && text.size() != 5) || !parseSquare(text, 0, from) || !parseSquare(text, 2, to))
        return Move{};
    int flag = FLAG_NORMAL;
    if (text.size() == 5) {
        // Only n, b, r and q promote; the other letters of " pnbrqk" would
        // read as flags of other move kinds.
        if (!text[4] || !std::strchr("nbrq", text[4])) return Move{};
        flag = 2 * int(std::strchr(" pnbrqk", text[4]) - " pnbrqk");
    }
    const int s = pos.sideToMove;
    if (pos.board[from] == WKING + s) {
        if (chess960) {
            if (pos.board[to] == WROOK + s) {
                const bool queenSide = to == pos.castleRookSquare[2 + s];
                flag = queenSide ? FLAG_CASTLE_Q : FLAG_CASTLE_K;
                to = (s == WHITE ? 0 : 56) + (queenSide ? 2 : 6);
            }
        } else if (text == "e1g1" || text == "e8g8") {
            flag = FLAG_CASTLE_K;
        } else if (text == "e1c1" || text == "e8c8") {
            flag = FLAG_CASTLE_Q;
        }
    } else if (pos.board[from] == WPAWN + s) {
        if (fileOf(from) != fileOf(to) && !pos.board[to]) {
            flag = FLAG_EP;
            to = s == WHITE ? to - 8 : to + 8;
        } else if (std::abs(from - to) == 16) {
            flag = FLAG_DOUBLE;
        }
    }
    return makeMove(from, to, flag);
}

Move parseLegalMove(const std::string& text, int ply, Position& pos) {
    const Move m = parseMoveText(text, pos);
    if (isNoMove(m)) return m;
    Move* begin = pos.plyStack[ply].moveListBegin;
    generateLegal(ply, begin, pos);
    for (Move* it = begin; it < pos.plyStack[ply].moveListEnd; it++)
        if (sameMove(*it, m)) return *it;
    return Move{};
}

std::string boardDiagram(const Position& pos) {
    static const char* rule = "+---+---+---+---+---+---+---+---+\n";
    std::string text = rule;
    for (int rank = 7; rank >= 0; rank--) {
        for (int file = 0; file < 8; file++) {
            text += "| ";
            text += PIECE_LETTERS[pos.board[8 * rank + file]];
            text += ' ';
        }
        text += "|\n";
        text += rule;
    }
    return text;
}

std::string chess960StartFen(int index) {
    // Scharnagl numbering: bishops, queen, knights, then R K R in the gaps.
    std::array<char, 8> rank{};
    int n = index;
    rank[2 * (n % 4) + 1] = 'B', n /= 4;
    rank[2 * (n % 4)] = 'B', n /= 4;
    auto place = [&rank](char piece, int nth) {
        for (int f = 0; f < 8; f++)
            if (!rank[f] && nth-- == 0) {
                rank[f] = piece;
                return;
            }
    };
    place('Q', n % 6), n /= 6;
    static const int knights[10][2] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2}, {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}};
    place('N', knights[n][1]);
    place('N', knights[n][0]);
    place('R', 0), place('K', 0), place('R', 0);
    std::string white(rank.begin(), rank.end()), black = white;
    for (char& c : black) c = char(c + ('a' - 'A'));
    std::string castling;
    for (int f = 7; f >= 0; f--)
        if (rank[f] == 'R') castling += char('A' + f);
    std::string lower = castling;
    for (char& c : lower) c = char(c + ('a' - 'A'));
    return black + "/pppppppp/8/8/8/8/PPPPPPPP/" + white + " w " + castling + lower + " - 0 1";
}
