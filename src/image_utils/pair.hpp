// The image pair of a comparison: both images brought to their common size.
#pragma once

#include <optional>

#include "core/image_pair.hpp"
#include "core/memory_budget.hpp"
#include "core/regions.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

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
// from PNG files. A pair whose work, by the sizes its files claim, exceeds
// the budget is refused before anything is decoded.
Result<ImagePair> decode_image_pair(ByteView baseline_png, ByteView current_png, const IgnoreRegions& ignore = {},
                                    MemoryBudget budget = {});

// The pair of a Comparison made from RGBA buffers, copied once (equal
// buffers of one size: copied once for both). Both buffers are checked, the
// baseline first, then the pair's need against the budget, before anything
// is copied, so a wrong length or a pair too large never costs a copy of a
// large buffer.
Result<ImagePair> copy_image_pair(ByteView baseline, Size baseline_size, ByteView current, Size current_size,
                                  const IgnoreRegions& ignore = {}, MemoryBudget budget = {});

// The sizes both PNG files claim in their headers, when both have one that
// fits the decoding budget. An image beyond it is that image's decoding
// failure, which names it, rather than the pair's memory limit.
std::optional<PairSizes> decodable_pair_sizes(ByteView baseline_png, ByteView current_png);

}  // namespace quorvane
