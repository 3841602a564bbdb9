// The diff image of a pair: the baseline in faded grey, changed pixels in a
// signal colour, anti-aliased pixels in a second colour.
#pragma once

#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

struct DiffImage {
    Bytes pixels;  // width * height * 4 bytes of RGBA, every pixel opaque
    u64 count = 0;  // pixels drawn as changed
    u64 width = 0;
    u64 height = 0;
};

// Always by the full changed-pixel rule, also at threshold 0.
Result<DiffImage> render_diff_image(ByteView baseline, ByteView current, u64 width, u64 height,
                                   const DiffOptions& options);

}  // namespace quorvane
