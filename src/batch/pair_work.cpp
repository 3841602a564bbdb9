// The work of one pair in each batch operation.
#include "batch/pair_work.hpp"

#include <utility>

#include "core/parallel.hpp"
#include "image_utils/pair.hpp"
#include "image_utils/png_encode.hpp"
#include "image_utils/thumbnail.hpp"
#include "pixel_diff/count.hpp"
#include "pixel_diff/render.hpp"
#include "ssim/ssim.hpp"

namespace quorvane {

Result<DiffPairResult> diff_pair(ByteView baseline_png, ByteView current_png, const DiffOptions& options,
                                 const IgnoreRegions& ignore) {
    auto pair = decode_image_pair(baseline_png, current_png, ignore);
    if (!pair) return std::move(pair).error();
    auto image = render_pair_diff(pair->view(), options);
    if (!image) return std::move(image).error();
    auto png = encode_png(image->pixels, image->width, image->height);
    if (!png) return std::move(png).error();
    return DiffPairResult{png.take(), image->count, pair->width, pair->height};
}

Result<CountPairResult> count_pair(ByteView baseline_png, ByteView current_png, const DiffOptions& options,
                                   const IgnoreRegions& ignore) {
    auto pair = decode_image_pair(baseline_png, current_png, ignore);
    if (!pair) return std::move(pair).error();
    auto count = count_changed_pixels(pair->baseline, pair->current, pair->width, pair->height, options, std::nullopt);
    if (!count) return std::move(count).error();
    return CountPairResult{*count, pair->width, pair->height};
}

Result<double> ssim_pair(ByteView baseline_png, ByteView current_png, const IgnoreRegions& ignore) {
    auto pair = decode_image_pair(baseline_png, current_png, ignore);
    if (!pair) return std::move(pair).error();
    return ssim_rgba(pair->baseline, pair->current, pair->width, pair->height);
}

namespace {

// The count side of a comparison: the diff image, its count and its PNG when
// asked for, else the count alone. The PNG is encoded here, beside the SSIM.
struct CountSide {
    std::optional<Result<u64>> count;
    std::optional<Result<Bytes>> png;
};

CountSide count_side(const ImagePair& pair, const CompareOptions& options) {
    CountSide side;
    if (!options.return_diff) {
        side.count.emplace(
            count_changed_pixels(pair.baseline, pair.current, pair.width, pair.height, options.diff, std::nullopt));
        return side;
    }
    auto image = render_pair_diff(pair.view(), options.diff);
    if (!image) {
        side.count.emplace(std::move(image).error());
        return side;
    }
    side.count.emplace(image->count);
    side.png.emplace(encode_png(image->pixels, image->width, image->height));
    return side;
}

}  // namespace

Result<ComparePairResult> compare_pair(ByteView baseline_png, ByteView current_png, const CompareOptions& options) {
    auto images = decode_images(baseline_png, current_png);
    if (!images) return std::move(images).error();
    paint_own_sizes(*images, options.ignore);

    ComparePairResult result;
    if (options.thumbnail_width) {
        const Image& current = images->current;
        ThumbnailOptions thumbnail_options;
        thumbnail_options.width = *options.thumbnail_width;
        thumbnail_options.height = options.thumbnail_height;
        thumbnail_options.effort = options.thumbnail_effort;
        auto thumbnail = make_thumbnail(current.pixels, current.width, current.height, thumbnail_options);
        if (!thumbnail) return std::move(thumbnail).error();
        result.thumbnail = thumbnail.take();
    }

    auto pair = build_image_pair(std::move(images->baseline), std::move(images->current), options.ignore);
    if (!pair) return std::move(pair).error();
    CountSide side;
    std::optional<Result<double>> ssim;
    fork_join([&] { side = count_side(*pair, options); },
              [&] { ssim.emplace(ssim_rgba(pair->baseline, pair->current, pair->width, pair->height)); });
    if (!*side.count) return std::move(*side.count).error();
    if (!*ssim) return std::move(*ssim).error();
    if (side.png) {
        if (!*side.png) return std::move(*side.png).error();
        result.diff_png = side.png->take();
    }
    result.count = **side.count;
    result.ssim = **ssim;
    result.width = pair->width;
    result.height = pair->height;
    return result;
}

}  // namespace quorvane
