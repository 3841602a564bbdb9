// The image pair of a comparison: both images brought to their common size.
#pragma once

#include <optional>

#include "core/image_pair.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Both images at the common size. An image that already has it is borrowed,
// not copied; the spans stay valid when the result is moved.
struct NormalizedPair {
    std::optional<Bytes> baseline_padded;
    std::optional<Bytes> current_padded;
    ByteView baseline;
    ByteView current;
    u64 width = 0;
    u64 height = 0;
};

Result<NormalizedPair> normalize_pair(ByteView baseline, u64 baseline_width, u64 baseline_height, ByteView current,
                                      u64 current_width, u64 current_height);

// The record a Comparison owns, built from two images it takes over.
Result<ImagePair> build_image_pair(Image baseline, Image current);

struct DecodedImages {
    Image baseline;
    Image current;
};

// Decodes both PNGs as two parallel tasks; the baseline's error wins when
// both fail.
Result<DecodedImages> decode_images(ByteView baseline_png, ByteView current_png);

// decode_images, then the record of the pair.
Result<ImagePair> decode_image_pair(ByteView baseline_png, ByteView current_png);

}  // namespace quorvane
