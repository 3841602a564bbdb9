// The shortest edit script between two row sequences: Myers' greedy search
// under an edit budget with a saved trace, and the backtrack through it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "alignment/row_match.hpp"
#include "alignment/trace.hpp"
#include "core/types.hpp"

namespace quorvane {

enum class EditKind : u8 { Match, Insertion, Deletion };

// A match pairs baseline row `baseline` with current row `current`. An
// insertion is current row `current`, standing before baseline row
// `baseline`; a deletion is baseline row `baseline`, missing at current row
// `current`.
struct EditOp {
    u64 baseline = 0;
    u64 current = 0;
    EditKind kind = EditKind::Match;
    friend bool operator==(const EditOp&, const EditOp&) = default;
};

struct EditScript {
    u64 distance = 0;                // insertions plus deletions
    std::vector<EditOp> operations;  // top to bottom
};

// The script between n baseline rows and m current rows, where
// rows_match(x, y) says whether baseline row x matches current row y; or
// nothing when it needs more than `budget` edits. Of two equally
// far-reaching steps the deletion is taken. Throws std::bad_alloc when the
// trace would pass `max_trace_entries`. Made for ExactRowMatch and
// ThresholdRowMatch.
template <class RowsMatch>
std::optional<EditScript> shortest_edit_script(u64 n, u64 m, RowsMatch& rows_match, u64 budget,
                                               u64 max_trace_entries = kMaxTraceEntries);

// Rows matched by their hashes.
inline std::optional<EditScript> shortest_edit_script(std::span<const u64> a, std::span<const u64> b, u64 budget,
                                                      u64 max_trace_entries = kMaxTraceEntries) {
    ExactRowMatch rows_match{a, b};
    return shortest_edit_script(a.size(), b.size(), rows_match, budget, max_trace_entries);
}

}  // namespace quorvane
