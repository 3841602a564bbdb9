// Counting the changed pixels of a pair, with an optional early-exit cap.
#pragma once

#include <optional>

#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// The number of Changed pixels. With a cap, counting stops early once the
// count has reached it: the answer is exact below the cap and at least the
// cap otherwise. A cap of 0 answers 0 without reading a pixel.
Result<u64> count_changed_pixels(ByteView baseline, ByteView current, u64 width, u64 height, const DiffOptions& options,
                                 std::optional<u64> cap);

}  // namespace quorvane
