// The process-wide work-stealing pool and the few ways the computing units use
// it. The size rule (262144 pixels) and the split helpers live here only.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/parallel_reduce.h>

#include <utility>

#include "core/types.hpp"

namespace quorvane {

// Images below this many pixels run on the calling thread: spreading them
// costs more than it saves.
inline constexpr u64 kParallelPixels = 262144;

inline bool worth_splitting(u64 pixels) { return pixels >= kParallelPixels; }

// Starts the pool on first use. False only in a process forked while the pool
// was busy elsewhere, where the helpers below fall back to running in place.
bool pool_available();

// body(begin, end) over pieces of [0, n); each piece holds at least `grain`
// indices unless n is smaller. Pieces are disjoint; which worker runs which
// piece is up to the pool.
template <class Body>
void parallel_ranges(u64 n, u64 grain, Body&& body) {
    if (n == 0) return;
    if (!pool_available()) {
        body(u64{0}, n);
        return;
    }
    tbb::parallel_for(tbb::blocked_range<u64>(0, n, grain == 0 ? 1 : grain),
                      [&](const tbb::blocked_range<u64>& piece) { body(piece.begin(), piece.end()); });
}

// Sum of body(begin, end) over the pieces of [0, n). Integer sums, so the
// total never depends on how the range was split.
template <class Body>
u64 parallel_sum(u64 n, u64 grain, Body&& body) {
    if (n == 0) return 0;
    if (!pool_available()) return body(u64{0}, n);
    return tbb::parallel_reduce(
        tbb::blocked_range<u64>(0, n, grain == 0 ? 1 : grain), u64{0},
        [&](const tbb::blocked_range<u64>& piece, u64 partial) { return partial + body(piece.begin(), piece.end()); },
        [](u64 a, u64 b) { return a + b; });
}

// Runs both callables, in parallel when the pool is up; a waiting worker runs
// other queued tasks meanwhile, so nesting never deadlocks.
template <class A, class B>
void fork_join(A&& a, B&& b) {
    if (!pool_available()) {
        a();
        b();
        return;
    }
    tbb::parallel_invoke(std::forward<A>(a), std::forward<B>(b));
}

}  // namespace quorvane
