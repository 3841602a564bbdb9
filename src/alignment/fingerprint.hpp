// The pair fingerprint: one value computed from the row hashes of both
// images, which ties an alignment to the pair it was made from.
#pragma once

#include <span>

#include "core/image_pair.hpp"
#include "core/types.hpp"

namespace quorvane {

// SipHash-1-3 of len(a), a's hashes, len(b), b's hashes, each as 8 bytes
// little-endian.
u64 pair_fingerprint(std::span<const u64> a, std::span<const u64> b);

// The fingerprint from the pair itself: the baseline's own rows and the
// current image's own rows at the common width (no rows when that width is
// 0). Equals the fingerprint of an alignment of the same pair.
u64 compute_pair_fingerprint(const PairView& pair);

}  // namespace quorvane
