#include "train/record.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TrainingRecord packRecord(const Position& pos, int score, int ply) {
    TrainingRecord r{};
    r.occupancy = pos.occupancy();
    u64 occ = r.occupancy;
    for (int i = 0; occ; i++) {
        const int sq = popLsb(occ);
        r.pieces[i >> 1] = u8(r.pieces[i >> 1] | (pos.board[sq] << ((i & 1) * 4)));
    }
    r.score = i16(std::clamp(score, -32000, 32000));
    r.ply = u16(std::clamp(ply, 0, 65535));
    r.sideToMove = pos.sideToMove;
    r.rule50 = u8(std::clamp<int>(pos.rule50, 0, 255));
    return r;
}

std::string recordToFen(const TrainingRecord& r) {
    static const char letters[] = "..PpNnBbRrQqKk";
    char board[64] = {};
    forEachPiece(r, [&](int piece, int sq) { board[sq] = letters[piece & 15]; });
    std::string fen;
    for (int rank = 7; rank >= 0; rank--) {
        int empty = 0;
        for (int file = 0; file < 8; file++) {
            const char c = board[rank * 8 + file];
            if (!c) {
                empty++;
                continue;
            }
            if (empty) fen += char('0' + empty), empty = 0;
            fen += c;
        }
        if (empty) fen += char('0' + empty);
        if (rank) fen += '/';
    }
    fen += r.sideToMove ? " b - - " : " w - - ";
    fen += std::to_string(r.rule50) + " " + std::to_string(r.ply / 2 + 1);
    return fen;
}

bool readRecords(const std::string& path, std::vector<TrainingRecord>& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fseek(f, 0, SEEK_END);
    const long long n = std::ftell(f) / (long long)sizeof(TrainingRecord);
    std::fseek(f, 0, SEEK_SET);
    const size_t start = out.size();
    out.resize(start + size_t(n));
    const size_t got = std::fread(out.data() + start, sizeof(TrainingRecord), size_t(n), f);
    out.resize(start + got);
    std::fclose(f);
    return true;
}

long long countRecords(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    return (long long)st.st_size / (long long)sizeof(TrainingRecord);
}

bool appendRecords(const std::string& path, const std::vector<TrainingRecord>& records) {
    if (records.empty()) return true;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return false;
    const char* p = reinterpret_cast<const char*>(records.data());
    size_t left = records.size() * sizeof(TrainingRecord);
    bool ok = true;
    while (left > 0) {
        const ssize_t w = write(fd, p, left);
        if (w <= 0) {
            ok = false;
            break;
        }
        p += w;
        left -= size_t(w);
    }
    return close(fd) == 0 && ok;
}

bool truncateRecords(const std::string& path, long long records) {
    return truncate(path.c_str(), off_t(records * (long long)sizeof(TrainingRecord))) == 0;
}
