// The search trace: every round's furthest-reaching points, kept for the
// backtrack in one contiguous buffer under a fixed bound.
#pragma once

#include <cstdint>

#include "core/types.hpp"

namespace quorvane {

// The trace keeps (d + 1)^2 entries after round d. It is bounded in bytes
// rather than left to the allocator: Linux overcommits, so an unbounded trace
// under a huge budget would "succeed" and then get the process killed. Past
// the bound the search throws std::bad_alloc, which Python sees as
// MemoryError. The default budget (2048 edits) needs at most ~32 MiB.
inline constexpr u64 kMaxTraceBytes = u64{1} << 30;
inline constexpr u64 kMaxTraceEntries = kMaxTraceBytes / sizeof(std::int64_t);

// Round d holds diagonals -d .. d at offset d * d. The buffer is a private
// anonymous mapping that grows by remapping its pages: no copy, and the old
// and new blocks are never resident at once, so the peak memory is the
// trace's own size whatever state the heap is in.
class SearchTrace {
public:
    // `budget` is the last round that can be stored; `max_entries` the bound.
    SearchTrace(u64 budget, u64 max_entries);
    ~SearchTrace();
    SearchTrace(const SearchTrace&) = delete;
    SearchTrace& operator=(const SearchTrace&) = delete;

    // Stores round d's 2d + 1 entries, those of diagonals -d .. d; rounds are
    // appended in order from 0.
    void append_round(u64 d, const std::int64_t* from_minus_d);

    std::int64_t at(std::int64_t d, std::int64_t k) const { return entries_[d * d + k + d]; }

private:
    void grow(u64 entries);

    std::int64_t* entries_ = nullptr;
    u64 capacity_ = 0;  // entries
    u64 mapped_bytes_ = 0;
    u64 max_entries_;
    u64 needed_at_most_;
};

}  // namespace quorvane
