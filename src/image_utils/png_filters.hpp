// PNG row filters (None, Sub, Up, Average, Paeth): undone row by row when
// decoding; when encoding, chosen per row by libpng's heuristic and applied.
#pragma once

#include <span>

#include "core/types.hpp"

namespace quorvane {

// The filter type bytes.
namespace png_filter {
enum : u8 { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };
}  // namespace png_filter

// Filter type bytes above this are invalid.
inline constexpr u8 kLastPngFilter = png_filter::kPaeth;

// Undoes filter type `filter` (at most kLastPngFilter) on `length` bytes
// read from `filtered`, writing them to `row`; `previous` is the row above,
// already unfiltered, or all zeros for the first row. `row` may lie before
// `filtered` in one buffer (a row moved down to close the gap of its filter
// byte): every byte is read before anything is written at or after it.
void unfilter_row(u8 filter, const u8* filtered, u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel);

// Writes `length` bytes of the row filtered with filter type `filter` to
// `out`; `previous` is the row above, or all zeros for the first row.
void apply_filter(u8 filter, const u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel, u8* out);

// Writes the filter type byte and the filtered row (length + 1 bytes) to
// `out`, with the filter whose output has the smallest sum of absolute values
// as signed bytes, as libpng chooses.
void filter_row(const u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel, u8* out);

// The sums of absolute filtered values of None, Sub, Up, Average and Paeth.
using FilterSums = u64[5];

// Filtering whole blocks of `block_bytes` bytes, [begin, end) of a row, past
// its first pixel: adding each filter's sums, or writing one filter's bytes.
struct PngFilterPath {
    const char* name;
    u64 block_bytes;
    void (*add_sums)(const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, FilterSums& sums);
    void (*filter_blocks)(u8 filter, const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, u8* out);
};

// The baseline build first, then each vector build this processor runs;
// filter_row and apply_filter take the last.
std::span<const PngFilterPath> png_filter_paths();

void filter_row_with(const PngFilterPath& path, const u8* row, const u8* previous, u64 length, unsigned bytes_per_pixel,
                     u8* out);
void apply_filter_with(const PngFilterPath& path, u8 filter, const u8* row, const u8* previous, u64 length,
                       unsigned bytes_per_pixel, u8* out);

namespace filter_baseline {
void add_filter_sums(const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, FilterSums& sums);
void filter_blocks(u8 filter, const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, u8* out);
}  // namespace filter_baseline

#if !defined(QUORVANE_SCALAR_ONLY)
namespace simd_avx2 {
void add_filter_sums(const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, FilterSums& sums);
void filter_blocks(u8 filter, const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, u8* out);
}  // namespace simd_avx2

// Paeth undone as unfilter_row does it, for three and four bytes a pixel.
namespace simd_sse41 {
void undo_paeth_rgb(const u8* filtered, u8* row, const u8* previous, u64 length);
void undo_paeth_rgba(const u8* filtered, u8* row, const u8* previous, u64 length);
}  // namespace simd_sse41
#endif

}  // namespace quorvane
