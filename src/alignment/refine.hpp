// Refinement: inserts and deletes that share no row content are rows changed
// in place, even when filler rows (a run of one repeated row) stand between.
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "alignment/record.hpp"
#include "alignment/row_match.hpp"

namespace quorvane {

// The hashes that occur at least twice in `a` or at least twice in `b`
// (occurrences are not added across the two), sorted and distinct.
std::vector<u64> repeated_rows(std::span<const u64> a, std::span<const u64> b);

// rows_match(x, y): whether baseline row x matches current row y.
using RowsMatch = std::function<bool(u64, u64)>;

// The segments that the shift-aware methods follow. A window of non-equal
// segments, joined across filler runs, that holds an insert and a delete and
// no inserted row matching a deleted row collapses into one replace (plus
// the surplus rows of the longer side); any other window stays as it is.
// `a` and `b` are the baseline's and the current image's row hashes, which
// find the filler runs.
std::vector<RowSegment> refine_segments(std::span<const RowSegment> segments, std::span<const u64> a,
                                        std::span<const u64> b, const RowsMatch& rows_match);

// Rows matched by their hashes.
std::vector<RowSegment> refine_segments(std::span<const RowSegment> segments, std::span<const u64> a,
                                        std::span<const u64> b);

}  // namespace quorvane
