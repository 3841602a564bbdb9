#include "pixel_diff/mask.hpp"

#include <algorithm>
#include <bit>

#include "core/parallel.hpp"
#include "pixel_diff/change_blocks.hpp"
#include "pixel_diff/inputs.hpp"
#include "pixel_diff/scan.hpp"

namespace quorvane {
namespace {

u64 mark_differing_words(const ScanContext& pair, u8* mask, u64 begin, u64 end) {
    u64 count = 0;
    for (u64 i = begin; i < end; ++i) {
        const u8 differs = pair.pixels.baseline_words[i] != pair.pixels.current_words[i] ? 1 : 0;
        mask[i] = differs;
        count += differs;
    }
    return count;
}

u64 mark_changed_in_row(const ScanContext& pair, const ChangeBlocks* known, u8* mask, u64 y) {
    u8* row = mask + y * pair.pixels.width;
    u64 count = 0;
    for_each_row_block(pair, known, y, [&](const ClassifiedBlock& block) {
        for_each_bit(block.changed, block.x, [&](u64 x) { row[x] = 1; });
        count += std::popcount(block.changed);
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

u64 mark_rows(const ScanContext& pair, const ChangeBlocks* known, u8* mask, u64 pixels) {
    auto rows = [&](u64 first_row, u64 end_row) {
        u64 count = 0;
        for (u64 y = first_row; y < end_row; ++y) count += mark_changed_in_row(pair, known, mask, y);
        return count;
    };
    return parallel_sum_if(worth_splitting(pixels), pair.pixels.height, 1, rows);
}

}  // namespace

Result<DiffMask> build_diff_mask(ByteView baseline, ByteView current, u64 width, u64 height, const DiffOptions& options,
                                 const ChangeBlocks* known) {
    if (auto checked = check_diff_inputs(baseline, current, width, height, options); !checked) {
        return std::move(checked).error();
    }
    const u64 pixels = width * height;
    DiffMask result{Bytes(pixels, 0), 0, width, height};
    if (same_bytes(baseline, current)) return result;

    const ScanContext pair(baseline, current, width, height, options);
    u8* mask = result.mask.data();
    result.count = pair.exact() ? mark_exact(pair, mask, pixels) : mark_rows(pair, known, mask, pixels);
    return result;
}

}  // namespace quorvane
