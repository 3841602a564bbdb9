#include "clusters/aligned_clusters.hpp"

#include <algorithm>
#include <cstring>

#include "alignment/belongs_to_pair.hpp"
#include "alignment/changed_rows.hpp"
#include "alignment/segment_mask.hpp"
#include "alignment/tiling.hpp"
#include "clusters/extract.hpp"

namespace quorvane {

Result<ClusterList> aligned_clusters(const CanvasView& pair, u64 pair_fingerprint, const AlignmentRecord& record,
                                     const DiffOptions& diff_options, const ClusterOptions& cluster_options,
                                     const AdmitLabels& admit) {
    // The threshold comes before the alignment, as callers see it at the boundary.
    if (auto ranges = check_option_ranges(diff_options); !ranges) return std::move(ranges).error();
    if (auto bound = check_alignment_belongs_to_pair(record, pair, pair_fingerprint); !bound)
        return std::move(bound).error();
    require_tiling(record.refined_segments, pair.width, pair.baseline_size.height, pair.current_size.height);

    // A pure shift: nothing changed in place, so there is no mask to build.
    const std::vector<RowSegment> changed_rows =
        rows_changed_in_place(pair, record.refined_segments, record.row_threshold, diff_options.threshold);
    if (changed_rows.empty()) return ClusterList{};

    const u64 width = pair.width;
    const u64 height = pair.current_size.height;
    Bytes mask(width * height, 0);
    bool changed = false;
    for (const RowSegment& rows : changed_rows) {
        auto strip = segment_change_mask(pair, rows, diff_options);
        if (!strip) return std::move(strip).error();
        changed = changed || std::ranges::any_of(*strip, [](u8 marked) { return marked != 0; });
        std::memcpy(mask.data() + rows.current_start * width, strip->data(), strip->size());
    }
    if (!changed) return ClusterList{};  // nothing to dilate or label
    return extract_clusters(mask, width, height, cluster_options, admit);
}

}  // namespace quorvane
