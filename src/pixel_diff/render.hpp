// The diff image of a pair: the baseline in faded grey, changed pixels in a
// signal colour, anti-aliased pixels in a second colour.
#pragma once

#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

struct DiffImage {
    Bytes pixels;   // width * height * 4 bytes of RGBA, every pixel opaque
    u64 count = 0;  // pixels drawn as changed
    u64 width = 0;
    u64 height = 0;
};

struct ChangeBlocks;

// Always by the full changed-pixel rule, also at threshold 0. `known`, when
// given, holds these buffers' rows as a rule classified them, read instead
// of classifying when that rule is this call's.
Result<DiffImage> render_diff_image(ByteView baseline, ByteView current, u64 width, u64 height,
                                    const DiffOptions& options, const ChangeBlocks* known = nullptr);

// The diff image of a pair, its ignore regions drawn over it in their colour:
// faded grey there would say the pixels were compared and found equal.
Result<DiffImage> render_pair_diff(const CanvasView& pair, const DiffOptions& options,
                                   const ChangeBlocks* known = nullptr);

}  // namespace quorvane
