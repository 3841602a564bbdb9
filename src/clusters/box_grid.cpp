#include "clusters/box_grid.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvane {
namespace {

// A box that touches more cells than this is kept aside.
constexpr u64 kMostCellsPerBox = 64;

// Boxes of no width or height are filed as one pixel wide or high: filing a
// box under more cells than it touches only costs a test.
u64 extent(u64 length) { return std::max<u64>(length, 1); }

u64 median_longer_side(std::span<const ClusterRecord> boxes) {
    std::vector<u64> sides;
    sides.reserve(boxes.size());
    for (const ClusterRecord& box : boxes) sides.push_back(std::max(box.width, box.height));
    const auto middle = sides.begin() + static_cast<std::ptrdiff_t>(sides.size() / 2);
    std::nth_element(sides.begin(), middle, sides.end());
    return *middle;
}

u64 cell_count(const CellRect& cells) {
    return (cells.columns.last - cells.columns.first + 1) * (cells.rows.last - cells.rows.first + 1);
}

}  // namespace

BoxGrid::BoxGrid(std::span<const ClusterRecord> boxes) {
    starts_.assign(1, 0);
    if (boxes.empty()) return;
    origin_x_ = origin_y_ = std::numeric_limits<u64>::max();
    for (const ClusterRecord& box : boxes) {
        origin_x_ = std::min(origin_x_, box.x);
        origin_y_ = std::min(origin_y_, box.y);
        end_x_ = std::max(end_x_, box.x + extent(box.width));
        end_y_ = std::max(end_y_, box.y + extent(box.height));
    }
    // Cells about one typical box wide, and never many more cells than boxes.
    const double area = static_cast<double>(end_x_ - origin_x_) * static_cast<double>(end_y_ - origin_y_);
    const auto spread = static_cast<u64>(std::ceil(std::sqrt(area / static_cast<double>(boxes.size()))));
    side_ = std::max({u64{1}, median_longer_side(boxes), spread});
    columns_ = (end_x_ - origin_x_ - 1) / side_ + 1;
    rows_ = (end_y_ - origin_y_ - 1) / side_ + 1;

    // Counted first, then filed, so that the entries are one flat array.
    starts_.assign(columns_ * rows_ + 1, 0);
    const auto each_filing = [&](auto&& file) {
        for (u64 i = 0; i < boxes.size(); ++i) {
            const CellRect cells = cells_of_box(boxes[i]);
            if (cell_count(cells) > kMostCellsPerBox) continue;
            for (u64 row = cells.rows.first; row <= cells.rows.last; ++row) {
                for (u64 column = cells.columns.first; column <= cells.columns.last; ++column) {
                    file(row * columns_ + column, static_cast<u32>(i));
                }
            }
        }
    };
    each_filing([&](u64 at, u32) { ++starts_[at + 1]; });
    for (u64 at = 1; at < starts_.size(); ++at) starts_[at] += starts_[at - 1];
    entries_.resize(starts_.back());
    std::vector<u64> next(starts_.begin(), starts_.end() - 1);
    each_filing([&](u64 at, u32 i) { entries_[next[at]++] = i; });
    for (u64 i = 0; i < boxes.size(); ++i) {
        if (cell_count(cells_of_box(boxes[i])) > kMostCellsPerBox) oversized_.push_back(static_cast<u32>(i));
    }
}

CellRect BoxGrid::cells_of(const PixelRect& rect) const {
    const auto clip = [&](Span range, u64 origin, u64 end) {
        if (range.empty() || range.last < origin || range.first >= end) return Span{};
        return Span{(std::max(range.first, origin) - origin) / side_, (std::min(range.last, end - 1) - origin) / side_};
    };
    return {clip(rect.columns, origin_x_, end_x_), clip(rect.rows, origin_y_, end_y_)};
}

CellRect BoxGrid::cells_of_box(const ClusterRecord& box) const {
    return cells_of({{box.x, box.x + extent(box.width) - 1}, {box.y, box.y + extent(box.height) - 1}});
}

}  // namespace quorvane
