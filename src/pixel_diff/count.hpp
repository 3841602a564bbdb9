// Counting the changed pixels of a pair, with an optional early-exit cap.
#pragma once

#include <optional>

#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "pixel_diff/change_blocks.hpp"

namespace quorvane {

// The number of Changed pixels. With a cap, counting stops early once the
// count has reached it: the answer is exact below the cap and at least the
// cap otherwise. A cap of 0 answers 0 without reading a pixel.
Result<u64> count_changed_pixels(ByteView baseline, ByteView current, u64 width, u64 height, const DiffOptions& options,
                                 std::optional<u64> cap);

// The whole count, with the rows' classified blocks when the full rule
// applies and they fit in `max_bytes` (see classify_rows); the exact rule and
// equal buffers answer by comparing words, with no blocks.
Result<ClassifiedRows> count_and_classify(ByteView baseline, ByteView current, u64 width, u64 height,
                                          const DiffOptions& options, u64 max_bytes);

}  // namespace quorvane
