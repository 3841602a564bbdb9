// The image pair of a comparison: both images brought to their common size.
#pragma once

#include <optional>

#include "core/image_pair.hpp"
#include "core/regions.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Padding can make a canvas far larger than both images: a 1 x n and an
// n x 1 image, a few hundred bytes as PNG files, need two n x n canvases.
// The system overcommits, so such an allocation would "succeed" and the
// process be killed as the zeros are written; normalize_pair refuses it as
// an allocation failure instead. A canvas within the budget of one decoded
// PNG passes, and so does a larger one of at most twice the larger image.
inline constexpr u64 kFreeCanvasBytes = 536870912;

// The canvas is never smaller than either image.
inline bool canvas_affordable(u64 canvas_bytes, u64 larger_image_bytes) {
    return canvas_bytes <= kFreeCanvasBytes || canvas_bytes - larger_image_bytes <= larger_image_bytes;
}

// Both images at the common size. An image that already has it is borrowed,
// not copied; the spans stay valid when the result is moved.
struct PaddedImages {
    std::optional<Bytes> baseline_padded;
    std::optional<Bytes> current_padded;
    ByteView baseline;
    ByteView current;
    u64 width = 0;
    u64 height = 0;
};

// Throws std::bad_alloc for a canvas that is not affordable, before any
// padding is allocated.
Result<PaddedImages> normalize_pair(ByteView baseline, u64 baseline_width, u64 baseline_height, ByteView current,
                                    u64 current_width, u64 current_height);

struct DecodedImages {
    Image baseline;
    Image current;
    // Both files were the same bytes, decoded once: `current` is empty and
    // the baseline stands for both.
    bool one_file = false;

    const Image& current_image() const { return one_file ? baseline : current; }
};

// The regions painted into both images at their own sizes: what falls
// outside an image is left for build_image_pair to paint into its padding.
void paint_own_sizes(DecodedImages& images, const IgnoreRegions& ignore);

// The record a Comparison owns, built from two images it takes over. With
// regions, the images come painted by paint_own_sizes and only their padding
// is painted here. Images that are then equal are kept as one (same_pixels).
Result<ImagePair> build_image_pair(Image baseline, Image current, const IgnoreRegions& ignore = {});

// build_image_pair, or the pair of one image when both files were one.
Result<ImagePair> build_decoded_pair(DecodedImages images, const IgnoreRegions& ignore);

// paint_own_sizes, then build_decoded_pair.
Result<ImagePair> build_painted_pair(DecodedImages images, const IgnoreRegions& ignore);

// Decodes both PNGs as two parallel tasks, or once when they are the same
// bytes; the baseline's error wins when both fail, and names its side.
Result<DecodedImages> decode_images(ByteView baseline_png, ByteView current_png);

// decode_images, then build_painted_pair: the pair of a Comparison made
// from PNG files.
Result<ImagePair> decode_image_pair(ByteView baseline_png, ByteView current_png, const IgnoreRegions& ignore = {});

// The pair of a Comparison made from RGBA buffers, copied once (equal
// buffers of one size: copied once for both). Both buffers are checked, the
// baseline first, before anything is copied, so a wrong length never costs a
// copy of a large buffer.
Result<ImagePair> copy_image_pair(ByteView baseline, Size baseline_size, ByteView current, Size current_size,
                                  const IgnoreRegions& ignore = {});

}  // namespace quorvane
