// The shared transposition table.
//
// One block of 64-byte clusters, indexed by the low bits of the key. A
// cluster holds four 8-byte data words followed by the four full 64-bit keys
// they belong to, so a probe touches one cache line. Every search thread reads
// and writes without locks: a store writes the key and then the data word, a
// probe compares the key and reads the data word. A reader may pair a key with
// another store's data; the hash move is therefore always checked against the
// board before use, and a wrong score can only mislead, never corrupt.
//
// Data word (little-endian): bits 0..31 move (all four bytes), 32..47 score,
// 48..55 depth (signed), 56..57 bound, 58..63 age. Zero means empty.
#pragma once

#include <atomic>

#include "board/types.h"

enum : u8 { BOUND_NONE = 0, BOUND_UPPER = 1, BOUND_LOWER = 2, BOUND_EXACT = 3 };

constexpr int MATE_SCORE = 32000;
constexpr int MATE_BAND = 31872;   // |score| at or above this is a mate score

struct TTEntry {
    u64 word = 0;

    Move move() const { return moveFromWord(u32(word)); }
    i16 score() const { return i16(u16(word >> 32)); }
    i8 depth() const { return i8(u8(word >> 48)); }
    u8 bound() const { return u8((word >> 56) & 3); }
    u8 age() const { return u8(word >> 58); }

    static TTEntry make(Move move, int score, int depth, int bound, int age) {
        return TTEntry{u64(moveWord(move)) | (u64(u16(i16(score))) << 32) | (u64(u8(i8(depth))) << 48) |
                       (u64(age * 4 + bound) << 56)};
    }
};

// Relaxed atomics: plain loads and stores on x86-64, and the racy sharing is
// by design (see above), not a data race the tools should report.
struct alignas(64) TTCluster {
    std::atomic<u64> entry[4];
    std::atomic<u64> keys[4];
};
static_assert(sizeof(TTCluster) == 64);

extern TTCluster* ttClusters;
extern u64 ttMask;
extern u8 ttGeneration;
extern u32 searchCounter;
extern int ttSizeMb;          // the Hash option

// Fills the Zobrist keys, then allocates ttSizeMb and clears (faultPages:
// see ttResize).
void ttInit(bool faultPages = true);
// Allocates a table for `megabytes` (rounded up to a power of two) and clears
// it, or with faultPages false leaves the fresh mapping as it is (it reads as
// zero; its pages are faulted in by the searches that touch them). Returns
// false, keeping the previous table, when the memory is not there.
bool ttResize(int megabytes, bool faultPages = true);
// Zeroes the table with `threadCount` threads and restarts the generations.
void ttClear();
void ttNewSearch();
TTEntry ttProbe(u64 key);
// Starts loading a position's cluster while the caller still has work to do
// before probing it (the table is far larger than the caches).
inline void ttPrefetch(u64 key) { __builtin_prefetch(&ttClusters[key & ttMask]); }
void ttStore(u64 key, Move move, int score, int depth, int bound);
u64 ttClusterCount(int megabytes);

// Lends the search a private, cleared table of `megabytes` while it lives:
// work the engine does for itself (openings) then leaves the shared table,
// its generations and the Hash option exactly as they were.
class TTLoan {
public:
    explicit TTLoan(int megabytes);
    ~TTLoan();
    TTLoan(const TTLoan&) = delete;
    TTLoan& operator=(const TTLoan&) = delete;
    // False when the memory was not there (the shared table stays in use).
    bool granted() const { return granted_; }

private:
    TTCluster* clusters_;
    u64 mask_;
    u8 generation_;
    u32 counter_;
    bool granted_ = false;
};

// Mate scores are stored as distances from the node, not from the root.
inline int ttScoreToStore(int s, int ply) { return s >= MATE_BAND ? s + ply : s <= -MATE_BAND ? s - ply : s; }
inline int ttScoreFromStore(int s, int ply) { return s >= MATE_BAND ? s - ply : s <= -MATE_BAND ? s + ply : s; }
