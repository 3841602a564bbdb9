// The shortest edit script between two row-hash sequences: Myers' greedy
// search under an edit budget with a saved trace, and the backtrack through it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

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
    u64 distance = 0;  // insertions plus deletions
    std::vector<EditOp> operations;  // top to bottom
};

// The trace keeps (d + 1)^2 entries after round d. It is bounded in bytes
// rather than left to the allocator: Linux overcommits, so an unbounded trace
// under a huge budget would "succeed" and then get the process killed. Past
// the bound the search throws std::bad_alloc, which Python sees as
// MemoryError. The default budget (2048 edits) needs at most ~32 MiB.
inline constexpr u64 kMaxTraceBytes = u64{1} << 30;
inline constexpr u64 kMaxTraceEntries = kMaxTraceBytes / sizeof(std::int64_t);

// The script, or nothing when it needs more than `budget` edits. Of two
// equally far-reaching steps the deletion is taken.
std::optional<EditScript> shortest_edit_script(std::span<const u64> a, std::span<const u64> b, u64 budget,
                                               u64 max_trace_entries = kMaxTraceEntries);

}  // namespace quorvane
