// Bringing the two images of a pair to their common size, and building the
// record a Comparison owns from decoded or caller-supplied pixels.
#include "image_utils/pair.hpp"

#include <algorithm>
#include <new>
#include <optional>

#include "core/checked.hpp"
#include "core/parallel.hpp"
#include "image_utils/pad.hpp"
#include "image_utils/png_decode.hpp"

namespace quorvane {

Result<NormalizedPair> normalize_pair(ByteView baseline, u64 baseline_width, u64 baseline_height, ByteView current,
                                      u64 current_width, u64 current_height) {
    if (auto checked = check_rgba_buffer(baseline, baseline_width, baseline_height); !checked) {
        return std::move(checked).error();
    }
    if (auto checked = check_rgba_buffer(current, current_width, current_height); !checked) {
        return std::move(checked).error();
    }

    NormalizedPair pair;
    pair.width = std::max(baseline_width, current_width);
    pair.height = std::max(baseline_height, current_height);
    const bool sizes_differ = baseline_width != current_width || baseline_height != current_height;
    const auto canvas_bytes = checked_rgba_length(pair.width, pair.height);
    if (sizes_differ && canvas_bytes && !canvas_affordable(*canvas_bytes, std::max(baseline.size(), current.size()))) {
        throw std::bad_alloc();
    }
    pair.baseline = baseline;
    pair.current = current;
    if (baseline_width < pair.width || baseline_height < pair.height) {
        auto padded = pad_to(baseline, baseline_width, baseline_height, pair.width, pair.height);
        if (!padded) return std::move(padded).error();
        pair.baseline_padded = padded.take();
        pair.baseline = *pair.baseline_padded;
    }
    if (current_width < pair.width || current_height < pair.height) {
        auto padded = pad_to(current, current_width, current_height, pair.width, pair.height);
        if (!padded) return std::move(padded).error();
        pair.current_padded = padded.take();
        pair.current = *pair.current_padded;
    }
    return pair;
}

void paint_own_sizes(DecodedImages& images, const IgnoreRegions& ignore) {
    for (Image* image : {&images.baseline, &images.current}) {
        paint_regions(image->pixels, {image->width, image->height}, ignore.regions, ignore.color);
    }
}

Result<ImagePair> build_image_pair(Image baseline, Image current, const IgnoreRegions& ignore) {
    auto normalized =
        normalize_pair(baseline.pixels, baseline.width, baseline.height, current.pixels, current.width, current.height);
    if (!normalized) return std::move(normalized).error();

    ImagePair pair;
    pair.width = normalized->width;
    pair.height = normalized->height;
    pair.baseline_size = {baseline.width, baseline.height};
    pair.current_size = {current.width, current.height};
    const Size canvas{pair.width, pair.height};
    // A padded copy holds the image's painted pixels already.
    if (normalized->baseline_padded) {
        paint_regions(*normalized->baseline_padded, canvas, ignore.regions, ignore.color, pair.baseline_size);
    }
    if (normalized->current_padded) {
        paint_regions(*normalized->current_padded, canvas, ignore.regions, ignore.color, pair.current_size);
    }
    pair.baseline = normalized->baseline_padded ? std::move(*normalized->baseline_padded) : std::move(baseline.pixels);
    // A current image that needed no padding is its own unpadded version, so
    // only a padded one keeps its original beside it.
    if (normalized->current_padded) {
        pair.current = std::move(*normalized->current_padded);
        pair.current_unpadded = std::move(current.pixels);
    } else {
        pair.current = std::move(current.pixels);
    }
    pair.ignore = ignore;
    pair.ignored_pixels = covered_pixels(ignore.regions, canvas);
    return pair;
}

Result<ImagePair> build_painted_pair(DecodedImages images, const IgnoreRegions& ignore) {
    paint_own_sizes(images, ignore);
    return build_image_pair(std::move(images.baseline), std::move(images.current), ignore);
}

Result<DecodedImages> decode_images(ByteView baseline_png, ByteView current_png) {
    std::optional<Result<Image>> baseline;
    std::optional<Result<Image>> current;
    fork_join([&] { baseline.emplace(decode_png(baseline_png)); }, [&] { current.emplace(decode_png(current_png)); });
    if (!*baseline) return std::move(*baseline).error();
    if (!*current) return std::move(*current).error();
    return DecodedImages{baseline->take(), current->take()};
}

Result<ImagePair> decode_image_pair(ByteView baseline_png, ByteView current_png, const IgnoreRegions& ignore) {
    auto images = decode_images(baseline_png, current_png);
    if (!images) return std::move(images).error();
    return build_painted_pair(images.take(), ignore);
}

}  // namespace quorvane
