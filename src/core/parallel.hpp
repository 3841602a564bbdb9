// The process-wide work-stealing pool and the few ways the computing units use
// it. The size rule (262144 pixels) and the split helpers live here only.
#pragma once

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/parallel_reduce.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/caller_work.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Images below this many pixels run on the calling thread: spreading them
// costs more than it saves.
inline constexpr u64 kParallelPixels = 262144;

inline bool worth_splitting(u64 pixels) { return pixels >= kParallelPixels; }

// One use of the pool, held for the whole of a parallel call. It starts the
// pool on first use, and a fork that happens while any use is held knows the
// pool was busy. Not usable in a process forked while the pool was busy or
// could not be stopped, nor while as many callers compute as the pool has
// processors: each processor then already has a caller's own work, and
// spreading a call's work would only add the pool's overhead (about 7% of
// the processor time of a report comparing a pair on each processor, and
// some of its wall time). The helpers below then run their work in place;
// how work is split never changes a result.
class PoolUse {
public:
    PoolUse();
    ~PoolUse();
    PoolUse(const PoolUse&) = delete;
    PoolUse& operator=(const PoolUse&) = delete;

    bool usable() const { return usable_; }

private:
    bool usable_;
};

// body(begin, end) over pieces of [0, n); each piece holds at least `grain`
// indices unless n is smaller. Pieces are disjoint; which worker runs which
// piece is up to the pool.
template <class Body>
void parallel_ranges(u64 n, u64 grain, Body&& body) {
    if (n == 0) return;
    PoolUse pool;
    if (!pool.usable()) {
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
    PoolUse pool;
    if (!pool.usable()) return body(u64{0}, n);
    return tbb::parallel_reduce(
        tbb::blocked_range<u64>(0, n, grain == 0 ? 1 : grain), u64{0},
        [&](const tbb::blocked_range<u64>& piece, u64 partial) { return partial + body(piece.begin(), piece.end()); },
        [](u64 a, u64 b) { return a + b; });
}

// Runs both callables, in parallel when the pool is up; a waiting worker runs
// other queued tasks meanwhile, so nesting never deadlocks.
template <class A, class B>
void fork_join(A&& a, B&& b) {
    PoolUse pool;
    if (!pool.usable()) {
        a();
        b();
        return;
    }
    tbb::parallel_invoke(std::forward<A>(a), std::forward<B>(b));
}

// Runs f so that, while it waits for its own nested tasks, the thread runs
// only those, never another task of an enclosing map: work that holds a
// resource others wait for can then not end up waiting behind them.
template <class F>
auto isolated(F&& f) -> decltype(f()) {
    PoolUse pool;
    if (!pool.usable()) return f();
    return tbb::this_task_arena::isolate(std::forward<F>(f));
}

// The same three shapes for work that is worth spreading over the pool only
// sometimes (see worth_splitting): with `split` false they run on the calling
// thread as one piece, and never touch the pool.
template <class Body>
void parallel_ranges_if(bool split, u64 n, u64 grain, Body&& body) {
    if (split) {
        parallel_ranges(n, grain, std::forward<Body>(body));
    } else if (n != 0) {
        body(u64{0}, n);
    }
}

template <class Body>
u64 parallel_sum_if(bool split, u64 n, u64 grain, Body&& body) {
    if (split) return parallel_sum(n, grain, std::forward<Body>(body));
    return n == 0 ? 0 : body(u64{0}, n);
}

template <class A, class B>
void fork_join_if(bool split, A&& a, B&& b) {
    if (split) {
        fork_join(std::forward<A>(a), std::forward<B>(b));
    } else {
        a();
        b();
    }
}

// The error of a parallel map: the first failure to arrive is kept, later
// ones are dropped, and every worker can see that one happened.
class FirstError {
public:
    bool happened() const { return happened_.load(std::memory_order_acquire); }

    void offer(CompareError error) {
        std::lock_guard lock(mutex_);
        if (!error_) error_.emplace(std::move(error));
        happened_.store(true, std::memory_order_release);
    }

    // Only once the map has ended.
    std::optional<CompareError>& get() { return error_; }

private:
    std::atomic<bool> happened_{false};
    std::mutex mutex_;
    std::optional<CompareError> error_;
};

// work(i) -> Result<T> for every i in [0, n), in parallel, each result kept in
// its own slot so the answer is in index order whoever finished first. The
// range is halved into about one piece per worker at first and again whenever
// an idle worker steals a piece; a piece's indices run one after another. The
// first failure is the answer: no index starts once it is known, and the
// results of those already running are dropped.
template <class T, class Work>
Result<std::vector<T>> parallel_map(u64 n, Work&& work) {
    std::vector<std::optional<T>> slots(n);
    FirstError failure;
    auto run = [&](u64 begin, u64 end) {
        for (u64 i = begin; i < end && !failure.happened(); ++i) {
            Result<T> result = work(i);
            if (result) {
                slots[i].emplace(result.take());
            } else {
                failure.offer(std::move(result).error());
            }
        }
    };
    {
        PoolUse pool;
        if (pool.usable() && n > 1) {
            tbb::parallel_for(
                tbb::blocked_range<u64>(0, n, 1),
                [&](const tbb::blocked_range<u64>& piece) { run(piece.begin(), piece.end()); },
                tbb::auto_partitioner());
        } else {
            run(0, n);
        }
    }
    if (auto& error = failure.get()) return std::move(*error);
    std::vector<T> results;
    results.reserve(n);
    for (std::optional<T>& slot : slots) {
        results.push_back(std::move(*slot));
        slot.reset();
    }
    return results;
}

}  // namespace quorvane
