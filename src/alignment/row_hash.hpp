// Row hashes: the SipHash-1-3 of one RGBA row with transparent pixels read as
// zeros, and the hashes of an image's rows computed on the pool.
#pragma once

#include <vector>

#include "core/image_pair.hpp"
#include "core/types.hpp"

namespace quorvane {

// `row` holds width RGBA pixels. A pixel whose alpha is 0 is hashed as four
// zero bytes: its colour is invisible, so it never parts two rows.
u64 row_hash(const u8* row, u64 width);

// row_hash of rows 0 .. rows - 1 of `pixels` at the stride width * 4, in row
// order; `pixels` holds at least that many rows.
std::vector<u64> hash_rows(ByteView pixels, u64 width, u64 rows);

struct RowHashes {
    std::vector<u64> baseline;
    std::vector<u64> current;
};

// The hashes of each image's own rows at the pair's common width; a pair of
// width 0 has no rows. A pair of one image hashes its rows once.
RowHashes hash_pair_rows(const CanvasView& pair);

}  // namespace quorvane
