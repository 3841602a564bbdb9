#include "operations/thumbnails.hpp"

#include <utility>

#include "image_utils/png_decode.hpp"
#include "operations/memory_needs.hpp"

namespace quorvane {

Result<Bytes> png_thumbnail(ByteView png, const ThumbnailOptions& options) {
    auto image = decode_png(png);
    if (!image) return std::move(image).error();
    return make_thumbnail(image->pixels, image->width, image->height, options);
}

Result<Bytes> current_thumbnail(const ImagePair& pair, const ThumbnailOptions& options) {
    if (auto refused = refusal(pair, thumbnail_work_bytes(pair.current_size, options))) return *std::move(refused);
    return make_thumbnail(pair.current_own_pixels(), pair.current_size.width, pair.current_size.height, options);
}

Result<Bytes> baseline_thumbnail(const ImagePair& pair, const BaselineThumbnailOptions& options) {
    const Size own = pair.baseline_size;
    // Cut out, the baseline at its own size is a copy.
    const Size shown = options.own_size ? own : Size{pair.width, pair.height};
    if (auto refused = refusal(pair, cut_thumbnail_work_bytes(shown, options.own_size, options.thumbnail))) {
        return *std::move(refused);
    }
    if (!options.own_size || own == Size{pair.width, pair.height}) {
        return make_thumbnail(pair.baseline, pair.width, pair.height, options.thumbnail);
    }
    const Bytes baseline = crop_top_left(pair.baseline, pair.width, own.width, own.height);
    return make_thumbnail(baseline, own.width, own.height, options.thumbnail);
}

}  // namespace quorvane
