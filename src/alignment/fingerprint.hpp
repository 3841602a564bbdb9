// The pair fingerprint: one value computed from the row hashes of both
// images, which ties an alignment to the pair it was made from, and the
// pair's write-once cache of it.
#pragma once

#include <optional>
#include <span>

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/types.hpp"

namespace quorvane {

// SipHash-1-3 of len(a), a's hashes, len(b), b's hashes, each as 8 bytes
// little-endian.
u64 pair_fingerprint(std::span<const u64> a, std::span<const u64> b);

// What ties an alignment to its pair: the pair's fingerprint, mixed with the
// bits of the row threshold when the rows were matched within one, so that an
// alignment carries how its rows were matched along with what they were.
u64 alignment_fingerprint(u64 pair_fingerprint, std::optional<double> row_threshold);

// The fingerprint from the pair itself: the baseline's own rows and the
// current image's own rows at the common width (no rows when that width is
// 0). Equals the fingerprint of an alignment of the same pair.
u64 compute_pair_fingerprint(const CanvasView& pair);

// The pair's fingerprint from its cache, computed and stored first when the
// cache is empty; concurrent callers wait for that one computation. May
// block, so callers must not hold the interpreter lock.
u64 cached_pair_fingerprint(ImagePair& pair);

// Keeps the pair fingerprint of an aligned record in the pair's cache when
// the cache is still empty, sparing the shift-aware methods the hashing,
// whether or not its rows were matched within a threshold.
void remember_pair_fingerprint(ImagePair& pair, const AlignmentRecord& record);

}  // namespace quorvane
