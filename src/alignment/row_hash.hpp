// Row hashes: the SipHash-1-3 of one RGBA row with transparent pixels read as
// zeros, and the hashes of an image's rows computed on the pool. One row's
// hash waits on each round before the next, so the vector paths hash a
// group of rows side by side, one row a lane; the scalar path is the
// reference and fallback.
#pragma once

#include <span>
#include <vector>

#include "core/image_pair.hpp"
#include "core/types.hpp"

namespace quorvane {

// `row` holds width RGBA pixels. A pixel whose alpha is 0 is hashed as four
// zero bytes: its colour is invisible, so it never parts two rows.
u64 row_hash(const u8* row, u64 width);

// Writes row_hash of rows 0 .. rows - 1 of `first_row` at the stride width *
// 4 into `hashes` and returns how many it did: a vector path does whole
// groups of its lanes and leaves the last rows to the scalar path.
using HashRowGroups = u64 (*)(const u8* first_row, u64 width, u64 rows, u64* hashes);

struct RowHashPath {
    const char* name;
    HashRowGroups hash;
};

// The scalar path first, then each vector path this processor runs.
std::span<const RowHashPath> row_hash_paths();

u64 hash_row_groups_scalar(const u8* first_row, u64 width, u64 rows, u64* hashes);

#if !defined(QUORVANE_SCALAR_ONLY)
namespace simd_avx2 {
u64 hash_row_groups(const u8* first_row, u64 width, u64 rows, u64* hashes);
}  // namespace simd_avx2
namespace simd_avx512 {
u64 hash_row_groups(const u8* first_row, u64 width, u64 rows, u64* hashes);
}  // namespace simd_avx512
#endif

// row_hash of rows 0 .. rows - 1 of `pixels` at the stride width * 4, in row
// order, with the fastest path; `pixels` holds at least that many rows.
std::vector<u64> hash_rows(ByteView pixels, u64 width, u64 rows);

struct RowHashes {
    std::vector<u64> baseline;
    std::vector<u64> current;
};

// The hashes of each image's own rows at the pair's common width; a pair of
// width 0 has no rows. A pair of one image hashes its rows once.
RowHashes hash_pair_rows(const CanvasView& pair);

}  // namespace quorvane
