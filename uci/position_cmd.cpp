#include "uci/position_cmd.h"

#include <string>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "platform/output.h"
#include "search/timeman.h"
#include "uci/engine.h"

void applyRootMove(Move move) { playRootMove(rootPosition, move); }

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
