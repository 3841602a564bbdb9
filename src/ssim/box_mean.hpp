// The window mean of a map: every pixel's average over the square window
// centred on it, the map mirrored at its edges.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "core/types.hpp"
#include "ssim/double_map.hpp"

namespace quorvane {

// The index that mirrors i into [0, extent) about the edge pixels without
// repeating them (-1 -> 1, extent -> extent - 2); every index is 0 when the
// extent is 1.
u64 reflect_index(std::int64_t i, u64 extent);

// Mean over the window x window square centred on each pixel, from a
// summed-area table of the mirror-padded map: O(1) per pixel whatever the
// window. `map` holds width * height values, row-major; `window` is at least 1.
DoubleMap box_mean(std::span<const double> map, u64 width, u64 height, u64 window);

// The same window means, delivered a few rows at a time from a source that
// supplies the map row by row. The table is built top to bottom and each
// output row needs only two of its rows, so only the last window + 4 table
// rows are kept: neither the padded map, nor the table, nor the source map
// need ever exist whole.
class BoxMeanStream {
public:
    // source(row, out) writes the `width` values of source row `row` to out.
    using RowSource = std::function<void(u64 row, double* out)>;

    BoxMeanStream(u64 width, u64 height, u64 window, RowSource source);

    // Writes the means of the next `rows` image rows, `width` values each, to
    // `out`; never past the last row.
    void next_rows(u64 rows, double* out);

private:
    double* table_row(u64 p) { return ring_.data() + (p % ring_rows_) * table_width_; }
    void add_padded_rows();
    void pad_row(u64 p, double* out);
    void write_means(u64 y, double* out);

    u64 width_;
    u64 height_;
    u64 window_;
    u64 radius_;
    u64 padded_width_;
    u64 padded_height_;
    u64 table_width_;
    u64 ring_rows_;
    u64 table_rows_ = 1;  // table rows built so far; row 0 is all zero
    u64 next_output_ = 0;
    RowSource source_;
    DoubleMap ring_;
    DoubleMap block_;
};

}  // namespace quorvane
