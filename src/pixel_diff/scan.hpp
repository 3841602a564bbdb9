// Walking a pair for its differing pixels: the per-call comparison context,
// the word scans the entries share, and their units of parallel work.
#pragma once

#include "core/options.hpp"
#include "core/types.hpp"
#include "pixel_diff/classify.hpp"
#include "pixel_diff/pixel_words.hpp"

namespace quorvane {

// Pixels per unit of work when exact-mode scans are spread over the pool.
inline constexpr u64 kExactChunkPixels = 4096;

// Everything classify_pixel needs, fixed for one call: both buffers as bytes
// and as pixel words.
struct ScanContext {
    PixelWords baseline_view;
    PixelWords current_view;
    const u8* baseline;
    const u8* current;
    const u32* baseline_words;
    const u32* current_words;
    u64 width;
    u64 height;
    double max_delta;
    bool include_aa;

    ScanContext(ByteView baseline_pixels, ByteView current_pixels, u64 pair_width, u64 pair_height,
                const DiffOptions& options)
        : baseline_view(baseline_pixels),
          current_view(current_pixels),
          baseline(baseline_pixels.data()),
          current(current_pixels.data()),
          baseline_words(baseline_view.data()),
          current_words(current_view.data()),
          width(pair_width),
          height(pair_height),
          max_delta(quorvane::max_delta(options.threshold)),
          include_aa(options.include_aa) {}

    // A limit of exactly 0 without the anti-aliasing test asks only whether
    // the words differ.
    bool exact() const { return max_delta == 0.0 && !include_aa; }

    ClassifiedPixel classify(u64 x, u64 y) const {
        return classify_pixel(baseline, current, baseline_words, current_words, x, y, width, height, max_delta,
                              include_aa);
    }
};

// visit(i) for every i in [begin, end) whose words differ, in ascending
// order. Runs of equal words are skipped a block at a time.
template <class Visit>
inline void for_each_differing_word(const u32* first, const u32* second, u64 begin, u64 end, Visit&& visit) {
    constexpr u64 kBlock = 16;
    u64 i = begin;
    for (; i + kBlock <= end; i += kBlock) {
        u32 differing_bits = 0;
        for (u64 j = 0; j < kBlock; ++j) differing_bits |= first[i + j] ^ second[i + j];
        if (differing_bits == 0) continue;
        for (u64 j = i; j < i + kBlock; ++j) {
            if (first[j] != second[j]) visit(j);
        }
    }
    for (; i < end; ++i) {
        if (first[i] != second[i]) visit(i);
    }
}

inline u64 count_differing_words(const u32* first, const u32* second, u64 begin, u64 end) {
    u64 count = 0;
    for (u64 i = begin; i < end; ++i) count += first[i] != second[i] ? 1 : 0;
    return count;
}

}  // namespace quorvane
