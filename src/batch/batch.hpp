// The batch operations: one per-pair work mapped over many PNG pairs on the
// shared pool, the results in input order or the first failure.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "batch/pair_work.hpp"
#include "core/image_pair.hpp"
#include "core/memory_budget.hpp"
#include "core/options.hpp"
#include "core/regions.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// The two PNG files of one pair of a batch, as given.
struct PngFiles {
    Bytes baseline;
    Bytes current;
};

// The option ranges are checked before any pair is decoded, so a batch of
// undecodable pairs still reports a bad threshold. No partial results: the
// first pair to fail stops the others from starting, and its error is the
// answer. The ignore regions are painted into every pair. The pairs in
// flight share the budget: each waits until its need fits beside theirs, and
// one that needs more than the whole limit fails.
Result<std::vector<ImagePair>> decode_batch(std::span<const PngFiles> pairs, const IgnoreRegions& ignore,
                                            MemoryBudget budget = {});
Result<std::vector<DiffBatchItem>> diff_batch(std::span<const PngFiles> pairs, const DiffOptions& options,
                                              const IgnoreRegions& ignore, MemoryBudget budget = {});
Result<std::vector<CountBatchItem>> diff_count_batch(std::span<const PngFiles> pairs, const DiffOptions& options,
                                                     const IgnoreRegions& ignore, MemoryBudget budget = {});
Result<std::vector<double>> ssim_batch(std::span<const PngFiles> pairs, const IgnoreRegions& ignore,
                                       MemoryBudget budget = {});
Result<std::vector<CompareBatchItem>> compare_batch(std::span<const PngFiles> pairs, const CompareOptions& options,
                                                    MemoryBudget budget = {});

}  // namespace quorvane
