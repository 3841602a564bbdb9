// From an edit script to runs: consecutive operations of one kind become one
// segment, and edits parted only by uniform rows are slid together.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "alignment/myers.hpp"
#include "alignment/record.hpp"

namespace quorvane {

// Matches give equal runs, insertions insert runs, deletions delete runs;
// neighbouring runs never share a kind.
std::vector<RowSegment> edit_runs(std::span<const EditOp> operations);

// The one hash that rows start .. start + len - 1 of `hashes` share, if they do.
std::optional<u64> uniform_hash(std::span<const u64> hashes, u64 start, u64 len);

// A delete (insert) parted from an earlier insert (delete) only by rows
// identical to its own rows is moved up against it, the equal rows going
// below it, so that pairing sees the two edits side by side.
// `a` and `b` are the baseline's and the current image's row hashes.
void slide_over_uniform_rows(std::vector<RowSegment>& runs, std::span<const u64> a, std::span<const u64> b);

}  // namespace quorvane
