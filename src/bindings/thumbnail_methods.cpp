// Resampled images from Python: the module functions `thumbnail` and
// `resize_png` of a PNG, and the current_thumbnail / baseline_thumbnail
// methods of a Comparison.
#include <optional>
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/comparison.hpp"
#include "bindings/params.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/registry.hpp"
#include "bindings/thumbnail_params.hpp"
#include "operations/resize.hpp"
#include "operations/thumbnails.hpp"

namespace quorvane::py {
namespace {

constexpr Param kThumbnailWidth = count_param("width", ThumbnailOptions{}.width);

PyObject* webp_bytes(Bytes webp) { return to_python_bytes(webp); }

constexpr Param kThumbnailParams[] = {
    required("png_bytes", ParamKind::Png),
    kThumbnailWidth,
    optional_count_param("height"),
    kEffort,
};

PyObject* thumbnail(Args& args) {
    const ByteView png = args.bytes("png_bytes");
    ThumbnailOptions options;
    options.width = args.count("width");
    options.height = args.optional_count("height");
    options.effort = args.effort("effort");
    auto webp = without_gil([&] { return png_thumbnail(png, options); });
    return deliver(args.state(), std::move(webp), webp_bytes);
}

constexpr Function kThumbnail{"thumbnail",
                              "Create a lossless WebP thumbnail from a PNG image.\n\n"
                              "Scales down to `width`, preserving aspect ratio. If `height` is set,\n"
                              "crops from the top after resizing \u2014 useful for fixed-size grid cells.\n"
                              "Images already within bounds are re-encoded without resizing.\n\n"
                              "`effort` selects libwebp's lossless preset of that level, from 0\n"
                              "(fastest) to 9 (smallest file); None keeps libwebp's default settings;\n"
                              "'fast' writes the file with the module's own encoder, several times\n"
                              "faster than libwebp's fast presets.",
                              kThumbnailParams, thumbnail};

constexpr Param kResizeParams[] = {
    required("png_bytes", ParamKind::Png),
    required("width", ParamKind::Count),
    required("height", ParamKind::Count),
};

PyObject* resize(Args& args) {
    const ByteView png = args.bytes("png_bytes");
    const u64 width = args.count("width");
    const u64 height = args.count("height");
    auto resized = without_gil([&] { return resize_png(png, width, height); });
    return deliver(args.state(), std::move(resized), [](Bytes bytes) { return to_python_bytes(bytes); });
}

constexpr Function kResizePng{"resize_png",
                              "Resize a PNG image to `width` x `height` pixels; returns PNG bytes.\n\n"
                              "Resamples with the Lanczos3 filter of the thumbnails, in any direction,\n"
                              "without keeping the aspect ratio. The result is an RGB file: alpha is\n"
                              "dropped, as in every PNG the module writes. An image already of that\n"
                              "size is re-encoded unchanged.",
                              kResizeParams, resize};

constexpr Param kMethodParams[] = {
    kThumbnailWidth,
    optional_count_param("height"),
    optional_count_param("min_width"),
    optional_count_param("min_height"),
    kEffort,
};

ThumbnailOptions method_options(const Args& args) {
    return {args.count("width"), args.optional_count("height"), args.optional_count("min_width"),
            args.optional_count("min_height"), args.effort("effort")};
}

PyObject* current_thumbnail(ComparisonObject& self, Args& args) {
    const ThumbnailOptions options = method_options(args);
    auto webp = without_gil([&] { return quorvane::current_thumbnail(*self.pair, options); });
    return deliver(args.state(), std::move(webp), webp_bytes);
}

constexpr Param kBaselineMethodParams[] = {
    kThumbnailWidth,
    optional_count_param("height"),
    optional_count_param("min_width"),
    optional_count_param("min_height"),
    kEffort,
    keyword_only(flag_param("own_size", BaselineThumbnailOptions{}.own_size)),
};

PyObject* baseline_thumbnail(ComparisonObject& self, Args& args) {
    const BaselineThumbnailOptions options{method_options(args), args.flag("own_size")};
    auto webp = without_gil([&] { return quorvane::baseline_thumbnail(*self.pair, options); });
    return deliver(args.state(), std::move(webp), webp_bytes);
}

constexpr Method kCurrentThumbnail{"current_thumbnail",
                                   "Generate a lossless WebP thumbnail of the current image.\n\n"
                                   "When scaling would make either dimension smaller than `min_width` /\n"
                                   "`min_height`, the original is top-left cropped instead (no upscaling).\n\n"
                                   "`effort` selects libwebp's lossless preset of that level, from 0\n"
                                   "(fastest) to 9 (smallest file); None keeps libwebp's default settings;\n"
                                   "'fast' writes the file with the module's own encoder, several times\n"
                                   "faster than libwebp's fast presets.",
                                   kMethodParams, current_thumbnail};

constexpr Method kBaselineThumbnail{"baseline_thumbnail",
                                    "Generate a lossless WebP thumbnail of the baseline image.\n\n"
                                    "The baseline is shown as compared, padded with transparent black to the\n"
                                    "common size; with `own_size`, at its own size. `effort` as in\n"
                                    "`current_thumbnail()`.",
                                    kBaselineMethodParams, baseline_thumbnail};

}  // namespace

PyObject* png_and_thumbnail_tuple(const PngAndThumbnail& images) {
    PyRef png = PyRef::steal(to_python_bytes(images.png));
    if (!png) return nullptr;
    PyRef webp = PyRef::steal(to_python_bytes(images.thumbnail));
    if (!webp) return nullptr;
    PyRef tuple = PyRef::steal(PyTuple_New(2));
    if (!tuple) return nullptr;
    PyTuple_SetItem(tuple.get(), 0, png.release());
    PyTuple_SetItem(tuple.get(), 1, webp.release());
    return tuple.release();
}

void add_thumbnail_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back(describe<kCurrentThumbnail>());
    methods.push_back(describe<kBaselineThumbnail>());
}

void add_thumbnail_functions(std::vector<PyMethodDef>& functions) {
    functions.push_back(describe<kThumbnail>());
    functions.push_back(describe<kResizePng>());
}

}  // namespace quorvane::py
