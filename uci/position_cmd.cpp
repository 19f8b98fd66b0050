#include "uci/position_cmd.h"

#include <cstring>
#include <string>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "platform/output.h"
#include "uci/engine.h"

namespace {

// The search needs MAX_PLY + 1 free entries behind the game's keys. A game
// longer than the history holds keeps only its latest positions: repetitions
// older than the last capture or pawn move (at most 100 plies for a game
// still running) can never matter.
constexpr int HISTORY_LIMIT = KEY_HISTORY_SIZE - MAX_PLY - 2;
constexpr int HISTORY_KEPT = 256;

void makeRoomInHistory(Position& pos) {
    if (pos.gamePly < HISTORY_LIMIT) return;
    std::memmove(pos.keyHistory, pos.keyHistory + pos.gamePly - HISTORY_KEPT, HISTORY_KEPT * sizeof(u64));
    pos.gamePly = HISTORY_KEPT;
}

}  // namespace

void applyRootMove(Move move) {
    Position& pos = rootPosition;
    makeRoomInHistory(pos);
    doMove(0, move, pos);
    PlyState& root = pos.plyStack[0];
    const PlyState& next = pos.plyStack[1];
    root.castlingRights = next.castlingRights;
    root.epSquare = next.epSquare;
    root.savedKey = next.savedKey;
    root.savedPawnKingKey = next.savedPawnKingKey;
}

void positionCommand(std::istringstream& words) {
    std::string word, fen;
    words >> word;
    const bool fromStart = word == "startpos";
    if (fromStart) {
        fen = START_FEN;
        words >> word;  // "moves"
    } else if (word == "fen") {
        while (words >> word && word != "moves") fen += word + " ";
    } else {
        say("info string position needs 'startpos' or 'fen'; position unchanged");
        return;
    }

    std::string error;
    if (!setPositionFromFen(fen, rootPosition, &error)) {
        say("info string Invalid FEN (" + error + "); position unchanged");
        return;
    }

    int n = 0;
    while (words >> word) {
        const Move m = parseLegalMove(word, 0, rootPosition);
        if (isNoMove(m)) {
            say("info string Illegal move: " + word + "; the moves from there on are ignored");
            break;
        }
        applyRootMove(m);
        n++;
    }

    rootPosition.key = computeKey(rootPosition);
    rootPosition.pawnKingKey = computePawnKingKey(rootPosition);
    rootPosition.plyStack[0].inCheck = isInCheck(rootPosition);
    if (fromStart)
        gameStage = n;
    else
        gameStage = rootPosition.gamePly > 1 ? rootPosition.gamePly + n : 1024;
}
