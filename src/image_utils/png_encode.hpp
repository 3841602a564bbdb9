// RGBA pixels to an 8-bit RGB PNG file; alpha is dropped, never blended.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Truecolour, 8 bits a sample, not interlaced, no ancillary chunks; each row
// gets the filter libpng's heuristic would choose.
Result<Bytes> encode_png(ByteView rgba, u64 width, u64 height);

// How many rows of this width are filtered and compressed together as one
// strip, on one worker.
u64 png_strip_rows(u64 width);

// R, G, B of every pixel in order; alpha discarded, so a transparent pixel
// keeps its stored colour.
Bytes drop_alpha(ByteView rgba);

// A 32-bit big-endian value, and a whole chunk (length, type, data, CRC),
// appended to a PNG file being written.
void put_be32(Bytes& out, u32 value);
void put_chunk(Bytes& out, const char* type, ByteView data);

// The size checks every encoder shares: 64-bit overflow, exact length, then
// width and height within 32 bits.
Status check_encodable(ByteView rgba, u64 width, u64 height);

}  // namespace quorvane
