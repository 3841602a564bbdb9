// Comparison's pixel difference methods: diff_count, diff_count_capped,
// diff_image and diff_image_and_thumbnail.
#include <optional>
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/comparison.hpp"
#include "bindings/params.hpp"
#include "bindings/registry.hpp"
#include "bindings/thumbnail_params.hpp"
#include "operations/analyses.hpp"
#include "operations/diff_images.hpp"

namespace quorvane::py {
namespace {

PyObject* count_of(const ImagePair& pair, const Args& args, std::optional<u64> cap) {
    const DiffOptions options = args.diff_options();
    auto count = without_gil([&] { return pair_diff_count(pair, options, cap); });
    return deliver(args.state(), std::move(count), [](u64 value) { return to_python(value); });
}

constexpr Param kDiffCountParams[] = {kThreshold, kIncludeAa};

PyObject* diff_count(ComparisonObject& self, Args& args) { return count_of(*self.pair, args, std::nullopt); }

constexpr Method kDiffCount{"diff_count", "Count differing pixels.", kDiffCountParams, diff_count};

constexpr Param kDiffCountCappedParams[] = {required("max_diffs", ParamKind::Count), kThreshold, kIncludeAa};

PyObject* diff_count_capped(ComparisonObject& self, Args& args) {
    return count_of(*self.pair, args, args.count("max_diffs"));
}

constexpr Method kDiffCountCapped{"diff_count_capped", "Count differing pixels with early exit.",
                                  kDiffCountCappedParams, diff_count_capped};

constexpr Param kDiffImageParams[] = {kThreshold, kAlpha, kIncludeAa, kDiffColor, kAaColor, kDiffColorAlt};

PyObject* diff_image(ComparisonObject& self, Args& args) {
    const DiffOptions options = args.diff_options();
    auto diff = without_gil([&] { return diff_png(*self.pair, options); });
    return deliver(args.state(), std::move(diff), [](const DiffPng& drawn) { return to_python_bytes(drawn.png); });
}

constexpr Method kDiffImage{"diff_image", "Generate the diff image as PNG bytes.", kDiffImageParams, diff_image};

constexpr Param kDiffImageAndThumbnailParams[] = {
    keyword_only(kThreshold), kAlpha,  kIncludeAa, kDiffColor, kAaColor, kDiffColorAlt, kBesideThumbnailWidth,
    kBesideThumbnailHeight,   kEffort,
};

PyObject* diff_image_and_thumbnail(ComparisonObject& self, Args& args) {
    const DiffOptions options = args.diff_options();
    const ThumbnailOptions thumbnail = beside_thumbnail_options(args);
    auto images = without_gil([&] { return diff_png_and_thumbnail(*self.pair, options, thumbnail); });
    return deliver(args.state(), std::move(images), png_and_thumbnail_tuple);
}

constexpr Method kDiffImageAndThumbnail{"diff_image_and_thumbnail",
                                        "Generate the diff image as PNG bytes and its lossless WebP thumbnail.\n\n"
                                        "Returns (png_bytes, webp_bytes): the diff image of `diff_image()`, drawn\n"
                                        "once, and a thumbnail of the same pixels, made as `thumbnail()` makes one:\n"
                                        "scaled down to `thumbnail_width`, cropped from the top to\n"
                                        "`thumbnail_height` when set, encoded with `effort`.",
                                        kDiffImageAndThumbnailParams, diff_image_and_thumbnail};

}  // namespace

void add_pixel_diff_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back(describe<kDiffCount>());
    methods.push_back(describe<kDiffCountCapped>());
    methods.push_back(describe<kDiffImage>());
    methods.push_back(describe<kDiffImageAndThumbnail>());
}

}  // namespace quorvane::py
