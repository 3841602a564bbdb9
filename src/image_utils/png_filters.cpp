// Up and the filtering of whole rows have no dependency between neighbouring
// bytes and are written as plain loops the compiler vectorises; undoing Sub,
// Average and Paeth feeds each byte into the next pixel, so those stay scalar.
#include "image_utils/png_filters.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quorvane {
namespace {

enum Filter : u8 { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

// The neighbour among left (a), above (b) and upper left (c) closest to
// a + b - c, ties going to a, then b. Written as selects, not branches: the
// winner is data, and mispredicting it costs more than computing all three.
inline int paeth(int a, int b, int c) {
    const int to_a = std::abs(b - c);
    const int to_b = std::abs(a - c);
    const int to_c = std::abs(a + b - 2 * c);
    const int nearer = to_b < to_a ? b : a;
    const int nearest_distance = to_b < to_a ? to_b : to_a;
    return to_c < nearest_distance ? c : nearer;
}

// Sixteen bytes at a time, each block read before it is written, so that the
// row may sit just before its filtered bytes.
void undo_up(const u8* filtered, u8* row, const u8* previous, u64 length) {
    using Block = u8 __attribute__((vector_size(16)));
    u64 i = 0;
    for (; i + 16 <= length; i += 16) {
        Block data;
        Block above;
        std::memcpy(&data, filtered + i, 16);
        std::memcpy(&above, previous + i, 16);
        data += above;
        std::memcpy(row + i, &data, 16);
    }
    for (; i < length; ++i) row[i] = static_cast<u8>(filtered[i] + previous[i]);
}

// Sub, Average and Paeth carry each byte into the same channel of the next
// pixel: a pixel's channels are independent chains, kept in registers.
template <u8 Filter, unsigned Bpp>
void undo_carried(const u8* filtered, u8* row, const u8* previous, u64 length) {
    int left[Bpp] = {};
    int upper_left[Bpp] = {};
    for (u64 i = 0; i < length; i += Bpp) {
        for (unsigned k = 0; k < Bpp; ++k) {
            const int above = previous[i + k];
            int predicted;
            if constexpr (Filter == kSub) {
                predicted = left[k];
            } else if constexpr (Filter == kAverage) {
                predicted = (left[k] + above) >> 1;
            } else {
                predicted = paeth(left[k], above, upper_left[k]);
            }
            const int value = (filtered[i + k] + predicted) & 0xff;
            row[i + k] = static_cast<u8>(value);
            left[k] = value;
            upper_left[k] = above;
        }
    }
}

template <unsigned Bpp>
void undo_carried(u8 filter, const u8* filtered, u8* row, const u8* previous, u64 length) {
    if (filter == kSub) {
        undo_carried<kSub, Bpp>(filtered, row, previous, length);
    } else if (filter == kAverage) {
        undo_carried<kAverage, Bpp>(filtered, row, previous, length);
    } else {
        undo_carried<kPaeth, Bpp>(filtered, row, previous, length);
    }
}

void undo_bytewise(u8 filter, const u8* filtered, u8* row, const u8* previous, u64 length, u64 bpp) {
    for (u64 i = 0; i < length; ++i) {
        const int a = i < bpp ? 0 : row[i - bpp];
        const int b = previous[i];
        const int c = i < bpp ? 0 : previous[i - bpp];
        const int predicted = filter == kSub ? a : filter == kAverage ? (a + b) >> 1 : paeth(a, b, c);
        row[i] = static_cast<u8>(filtered[i] + predicted);
    }
}

// The sum of |value| over a filtered row, each byte taken as signed.
inline unsigned magnitude(u8 value) { return value < 128 ? value : 256u - value; }

}  // namespace

void unfilter_row(u8 filter, const u8* filtered, u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel) {
    if (filter == kNone) {
        std::memmove(row, filtered, length);
    } else if (filter == kUp) {
        undo_up(filtered, row, previous, length);
    } else if (bytes_per_pixel == 3 && length % 3 == 0) {
        undo_carried<3>(filter, filtered, row, previous, length);
    } else if (bytes_per_pixel == 4 && length % 4 == 0) {
        undo_carried<4>(filter, filtered, row, previous, length);
    } else {
        undo_bytewise(filter, filtered, row, previous, length, bytes_per_pixel);
    }
}

void filter_row(const u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel, u8* out) {
    const u64 bpp = std::min<u64>(bytes_per_pixel, length);
    // The bytes of the first pixel have no left neighbour: it counts as 0.
    const auto left = [&](u64 i) -> int { return i < bpp ? 0 : row[i - bpp]; };
    const auto upper_left = [&](u64 i) -> int { return i < bpp ? 0 : previous[i - bpp]; };

    u64 sums[5] = {};
    for (u64 i = 0; i < bpp; ++i) {
        sums[kNone] += magnitude(row[i]);
        sums[kSub] += magnitude(row[i]);
        sums[kUp] += magnitude(static_cast<u8>(row[i] - previous[i]));
        sums[kAverage] += magnitude(static_cast<u8>(row[i] - (previous[i] >> 1)));
        sums[kPaeth] += magnitude(static_cast<u8>(row[i] - previous[i]));
    }
    // 32-bit partial sums over pieces short enough not to overflow, so the
    // loop vectorises in 32-bit lanes.
    constexpr u64 kPiece = u64{1} << 20;
    for (u64 begin = bpp; begin < length; begin += kPiece) {
        const u64 end = std::min(length, begin + kPiece);
        unsigned none = 0, sub = 0, up = 0, average = 0, predicted = 0;
        for (u64 i = begin; i < end; ++i) {
            const int x = row[i];
            const int a = row[i - bpp];
            const int b = previous[i];
            const int c = previous[i - bpp];
            none += magnitude(static_cast<u8>(x));
            sub += magnitude(static_cast<u8>(x - a));
            up += magnitude(static_cast<u8>(x - b));
            average += magnitude(static_cast<u8>(x - ((a + b) >> 1)));
            predicted += magnitude(static_cast<u8>(x - paeth(a, b, c)));
        }
        sums[kNone] += none;
        sums[kSub] += sub;
        sums[kUp] += up;
        sums[kAverage] += average;
        sums[kPaeth] += predicted;
    }
    const u8 chosen = static_cast<u8>(std::min_element(sums, sums + 5) - sums);

    out[0] = chosen;
    u8* bytes = out + 1;
    switch (chosen) {
        case kNone:
            std::memcpy(bytes, row, length);
            return;
        case kSub:
            for (u64 i = 0; i < length; ++i) bytes[i] = static_cast<u8>(row[i] - left(i));
            return;
        case kUp:
            for (u64 i = 0; i < length; ++i) bytes[i] = static_cast<u8>(row[i] - previous[i]);
            return;
        case kAverage:
            for (u64 i = 0; i < length; ++i) bytes[i] = static_cast<u8>(row[i] - ((left(i) + previous[i]) >> 1));
            return;
        default:
            for (u64 i = 0; i < length; ++i) {
                bytes[i] = static_cast<u8>(row[i] - paeth(left(i), previous[i], upper_left(i)));
            }
            return;
    }
}

}  // namespace quorvane
