// PGN games into training records.
//
// The games are those a match runner writes for data generation: tag pairs
// with a FEN start, moves in SAN (with or without move numbers), each move
// followed by a comment whose first word is the mover's score and depth,
// "+0.31/7" (pawns, side to move's view; "+M3"/"-M4" for mates, whatever
// follows is ignored), "book" for opening moves, and "unknown", "ERR/0" or
// a depth of 0 where the engine gave no score. A position is kept under the
// generator's rules: not a book move, a real score that is no mate score, not
// in check, the move neither a capture nor a promotion, and a balance the
// network evaluates. A game is written whole or not at all.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "board/position.h"
#include "train/record.h"

// Standard algebraic notation of a legal move, with "+" or "#" after a check
// (the lists of `ply` and `ply + 1` are generated into their buffers).
std::string moveToSan(Move move, int ply, Position& pos);
// The legal move the SAN names at `ply` (trailing + # ! ? ignored, "O-O" and
// "O-O-O" also in Chess960); a zero move when no legal move or more than
// one fits.
Move parseSan(std::string_view san, int ply, Position& pos);

struct PgnImportCounts {
    long long games = 0, imported = 0, noResult = 0, unreadable = 0;
    // Positions of the imported games: each is kept or filtered for the
    // first reason that applies, in this order.
    long long positions = 0, kept = 0;
    long long book = 0, noScore = 0, mateScore = 0, inCheck = 0, captureOrPromotion = 0, lopsided = 0;
    long long inputErrors = 0;  // files, archive members or bzip2 streams that could not be read whole

    long long filtered() const { return book + noScore + mateScore + inCheck + captureOrPromotion + lopsided; }
};

// Reads PGN text line by line. Every whole game that parses goes to the
// sink with its kept records (possibly none); a game that does not parse is
// named on `log` and dropped. A sink returning false stops the import.
class PgnImporter {
public:
    using Sink = std::function<bool(const std::vector<TrainingRecord>&)>;
    PgnImporter(Sink sink, std::ostream& log);
    ~PgnImporter();

    // A source is a file or an archive member; games are numbered within it.
    void beginSource(const std::string& name);
    void line(std::string_view text);
    // A game still open at the end of its source is truncated.
    void endSource();
    void inputError(const std::string& message);

    const PgnImportCounts& counts() const { return counts_; }
    bool sinkFailed() const { return sinkFailed_; }

private:
    struct Game;
    void startGame();
    void tagLine(std::string_view text);
    void token(std::string_view text);
    void comment(std::string_view text);
    bool setUpBoard();
    void playPending();
    void fail(const std::string& reason);
    void finishGame(std::string_view resultToken);
    void abandonGame(const std::string& reason);

    Sink sink_;
    std::ostream& log_;
    std::unique_ptr<Game> game_;
    std::unique_ptr<Position> pos_;
    std::unique_ptr<Move[]> moveBuffer_;
    std::string source_;
    int gameNumber_ = 0;
    bool inComment_ = false;
    std::string commentText_;
    int variationDepth_ = 0;
    bool firstLine_ = true;
    bool sinkFailed_ = false;
    PgnImportCounts counts_;
};

// Imports one path: a plain PGN, a bzip2-compressed PGN (decompressed by
// `bzip2 -dc` in a child process) or a tar archive whose members are either.
// The kind is read from the file's first bytes, not its name. False when the
// path cannot be opened; damaged streams are counted as input errors.
bool importPgnPath(const std::string& path, PgnImporter& importer);
