// The window mean of a map: every pixel's average over the square window
// centred on it, the map mirrored at its edges.
#pragma once

#include <cstdint>
#include <span>

#include "core/types.hpp"
#include "ssim/double_map.hpp"

namespace quorvane {

// The index that mirrors i into [0, extent) about the edge pixels without
// repeating them (-1 -> 1, extent -> extent - 2); every index is 0 when the
// extent is 1.
u64 reflect_index(std::int64_t i, u64 extent);

// Mean over the window x window square centred on each pixel (window odd),
// from a summed-area table of the mirror-padded map: O(1) per pixel whatever
// the window. `map` holds width * height values, row-major; `window` is at
// least 1.
DoubleMap box_mean(std::span<const double> map, u64 width, u64 height, u64 window);

}  // namespace quorvane
