#include "pixel_diff/count.hpp"

#include <algorithm>
#include <bit>

#include "core/parallel.hpp"
#include "pixel_diff/inputs.hpp"
#include "pixel_diff/running_total.hpp"
#include "pixel_diff/scan.hpp"

namespace quorvane {
namespace {

u64 count_row(const ScanContext& pair, u64 y) {
    u64 count = 0;
    for_each_classified_block(pair, y, [&](const ClassifiedBlock& block) { count += std::popcount(block.changed); });
    return count;
}

u64 count_exact_in_order(const ScanContext& pair, u64 pixels, std::optional<u64> cap) {
    if (!cap) return count_differing_words(pair.pixels.baseline_words, pair.pixels.current_words, 0, pixels);
    // Chunked so the word loop stays branch-free; the answer is clamped to the
    // cap exactly as if each word had been checked against it.
    u64 total = 0;
    for (u64 begin = 0; begin < pixels; begin += kExactChunkPixels) {
        const u64 end = std::min(begin + kExactChunkPixels, pixels);
        total += count_differing_words(pair.pixels.baseline_words, pair.pixels.current_words, begin, end);
        if (total >= *cap) return *cap;
    }
    return total;
}

u64 count_exact_on_pool(const ScanContext& pair, u64 pixels, std::optional<u64> cap) {
    const u64 chunks = (pixels + kExactChunkPixels - 1) / kExactChunkPixels;
    return capped_sum_on_pool(chunks, cap, [&](u64 chunk) {
        const u64 begin = chunk * kExactChunkPixels;
        return count_differing_words(pair.pixels.baseline_words, pair.pixels.current_words, begin,
                                     std::min(begin + kExactChunkPixels, pixels));
    });
}

u64 count_rows_in_order(const ScanContext& pair, std::optional<u64> cap) {
    u64 total = 0;
    for (u64 y = 0; y < pair.pixels.height; ++y) {
        total += count_row(pair, y);
        if (cap && total >= *cap) break;
    }
    return total;
}

u64 count_rows_on_pool(const ScanContext& pair, std::optional<u64> cap) {
    return capped_sum_on_pool(pair.pixels.height, cap, [&](u64 y) { return count_row(pair, y); });
}

// The count of a checked pair of distinct buffers by the rule `pair` applies.
u64 count_scanned(const ScanContext& pair, std::optional<u64> cap) {
    const u64 pixels = pair.pixels.width * pair.pixels.height;
    const bool split = worth_splitting(pixels);
    if (pair.exact()) return split ? count_exact_on_pool(pair, pixels, cap) : count_exact_in_order(pair, pixels, cap);
    return split ? count_rows_on_pool(pair, cap) : count_rows_in_order(pair, cap);
}

}  // namespace

Result<u64> count_changed_pixels(ByteView baseline, ByteView current, u64 width, u64 height, const DiffOptions& options,
                                 std::optional<u64> cap) {
    if (auto checked = check_diff_inputs(baseline, current, width, height, options); !checked) {
        return std::move(checked).error();
    }
    // Equal buffers count 0 by the scan itself, at the speed of a byte
    // comparison; comparing them first would read a changed pair twice up to
    // its first difference.
    if (cap == u64{0} || baseline.data() == current.data()) return u64{0};
    return count_scanned(ScanContext(baseline, current, width, height, options), cap);
}

Result<ClassifiedRows> count_and_classify(ByteView baseline, ByteView current, u64 width, u64 height,
                                          const DiffOptions& options, u64 max_bytes) {
    if (auto checked = check_diff_inputs(baseline, current, width, height, options); !checked) {
        return std::move(checked).error();
    }
    if (baseline.data() == current.data()) return ClassifiedRows{};
    const ScanContext pair(baseline, current, width, height, options);
    if (pair.exact()) return ClassifiedRows{count_scanned(pair, std::nullopt), nullptr};
    return classify_rows(pair, max_bytes);
}

}  // namespace quorvane
