// Window means through a summed-area table over the mirror-padded map, built
// and consumed a few rows at a time.
#include "ssim/box_mean.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "core/error.hpp"

namespace quorvane {
namespace {

// Padded rows are added to the table this many at a time.
constexpr u64 kBlockRows = 4;

// Table rows p + 1 .. p + count from padded rows p .. p + count - 1:
// S[p + 1][q + 1] = (running sum of padded row p up to q) + S[p][q + 1].
// The rows are walked together, column by column, so that their running
// sums, each a chain of dependent additions, overlap; each row's additions
// keep their own order.
template <u64 kCount>
void add_table_rows(const std::array<const double*, kCount>& padded, const std::array<double*, kCount + 1>& table,
                    u64 padded_width) {
    std::array<double, kCount> sums{};
    for (u64 b = 0; b < kCount; ++b) table[b + 1][0] = 0.0;
    for (u64 q = 0; q < padded_width; ++q) {
        for (u64 b = 0; b < kCount; ++b) {
            sums[b] += padded[b][q];
            table[b + 1][q + 1] = sums[b] + table[b][q + 1];
        }
    }
}

}  // namespace

u64 reflect_index(std::int64_t i, u64 extent) {
    if (extent <= 1) return 0;
    const auto last = static_cast<std::int64_t>(extent) - 1;
    while (i < 0 || i > last) i = i < 0 ? -i : 2 * last - i;
    return static_cast<u64>(i);
}

BoxMeanStream::BoxMeanStream(u64 width, u64 height, u64 window, RowSource source)
    : width_(width),
      height_(height),
      window_(window),
      radius_(window / 2),
      padded_width_(width + 2 * radius_),
      padded_height_(height + 2 * radius_),
      table_width_(padded_width_ + 1),
      ring_rows_(window + kBlockRows),
      source_(std::move(source)) {
    if (window == 0) throw Panic("window means need a window of at least one pixel");
    if (width == 0 || height == 0) return;
    ring_.resize(ring_rows_ * table_width_);
    block_.resize(kBlockRows * padded_width_);
    std::fill_n(table_row(0), table_width_, 0.0);
}

void BoxMeanStream::next_rows(u64 rows, double* out) {
    if (width_ == 0) return;
    const u64 end = std::min(height_, next_output_ + rows);
    while (next_output_ < end) {
        // Output row y needs table rows y and y + window.
        if (next_output_ + window_ < table_rows_) {
            write_means(next_output_++, out);
            out += width_;
        } else {
            add_padded_rows();
        }
    }
}

// Table rows are only added while the oldest row still needed lies less than
// a window back, so a ring of window + kBlockRows rows never overwrites it.
void BoxMeanStream::add_padded_rows() {
    const u64 first = table_rows_ - 1;
    const u64 rows = std::min(kBlockRows, padded_height_ - first);
    for (u64 b = 0; b < rows; ++b) pad_row(first + b, block_.data() + b * padded_width_);
    if (rows == kBlockRows) {
        std::array<const double*, kBlockRows> padded;
        std::array<double*, kBlockRows + 1> table;
        for (u64 b = 0; b < kBlockRows; ++b) padded[b] = block_.data() + b * padded_width_;
        for (u64 b = 0; b <= kBlockRows; ++b) table[b] = table_row(first + b);
        add_table_rows<kBlockRows>(padded, table, padded_width_);
    } else {
        for (u64 b = 0; b < rows; ++b) {
            add_table_rows<1>({block_.data() + b * padded_width_}, {table_row(first + b), table_row(first + b + 1)},
                              padded_width_);
        }
    }
    table_rows_ += rows;
}

// Padded row p is source row reflect(p - radius), its columns mirrored the
// same way; the edge columns are copied from the row's own middle.
void BoxMeanStream::pad_row(u64 p, double* out) {
    const auto radius = static_cast<std::int64_t>(radius_);
    source_(reflect_index(static_cast<std::int64_t>(p) - radius, height_), out + radius_);
    const double* middle = out + radius_;
    for (u64 q = 0; q < radius_; ++q) {
        out[q] = middle[reflect_index(static_cast<std::int64_t>(q) - radius, width_)];
        out[radius_ + width_ + q] = middle[reflect_index(static_cast<std::int64_t>(width_ + q), width_)];
    }
}

void BoxMeanStream::write_means(u64 y, double* out) {
    const double* top = table_row(y);
    const double* bottom = table_row(y + window_);
    const double area = static_cast<double>(window_ * window_);
    const u64 k = window_;
    for (u64 x = 0; x < width_; ++x) out[x] = (bottom[x + k] - top[x + k] - bottom[x] + top[x]) / area;
}

DoubleMap box_mean(std::span<const double> map, u64 width, u64 height, u64 window) {
    if (map.size() != width * height) throw Panic("box_mean map does not match its size");
    BoxMeanStream stream(width, height, window,
                         [&](u64 row, double* out) { std::copy_n(map.data() + row * width, width, out); });
    DoubleMap means(map.size());
    stream.next_rows(height, means.data());
    return means;
}

}  // namespace quorvane
