#include "operations/analyses.hpp"

#include <utility>

#include "alignment/align_rows.hpp"
#include "alignment/fingerprint.hpp"
#include "clusters/aligned_clusters.hpp"
#include "clusters/extract.hpp"
#include "operations/memory_needs.hpp"
#include "pixel_diff/count.hpp"
#include "pixel_diff/mask.hpp"
#include "ssim/aligned_ssim.hpp"
#include "ssim/ssim.hpp"

namespace quorvane {

// A pair of equal images shares one buffer, which counting recognises at once.
// A whole count keeps the classified rows, within the budget, for the change
// mask and the diff image asked for next; it replaces the blocks of any
// earlier count.
Result<u64> pair_diff_count(const ImagePair& pair, const DiffOptions& options, std::optional<u64> cap,
                            LaterCalls later) {
    if (auto refused = refusal(pair, 0)) return *std::move(refused);
    if (cap || later == LaterCalls::None) {
        return count_changed_pixels(pair.baseline, pair.current_pixels(), pair.width, pair.height, options, cap);
    }
    const u64 kept_bytes = change_blocks_bytes({pair.width, pair.height});
    const u64 max_bytes = refusal(pair, kept_bytes) ? 0 : kept_bytes;
    auto counted =
        count_and_classify(pair.baseline, pair.current_pixels(), pair.width, pair.height, options, max_bytes);
    if (!counted) return std::move(counted).error();
    pair.change_blocks.store(std::move(counted->blocks));
    return counted->changed;
}

// Each window of two equal images has the same numerator and denominator,
// so scores exactly 1.0, and so does the mean of the windows.
Result<double> pair_ssim(const ImagePair& pair) {
    if (auto refused = refusal(pair, ssim_work_bytes(pair.width))) return *std::move(refused);
    if (pair.same_pixels) return 1.0;
    if (auto kept = pair.canvas_ssim.peek()) return *kept;
    auto score = ssim_rgba(pair.baseline, pair.current, pair.width, pair.height);
    if (score) pair.canvas_ssim.store_if_empty(*score);
    return score;
}

namespace {

// The clusters' buffers up to labelling, checked before the mask is made;
// the admission of the components' records once the labels are counted.
u64 clusters_need(const ImagePair& pair, const ClusterOptions& options) {
    return clusters_work_bytes({pair.width, pair.height}, options);
}
AdmitLabels admit_labels(const ImagePair& pair, const ClusterOptions& options) {
    return [&pair, &options](u64 labels) -> Status {
        const Size canvas{pair.width, pair.height};
        const u64 records = cluster_records_bytes(labels, canvas, options);
        if (auto refused = refusal(pair, add_bytes(clusters_work_bytes(canvas, options), records))) {
            return *std::move(refused);
        }
        return ok_status();
    };
}

}  // namespace

Result<ClusterList> pair_clusters(const ImagePair& pair, const DiffOptions& diff, const ClusterOptions& options) {
    if (auto refused = refusal(pair, clusters_need(pair, options))) return *std::move(refused);
    if (pair.same_pixels) {
        if (auto ranges = check_option_ranges(diff); !ranges) return std::move(ranges).error();
        return ClusterList{};  // no changed pixel: no mask to build
    }
    const std::shared_ptr<const ChangeBlocks> known = pair.change_blocks.load();
    auto mask = build_diff_mask(pair.baseline, pair.current, pair.width, pair.height, diff, known.get());
    if (!mask) return std::move(mask).error();
    if (mask->count == 0) return ClusterList{};  // nothing changed: nothing to dilate or label
    return extract_clusters(mask->mask, mask->width, mask->height, options, admit_labels(pair, options));
}

Result<AlignmentRecord> pair_row_alignment(ImagePair& pair, const DiffOptions& diff, const AlignmentOptions& options) {
    if (auto refused = refusal(pair, alignment_work_bytes(pair.sizes(), options.max_edit_rows))) {
        return *std::move(refused);
    }
    auto aligned = align_rows(pair.view(), diff, options.max_edit_ratio, options.max_edit_rows, options.row_threshold);
    if (aligned) remember_pair_fingerprint(pair, *aligned);
    return aligned;
}

Result<ClusterList> pair_aligned_clusters(ImagePair& pair, const AlignmentRecord& alignment, const DiffOptions& diff,
                                          const ClusterOptions& options) {
    if (auto refused = refusal(pair, clusters_need(pair, options))) return *std::move(refused);
    return aligned_clusters(pair.view(), cached_pair_fingerprint(pair), alignment, diff, options,
                            admit_labels(pair, options));
}

Result<double> pair_aligned_ssim(ImagePair& pair, const AlignmentRecord& alignment) {
    if (auto refused = refusal(pair, aligned_ssim_work_bytes({pair.width, pair.height}))) return *std::move(refused);
    return aligned_ssim(pair.view(), cached_pair_fingerprint(pair), alignment, [&] { return pair_ssim(pair); });
}

}  // namespace quorvane
