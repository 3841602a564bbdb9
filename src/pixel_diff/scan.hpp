// Walking a pair for its differing pixels: the per-call comparison context,
// the row and word scans the entries share, and their units of parallel work.
#pragma once

#include <algorithm>
#include <bit>

#include "core/options.hpp"
#include "core/types.hpp"
#include "pixel_diff/color_delta.hpp"
#include "pixel_diff/pixel_words.hpp"
#include "pixel_diff/row_rule.hpp"

namespace quorvane {

// Pixels per unit of work when exact-mode scans are spread over the pool.
inline constexpr u64 kExactChunkPixels = 4096;

// Everything the changed-pixel rule needs, fixed for one call: both buffers
// as bytes and as pixel words, the options, and the path that applies it.
struct ScanContext {
    PixelWords baseline_view;
    PixelWords current_view;
    PairPixels pixels;
    RowRule classify_row;

    ScanContext(ByteView baseline_pixels, ByteView current_pixels, u64 pair_width, u64 pair_height,
                const DiffOptions& options)
        : baseline_view(baseline_pixels),
          current_view(current_pixels),
          pixels{baseline_pixels.data(),
                 current_pixels.data(),
                 baseline_view.data(),
                 current_view.data(),
                 pair_width,
                 pair_height,
                 quorvane::max_delta(options.threshold),
                 options.include_aa},
          classify_row(fastest_row_rule_path().classify) {}

    // A limit of exactly 0 without the anti-aliasing test asks only whether
    // the words differ.
    bool exact() const { return pixels.max_delta == 0.0 && !pixels.include_aa; }
};

// Pixels a row is classified by at a time, so the blocks fit on the stack.
inline constexpr u64 kSpanPixels = 1024;

// visit(block) for the blocks of row y that hold a Changed or AntiAliased
// pixel, left to right; `block.x` is a column of the row.
template <class Visit>
void for_each_classified_block(const ScanContext& pair, u64 y, Visit&& visit) {
    ClassifiedBlock blocks[kSpanPixels / kBlockPixels + 1];
    for (u64 begin = 0; begin < pair.pixels.width; begin += kSpanPixels) {
        const u64 end = std::min(begin + kSpanPixels, pair.pixels.width);
        const u64 count = pair.classify_row(pair.pixels, y, begin, end, blocks);
        for (u64 b = 0; b < count; ++b) visit(blocks[b]);
    }
}

// visit(x) for each bit of `bits`, x = first + the bit's index, ascending.
template <class Visit>
void for_each_bit(u32 bits, u64 first, Visit&& visit) {
    for (; bits != 0; bits &= bits - 1) visit(first + static_cast<u64>(std::countr_zero(bits)));
}

inline u64 count_differing_words(const u32* first, const u32* second, u64 begin, u64 end) {
    u64 count = 0;
    for (u64 i = begin; i < end; ++i) count += first[i] != second[i] ? 1 : 0;
    return count;
}

}  // namespace quorvane
