// The change mask of a pair: one byte a pixel, 1 where the pixel changed.
#pragma once

#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

struct DiffMask {
    Bytes mask;     // width * height bytes, row-major; 1 for Changed, else 0
    u64 count = 0;  // the number of 1 bytes
    u64 width = 0;
    u64 height = 0;
};

struct ChangeBlocks;

// Any two equally long buffers of width x height pixels, such as a window of
// rows cut from each image of a pair. `known`, when given, holds these
// buffers' rows as a rule classified them, read instead of classifying when
// that rule is this call's.
Result<DiffMask> build_diff_mask(ByteView baseline, ByteView current, u64 width, u64 height, const DiffOptions& options,
                                 const ChangeBlocks* known = nullptr);

}  // namespace quorvane
