// The batch operations over the shared pool's parallel map.
#include "batch/batch.hpp"

#include <algorithm>

#include "core/parallel.hpp"
#include "image_utils/pair.hpp"
#include "operations/memory_needs.hpp"

namespace quorvane {
namespace {

// Runs one pair's work once its need, by the sizes its files claim, fits
// what the pairs in flight leave of the budget; a pair whose need alone
// exceeds the limit is refused. Other files fail in decoding.
template <class Need, class Work>
auto within_budget(SharedBudget& shared, const MemoryBudget& budget, const PngFiles& files, Need&& need, Work&& work)
    -> decltype(work()) {
    const auto sizes = decodable_pair_sizes(files.baseline, files.current);
    const u64 bytes = sizes ? need(*sizes) : 0;
    if (sizes) {
        if (auto refused = budget.refusal(bytes, *sizes)) return *std::move(refused);
    }
    // Isolated: a thread that holds a share never waits for another share.
    return isolated([&]() -> decltype(work()) {
        const SharedBudget::Reservation reserved(shared, bytes);
        return work();
    });
}

}  // namespace

Result<std::vector<ImagePair>> decode_batch(std::span<const PngFiles> pairs, const IgnoreRegions& ignore,
                                            MemoryBudget budget) {
    SharedBudget shared(budget.limit());
    return parallel_map<ImagePair>(pairs.size(), [&](u64 i) {
        // Each pair is refused as Comparison refuses it; what it holds once
        // built is the caller's.
        const auto need = [](const PairSizes& sizes) { return pair_call_bytes(sizes, 0); };
        return within_budget(shared, budget, pairs[i], need,
                             [&] { return decode_image_pair(pairs[i].baseline, pairs[i].current, ignore, budget); });
    });
}

Result<std::vector<DiffBatchItem>> diff_batch(std::span<const PngFiles> pairs, const DiffOptions& options,
                                              const IgnoreRegions& ignore, MemoryBudget budget) {
    if (auto checked = check_option_ranges(options); !checked) return std::move(checked).error();
    SharedBudget shared(budget.limit());
    const auto need = [](const PairSizes& sizes) {
        return pair_call_bytes(sizes, diff_png_work_bytes(sizes.canvas()));
    };
    return parallel_map<DiffBatchItem>(pairs.size(), [&](u64 i) {
        return within_budget(shared, budget, pairs[i], need,
                             [&] { return diff_pair(pairs[i].baseline, pairs[i].current, options, ignore); });
    });
}

Result<std::vector<CountBatchItem>> diff_count_batch(std::span<const PngFiles> pairs, const DiffOptions& options,
                                                     const IgnoreRegions& ignore, MemoryBudget budget) {
    if (auto checked = check_option_ranges(options); !checked) return std::move(checked).error();
    SharedBudget shared(budget.limit());
    const auto need = [](const PairSizes& sizes) { return pair_call_bytes(sizes, 0); };
    return parallel_map<CountBatchItem>(pairs.size(), [&](u64 i) {
        return within_budget(shared, budget, pairs[i], need,
                             [&] { return count_pair(pairs[i].baseline, pairs[i].current, options, ignore); });
    });
}

Result<std::vector<double>> ssim_batch(std::span<const PngFiles> pairs, const IgnoreRegions& ignore,
                                       MemoryBudget budget) {
    SharedBudget shared(budget.limit());
    const auto need = [](const PairSizes& sizes) {
        return pair_call_bytes(sizes, ssim_work_bytes(sizes.canvas().width));
    };
    return parallel_map<double>(pairs.size(), [&](u64 i) {
        return within_budget(shared, budget, pairs[i], need,
                             [&] { return ssim_pair(pairs[i].baseline, pairs[i].current, ignore); });
    });
}

Result<std::vector<CompareBatchItem>> compare_batch(std::span<const PngFiles> pairs, const CompareOptions& options,
                                                    MemoryBudget budget) {
    if (auto checked = check_option_ranges(options.diff); !checked) return std::move(checked).error();
    SharedBudget shared(budget.limit());
    const auto need = [&](const PairSizes& sizes) {
        // The thumbnail is made before padding; then the count side and the
        // SSIM run side by side.
        const auto thumbnail_options = options.thumbnail();
        const u64 thumbnail = thumbnail_options ? thumbnail_work_bytes(sizes.current, *thumbnail_options) : 0;
        const u64 count_side = options.return_diff ? diff_png_work_bytes(sizes.canvas()) : 0;
        return add_bytes(pair_call_bytes(sizes, add_bytes(count_side, ssim_work_bytes(sizes.canvas().width))),
                         thumbnail);
    };
    return parallel_map<CompareBatchItem>(pairs.size(), [&](u64 i) {
        return within_budget(shared, budget, pairs[i], need,
                             [&] { return compare_pair(pairs[i].baseline, pairs[i].current, options); });
    });
}

}  // namespace quorvane
