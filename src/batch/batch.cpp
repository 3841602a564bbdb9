// The batch operations over the shared pool's parallel map.
#include "batch/batch.hpp"

#include "core/parallel.hpp"
#include "image_utils/pair.hpp"

namespace quorvane {

Result<std::vector<ImagePair>> decode_batch(std::span<const PngPair> pairs, const IgnoreRegions& ignore) {
    return parallel_map<ImagePair>(pairs.size(),
                                   [&](u64 i) { return decode_image_pair(pairs[i].first, pairs[i].second, ignore); });
}

Result<std::vector<DiffPairResult>> diff_batch(std::span<const PngPair> pairs, const DiffOptions& options,
                                               const IgnoreRegions& ignore) {
    if (auto checked = check_option_ranges(options); !checked) return std::move(checked).error();
    return parallel_map<DiffPairResult>(
        pairs.size(), [&](u64 i) { return diff_pair(pairs[i].first, pairs[i].second, options, ignore); });
}

Result<std::vector<CountPairResult>> diff_count_batch(std::span<const PngPair> pairs, const DiffOptions& options,
                                                      const IgnoreRegions& ignore) {
    if (auto checked = check_option_ranges(options); !checked) return std::move(checked).error();
    return parallel_map<CountPairResult>(
        pairs.size(), [&](u64 i) { return count_pair(pairs[i].first, pairs[i].second, options, ignore); });
}

Result<std::vector<double>> ssim_batch(std::span<const PngPair> pairs, const IgnoreRegions& ignore) {
    return parallel_map<double>(pairs.size(),
                                [&](u64 i) { return ssim_pair(pairs[i].first, pairs[i].second, ignore); });
}

Result<std::vector<ComparePairResult>> compare_batch(std::span<const PngPair> pairs, const CompareOptions& options) {
    if (auto checked = check_option_ranges(options.diff); !checked) return std::move(checked).error();
    return parallel_map<ComparePairResult>(
        pairs.size(), [&](u64 i) { return compare_pair(pairs[i].first, pairs[i].second, options); });
}

}  // namespace quorvane
