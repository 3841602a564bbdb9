// Thumbnails from Python: the module function `thumbnail` of a PNG, and the
// current_thumbnail / baseline_thumbnail methods of a Comparison.
#include <optional>
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/comparison.hpp"
#include "bindings/params.hpp"
#include "bindings/registry.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/thumbnail.hpp"

namespace quorvane::py {
namespace {

constexpr Param kThumbnailWidth = count_param("width", 200, "200");

PyObject* webp_bytes(Bytes webp) { return to_python_bytes(webp); }

constexpr Param kThumbnailParams[] = {
    required("png_bytes", ParamKind::Png),
    kThumbnailWidth,
    optional_count_param("height"),
};

PyObject* thumbnail(Args& args) {
    const ByteView png = args.bytes("png_bytes");
    const u64 width = args.count("width");
    const std::optional<u64> height = args.optional_count("height");
    auto webp = without_gil([&]() -> Result<Bytes> {
        auto image = decode_png(png);
        if (!image) return std::move(image).error();
        return make_thumbnail(image->pixels, image->width, image->height, width, height, std::nullopt, std::nullopt);
    });
    return deliver(std::move(webp), webp_bytes);
}

constexpr Function kThumbnail{
    "thumbnail",
    "Create a lossless WebP thumbnail from a PNG image.\n\n"
    "Scales down to `width`, preserving aspect ratio. If `height` is set,\n"
    "crops from the top after resizing \u2014 useful for fixed-size grid cells.\n"
    "Images already within bounds are re-encoded without resizing.",
    kThumbnailParams, thumbnail};

constexpr Param kMethodParams[] = {
    kThumbnailWidth,
    optional_count_param("height"),
    optional_count_param("min_width"),
    optional_count_param("min_height"),
};

PyObject* thumbnail_of(ByteView pixels, Size size, const Args& args) {
    const u64 width = args.count("width");
    const std::optional<u64> height = args.optional_count("height");
    const std::optional<u64> min_width = args.optional_count("min_width");
    const std::optional<u64> min_height = args.optional_count("min_height");
    auto webp = without_gil(
        [&] { return make_thumbnail(pixels, size.width, size.height, width, height, min_width, min_height); });
    return deliver(std::move(webp), webp_bytes);
}

// The current image at its own size, without the padding of a larger baseline.
PyObject* current_thumbnail(ComparisonObject& self, Args& args) {
    return thumbnail_of(self.pair->current_own_pixels(), self.pair->current_size, args);
}

// The baseline as held: at the common size, padding included.
PyObject* baseline_thumbnail(ComparisonObject& self, Args& args) {
    return thumbnail_of(self.pair->baseline, {self.pair->width, self.pair->height}, args);
}

constexpr Method kCurrentThumbnail{
    "current_thumbnail",
    "Generate a lossless WebP thumbnail of the current image.\n\n"
    "When scaling would make either dimension smaller than `min_width` /\n"
    "`min_height`, the original is top-left cropped instead (no upscaling).",
    kMethodParams, current_thumbnail};

constexpr Method kBaselineThumbnail{"baseline_thumbnail", "Generate a lossless WebP thumbnail of the baseline image.",
                                    kMethodParams, baseline_thumbnail};

}  // namespace

void add_thumbnail_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back(describe<kCurrentThumbnail>());
    methods.push_back(describe<kBaselineThumbnail>());
}

void add_thumbnail_functions(std::vector<PyMethodDef>& functions) { functions.push_back(describe<kThumbnail>()); }

}  // namespace quorvane::py
