#include "pixel_diff/count.hpp"

#include <algorithm>

#include "core/parallel.hpp"
#include "pixel_diff/inputs.hpp"
#include "pixel_diff/running_total.hpp"
#include "pixel_diff/scan.hpp"

namespace quorvane {
namespace {

u64 count_row(const ComparedPair& pair, u64 y) {
    const u64 start = y * pair.width;
    u64 count = 0;
    for_each_differing_word(pair.baseline_words, pair.current_words, start, start + pair.width, [&](u64 i) {
        if (pair.classify(i - start, y).kind == PixelClass::Changed) ++count;
    });
    return count;
}

u64 count_exact_in_order(const ComparedPair& pair, u64 pixels, std::optional<u64> cap) {
    if (!cap) return count_differing_words(pair.baseline_words, pair.current_words, 0, pixels);
    // Chunked so the word loop stays branch-free; the answer is clamped to the
    // cap exactly as if each word had been checked against it.
    u64 total = 0;
    for (u64 begin = 0; begin < pixels; begin += kExactChunkPixels) {
        const u64 end = std::min(begin + kExactChunkPixels, pixels);
        total += count_differing_words(pair.baseline_words, pair.current_words, begin, end);
        if (total >= *cap) return *cap;
    }
    return total;
}

u64 count_exact_on_pool(const ComparedPair& pair, u64 pixels, std::optional<u64> cap) {
    RunningTotal running(cap);
    const u64 chunks = (pixels + kExactChunkPixels - 1) / kExactChunkPixels;
    return parallel_sum(chunks, 1, [&](u64 first_chunk, u64 end_chunk) {
        u64 partial = 0;
        for (u64 chunk = first_chunk; chunk < end_chunk; ++chunk) {
            if (running.reached()) continue;
            const u64 begin = chunk * kExactChunkPixels;
            const u64 end = std::min(begin + kExactChunkPixels, pixels);
            const u64 n = count_differing_words(pair.baseline_words, pair.current_words, begin, end);
            running.add(n);
            partial += n;
        }
        return partial;
    });
}

u64 count_rows_in_order(const ComparedPair& pair, std::optional<u64> cap) {
    u64 total = 0;
    for (u64 y = 0; y < pair.height; ++y) {
        total += count_row(pair, y);
        if (cap && total >= *cap) break;
    }
    return total;
}

u64 count_rows_on_pool(const ComparedPair& pair, std::optional<u64> cap) {
    RunningTotal running(cap);
    return parallel_sum(pair.height, 1, [&](u64 first_row, u64 end_row) {
        u64 partial = 0;
        for (u64 y = first_row; y < end_row; ++y) {
            if (running.reached()) continue;
            const u64 n = count_row(pair, y);
            running.add(n);
            partial += n;
        }
        return partial;
    });
}

}  // namespace

Result<u64> count_changed_pixels(ByteView baseline, ByteView current, u64 width, u64 height,
                                 const DiffOptions& options, std::optional<u64> cap) {
    if (auto checked = check_diff_inputs(baseline, current, width, height, options); !checked) {
        return std::move(checked).error();
    }
    if (same_bytes(baseline, current) || cap == u64{0}) return u64{0};

    const PixelWords baseline_words(baseline);
    const PixelWords current_words(current);
    const ComparedPair pair(baseline, current, baseline_words, current_words, width, height, options);
    const u64 pixels = width * height;
    const bool split = worth_splitting(pixels);
    if (pair.exact()) return split ? count_exact_on_pool(pair, pixels, cap) : count_exact_in_order(pair, pixels, cap);
    return split ? count_rows_on_pool(pair, cap) : count_rows_in_order(pair, cap);
}

}  // namespace quorvane
