// The work of one pair in each batch operation, from its two PNG files to its
// plain result record.
#pragma once

#include <optional>

#include "core/options.hpp"
#include "core/regions.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "image_utils/thumbnail.hpp"

namespace quorvane {

struct DiffBatchItem {
    Bytes png;  // the diff image
    u64 count = 0;
    u64 width = 0;  // the common size of the pair
    u64 height = 0;
};

struct CountBatchItem {
    u64 count = 0;
    u64 width = 0;
    u64 height = 0;
};

struct CompareBatchItem {
    u64 count = 0;
    double ssim = 0.0;
    u64 width = 0;
    u64 height = 0;
    std::optional<Bytes> diff_png;   // only when asked for
    std::optional<Bytes> thumbnail;  // only when a thumbnail width is given
};

struct CompareOptions {
    DiffOptions diff;
    bool return_diff = false;
    // A thumbnail of the current image at its own size when the width is
    // given; the height alone makes none.
    std::optional<u64> thumbnail_width;
    std::optional<u64> thumbnail_height;
    IgnoreRegions ignore;
    WebpEffort thumbnail_effort;

    // The thumbnail asked for, if any.
    std::optional<ThumbnailOptions> thumbnail() const;
};

// Each decodes both PNGs (the baseline's error first), brings them to their
// common size and paints the ignore regions before its own work.
Result<DiffBatchItem> diff_pair(ByteView baseline_png, ByteView current_png, const DiffOptions& options,
                                const IgnoreRegions& ignore);
Result<CountBatchItem> count_pair(ByteView baseline_png, ByteView current_png, const DiffOptions& options,
                                  const IgnoreRegions& ignore);
Result<double> ssim_pair(ByteView baseline_png, ByteView current_png, const IgnoreRegions& ignore);

// The thumbnail, of the painted current image, comes between decoding and
// padding; then the count (or the diff image and its PNG) and the SSIM run
// as two parallel tasks. Their errors rank in that order.
Result<CompareBatchItem> compare_pair(ByteView baseline_png, ByteView current_png, const CompareOptions& options);

}  // namespace quorvane
