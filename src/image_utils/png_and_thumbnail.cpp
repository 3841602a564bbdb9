#include "image_utils/png_and_thumbnail.hpp"

#include <optional>

#include "core/parallel.hpp"
#include "image_utils/png_encode.hpp"

namespace quorvane {

Result<PngAndThumbnail> encode_png_and_thumbnail(ByteView rgba, u64 width, u64 height,
                                                 const ThumbnailOptions& thumbnail) {
    std::optional<Result<Bytes>> png;
    std::optional<Result<Bytes>> webp;
    fork_join_if(
        worth_splitting(width * height), [&] { png.emplace(encode_png(rgba, width, height)); },
        [&] { webp.emplace(make_thumbnail(rgba, width, height, thumbnail)); });
    if (!*png) return std::move(*png).error();
    if (!*webp) return std::move(*webp).error();
    return PngAndThumbnail{png->take(), webp->take()};
}

}  // namespace quorvane
