#include "train/pgn.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board/fen.h"
#include "board/makemove.h"
#include "board/movegen.h"
#include "eval/evaluate.h"
#include "search/search.h"

namespace {

// Where a pawn lands: an en-passant move's `to` is the captured pawn.
int landingSquare(Move m, int side) {
    return m.flag == FLAG_EP ? (side == WHITE ? m.to + 8 : m.to - 8) : m.to;
}

bool isCapture(Move m, const Position& pos) {
    return m.flag == FLAG_EP || (!isCastling(m.flag) && pos.board[m.to] != EMPTY);
}

constexpr const char* PIECE_SAN = "PNBRQK";

}  // namespace

std::string moveToSan(Move move, int ply, Position& pos) {
    Move* begin = pos.plyStack[ply].moveListBegin;
    generateLegal(ply, begin, pos);
    const int side = pos.sideToMove;
    std::string san;
    if (isCastling(move.flag)) {
        san = move.flag == FLAG_CASTLE_K ? "O-O" : "O-O-O";
    } else {
        const int type = pieceType(pos.board[move.from]);
        const int to = landingSquare(move, side);
        const bool capture = isCapture(move, pos);
        if (type == PAWN_T) {
            if (capture) san += char('a' + fileOf(move.from));
        } else {
            san += PIECE_SAN[type];
            bool rival = false, sameFile = false, sameRank = false;
            for (Move* m = begin; m < pos.plyStack[ply].moveListEnd; m++) {
                if (m->from == move.from || isCastling(m->flag) || m->to != move.to ||
                    pieceType(pos.board[m->from]) != type)
                    continue;
                rival = true;
                sameFile |= fileOf(m->from) == fileOf(move.from);
                sameRank |= rankOf(m->from) == rankOf(move.from);
            }
            if (rival && (!sameFile || sameRank)) san += char('a' + fileOf(move.from));
            if (rival && sameFile) san += char('1' + rankOf(move.from));
        }
        if (capture) san += 'x';
        san += squareText(to);
        if (isPromotion(move.flag)) san += '=', san += PIECE_SAN[pieceType(move.flag)];
    }
    doMove(ply, move, pos);
    if (isInCheck(pos)) san += countLegal(ply + 1, pos.plyStack[ply + 1].moveListBegin, pos) ? '+' : '#';
    undoMove(ply, move, pos);
    return san;
}

Move parseSan(std::string_view san, int ply, Position& pos) {
    while (!san.empty() && std::strchr("+#!?", san.back())) san.remove_suffix(1);
    if (san.empty()) return Move{};
    Move* begin = pos.plyStack[ply].moveListBegin;
    generateLegal(ply, begin, pos);
    Move* end = pos.plyStack[ply].moveListEnd;

    int castle = 0;
    if (san == "O-O" || san == "0-0") castle = FLAG_CASTLE_K;
    if (san == "O-O-O" || san == "0-0-0") castle = FLAG_CASTLE_Q;
    if (castle) {
        for (Move* m = begin; m < end; m++)
            if (m->flag == castle) return *m;
        return Move{};
    }

    int type = PAWN_T;
    if (const char* p = std::strchr(PIECE_SAN + 1, san[0]); p && *p) {
        type = int(p - PIECE_SAN);
        san.remove_prefix(1);
    }
    int promotion = 0;  // the promotion flag asked for
    if (type == PAWN_T && san.size() >= 3) {
        const char last = char(std::toupper(static_cast<unsigned char>(san.back())));
        const bool withEquals = san[san.size() - 2] == '=';
        if (const char* p = std::strchr(PIECE_SAN + 1, last);
            p && *p && last != 'K' && (withEquals || last == san.back())) {
            promotion = makePiece(int(p - PIECE_SAN), WHITE);
            san.remove_suffix(withEquals ? 2 : 1);
        }
    }
    if (san.size() < 2) return Move{};
    const char df = san[san.size() - 2], dr = san[san.size() - 1];
    if (df < 'a' || df > 'h' || dr < '1' || dr > '8') return Move{};
    const int dest = (dr - '1') * 8 + (df - 'a');
    san.remove_suffix(2);
    if (!san.empty() && (san.back() == 'x' || san.back() == ':')) san.remove_suffix(1);
    int file = -1, rank = -1;
    for (char c : san) {
        if (c >= 'a' && c <= 'h' && file < 0 && rank < 0)
            file = c - 'a';
        else if (c >= '1' && c <= '8' && rank < 0)
            rank = c - '1';
        else
            return Move{};
    }
    // A pawn stays on its file unless it captures, and a capture names it.
    if (type == PAWN_T && file < 0) file = fileOf(dest);

    Move found{};
    int matches = 0;
    for (Move* m = begin; m < end; m++) {
        if (isCastling(m->flag) || pieceType(pos.board[m->from]) != type ||
            landingSquare(*m, pos.sideToMove) != dest)
            continue;
        if ((file >= 0 && fileOf(m->from) != file) || (rank >= 0 && rankOf(m->from) != rank)) continue;
        if ((isPromotion(m->flag) ? int(m->flag) : 0) != promotion) continue;
        found = *m;
        matches++;
    }
    return matches == 1 ? found : Move{};
}

// ---------------------------------------------------------------------------

struct PgnImporter::Game {
    bool active = false;          // a tag or a move text token was seen
    bool blankAfterTags = false;  // the tag section has ended
    bool boardReady = false;
    bool failed = false;
    std::string failure;
    std::vector<std::pair<std::string, std::string>> tags;
    int ply = 0;        // half-moves since the start array of the position on the board
    int movesRead = 0;  // moves of this game read so far
    bool pending = false, commented = false;
    Move pendingMove{};
    std::string pendingSan;
    std::vector<TrainingRecord> records;
    PgnImportCounts counts;  // positions and filters of this game only

    const std::string* tag(const char* name) const {
        for (const auto& [k, v] : tags)
            if (k == name) return &v;
        return nullptr;
    }
};

PgnImporter::PgnImporter(Sink sink, std::ostream& log)
    : sink_(std::move(sink)), log_(log), game_(std::make_unique<Game>()), pos_(std::make_unique<Position>()),
      moveBuffer_(std::make_unique<Move[]>(MOVE_BUFFER_SIZE)) {}

PgnImporter::~PgnImporter() = default;

void PgnImporter::beginSource(const std::string& name) {
    source_ = name;
    gameNumber_ = 0;
    inComment_ = false;
    variationDepth_ = 0;
    firstLine_ = true;
}

void PgnImporter::endSource() {
    if (game_->active)
        abandonGame(inComment_ ? "truncated: the input ends inside a comment"
                               : "truncated: the input ends before the game's result");
    inComment_ = false;
    variationDepth_ = 0;
}

void PgnImporter::inputError(const std::string& message) {
    log_ << message << "\n";
    counts_.inputErrors++;
}

void PgnImporter::startGame() {
    std::vector<TrainingRecord> records = std::move(game_->records);
    records.clear();
    *game_ = Game{};
    game_->records = std::move(records);
    game_->active = true;
    gameNumber_++;
}

// Text from the input as a message shows it: at most 100 bytes, control
// and non-ASCII bytes as '?'.
static std::string shown(std::string_view text) {
    std::string s(text.substr(0, 100));
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
    return text.size() > 100 ? s + "..." : s;
}

void PgnImporter::fail(const std::string& reason) {
    Game& g = *game_;
    if (g.failed) return;
    g.failed = true;
    g.failure = reason;
}

void PgnImporter::line(std::string_view text) {
    if (firstLine_ && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    firstLine_ = false;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    size_t i = 0;
    if (inComment_) {
        const size_t close = text.find('}');
        if (close == std::string_view::npos) {
            commentText_.append(text).push_back(' ');
            return;
        }
        commentText_.append(text.substr(0, close));
        inComment_ = false;
        comment(commentText_);
        i = close + 1;
    } else {
        if (!text.empty() && text[0] == '%') return;  // escape line
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
        if (i == text.size()) {
            if (game_->active && !game_->tags.empty() && !game_->boardReady) game_->blankAfterTags = true;
            return;
        }
        if (text[i] == '[' && variationDepth_ == 0) {
            tagLine(text.substr(i));
            return;
        }
    }
    while (i < text.size()) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            i++;
        } else if (c == '{') {
            const size_t close = text.find('}', i + 1);
            if (close == std::string_view::npos) {
                inComment_ = true;
                commentText_.assign(text.substr(i + 1)).push_back(' ');
                return;
            }
            comment(text.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (c == ';') {
            return;  // comment to the end of the line
        } else if (c == '(') {
            if (!game_->active) startGame();
            if (variationDepth_++ == 0) fail("variations are not supported");
            i++;
        } else if (c == ')') {
            if (variationDepth_ > 0) variationDepth_--;
            i++;
        } else {
            size_t j = i + 1;
            while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j])) && text[j] != '{' &&
                   text[j] != ';' && text[j] != '(' && text[j] != ')')
                j++;
            if (variationDepth_ == 0) token(text.substr(i, j - i));
            i = j;
        }
    }
}

void PgnImporter::tagLine(std::string_view text) {
    Game& g = *game_;
    // Tags after the move text (or after the blank line that ends a tag
    // section) begin the next game: this one lost its result.
    if (g.active && (g.boardReady || g.movesRead > 0 || g.blankAfterTags))
        abandonGame("truncated: the next game begins before this one's result");
    if (!game_->active) startGame();
    while (true) {
        size_t i = 0;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
        text.remove_prefix(i);
        if (text.empty()) return;
        if (text[0] != '[') break;
        size_t j = 1;
        while (j < text.size() && text[j] == ' ') j++;
        const size_t nameStart = j;
        while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_')) j++;
        const std::string name(text.substr(nameStart, j - nameStart));
        while (j < text.size() && text[j] == ' ') j++;
        if (name.empty() || j >= text.size() || text[j] != '"') break;
        std::string value;
        for (j++; j < text.size() && text[j] != '"'; j++) {
            if (text[j] == '\\' && j + 1 < text.size()) j++;
            value += text[j];
        }
        if (j >= text.size()) break;
        j++;
        while (j < text.size() && text[j] == ' ') j++;
        if (j >= text.size() || text[j] != ']') break;
        game_->tags.emplace_back(name, std::move(value));
        text.remove_prefix(j + 1);
    }
    fail("malformed tag pair: " + shown(text));
}

bool PgnImporter::setUpBoard() {
    Game& g = *game_;
    const std::string* fenTag = g.tag("FEN");
    const std::string* setUp = g.tag("SetUp");
    if (!fenTag && setUp && *setUp == "1") {
        fail("SetUp \"1\" without a FEN tag");
        return false;
    }
    const std::string fen = fenTag ? *fenTag : std::string(START_FEN);
    // Chess960 when the variant says so, or when the castling field names
    // rook files (Shredder-FEN).
    bool frc = false;
    if (const std::string* variant = g.tag("Variant")) {
        std::string v = *variant;
        std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        frc = v.find("960") != std::string::npos || v.find("fischerandom") != std::string::npos;
    }
    size_t field = fen.find(' ');
    if (field != std::string::npos) field = fen.find(' ', field + 1);
    if (field != std::string::npos)
        for (size_t i = field + 1; i < fen.size() && fen[i] != ' '; i++)
            if (!std::strchr("KQkq-", fen[i])) frc = true;
    chess960 = frc;
    std::string error;
    if (!setPositionFromFen(fen, *pos_, &error)) {
        fail("FEN tag \"" + shown(fen) + "\" does not parse: " + error);
        return false;
    }
    pos_->plyStack[0].moveListBegin = moveBuffer_.get();
    g.ply = pos_->gamePly - 1;
    g.boardReady = true;
    return true;
}

void PgnImporter::playPending() {
    Game& g = *game_;
    if (!g.pending || g.failed) return;
    if (!g.commented) {
        fail("move " + std::to_string(g.movesRead) + " '" + g.pendingSan + "' has no comment");
        return;
    }
    playRootMove(*pos_, g.pendingMove);
    g.ply++;
    g.pending = false;
}

void PgnImporter::token(std::string_view t) {
    if (t == "1-0" || t == "0-1" || t == "1/2-1/2" || t == "*") {
        if (!game_->active) startGame();
        finishGame(t);
        return;
    }
    if (!game_->active) startGame();
    Game& g = *game_;
    // Move numbers ("12." or "12..."), also glued to the move ("12.Nf3").
    size_t k = 0;
    while (k < t.size() && std::isdigit(static_cast<unsigned char>(t[k]))) k++;
    if (k > 0 && (k == t.size() || t[k] == '.')) {
        while (k < t.size() && t[k] == '.') k++;
        t.remove_prefix(k);
    }
    while (!t.empty() && t[0] == '.') t.remove_prefix(1);
    if (t.empty() || t[0] == '$' || t.find_first_not_of("!?") == std::string_view::npos) return;
    g.movesRead++;
    if (g.failed) return;
    if (!g.boardReady && !setUpBoard()) return;
    playPending();
    if (g.failed) return;
    const Move m = parseSan(t, 0, *pos_);
    if (isNoMove(m)) {
        fail("move " + std::to_string(g.movesRead) + " '" + shown(t) + "' is not a legal move in " +
             positionToFen(*pos_));
        return;
    }
    g.pending = true;
    g.commented = false;
    g.pendingMove = m;
    g.pendingSan.assign(t);
}

namespace {

// The first word of a move comment: "+0.31/7", "-M4/12", "ERR/0".
struct CommentScore {
    bool ok = false, book = false, noScore = false, mate = false;
    int cp = 0;
};

CommentScore readComment(std::string_view text) {
    CommentScore s;
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
    size_t j = i;
    while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j])) && text[j] != ',') j++;
    const std::string_view word = text.substr(i, j - i);
    if (word == "book") {
        s.ok = s.book = true;
        return s;
    }
    if (word == "unknown") {
        s.ok = s.noScore = true;
        return s;
    }
    const size_t slash = word.find('/');
    if (slash == std::string_view::npos || slash + 1 == word.size()) return s;
    int depth = 0;
    for (char c : word.substr(slash + 1)) {
        if (c < '0' || c > '9') return s;
        depth = std::min(depth * 10 + (c - '0'), 1000000);
    }
    std::string_view score = word.substr(0, slash);
    if (score == "ERR") {
        s.ok = s.noScore = true;
        return s;
    }
    const bool negative = !score.empty() && score[0] == '-';
    if (!score.empty() && (score[0] == '+' || score[0] == '-')) score.remove_prefix(1);
    if (!score.empty() && score[0] == 'M') {
        score.remove_prefix(1);
        if (score.empty() || score.find_first_not_of("0123456789") != std::string_view::npos) return s;
        s.ok = s.mate = true;
        return s;
    }
    // Pawns with any number of decimals, rounded to centipawns.
    const size_t dot = score.find('.');
    const std::string_view whole = score.substr(0, dot);
    const std::string_view frac = dot == std::string_view::npos ? std::string_view{} : score.substr(dot + 1);
    if (whole.empty() || whole.size() > 6 || whole.find_first_not_of("0123456789") != std::string_view::npos ||
        frac.find_first_not_of("0123456789") != std::string_view::npos ||
        (dot != std::string_view::npos && frac.empty()))
        return s;
    long long thousandths = 0;  // three decimals, the fourth rounds
    for (char c : whole) thousandths = thousandths * 10 + (c - '0');
    thousandths *= 1000;
    for (size_t d = 0; d < 3; d++)
        thousandths += (d < frac.size() ? frac[d] - '0' : 0) * (d == 0 ? 100 : d == 1 ? 10 : 1);
    if (frac.size() > 3 && frac[3] >= '5') thousandths++;
    const long long cp = (thousandths + 5) / 10;
    s.cp = int(negative ? -cp : cp);
    s.ok = true;
    s.noScore = depth == 0;  // a match runner's placeholder when the engine printed nothing
    return s;
}

}  // namespace

void PgnImporter::comment(std::string_view text) {
    Game& g = *game_;
    if (variationDepth_ > 0 || !g.active || g.failed || !g.pending || g.commented) return;
    g.commented = true;
    const CommentScore s = readComment(text);
    if (!s.ok) {
        fail("unknown comment {" + shown(text) + "} after move " + std::to_string(g.movesRead) + " '" + g.pendingSan +
             "'");
        return;
    }
    PgnImportCounts& c = g.counts;
    Position& pos = *pos_;
    const Move m = g.pendingMove;
    c.positions++;
    if (s.book)
        c.book++;
    else if (s.noScore)
        c.noScore++;
    else if (s.mate || std::abs(s.cp) >= MATE_IN_MAX)
        c.mateScore++;
    else if (pos.plyStack[0].inCheck)  // set by parseSan's move generation
        c.inCheck++;
    else if (isCapture(m, pos) || isPromotion(m.flag))
        c.captureOrPromotion++;
    else if (!networkEvaluates(pos))
        c.lopsided++;
    else {
        c.kept++;
        g.records.push_back(packRecord(pos, s.cp, g.ply));
    }
}

void PgnImporter::finishGame(std::string_view resultToken) {
    Game& g = *game_;
    if (!g.failed && !g.boardReady) setUpBoard();  // a game without moves still needs a sound FEN
    playPending();
    counts_.games++;
    if (g.failed) {
        abandonGame("");
        return;
    }
    const std::string* tag = g.tag("Result");
    const std::string result = tag ? *tag : std::string(resultToken);
    if (tag && resultToken != "*" && *tag != resultToken) {
        fail("the Result tag says " + *tag + " but the moves end in " + std::string(resultToken));
        abandonGame("");
        return;
    }
    const int white = result == "1-0" ? 1 : result == "0-1" ? -1 : result == "1/2-1/2" ? 0 : 2;
    if (white == 2) {
        counts_.noResult++;
        g.active = false;
        return;
    }
    for (TrainingRecord& r : g.records) r.result = i8(r.sideToMove == WHITE ? white : -white);
    if (!sinkFailed_ && !sink_(g.records)) sinkFailed_ = true;
    counts_.imported++;
    const PgnImportCounts& c = g.counts;
    counts_.positions += c.positions, counts_.kept += c.kept, counts_.book += c.book, counts_.noScore += c.noScore;
    counts_.mateScore += c.mateScore, counts_.inCheck += c.inCheck;
    counts_.captureOrPromotion += c.captureOrPromotion, counts_.lopsided += c.lopsided;
    g.active = false;
}

// Drops the current game with a message naming it. An empty reason: the
// game has already failed and is counted.
void PgnImporter::abandonGame(const std::string& reason) {
    Game& g = *game_;
    if (!reason.empty()) {
        fail(reason);
        counts_.games++;
    }
    counts_.unreadable++;
    std::string who;
    for (const char* name : {"White", "Black", "Round", "FEN"})
        if (const std::string* v = g.tag(name))
            who += std::string(who.empty() ? "" : ", ") + name + " \"" + shown(*v) + "\"";
    log_ << source_ << ": game " << gameNumber_ << (who.empty() ? "" : " (" + who + ")")
         << " not imported: " << g.failure << "\n";
    g.active = false;
}

// ---------------------------------------------------------------------------

namespace {

// Splits bytes into lines for the importer.
class LineFeeder {
public:
    explicit LineFeeder(PgnImporter& importer) : importer_(importer) {}
    void feed(const char* p, size_t n) {
        while (n > 0) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', n));
            if (!nl) {
                partial_.append(p, n);
                return;
            }
            const size_t len = size_t(nl - p);
            if (partial_.empty()) {
                importer_.line(std::string_view(p, len));
            } else {
                partial_.append(p, len);
                importer_.line(partial_);
                partial_.clear();
            }
            p += len + 1;
            n -= len + 1;
        }
    }
    void finish() {
        if (!partial_.empty()) importer_.line(partial_);
        partial_.clear();
    }

private:
    PgnImporter& importer_;
    std::string partial_;
};

// Reads until the end of the file or `limit` bytes; what was read.
size_t readFull(int fd, char* out, size_t limit) {
    size_t got = 0;
    while (got < limit) {
        const ssize_t r = read(fd, out + got, limit - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += size_t(r);
    }
    return got;
}

bool feedFile(int fd, LineFeeder& feeder) {
    static thread_local std::vector<char> buffer(1 << 16);
    while (true) {
        const ssize_t r = read(fd, buffer.data(), buffer.size());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) return true;
        feeder.feed(buffer.data(), size_t(r));
    }
}

// Decompresses through Debian's `bzip2 -dc`, its input the open file `fd`
// or, when `bytes` is given, those bytes, written by a helper process so that
// neither side of the two pipes can block the other. "" or what went wrong.
std::string bunzip(int fd, const std::string* bytes, LineFeeder& feeder) {
    int out[2], in[2] = {-1, -1};
    if (pipe(out) != 0) return "cannot create a pipe";
    if (bytes && pipe(in) != 0) {
        close(out[0]), close(out[1]);
        return "cannot create a pipe";
    }
    char arg0[] = "bzip2", arg1[] = "-dc";
    char* argv[] = {arg0, arg1, nullptr};
    const pid_t unzip = fork();
    if (unzip == 0) {
        // Its own complaints would only repeat the message given below.
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(bytes ? in[0] : fd, 0);
        dup2(out[1], 1);
        if (quiet >= 0) dup2(quiet, 2);
        close(out[0]), close(out[1]);
        if (bytes) close(in[0]), close(in[1]);
        execvp(argv[0], argv);
        _exit(127);
    }
    pid_t writer = -1;
    if (bytes && unzip > 0) {
        writer = fork();
        if (writer == 0) {
            close(out[0]), close(out[1]), close(in[0]);
            const char* p = bytes->data();
            size_t left = bytes->size();
            while (left > 0) {
                const ssize_t w = write(in[1], p, left);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) break;
                p += w, left -= size_t(w);
            }
            _exit(0);
        }
    }
    if (bytes) close(in[0]), close(in[1]);
    close(out[1]);
    std::string error;
    if (unzip < 0) error = "cannot start bzip2";
    else if (!feedFile(out[0], feeder)) error = "cannot read bzip2's output";
    close(out[0]);
    int status = 0;
    if (unzip > 0) waitpid(unzip, &status, 0);
    if (writer > 0) waitpid(writer, nullptr, 0);
    if (!error.empty()) return error;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return "bzip2 could not be run (Debian package bzip2)";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "bzip2 -dc failed (exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
               "): the compressed data is damaged or cut short";
    return "";
}

bool isBzip2(const char* p, size_t n) { return n >= 3 && std::memcmp(p, "BZh", 3) == 0; }

// A tar archive: 512-byte headers, each followed by its member's data padded
// to whole blocks; two zero blocks end it.
void importTar(int fd, const std::string& path, PgnImporter& importer) {
    struct stat st;
    const long long fileSize = fstat(fd, &st) == 0 ? (long long)st.st_size : 0;
    std::string longName;
    for (long long offset = 0;;) {
        char h[512];
        const size_t got = readFull(fd, h, 512);
        if (got == 0) break;
        if (got < 512) {
            importer.inputError(path + ": the archive ends inside a member header");
            break;
        }
        if (std::all_of(h, h + 512, [](char c) { return c == 0; })) break;
        unsigned sum = 0, stored = 0;
        for (int i = 0; i < 512; i++) sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(h[i]);
        for (int i = 148; i < 156 && h[i] >= '0' && h[i] <= '7'; i++) stored = stored * 8 + unsigned(h[i] - '0');
        if (sum != stored) {
            importer.inputError(path + ": no tar header at byte " + std::to_string(offset) + " (bad checksum)");
            break;
        }
        unsigned long long declared = 0;
        if (static_cast<unsigned char>(h[124]) & 0x80) {  // base-256 size
            for (int i = 128; i < 136; i++) declared = declared * 256 + static_cast<unsigned char>(h[i]);
        } else {
            for (int i = 124; i < 136 && h[i] >= '0' && h[i] <= '7'; i++)
                declared = declared * 8 + unsigned(h[i] - '0');
        }
        // A damaged header may claim more than the file holds: never read
        // (or allocate) past its end.
        const long long size = (long long)std::min<unsigned long long>(declared, 1ull << 50);
        const long long padded = (size + 511) / 512 * 512;
        const long long available = std::max(0LL, fileSize - offset - 512);
        offset += 512 + padded;
        const char type = h[156];
        std::string name(h, strnlen(h, 100));
        if (h[345] && std::memcmp(h + 257, "ustar", 5) == 0)
            name = std::string(h + 345, strnlen(h + 345, 155)) + "/" + name;
        if (!longName.empty()) name = longName, longName.clear();
        const bool regular = type == '0' || type == 0 || type == '7';
        if (size > available && !regular) {
            importer.inputError(path + ":" + name + ": the archive ends inside this member");
            break;
        }
        if (type != 'L' && !regular) {  // directories, pax headers and links carry no games
            if (lseek(fd, off_t(padded), SEEK_CUR) < 0) break;
            continue;
        }
        std::string data(size_t(std::min(size, available)), '\0');
        const size_t read = readFull(fd, data.data(), data.size());
        data.resize(read);
        const bool whole = read == size_t(size);
        if (whole && padded > size && lseek(fd, off_t(padded - size), SEEK_CUR) < 0) break;
        if (type == 'L') {  // GNU long name of the next member
            longName.assign(data.c_str());
            if (!whole) break;
            continue;
        }
        const std::string source = path + ":" + name;
        if (!whole) importer.inputError(source + ": the archive ends inside this member");
        importer.beginSource(source);
        LineFeeder feeder(importer);
        std::string error;
        if (isBzip2(data.data(), data.size()))
            error = bunzip(-1, &data, feeder);
        else
            feeder.feed(data.data(), data.size());
        feeder.finish();
        if (!error.empty()) importer.inputError(source + ": " + error);
        importer.endSource();
        if (!whole || importer.sinkFailed()) break;
    }
}

}  // namespace

bool importPgnPath(const std::string& path, PgnImporter& importer) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        importer.inputError(path + ": cannot open: " + std::strerror(errno));
        return false;
    }
    char head[512];
    const size_t n = readFull(fd, head, sizeof head);
    lseek(fd, 0, SEEK_SET);
    if (n == 512 && std::memcmp(head + 257, "ustar", 5) == 0) {
        importTar(fd, path, importer);
    } else {
        importer.beginSource(path);
        LineFeeder feeder(importer);
        std::string error;
        if (isBzip2(head, n))
            error = bunzip(fd, nullptr, feeder);
        else if (!feedFile(fd, feeder))
            error = std::string("read error: ") + std::strerror(errno);
        feeder.finish();
        if (!error.empty()) importer.inputError(path + ": " + error);
        importer.endSource();
    }
    close(fd);
    return true;
}
