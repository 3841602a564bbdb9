// Comparison's pixel difference methods: diff_count, diff_count_capped and
// diff_image.
#include <optional>
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/comparison.hpp"
#include "bindings/params.hpp"
#include "bindings/registry.hpp"
#include "image_utils/png_encode.hpp"
#include "pixel_diff/count.hpp"
#include "pixel_diff/render.hpp"

namespace quorvane::py {
namespace {

PyObject* count_of(const ImagePair& pair, const DiffOptions& options, std::optional<u64> cap) {
    auto count = without_gil(
        [&] { return count_changed_pixels(pair.baseline, pair.current, pair.width, pair.height, options, cap); });
    return deliver(std::move(count), [](u64 value) { return to_python(value); });
}

constexpr Param kDiffCountParams[] = {kThreshold, kIncludeAa};

PyObject* diff_count(ComparisonObject& self, Args& args) {
    return count_of(*self.pair, args.diff_options(), std::nullopt);
}

constexpr Method kDiffCount{"diff_count", "Count differing pixels.", kDiffCountParams, diff_count};

constexpr Param kDiffCountCappedParams[] = {required("max_diffs", ParamKind::Count), kThreshold, kIncludeAa};

PyObject* diff_count_capped(ComparisonObject& self, Args& args) {
    const u64 max_diffs = args.count("max_diffs");
    if (max_diffs == 0) return to_python(u64{0});
    return count_of(*self.pair, args.diff_options(), max_diffs);
}

constexpr Method kDiffCountCapped{"diff_count_capped", "Count differing pixels with early exit.",
                                  kDiffCountCappedParams, diff_count_capped};

constexpr Param kDiffImageParams[] = {kThreshold, kAlpha, kIncludeAa, kDiffColor, kAaColor, kDiffColorAlt};

Result<Bytes> diff_png(const ImagePair& pair, const DiffOptions& options) {
    auto image = render_pair_diff(pair.view(), options);
    if (!image) return std::move(image).error();
    return encode_png(image->pixels, image->width, image->height);
}

PyObject* diff_image(ComparisonObject& self, Args& args) {
    const DiffOptions options = args.diff_options();
    auto png = without_gil([&] { return diff_png(*self.pair, options); });
    return deliver(std::move(png), [](const Bytes& bytes) { return to_python_bytes(bytes); });
}

constexpr Method kDiffImage{"diff_image", "Generate the diff image as PNG bytes.", kDiffImageParams, diff_image};

}  // namespace

void add_pixel_diff_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back(describe<kDiffCount>());
    methods.push_back(describe<kDiffCountCapped>());
    methods.push_back(describe<kDiffImage>());
}

}  // namespace quorvane::py
