// DoubleMap: one double per pixel, row-major, the storage of every SSIM map.
#pragma once

#include <vector>

#include "core/types.hpp"

namespace quorvane {

// Uninitialised on construction, like Bytes: every map is written in full
// right after it is made, so a zero fill would be a wasted pass over memory.
using DoubleMap = std::vector<double, DefaultInitAllocator<double>>;

}  // namespace quorvane
