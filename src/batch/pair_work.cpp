// The work of one pair in each batch operation.
#include "batch/pair_work.hpp"

#include <utility>

#include "core/parallel.hpp"
#include "image_utils/pair.hpp"
#include "operations/analyses.hpp"
#include "operations/diff_images.hpp"

namespace quorvane {

Result<DiffBatchItem> diff_pair(ByteView baseline_png, ByteView current_png, const DiffOptions& options,
                                const IgnoreRegions& ignore) {
    auto pair = decode_image_pair(baseline_png, current_png, ignore);
    if (!pair) return std::move(pair).error();
    auto diff = diff_png(*pair, options);
    if (!diff) return std::move(diff).error();
    return DiffBatchItem{std::move(diff->png), diff->count, pair->width, pair->height};
}

Result<CountBatchItem> count_pair(ByteView baseline_png, ByteView current_png, const DiffOptions& options,
                                  const IgnoreRegions& ignore) {
    auto pair = decode_image_pair(baseline_png, current_png, ignore);
    if (!pair) return std::move(pair).error();
    auto count = pair_diff_count(*pair, options, std::nullopt, LaterCalls::None);
    if (!count) return std::move(count).error();
    return CountBatchItem{*count, pair->width, pair->height};
}

Result<double> ssim_pair(ByteView baseline_png, ByteView current_png, const IgnoreRegions& ignore) {
    auto pair = decode_image_pair(baseline_png, current_png, ignore);
    if (!pair) return std::move(pair).error();
    return pair_ssim(*pair);
}

namespace {

// The count side of a comparison: the diff image's PNG and count when asked
// for, encoded here beside the SSIM, else the count alone.
Result<DiffPng> count_side(const ImagePair& pair, const CompareOptions& options) {
    if (options.return_diff) return diff_png(pair, options.diff);
    auto count = pair_diff_count(pair, options.diff, std::nullopt, LaterCalls::None);
    if (!count) return std::move(count).error();
    return DiffPng{{}, *count};
}

}  // namespace

std::optional<ThumbnailOptions> CompareOptions::thumbnail() const {
    if (!thumbnail_width) return std::nullopt;
    ThumbnailOptions options;
    options.width = *thumbnail_width;
    options.height = thumbnail_height;
    options.effort = thumbnail_effort;
    return options;
}

Result<CompareBatchItem> compare_pair(ByteView baseline_png, ByteView current_png, const CompareOptions& options) {
    auto images = decode_images(baseline_png, current_png);
    if (!images) return std::move(images).error();
    paint_own_sizes(*images, options.ignore);

    CompareBatchItem result;
    if (const auto thumbnail_options = options.thumbnail()) {
        const Image& current = images->current_image();
        auto thumbnail = make_thumbnail(current.pixels, current.width, current.height, *thumbnail_options);
        if (!thumbnail) return std::move(thumbnail).error();
        result.thumbnail = thumbnail.take();
    }

    auto pair = build_decoded_pair(images.take(), options.ignore);
    if (!pair) return std::move(pair).error();
    std::optional<Result<DiffPng>> side;
    std::optional<Result<double>> ssim;
    fork_join([&] { side.emplace(count_side(*pair, options)); }, [&] { ssim.emplace(pair_ssim(*pair)); });
    if (!*side) return std::move(*side).error();
    if (!*ssim) return std::move(*ssim).error();
    if (options.return_diff) result.diff_png = std::move((*side)->png);
    result.count = (*side)->count;
    result.ssim = **ssim;
    result.width = pair->width;
    result.height = pair->height;
    return result;
}

}  // namespace quorvane
