// The size rules of a thumbnail: scaled width and height, the minimum-size
// crop and the crop from the top; resampling and encoding live beside it.
#include "image_utils/thumbnail.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "image_utils/lanczos.hpp"
#include "image_utils/pad.hpp"
#include "image_utils/png_encode.hpp"
#include "image_utils/webp_encode.hpp"

namespace quorvane {
namespace {

Size scaled_size(u64 source_width, u64 source_height, u64 width) {
    if (source_width <= width) return {source_width, source_height};
    const double height =
        std::round(static_cast<double>(source_height) * static_cast<double>(width) / static_cast<double>(source_width));
    return {width, std::max<u64>(1, static_cast<u64>(height))};
}

bool below_minimum(Size scaled, std::optional<u64> min_width, std::optional<u64> min_height) {
    return (min_width && *min_width > scaled.width) || (min_height && *min_height > scaled.height);
}

}  // namespace

Bytes crop_top_left(ByteView pixels, u64 source_width, u64 new_width, u64 new_height) {
    const u64 source_stride = source_width * kBytesPerPixel;
    const u64 stride = new_width * kBytesPerPixel;
    Bytes cropped(new_height * stride);
    for (u64 y = 0; y < new_height; ++y) {
        std::memcpy(cropped.data() + y * stride, pixels.data() + y * source_stride, stride);
    }
    return cropped;
}

Size thumbnail_size(u64 source_width, u64 source_height, const ThumbnailOptions& options) {
    if (source_width == 0 || source_height == 0 || options.width == 0) return {source_width, source_height};
    const u64 crop_height = options.height.value_or(std::numeric_limits<u64>::max());
    const Size scaled = scaled_size(source_width, source_height, options.width);
    if (below_minimum(scaled, options.min_width, options.min_height)) {
        return {std::min(options.width, source_width), std::min(crop_height, source_height)};
    }
    return {scaled.width, std::min(scaled.height, crop_height)};
}

Result<Bytes> make_thumbnail(ByteView pixels, u64 source_width, u64 source_height, const ThumbnailOptions& options) {
    if (auto checked = check_rgba_buffer(pixels, source_width, source_height); !checked) {
        return std::move(checked).error();
    }
    const u64 width = options.width;
    if (width == 0) return CompareError::message("thumbnail max_width must be > 0");
    if (options.height && *options.height == 0) return CompareError::message("thumbnail max_height must be > 0");
    const u64 crop_height = options.height.value_or(std::numeric_limits<u64>::max());
    const auto encode = [&](ByteView rgba, u64 w, u64 h) { return encode_webp(rgba, w, h, options.effort); };

    if (source_width == 0 || source_height == 0) return encode(pixels, source_width, source_height);

    const Size scaled = scaled_size(source_width, source_height, width);
    if (below_minimum(scaled, options.min_width, options.min_height)) {
        const u64 kept_width = std::min(width, source_width);
        const u64 kept_height = std::min(crop_height, source_height);
        return encode(crop_top_left(pixels, source_width, kept_width, kept_height), kept_width, kept_height);
    }

    const u64 kept_height = std::min(scaled.height, crop_height);
    if (scaled == Size{source_width, source_height}) {
        // Full rows from the top are a prefix of the buffer: nothing to copy.
        return encode(pixels.first(kept_height * source_width * kBytesPerPixel), scaled.width, kept_height);
    }
    // The scaled size never exceeds the source size, so the source passing
    // the encoder's size checks covers both.
    if (auto checked = check_encodable(pixels, source_width, source_height); !checked) {
        return std::move(checked).error();
    }
    const Bytes resized =
        resize_lanczos3(pixels, source_width, source_height, scaled.width, scaled.height, kept_height);
    return encode(resized, scaled.width, kept_height);
}

}  // namespace quorvane
