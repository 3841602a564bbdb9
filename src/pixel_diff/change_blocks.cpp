#include "pixel_diff/change_blocks.hpp"

#include <algorithm>
#include <atomic>
#include <bit>

#include "core/parallel.hpp"

namespace quorvane {

ClassifiedRows classify_rows(const ScanContext& pair, u64 max_bytes) {
    const u64 width = pair.pixels.width, height = pair.pixels.height;
    const u64 max_blocks = max_bytes / sizeof(ClassifiedBlock);
    // The blocks of a piece of the pool's work, kept at its first row; the
    // pieces are the counting's own, so keeping them costs no scheduling.
    std::vector<std::vector<ClassifiedBlock>> piece_blocks(height);
    std::vector<u64> row_counts(height, 0);
    // Once the blocks kept pass the limit, the pieces after only count: the
    // answer is then the count alone, whichever piece passed it.
    std::atomic<u64> kept{0};
    const u64 changed = parallel_sum_if(worth_splitting(width * height), height, 1, [&](u64 first, u64 end) {
        std::vector<ClassifiedBlock>& out = piece_blocks[first];
        const bool keep = kept.load(std::memory_order_relaxed) <= max_blocks;
        u64 count = 0;
        for (u64 y = first; y < end; ++y) {
            for_each_classified_block(pair, y, [&](const ClassifiedBlock& block) {
                count += static_cast<u64>(std::popcount(block.changed));
                if (keep) {
                    out.push_back(block);
                    ++row_counts[y];
                }
            });
        }
        if (keep && kept.fetch_add(out.size(), std::memory_order_relaxed) + out.size() > max_blocks) {
            std::vector<ClassifiedBlock>().swap(out);
        }
        return count;
    });
    if (kept.load() > max_blocks) return {changed, nullptr};

    auto blocks = std::make_shared<ChangeBlocks>();
    blocks->max_delta = pair.pixels.max_delta;
    blocks->include_aa = pair.pixels.include_aa;
    blocks->changed = changed;
    blocks->blocks.reserve(kept.load());
    for (std::vector<ClassifiedBlock>& piece : piece_blocks) {
        blocks->blocks.insert(blocks->blocks.end(), piece.begin(), piece.end());
        std::vector<ClassifiedBlock>().swap(piece);
    }
    blocks->row_starts.resize(height + 1, 0);
    for (u64 y = 0; y < height; ++y) blocks->row_starts[y + 1] = blocks->row_starts[y] + row_counts[y];
    return {changed, std::move(blocks)};
}

}  // namespace quorvane
