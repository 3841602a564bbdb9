// Comparison's shift-aware methods, which take a RowAlignment of the pair:
// aligned_clusters, aligned_diff_image (also with its thumbnail) and
// aligned_ssim.
#include <vector>

#include "bindings/alignment_records.hpp"
#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/cluster_params.hpp"
#include "bindings/cluster_records.hpp"
#include "bindings/comparison.hpp"
#include "bindings/params.hpp"
#include "bindings/registry.hpp"
#include "bindings/thumbnail_params.hpp"
#include "operations/analyses.hpp"
#include "operations/diff_images.hpp"

namespace quorvane::py {
namespace {

constexpr Param kAlignment = object_param("alignment", &ModuleState::row_alignment);

// The alignment is borrowed from the call's arguments, which keep it alive,
// and its record never changes, so it is read in place without the lock.
const AlignmentRecord& record_of(const Args& args) { return alignment_record(args.object(kAlignment.name)); }

constexpr Param kAlignedClustersParams[] = {kAlignment, kThreshold,   kIncludeAa, kMinPixels,   kMinSide,
                                            kDilation,  kMaxClusters, kMergeGap,  kMergeOverlap};

PyObject* aligned_clusters(ComparisonObject& self, Args& args) {
    const DiffOptions diff = args.diff_options();
    const ClusterOptions options = cluster_options(args);
    const AlignmentRecord& record = record_of(args);
    auto list = without_gil([&] { return pair_aligned_clusters(*self.pair, record, diff, options); });
    return deliver(args.state(), std::move(list),
                   [&](ClusterList value) { return clusters_to_python(args.state(), std::move(value)); });
}

constexpr Method kAlignedClusters{"aligned_clusters",
                                  "Cluster the changed content, ignoring the shifted rows.\n\n"
                                  "The mask holds the changed content only, drawn like `aligned_diff_image`.\n"
                                  "The shift bands are the other half of the answer: read `alignment.bands`\n"
                                  "to decide whether to absorb a shift or flag it. Raises if the alignment\n"
                                  "failed or came from another image pair.",
                                  kAlignedClustersParams, aligned_clusters};

constexpr Param kAlignedDiffImageParams[] = {kAlignment, kThreshold, kAlpha,       kIncludeAa,
                                             kDiffColor, kAaColor,   kDiffColorAlt};

PyObject* aligned_diff_image(ComparisonObject& self, Args& args) {
    const DiffOptions options = args.diff_options();
    const AlignmentRecord& record = record_of(args);
    auto png = without_gil([&] { return aligned_diff_png(*self.pair, record, options); });
    return deliver(args.state(), std::move(png), [](const Bytes& bytes) { return to_python_bytes(bytes); });
}

constexpr Method kAlignedDiffImage{"aligned_diff_image",
                                   "Generate the shift-aware diff image as PNG bytes, in current-image coordinates.",
                                   kAlignedDiffImageParams, aligned_diff_image};

constexpr Param kAlignedDiffImageAndThumbnailParams[] = {
    kAlignment,
    keyword_only(kThreshold),
    kAlpha,
    kIncludeAa,
    kDiffColor,
    kAaColor,
    kDiffColorAlt,
    kBesideThumbnailWidth,
    kBesideThumbnailHeight,
    kEffort,
};

PyObject* aligned_diff_image_and_thumbnail(ComparisonObject& self, Args& args) {
    const DiffOptions options = args.diff_options();
    const ThumbnailOptions thumbnail = beside_thumbnail_options(args);
    const AlignmentRecord& record = record_of(args);
    auto images = without_gil([&] { return aligned_diff_png_and_thumbnail(*self.pair, record, options, thumbnail); });
    return deliver(args.state(), std::move(images), png_and_thumbnail_tuple);
}

constexpr Method kAlignedDiffImageAndThumbnail{
    "aligned_diff_image_and_thumbnail",
    "Generate the shift-aware diff image as PNG bytes and its lossless WebP thumbnail.\n\n"
    "Returns (png_bytes, webp_bytes): the image of `aligned_diff_image()`, drawn\n"
    "once, and a thumbnail of the same pixels, made as `thumbnail()` makes one:\n"
    "scaled down to `thumbnail_width`, cropped from the top to\n"
    "`thumbnail_height` when set, encoded with `effort`.",
    kAlignedDiffImageAndThumbnailParams, aligned_diff_image_and_thumbnail};

constexpr Param kAlignedSsimParams[] = {kAlignment};

PyObject* aligned_ssim(ComparisonObject& self, Args& args) {
    const AlignmentRecord& record = record_of(args);
    auto score = without_gil([&] { return pair_aligned_ssim(*self.pair, record); });
    return deliver(args.state(), std::move(score), [](double value) { return to_python(value); });
}

constexpr Method kAlignedSsim{"aligned_ssim",
                              "Compute SSIM over the matched rows only, so a shift does not lower the score.",
                              kAlignedSsimParams, aligned_ssim};

}  // namespace

void add_aligned_methods(std::vector<PyMethodDef>& methods) {
    methods.push_back(describe<kAlignedClusters>());
    methods.push_back(describe<kAlignedDiffImage>());
    methods.push_back(describe<kAlignedDiffImageAndThumbnail>());
    methods.push_back(describe<kAlignedSsim>());
}

}  // namespace quorvane::py
