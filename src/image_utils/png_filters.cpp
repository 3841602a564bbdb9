// Up and the filtering of whole rows have no dependency between neighbouring
// bytes and are written as plain loops the compiler vectorises; undoing Sub,
// Average and Paeth feeds each byte into the next pixel, so those are scalar,
// except Paeth, the costliest, where the processor has SSE4.1.
#include "image_utils/png_filters.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/instruction_sets.hpp"

#define QUORVANE_FILTER_NAMESPACE filter_baseline
#include "image_utils/png_filter_blocks.hpp"

namespace quorvane {
namespace {

using namespace png_filter;

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
#if !defined(QUORVANE_SCALAR_ONLY)
        static const bool vectors = instruction_sets().sse41;
        if (vectors) {
            (Bpp == 3 ? simd_sse41::undo_paeth_rgb : simd_sse41::undo_paeth_rgba)(filtered, row, previous, length);
            return;
        }
#endif
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

// |value| of a filtered byte taken as signed: min(v, 256 - v).
inline unsigned magnitude(u8 value) { return value < 128 ? value : 256u - value; }

// The predictor of one byte from its left (a), upper (b) and upper-left (c)
// neighbours.
inline int predict(u8 filter, int a, int b, int c) {
    switch (filter) {
        case kSub:
            return a;
        case kUp:
            return b;
        case kAverage:
            return (a + b) >> 1;
        case kPaeth:
            return paeth(a, b, c);
        default:
            return 0;
    }
}

// Bytes [begin, end) of the row filtered with `filter`, a scalar byte at a
// time; the first pixel's left neighbours count as 0.
void filter_bytes(u8 filter, const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, u8* out) {
    for (u64 i = begin; i < end; ++i) {
        const int a = i < bpp ? 0 : row[i - bpp];
        const int c = i < bpp ? 0 : previous[i - bpp];
        out[i] = static_cast<u8>(row[i] - predict(filter, a, previous[i], c));
    }
}

// The whole blocks of `block` bytes after the first pixel, and where the
// scalar tail begins.
u64 blocks_end(u64 bpp, u64 length, u64 block) { return length < bpp ? bpp : bpp + (length - bpp) / block * block; }

std::vector<PngFilterPath> detect_filter_paths() {
    std::vector<PngFilterPath> paths{
        {"baseline", 16, filter_baseline::add_filter_sums, filter_baseline::filter_blocks}};
#if !defined(QUORVANE_SCALAR_ONLY)
    if (instruction_sets().avx2) paths.push_back({"avx2", 32, simd_avx2::add_filter_sums, simd_avx2::filter_blocks});
#endif
    return paths;
}

const PngFilterPath& fastest_filter_path() {
    static const PngFilterPath& fastest = png_filter_paths().back();
    return fastest;
}

}  // namespace

std::span<const PngFilterPath> png_filter_paths() {
    static const std::vector<PngFilterPath> paths = detect_filter_paths();
    return paths;
}

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

void apply_filter_with(const PngFilterPath& path, u8 filter, const u8* row, const u8* previous, u64 length,
                       unsigned bytes_per_pixel, u8* out) {
    const u64 bpp = std::min<u64>(bytes_per_pixel, length);
    const u64 vector_end = blocks_end(bpp, length, path.block_bytes);
    filter_bytes(filter, row, previous, bpp, 0, bpp, out);
    path.filter_blocks(filter, row, previous, bpp, bpp, vector_end, out);
    filter_bytes(filter, row, previous, bpp, vector_end, length, out);
}

void apply_filter(u8 filter, const u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel, u8* out) {
    apply_filter_with(fastest_filter_path(), filter, row, previous, length, bytes_per_pixel, out);
}

void filter_row_with(const PngFilterPath& path, const u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel,
                     u8* out) {
    const u64 bpp = std::min<u64>(bytes_per_pixel, length);
    const u64 vector_end = blocks_end(bpp, length, path.block_bytes);
    FilterSums sums = {};
    const auto add_scalar = [&](u64 begin, u64 end) {
        for (u64 i = begin; i < end; ++i) {
            const int a = i < bpp ? 0 : row[i - bpp];
            const int c = i < bpp ? 0 : previous[i - bpp];
            for (u8 filter = kNone; filter <= kPaeth; ++filter) {
                sums[filter] += magnitude(static_cast<u8>(row[i] - predict(filter, a, previous[i], c)));
            }
        }
    };
    add_scalar(0, bpp);
    path.add_sums(row, previous, bpp, bpp, vector_end, sums);
    add_scalar(vector_end, length);

    const u8 chosen = static_cast<u8>(std::min_element(sums, sums + 5) - sums);
    out[0] = chosen;
    apply_filter_with(path, chosen, row, previous, length, bytes_per_pixel, out + 1);
}

void filter_row(const u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel, u8* out) {
    filter_row_with(fastest_filter_path(), row, previous, length, bytes_per_pixel, out);
}

}  // namespace quorvane
