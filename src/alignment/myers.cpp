#include "alignment/myers.hpp"

#include <algorithm>

#include "alignment/trace.hpp"
#include "core/error.hpp"

namespace quorvane {
namespace {

using i64 = std::int64_t;

// Walks back from (N, M) to (0, 0), one round at a time: the snake of the
// round first, then the round's one edit.
std::vector<EditOp> backtrack(const SearchTrace& trace, i64 distance, i64 n, i64 m) {
    std::vector<EditOp> operations;
    operations.reserve(static_cast<u64>(n + m));
    auto emit = [&](i64 x, i64 y, EditKind kind) {
        operations.push_back({static_cast<u64>(x), static_cast<u64>(y), kind});
    };
    i64 x = n;
    i64 y = m;
    for (i64 d = distance; d >= 0; --d) {
        const i64 k = x - y;
        if (k < -d || k > d) throw Panic("edit script backtrack left the searched diagonals");
        i64 prev_x = 0;
        i64 prev_y = 0;
        if (d > 0) {
            const bool down = k == -d || (k != d && trace.at(d, k - 1) < trace.at(d, k + 1));
            const i64 prev_k = down ? k + 1 : k - 1;
            prev_x = trace.at(d, prev_k);
            prev_y = prev_x - prev_k;
        }
        while (x > prev_x && y > prev_y) {
            --x;
            --y;
            emit(x, y, EditKind::Match);
        }
        if (d == 0) break;
        if (x > prev_x) {
            --x;
            emit(x, y, EditKind::Deletion);
        } else if (y > prev_y) {
            --y;
            emit(x, y, EditKind::Insertion);
        }
    }
    std::reverse(operations.begin(), operations.end());
    return operations;
}

}  // namespace

template <class RowsMatch>
std::optional<EditScript> shortest_edit_script(u64 rows_a, u64 rows_b, RowsMatch& rows_match, u64 budget,
                                               u64 max_trace_entries) {
    const auto n = static_cast<i64>(rows_a);
    const auto m = static_cast<i64>(rows_b);
    const auto limit = static_cast<i64>(budget);
    // Diagonals -(budget + 1) .. budget + 1; v[offset + k] is diagonal k.
    std::vector<i64> v(2 * budget + 3, 0);
    const i64 offset = limit + 1;
    SearchTrace trace(budget, max_trace_entries);
    for (i64 d = 0; d <= limit; ++d) {
        trace.append_round(static_cast<u64>(d), &v[static_cast<u64>(offset - d)]);
        for (i64 k = -d; k <= d; k += 2) {
            i64* diagonal = &v[static_cast<u64>(offset + k)];
            const bool down = k == -d || (k != d && diagonal[-1] < diagonal[1]);
            i64 x = down ? diagonal[1] : diagonal[-1] + 1;
            i64 y = x - k;
            // Exact rows are compared by hash, so the snake compares integers only.
            while (x < n && y < m && rows_match(static_cast<u64>(x), static_cast<u64>(y))) {
                ++x;
                ++y;
            }
            *diagonal = x;
            if (x >= n && y >= m) return EditScript{static_cast<u64>(d), backtrack(trace, d, n, m)};
        }
    }
    return std::nullopt;
}

template std::optional<EditScript> shortest_edit_script(u64, u64, ExactRowMatch&, u64, u64);
template std::optional<EditScript> shortest_edit_script(u64, u64, ThresholdRowMatch&, u64, u64);

}  // namespace quorvane
