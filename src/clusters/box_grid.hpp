// A uniform grid over cluster boxes, for finding the boxes near a growing box
// without looking at every other box.
#pragma once

#include <span>
#include <vector>

#include "clusters/cluster_types.hpp"

namespace quorvane {

// Columns or rows from `first` to `last`, both included, of pixels or of
// grid cells; empty when first > last.
struct Span {
    u64 first = 1;
    u64 last = 0;
    bool empty() const { return first > last; }
};

struct PixelRect {
    Span columns;
    Span rows;
};

struct CellRect {
    Span columns;
    Span rows;
    bool empty() const { return columns.empty() || rows.empty(); }
};

// Each box is filed under every cell it touches, except boxes that touch
// very many cells, which are kept aside in one list: a few huge boxes then
// cost a scan of that list, not a grid entry per cell. The cell side follows
// the boxes' typical size and keeps the cell count near the box count.
class BoxGrid {
public:
    explicit BoxGrid(std::span<const ClusterRecord> boxes);

    // The cells covering the part of `rect` inside the grid.
    CellRect cells_of(const PixelRect& rect) const;

    // The boxes filed under one cell, by index in the list given.
    std::span<const u32> cell(u64 column, u64 row) const {
        const u64 at = row * columns_ + column;
        return std::span<const u32>(entries_).subspan(starts_[at], starts_[at + 1] - starts_[at]);
    }

    // The boxes kept aside.
    std::span<const u32> oversized() const { return oversized_; }

private:
    CellRect cells_of_box(const ClusterRecord& box) const;

    u64 origin_x_ = 0;
    u64 origin_y_ = 0;
    u64 end_x_ = 0;  // one past the boxes' right-most column
    u64 end_y_ = 0;
    u64 side_ = 1;
    u64 columns_ = 0;
    u64 rows_ = 0;
    std::vector<u64> starts_;  // per cell, where its entries begin; one more at the end
    std::vector<u32> entries_;
    std::vector<u32> oversized_;
};

// Calls visit(column, row) for every cell of `wanted` outside `covered`;
// `wanted` holds `covered`.
template <class Visit>
void for_new_cells(const CellRect& covered, const CellRect& wanted, Visit&& visit) {
    const auto row_of_cells = [&](u64 row, u64 first, u64 last) {
        for (u64 column = first; column <= last; ++column) visit(column, row);
    };
    if (wanted.empty()) return;
    if (covered.empty()) {
        for (u64 row = wanted.rows.first; row <= wanted.rows.last; ++row) {
            row_of_cells(row, wanted.columns.first, wanted.columns.last);
        }
        return;
    }
    for (u64 row = wanted.rows.first; row < covered.rows.first; ++row) {
        row_of_cells(row, wanted.columns.first, wanted.columns.last);
    }
    for (u64 row = covered.rows.first; row <= covered.rows.last; ++row) {
        if (wanted.columns.first < covered.columns.first) {
            row_of_cells(row, wanted.columns.first, covered.columns.first - 1);
        }
        if (covered.columns.last < wanted.columns.last) {
            row_of_cells(row, covered.columns.last + 1, wanted.columns.last);
        }
    }
    for (u64 row = covered.rows.last + 1; row <= wanted.rows.last; ++row) {
        row_of_cells(row, wanted.columns.first, wanted.columns.last);
    }
}

}  // namespace quorvane
