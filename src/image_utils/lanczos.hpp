// Lanczos3 resampling of RGBA images: separable, vertical pass first, in
// 32-bit floats on all four channels (colour is not premultiplied by alpha).
#pragma once

#include <memory>
#include <vector>

#include "core/types.hpp"

namespace quorvane {

// The normalised filter weights of one axis. Every output sample o reads the
// same number of source samples, `taps`, starting at first[o], with weights
// weights[o * taps .. (o + 1) * taps). Windows that the image edge shortens
// are padded with zero weights, which leave a sum unchanged.
struct AxisTaps {
    u64 taps = 0;
    std::vector<u64> first;
    std::vector<float> weights;
};

// L(x) = sinc(x) * sinc(x / 3) for |x| < 3, else 0.
float lanczos3(float x);

// Weights for resampling source_length samples to target_length; both > 0.
AxisTaps lanczos3_taps(u64 source_length, u64 target_length);

// The same, shared with the calls that asked for them recently.
std::shared_ptr<const AxisTaps> lanczos3_taps_kept(u64 source_length, u64 target_length);

// The top `kept_rows` rows of the source resized to width x height; the rows
// below are never computed, so a resize followed by a crop from the top costs
// only what it keeps. Sizes must be non-zero, the buffer exactly
// source_width x source_height x 4 bytes, and kept_rows <= height.
Bytes resize_lanczos3(ByteView rgba, u64 source_width, u64 source_height, u64 width, u64 height, u64 kept_rows);

}  // namespace quorvane
