// The figures of a pair: its changed pixels, its SSIM, the clusters of its
// change, its row alignment and the shift-aware figures that follow one.
#pragma once

#include <optional>

#include "alignment/record.hpp"
#include "clusters/cluster_types.hpp"
#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Whether a whole count keeps the pair's classified rows for the change mask
// and the diff image asked for next, or is the only figure wanted.
enum class LaterCalls : bool { None, Expected };

// With a cap, exact below it and at least the cap otherwise; a cap of 0
// answers 0.
Result<u64> pair_diff_count(const ImagePair& pair, const DiffOptions& options, std::optional<u64> cap,
                            LaterCalls later = LaterCalls::Expected);

Result<double> pair_ssim(const ImagePair& pair);

// The pair's change mask grouped into clusters.
Result<ClusterList> pair_clusters(const ImagePair& pair, const DiffOptions& diff, const ClusterOptions& options);

// The edit budget of a row alignment: min(max_edit_rows,
// ceil(max_edit_ratio * (N + M))) row edits; and the colour threshold within
// which rows match, or none for identical rows only.
struct AlignmentOptions {
    double max_edit_ratio = 0.25;
    u64 max_edit_rows = 2048;
    std::optional<double> row_threshold;
};

// An aligned record leaves the pair's fingerprint in its cache, sparing the
// shift-aware figures the hashing.
Result<AlignmentRecord> pair_row_alignment(ImagePair& pair, const DiffOptions& diff, const AlignmentOptions& options);

// Each checks the alignment against the pair, computing the pair's
// fingerprint once and keeping it in its cache.
Result<ClusterList> pair_aligned_clusters(ImagePair& pair, const AlignmentRecord& alignment, const DiffOptions& diff,
                                          const ClusterOptions& options);
Result<double> pair_aligned_ssim(ImagePair& pair, const AlignmentRecord& alignment);

}  // namespace quorvane
