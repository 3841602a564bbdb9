// The windowed SSIM in one pass over the luminance: each padded row of both
// images is read once and turned into the next row of all five summed-area
// tables (of x, y, x*x, y*y and x*y) together; once a band's tables are
// complete, every pixel's five window means and its window's SSIM are computed
// from them, a row at a time, and summed. Only the table rows that a band
// still needs are kept, in a ring.
//
// Every value is the one the definition gives: each table row is its running
// row sums added to the row above, each mean the four corners in the written
// order divided by 121, each window's SSIM the formula in its written order,
// and the values summed one by one in row-major order.
#include "ssim/windowed.hpp"

#include <algorithm>
#include <array>

#include "core/parallel.hpp"
#include "ssim/box_mean.hpp"
#include "ssim/double_map.hpp"
#include "ssim/window_kernels.hpp"

namespace quorvane {
namespace {

constexpr u64 kRadius = kSsimWindow / 2;
// About this many pixels a band: their tables and values stay in cache.
constexpr u64 kBandPixels = u64{1} << 14;

class SummedTables {
public:
    SummedTables(u64 width, u64 height, u64 band_rows, const LuminanceRows& source, const WindowKernels& kernels)
        : width_(width),
          height_(height),
          padded_width_(width + 2 * kRadius),
          table_width_(padded_width_ + 1),
          // A band reads its rows while the next band's are being added.
          ring_rows_(2 * band_rows + kSsimWindow),
          source_(source),
          kernels_(kernels),
          ring_(ring_rows_ * kWindowMaps * table_width_),
          luminance_(2 * kMaxTableRows * padded_width_) {
        for (u64 m = 0; m < kWindowMaps; ++m) std::fill_n(writable_row(m, 0), table_width_, 0.0);
    }

    // Table row p of map m, p inside the ring.
    const double* row(u64 m, u64 p) const { return ring_.data() + ((p % ring_rows_) * kWindowMaps + m) * table_width_; }

    // Adds table rows until there are `rows` of them (at most height + 2r + 1).
    void extend_to(u64 rows) {
        while (rows_ < rows) add_rows(std::min(kernels_.rows_at_once, rows - rows_));
    }

private:
    double* writable_row(u64 m, u64 p) { return ring_.data() + ((p % ring_rows_) * kWindowMaps + m) * table_width_; }

    // Padded row p of both images: source row reflect(p - r), its columns
    // mirrored the same way, the edge columns copied from the row's middle.
    void pad_rows(u64 p, double* x, double* y) {
        const auto radius = static_cast<std::int64_t>(kRadius);
        source_(reflect_index(static_cast<std::int64_t>(p) - radius, height_), x + kRadius, y + kRadius);
        for (double* padded : {x, y}) {
            const double* middle = padded + kRadius;
            for (u64 q = 0; q < kRadius; ++q) {
                padded[q] = middle[reflect_index(static_cast<std::int64_t>(q) - radius, width_)];
                padded[kRadius + width_ + q] = middle[reflect_index(static_cast<std::int64_t>(width_ + q), width_)];
            }
        }
    }

    // Table rows rows_ .. rows_ + count - 1 from padded rows rows_ - 1 on.
    void add_rows(u64 count) {
        TableRowsJob job;
        job.count = count;
        job.padded_width = padded_width_;
        for (u64 m = 0; m < kWindowMaps; ++m) job.above[m] = row(m, rows_ - 1);
        for (u64 b = 0; b < count; ++b) {
            double* x = luminance_.data() + 2 * b * padded_width_;
            double* y = x + padded_width_;
            pad_rows(rows_ - 1 + b, x, y);
            job.x[b] = x;
            job.y[b] = y;
            for (u64 m = 0; m < kWindowMaps; ++m) job.rows[b][m] = writable_row(m, rows_ + b);
        }
        kernels_.add_table_rows(job);
        rows_ += count;
    }

    u64 width_, height_, padded_width_, table_width_, ring_rows_;
    const LuminanceRows& source_;
    const WindowKernels& kernels_;
    u64 rows_ = 1;  // table rows added so far; row 0 is all zero
    DoubleMap ring_;
    DoubleMap luminance_;
};

// `total` plus the values one by one.
double sum_in_order(double total, const double* values, u64 count) {
    for (u64 i = 0; i < count; ++i) total += values[i];
    return total;
}

}  // namespace

// Every pixel's window counts, borders included. While the pool adds the
// next band's table rows, the current band's values are computed and the
// previous band's summed; the values are summed in one chain in row-major
// order, so the score depends neither on scheduling nor on the thread summing.
double windowed_ssim(const LuminanceRows& rows, u64 width, u64 height, const WindowKernels& kernels) {
    const bool split = worth_splitting(width * height);
    const u64 band_rows = std::clamp<u64>(kBandPixels / width, 1, height);
    SummedTables tables(width, height, band_rows, rows, kernels);
    std::array<DoubleMap, 2> values{DoubleMap(band_rows * width), DoubleMap(band_rows * width)};
    const auto values_of_rows = [&](u64 first, u64 end, double* out) {
        for (u64 y = first; y < end; ++y, out += width) {
            const double* top[kWindowMaps];
            const double* bottom[kWindowMaps];
            for (u64 m = 0; m < kWindowMaps; ++m) {
                top[m] = tables.row(m, y);
                bottom[m] = tables.row(m, y + kSsimWindow);
            }
            kernels.window_values(top, bottom, width, out);
        }
    };

    double total = 0.0;
    tables.extend_to(std::min(band_rows, height) + kSsimWindow);
    for (u64 first = 0, band = 0; first < height; first += band_rows, band ^= 1) {
        const u64 end = std::min(first + band_rows, height);
        const u64 middle = first + (end - first) / 2;
        double* out = values[band].data();
        const double* previous = values[band ^ 1].data();
        auto next_tables = [&] { tables.extend_to(std::min(end + band_rows, height) + kSsimWindow); };
        // The band before this one, whole, if there is one.
        auto sum_previous = [&] { total = sum_in_order(total, previous, first == 0 ? 0 : band_rows * width); };
        fork_join_if(
            split, [&] { fork_join_if(split, next_tables, sum_previous); },
            [&] {
                fork_join_if(
                    split, [&] { values_of_rows(first, middle, out); },
                    [&] { values_of_rows(middle, end, out + (middle - first) * width); });
            });
    }
    const u64 last_band = (height - 1) / band_rows;
    total = sum_in_order(total, values[last_band & 1].data(), (height - last_band * band_rows) * width);
    return total / static_cast<double>(width * height);
}

double windowed_ssim(std::span<const double> x, std::span<const double> y, u64 width, u64 height) {
    const LuminanceRows rows = [&](u64 row, double* x_out, double* y_out) {
        std::copy_n(x.data() + row * width, width, x_out);
        std::copy_n(y.data() + row * width, width, y_out);
    };
    return windowed_ssim(rows, width, height, fastest_window_kernels());
}

}  // namespace quorvane
