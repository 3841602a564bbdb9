// The batch operations over the shared pool's parallel map.
#include "batch/batch.hpp"

#include "core/parallel.hpp"
#include "image_utils/pair.hpp"

namespace quorvane {

Result<std::vector<ImagePair>> decode_batch(std::span<const PngFiles> pairs, const IgnoreRegions& ignore) {
    return parallel_map<ImagePair>(
        pairs.size(), [&](u64 i) { return decode_image_pair(pairs[i].baseline, pairs[i].current, ignore); });
}

Result<std::vector<DiffBatchItem>> diff_batch(std::span<const PngFiles> pairs, const DiffOptions& options,
                                              const IgnoreRegions& ignore) {
    if (auto checked = check_option_ranges(options); !checked) return std::move(checked).error();
    return parallel_map<DiffBatchItem>(
        pairs.size(), [&](u64 i) { return diff_pair(pairs[i].baseline, pairs[i].current, options, ignore); });
}

Result<std::vector<CountBatchItem>> diff_count_batch(std::span<const PngFiles> pairs, const DiffOptions& options,
                                                     const IgnoreRegions& ignore) {
    if (auto checked = check_option_ranges(options); !checked) return std::move(checked).error();
    return parallel_map<CountBatchItem>(
        pairs.size(), [&](u64 i) { return count_pair(pairs[i].baseline, pairs[i].current, options, ignore); });
}

Result<std::vector<double>> ssim_batch(std::span<const PngFiles> pairs, const IgnoreRegions& ignore) {
    return parallel_map<double>(pairs.size(),
                                [&](u64 i) { return ssim_pair(pairs[i].baseline, pairs[i].current, ignore); });
}

Result<std::vector<CompareBatchItem>> compare_batch(std::span<const PngFiles> pairs, const CompareOptions& options) {
    if (auto checked = check_option_ranges(options.diff); !checked) return std::move(checked).error();
    return parallel_map<CompareBatchItem>(
        pairs.size(), [&](u64 i) { return compare_pair(pairs[i].baseline, pairs[i].current, options); });
}

}  // namespace quorvane
