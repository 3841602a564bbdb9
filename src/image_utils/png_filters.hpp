// PNG row filters (None, Sub, Up, Average, Paeth): undone row by row when
// decoding; when encoding, chosen per row by libpng's heuristic and applied.
#pragma once

#include "core/types.hpp"

namespace quorvane {

// Filter type bytes above this are invalid.
inline constexpr u8 kLastPngFilter = 4;

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

#if !defined(QUORVANE_SCALAR_ONLY)
// Paeth undone as unfilter_row does it, for three and four bytes a pixel.
namespace simd_sse41 {
void undo_paeth_rgb(const u8* filtered, u8* row, const u8* previous, u64 length);
void undo_paeth_rgba(const u8* filtered, u8* row, const u8* previous, u64 length);
}  // namespace simd_sse41
#endif

}  // namespace quorvane
