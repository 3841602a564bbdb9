// The arithmetic of the windowed SSIM, built once per instruction set: the
// baseline build, the reference, and builds for AVX2 and AVX-512, of which
// the fastest this processor runs is chosen once. All give the same doubles:
// the same operations in the same order, lane by lane.
#pragma once

#include <span>

#include "core/types.hpp"

namespace quorvane {

inline constexpr u64 kWindowMaps = 5;  // the tables of x, y, x*x, y*y and x*y
inline constexpr u64 kMaxTableRows = 4;

// New rows of the five summed-area tables over a strip of columns:
// S[p + 1][q + 1] = R[p][q] + S[p][q + 1], R[p][q] the running sum of padded
// row p up to column q. The running sums start from the strip's carry (those
// of the columns left of it) and their values after column `carry_column`
// are handed to the next strip.
struct TableRowsJob {
    u64 count = 0;         // padded rows, at most kMaxTableRows
    u64 columns = 0;       // padded values of each row in the strip, and new table values
    u64 carry_column = 0;  // below `columns`
    const double* x[kMaxTableRows] = {};
    const double* y[kMaxTableRows] = {};
    // Rows from the first table column made, whose value comes from padded
    // column 0 of the strip.
    const double* above[kWindowMaps] = {};          // the table row before the first new one
    double* rows[kMaxTableRows][kWindowMaps] = {};  // the new table rows
    double carry[kMaxTableRows][kWindowMaps] = {};  // in: the running sums so far; out: after carry_column
};

struct WindowKernels {
    const char* name;
    u64 rows_at_once;  // the count of padded rows add_table_rows is fastest with
    // Y = (R * 0.299 + G * 0.587) + B * 0.114 of `pixels` RGBA pixels.
    void (*luminance)(const u8* rgba, u64 pixels, double* out);
    void (*add_table_rows)(TableRowsJob& job);
    // The SSIM of each window of an output row from the table rows at its
    // top and its bottom edge, one per map.
    void (*window_values)(const double* const* top, const double* const* bottom, u64 width, double* out);
};

// Every build this processor runs, the baseline first and the fastest last.
std::span<const WindowKernels> window_kernel_paths();

const WindowKernels& fastest_window_kernels();

}  // namespace quorvane
