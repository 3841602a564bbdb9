// The keyword-only parameters of a thumbnail made beside the PNG of a
// rendered image, the options built from them, and the (png, webp) tuple.
#pragma once

#include "bindings/params.hpp"
#include "image_utils/png_and_thumbnail.hpp"

namespace quorvane::py {

inline constexpr Param kBesideThumbnailWidth = keyword_only(count_param("thumbnail_width", ThumbnailOptions{}.width));
inline constexpr Param kBesideThumbnailHeight = keyword_only(optional_count_param("thumbnail_height"));

inline ThumbnailOptions beside_thumbnail_options(const Args& args) {
    ThumbnailOptions options;
    options.width = args.count(kBesideThumbnailWidth.name);
    options.height = args.optional_count(kBesideThumbnailHeight.name);
    options.effort = args.effort(kEffort.name);
    return options;
}

// A new (png_bytes, webp_bytes) tuple.
PyObject* png_and_thumbnail_tuple(const PngAndThumbnail& images);

}  // namespace quorvane::py
