#include "pixel_diff/mask.hpp"

#include <algorithm>

#include "core/parallel.hpp"
#include "pixel_diff/inputs.hpp"
#include "pixel_diff/scan.hpp"

namespace quorvane {
namespace {

u64 mark_differing_words(const ScanContext& pair, u8* mask, u64 begin, u64 end) {
    u64 count = 0;
    for (u64 i = begin; i < end; ++i) {
        const u8 differs = pair.baseline_words[i] != pair.current_words[i] ? 1 : 0;
        mask[i] = differs;
        count += differs;
    }
    return count;
}

u64 mark_changed_in_row(const ScanContext& pair, u8* mask, u64 y) {
    const u64 start = y * pair.width;
    u64 count = 0;
    for_each_differing_word(pair.baseline_words, pair.current_words, start, start + pair.width, [&](u64 i) {
        if (pair.classify(i - start, y).kind != PixelClass::Changed) return;
        mask[i] = 1;
        ++count;
    });
    return count;
}

u64 mark_exact(const ScanContext& pair, u8* mask, u64 pixels) {
    const u64 chunks = (pixels + kExactChunkPixels - 1) / kExactChunkPixels;
    return parallel_sum_if(worth_splitting(pixels), chunks, 1, [&](u64 first_chunk, u64 end_chunk) {
        return mark_differing_words(pair, mask, first_chunk * kExactChunkPixels,
                                    std::min(end_chunk * kExactChunkPixels, pixels));
    });
}

u64 mark_rows(const ScanContext& pair, u8* mask, u64 pixels) {
    auto rows = [&](u64 first_row, u64 end_row) {
        u64 count = 0;
        for (u64 y = first_row; y < end_row; ++y) count += mark_changed_in_row(pair, mask, y);
        return count;
    };
    return parallel_sum_if(worth_splitting(pixels), pair.height, 1, rows);
}

}  // namespace

Result<DiffMask> build_diff_mask(ByteView baseline, ByteView current, u64 width, u64 height,
                                 const DiffOptions& options) {
    if (auto checked = check_diff_inputs(baseline, current, width, height, options); !checked) {
        return std::move(checked).error();
    }
    const u64 pixels = width * height;
    DiffMask result{Bytes(pixels, 0), 0, width, height};
    if (same_bytes(baseline, current)) return result;

    const ScanContext pair(baseline, current, width, height, options);
    u8* mask = result.mask.data();
    result.count = pair.exact() ? mark_exact(pair, mask, pixels) : mark_rows(pair, mask, pixels);
    return result;
}

}  // namespace quorvane
