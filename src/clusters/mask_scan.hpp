// Finding the marked pixels of a mask row quickly, for the passes that visit
// only marked pixels or runs of them.
#pragma once

#include <cstring>

#include "core/types.hpp"

namespace quorvane {

// The column of the first marked pixel (byte 1) in row[from, width), or
// width when there is none. Short gaps, common in dense masks, are tested
// byte by byte, since a call to memchr costs more than a few tests; long ones
// go to memchr's wide compare.
inline u64 next_marked(const u8* row, u64 from, u64 width) {
    constexpr u64 kNear = 16;
    const u64 near_end = width - from > kNear ? from + kNear : width;
    for (u64 x = from; x < near_end; ++x) {
        if (row[x] == 1) return x;
    }
    if (near_end == width) return width;
    const void* hit = std::memchr(row + near_end, 1, width - near_end);
    return hit == nullptr ? width : static_cast<u64>(static_cast<const u8*>(hit) - row);
}

// The end of the run of marked pixels that starts at `start`.
inline u64 run_end(const u8* row, u64 start, u64 width) {
    u64 end = start + 1;
    while (end < width && row[end] == 1) ++end;
    return end;
}

}  // namespace quorvane
