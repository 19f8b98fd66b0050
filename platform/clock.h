// The monotonic high-resolution clock.
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
inline int64_t nowMs() { return nowNs() / 1000000; }
