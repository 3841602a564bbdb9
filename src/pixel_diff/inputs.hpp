// What every pixel-comparing entry checks before it reads a pixel, and the
// whole-buffer equality shortcut they share.
#pragma once

#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Threshold, alpha, then the size, then the baseline's length against the
// size and the current's against the baseline's.
Status check_diff_inputs(ByteView baseline, ByteView current, u64 width, u64 height, const DiffOptions& options);

bool same_bytes(ByteView first, ByteView second);

}  // namespace quorvane
