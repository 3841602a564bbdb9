// The changed-pixel rule's answer for every row of a pair, kept so that the
// count, the change mask and the diff image that follow one another on a
// pair classify each differing pixel once instead of three times.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "pixel_diff/row_rule.hpp"
#include "pixel_diff/scan.hpp"

namespace quorvane {

// Every row's classified blocks in row order, and the rule that made them.
struct ChangeBlocks {
    double max_delta = 0.0;
    bool include_aa = false;
    std::vector<ClassifiedBlock> blocks;
    std::vector<u64> row_starts;  // row y's blocks are [row_starts[y], row_starts[y + 1])
    u64 changed = 0;

    bool made_by(const PairPixels& rule) const { return max_delta == rule.max_delta && include_aa == rule.include_aa; }
    std::span<const ClassifiedBlock> row(u64 y) const {
        return std::span(blocks).subspan(row_starts[y], row_starts[y + 1] - row_starts[y]);
    }
};

struct ClassifiedRows {
    u64 changed = 0;
    // Null when the blocks would take more than the bytes allowed.
    std::shared_ptr<const ChangeBlocks> blocks;
};

// One pass of the rule over every row of the pair: the changed-pixel count,
// and the blocks when they fit in `max_bytes`.
ClassifiedRows classify_rows(const ScanContext& pair, u64 max_bytes);

// visit(block) for the blocks of row y that hold a Changed or AntiAliased
// pixel: read from `known` when it holds the rows classified by this pair's
// rule already, else classified now.
template <class Visit>
void for_each_row_block(const ScanContext& pair, const ChangeBlocks* known, u64 y, Visit&& visit) {
    if (known == nullptr || !known->made_by(pair.pixels)) {
        for_each_classified_block(pair, y, visit);
        return;
    }
    for (const ClassifiedBlock& block : known->row(y)) visit(block);
}

}  // namespace quorvane
