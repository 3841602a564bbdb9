// The windowed SSIM's arithmetic, included by window_kernels.cpp and by one
// file per instruction set, each defining QUORVANE_WINDOW_NAMESPACE and built
// with its set; plain loops the compiler vectorises for that set. Everything
// here stays inside the including file except `kernels`, and nothing here
// calls a function defined elsewhere unless it is always inlined: a copy
// compiled here could be the copy the linker keeps, and would then run on
// processors without the set.
#include "ssim/window_formula.hpp"
#include "ssim/window_kernels.hpp"
#include "ssim/windowed.hpp"

namespace quorvane::QUORVANE_WINDOW_NAMESPACE {
namespace {

void luminance(const u8* rgba, u64 pixels, double* out) {
    for (u64 i = 0; i < pixels; ++i) {
        u32 word;
        __builtin_memcpy(&word, rgba + i * kBytesPerPixel, sizeof word);
        const double r = static_cast<int>(word & 0xffu);
        const double g = static_cast<int>(word >> 8 & 0xffu);
        const double b = static_cast<int>(word >> 16 & 0xffu);
        out[i] = (r * 0.299 + g * 0.587) + b * 0.114;
    }
}

// The running sums of kRows rows and all maps advance column by column, each
// keeping its own order of additions, so that their chains overlap; each
// column of the new table rows is added on as soon as its sums are known.
template <u64 kRows>
void add_rows(TableRowsJob& job, u64 first) {
    const double* x[kRows];
    const double* y[kRows];
    const double* above[kWindowMaps];
    double* rows[kRows][kWindowMaps];
    double sums[kRows][kWindowMaps];
    for (u64 m = 0; m < kWindowMaps; ++m) above[m] = first == 0 ? job.above[m] : job.rows[first - 1][m];
    for (u64 b = 0; b < kRows; ++b) {
        x[b] = job.x[first + b];
        y[b] = job.y[first + b];
        for (u64 m = 0; m < kWindowMaps; ++m) {
            rows[b][m] = job.rows[first + b][m];
            sums[b][m] = job.carry[first + b][m];
        }
    }
    const auto add_columns = [&](u64 from, u64 to) {
        for (u64 q = from; q < to; ++q) {
            for (u64 b = 0; b < kRows; ++b) {
                const double xq = x[b][q], yq = y[b][q];
                sums[b][0] += xq;
                sums[b][1] += yq;
                sums[b][2] += xq * xq;
                sums[b][3] += yq * yq;
                sums[b][4] += xq * yq;
            }
            for (u64 m = 0; m < kWindowMaps; ++m) {
                double column = above[m][q];  // the table row above, same column
                for (u64 b = 0; b < kRows; ++b) {
                    column = sums[b][m] + column;
                    rows[b][m][q] = column;
                }
            }
        }
    };
    add_columns(0, job.carry_column + 1);
    for (u64 b = 0; b < kRows; ++b) {
        for (u64 m = 0; m < kWindowMaps; ++m) job.carry[first + b][m] = sums[b][m];
    }
    add_columns(job.carry_column + 1, job.columns);
}

// As many rows at once as the set's registers hold the running sums of.
#if defined(__AVX512F__)
constexpr u64 kRowsAtOnce = 4;
#else
constexpr u64 kRowsAtOnce = 2;
#endif

void add_table_rows(TableRowsJob& job) {
    if (job.count == kRowsAtOnce) {
        add_rows<kRowsAtOnce>(job, 0);
        return;
    }
    for (u64 b = 0; b < job.count; ++b) add_rows<1>(job, b);
}

// A short run's numerators and denominators come first, where the divisions
// vectorise; the rare zero denominator is resolved as the values are stored.
void window_values(const double* const* top, const double* const* bottom, u64 width, double* out) {
    constexpr u64 k = kSsimWindow, kRun = 256;
    const double area = static_cast<double>(k * k);
    for (u64 start = 0; start < width; start += kRun) {
        const u64 count = width - start < kRun ? width - start : kRun;
        double means[kWindowMaps][kRun];
        for (u64 m = 0; m < kWindowMaps; ++m) {
            const double* __restrict t = top[m] + start;
            const double* __restrict b = bottom[m] + start;
            double* __restrict mean = means[m];
            for (u64 x = 0; x < count; ++x) mean[x] = (b[x + k] - t[x + k] - b[x] + t[x]) / area;
        }
        double quotients[kRun], denominators[kRun];
        for (u64 x = 0; x < count; ++x) {
            const double mx = means[0][x], my = means[1][x];
            // Small negative variances from rounding are used as they come.
            const WindowTerms terms =
                window_terms(mx, my, means[2][x] - mx * mx, means[3][x] - my * my, means[4][x] - mx * my);
            quotients[x] = terms.numerator / terms.denominator;
            denominators[x] = terms.denominator;
        }
        for (u64 x = 0; x < count; ++x) out[start + x] = denominators[x] == 0.0 ? 1.0 : quotients[x];
    }
}

}  // namespace

extern const WindowKernels kernels;
const WindowKernels kernels{QUORVANE_WINDOW_NAME, kRowsAtOnce, luminance, add_table_rows, window_values};

}  // namespace quorvane::QUORVANE_WINDOW_NAMESPACE
