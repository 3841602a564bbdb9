// The windowed SSIM in one pass over the luminance, in strips of columns so
// that the summed-area table rows being made and read stay in cache. For each
// band of rows, strip by strip from the left: the strip's padded luminance
// rows are read and turned into the next rows of all five summed-area tables
// (of x, y, x*x, y*y and x*y) over the strip's columns, its running row sums
// starting from those the strip to its left handed on; each of the strip's
// pixels' five window means and its window's SSIM are computed from them as
// soon as the rows are there. The band's values are then summed row by row.
// Each strip keeps only the table rows its windows still need, in a ring.
//
// Every value is the one the definition gives: each table row is its running
// row sums added to the row above, each mean the four corners in the written
// order divided by 121, each window's SSIM the formula in its written order,
// and the values summed one by one in row-major order.
#include "ssim/windowed.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "core/parallel.hpp"
#include "ssim/box_mean.hpp"
#include "ssim/double_map.hpp"
#include "ssim/window_kernels.hpp"

namespace quorvane {
namespace {

constexpr u64 kRadius = kSsimWindow / 2;
// Output columns a strip, pixels a band: a strip's table rows and a band's
// values then stay in the second-level cache. A narrow image's bands stop at
// kMaxBandRows, which bounds the running sums handed between strips.
constexpr u64 kStripColumns = 256;
constexpr u64 kBandPixels = u64{1} << 15;
constexpr u64 kMaxBandRows = 1024;
// The table rows a window reads (y to y + 11), and those made at once after
// row y + 11 was found missing (up to y + 14).
constexpr u64 kRingRows = kSsimWindow + kMaxTableRows;

// Output columns [first, end) of a width x height image: the table columns
// [first, end + 11) over padded columns [first - 1, end + 10) (from 0 for the
// first strip, whose table column 0 is all zero).
class Strip {
public:
    Strip(u64 first, u64 end, u64 width, u64 height)
        : first_(first),
          end_(end),
          width_(width),
          height_(height),
          padded_first_(first == 0 ? 0 : first - 1),
          columns_(end + 2 * kRadius - padded_first_),
          table_width_(end - first + kSsimWindow),
          ring_(kRingRows * kWindowMaps * table_width_),
          luminance_(2 * kMaxTableRows * columns_) {
        for (u64 m = 0; m < kWindowMaps; ++m) std::fill_n(writable_row(m, 0), table_width_, 0.0);
    }

    u64 first() const { return first_; }
    u64 end() const { return end_; }
    u64 table_rows() const { return rows_; }

    // Table row p of map m over the strip's table columns, p inside the ring.
    const double* row(u64 m, u64 p) const { return ring_.data() + ring_offset(m, p); }

    // The next `count` table rows (at most kMaxTableRows), from padded rows
    // table_rows() - 1 on; carry[b] holds the running sums before the strip
    // for each and is left holding those for the next strip.
    void add_rows(u64 count, const LuminanceRows& source, const WindowKernels& kernels,
                  std::array<double, kWindowMaps>* carry) {
        TableRowsJob job;
        job.count = count;
        job.columns = columns_;
        job.carry_column = carry_column_index();
        const u64 offset = first_ == 0 ? 1 : 0;  // past the zero column
        for (u64 m = 0; m < kWindowMaps; ++m) job.above[m] = row(m, rows_ - 1) + offset;
        for (u64 b = 0; b < count; ++b) {
            double* x = luminance_.data() + 2 * b * columns_;
            double* y = x + columns_;
            pad_row(source, rows_ - 1 + b, x, y);
            job.x[b] = x;
            job.y[b] = y;
            for (u64 m = 0; m < kWindowMaps; ++m) {
                double* out = writable_row(m, rows_ + b);
                if (offset != 0) out[0] = 0.0;
                job.rows[b][m] = out + offset;
                job.carry[b][m] = carry[b][m];
            }
        }
        kernels.add_table_rows(job);
        for (u64 b = 0; b < count; ++b) std::copy_n(job.carry[b], kWindowMaps, carry[b].begin());
        rows_ += count;
    }

private:
    // Index in the strip's padded values of the last column left of the next
    // strip's padded columns, whose running sums that strip starts from.
    u64 carry_column_index() const { return end_ - 2 - padded_first_; }

    u64 ring_offset(u64 m, u64 p) const { return ((p % kRingRows) * kWindowMaps + m) * table_width_; }
    double* writable_row(u64 m, u64 p) { return ring_.data() + ring_offset(m, p); }

    // The strip's columns of padded row p: source row reflect(p - r), columns
    // mirrored the same way, the mirrored ones copied from inside the row.
    void pad_row(const LuminanceRows& source, u64 p, double* x, double* y) const {
        const auto radius = static_cast<std::int64_t>(kRadius);
        const u64 row = reflect_index(static_cast<std::int64_t>(p) - radius, height_);
        // Padded columns [inside_first, inside_end) are source columns - r.
        const u64 inside_first = std::max(padded_first_, kRadius);
        const u64 inside_end = std::min(padded_first_ + columns_, width_ + kRadius);
        source(row, inside_first - kRadius, inside_end - inside_first, x + (inside_first - padded_first_),
               y + (inside_first - padded_first_));
        const auto mirror = [&](double* padded, u64 from, u64 to) {
            for (u64 q = from; q < to; ++q) {
                padded[q - padded_first_] =
                    padded[reflect_index(static_cast<std::int64_t>(q) - radius, width_) + kRadius - padded_first_];
            }
        };
        for (double* padded : {x, y}) {
            mirror(padded, padded_first_, inside_first);
            mirror(padded, inside_end, padded_first_ + columns_);
        }
    }

    u64 first_, end_, width_, height_, padded_first_, columns_, table_width_;
    u64 rows_ = 1;  // table rows made so far; row 0 is all zero
    DoubleMap ring_;
    DoubleMap luminance_;
};

// The bands' values and the running sums handed from strip to strip.
struct BandBuffers {
    DoubleMap values;
    std::vector<std::array<double, kWindowMaps>> carries;
};

class StripWork {
public:
    StripWork(const LuminanceRows& rows, u64 width, u64 height, const WindowKernels& kernels, u64 ones_rows)
        : rows_(rows),
          width_(width),
          height_(height),
          ones_rows_(ones_rows),
          kernels_(kernels),
          band_rows_(std::clamp<u64>(kBandPixels / width, 1, std::min(height, kMaxBandRows))) {
        for (u64 first = 0; first < width; first += kStripColumns) {
            strips_.emplace_back(first, std::min(first + kStripColumns, width), width, height);
        }
    }

    u64 bands() const { return (height_ + band_rows_ - 1) / band_rows_; }
    u64 strip_count() const { return strips_.size(); }
    u64 columns_before(u64 strip) const { return strips_[strip].first(); }

    BandBuffers buffers() const {
        return {DoubleMap(band_rows_ * width_),
                std::vector<std::array<double, kWindowMaps>>(band_rows_ + kSsimWindow + kMaxTableRows)};
    }

    // Strips [first, end) of band `band`: their table rows and values. The
    // first strip of the image starts the band's running sums from zero, any
    // other continues from those the strip to its left left in `carries`.
    void run(u64 band, u64 first, u64 end, BandBuffers& buffers) {
        const auto [band_first, band_end] = rows_of(band);
        const u64 table_rows = band_end + kSsimWindow;  // the band's windows reach row band_end + 10
        const u64 first_new = band == 0 ? 1 : band_first + kSsimWindow;
        if (first == 0) std::fill_n(buffers.carries.begin(), table_rows - first_new, std::array<double, kWindowMaps>{});
        const double* top[kWindowMaps];
        const double* bottom[kWindowMaps];
        for (u64 s = first; s < end; ++s) {
            Strip& strip = strips_[s];
            for (u64 y = band_first; y < band_end; ++y) {
                while (strip.table_rows() <= y + kSsimWindow) {
                    const u64 made = strip.table_rows();
                    strip.add_rows(std::min(kernels_.rows_at_once, table_rows - made), rows_, kernels_,
                                   &buffers.carries[made - first_new]);
                }
                if (y < ones_rows_) continue;  // the table rows are still made: those below add to them
                for (u64 m = 0; m < kWindowMaps; ++m) {
                    top[m] = strip.row(m, y);
                    bottom[m] = strip.row(m, y + kSsimWindow);
                }
                kernels_.window_values(top, bottom, strip.end() - strip.first(),
                                       buffers.values.data() + (y - band_first) * width_ + strip.first());
            }
        }
    }

    // `total` plus the band's values one by one in row-major order.
    double sum(u64 band, const BandBuffers& buffers, double total) const {
        const auto [band_first, band_end] = rows_of(band);
        const u64 first = std::clamp(ones_rows_, band_first, band_end);
        const double* value = buffers.values.data() + (first - band_first) * width_;
        for (u64 i = 0, count = (band_end - first) * width_; i < count; ++i) total += value[i];
        return total;
    }

    // The sum of the values of the rows counted as ones: adding 1.0 to a
    // whole number below 2^53 is exact, so it is their count.
    double ones() const { return static_cast<double>(ones_rows_ * width_); }

private:
    // The output rows [first, end) of band `band`.
    std::pair<u64, u64> rows_of(u64 band) const {
        return {band * band_rows_, std::min(band * band_rows_ + band_rows_, height_)};
    }

    const LuminanceRows& rows_;
    u64 width_, height_, ones_rows_;
    const WindowKernels& kernels_;
    u64 band_rows_;
    std::vector<Strip> strips_;
};

// The share of the columns for the left half of a split: the right half also
// sums the values.
constexpr double kLeftShare = 0.58;

}  // namespace

// Every pixel's window counts, borders included. Split over two workers, the
// left strips of a band run beside the right strips of the band above, whose
// values are then summed; the sum is one chain in row-major order whichever
// thread adds, so the score does not depend on scheduling.
double windowed_ssim(const LuminanceRows& rows, u64 width, u64 height, const WindowKernels& kernels, u64 ones_rows) {
    StripWork work(rows, width, height, kernels, ones_rows);
    const u64 bands = work.bands(), strips = work.strip_count();
    double total = work.ones();
    if (!worth_splitting(width * height) || strips < 2) {
        BandBuffers buffers = work.buffers();
        for (u64 band = 0; band < bands; ++band) {
            work.run(band, 0, strips, buffers);
            total = work.sum(band, buffers, total);
        }
        return total / static_cast<double>(width * height);
    }
    // The strip boundary nearest the left half's share.
    const double left_columns = kLeftShare * static_cast<double>(width);
    u64 split = 1;
    while (split + 1 < strips && std::abs(static_cast<double>(work.columns_before(split + 1)) - left_columns) <
                                     std::abs(static_cast<double>(work.columns_before(split)) - left_columns)) {
        ++split;
    }
    std::array<BandBuffers, 2> buffers{work.buffers(), work.buffers()};
    for (u64 step = 0; step <= bands; ++step) {
        fork_join(
            [&] {
                if (step < bands) work.run(step, 0, split, buffers[step % 2]);
            },
            [&] {
                if (step == 0) return;
                BandBuffers& above = buffers[(step - 1) % 2];
                work.run(step - 1, split, strips, above);
                total = work.sum(step - 1, above, total);
            });
    }
    return total / static_cast<double>(width * height);
}

// A window reads rows y - r .. y + r, mirrored at the edges: above the top
// that is rows up to r, below the bottom rows inside the image.
u64 rows_of_shared_windows(u64 shared_rows, u64 height) {
    if (shared_rows >= height) return height;
    return shared_rows > kRadius ? shared_rows - kRadius : 0;
}

double windowed_ssim(std::span<const double> x, std::span<const double> y, u64 width, u64 height) {
    const LuminanceRows rows = [&](u64 row, u64 first, u64 count, double* x_out, double* y_out) {
        std::copy_n(x.data() + row * width + first, count, x_out);
        std::copy_n(y.data() + row * width + first, count, y_out);
    };
    return windowed_ssim(rows, width, height, fastest_window_kernels());
}

}  // namespace quorvane
