// The pool's parallel map: results in index order, the first failure as the
// whole answer with no index started after it is known, and exceptions
// passed through to the caller. And the pool left alone while callers'
// own computations fill the processors.
#include <tbb/info.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "check.hpp"
#include "core/parallel.hpp"

using namespace quorvane;

TEST("parallel_map keeps index order whatever finishes first") {
    for (u64 n : {u64{0}, u64{1}, u64{2}, u64{7}, u64{5000}}) {
        auto results = parallel_map<std::string>(n, [](u64 i) -> Result<std::string> {
            // Early indices take longest, so they finish last.
            if (i < 4) std::this_thread::sleep_for(std::chrono::milliseconds(4 - i));
            return std::to_string(i * i);
        });
        REQUIRE(results.ok() && results->size() == n);
        for (u64 i = 0; i < n; ++i) CHECK_EQ((*results)[i], std::to_string(i * i));
    }
}

TEST("parallel_map answers the first failure, starts nothing once it is known, and passes exceptions through") {
    constexpr u64 n = 2000;
    std::atomic<u64> started{0};
    auto results = parallel_map<u64>(n, [&](u64 i) -> Result<u64> {
        started.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (i == 0) return CompareError::message("pair 0 failed");
        return i;
    });
    CHECK_EQ(outcome(results), std::string("pair 0 failed"));
    // Only the indices already running when the failure landed, one or two
    // per worker, can have started besides it.
    CHECK(started.load() < n / 4);
    // Later failures are dropped.
    FirstError first;
    CHECK(!first.happened());
    first.offer(CompareError::message("first"));
    first.offer(CompareError::message("second"));
    CHECK(first.happened() && first.get()->text() == "first");

    CHECK(throws<std::bad_alloc>([] {
        (void)parallel_map<u64>(100, [](u64 i) -> Result<u64> {
            if (i == 50) throw std::bad_alloc();
            return i;
        });
    }));
}

TEST("parallel_map nests inside itself and inside fork_join without deadlock") {
    u64 left = 0, right = 0;
    const auto triangle_total = [](u64 n) {
        auto outer = parallel_map<u64>(n, [](u64 i) -> Result<u64> {
            auto inner = parallel_map<u64>(i, [](u64 j) -> Result<u64> { return j; });
            return std::accumulate(inner->begin(), inner->end(), u64{0});
        });
        return std::accumulate(outer->begin(), outer->end(), u64{0});
    };
    fork_join([&] { left = triangle_total(200); }, [&] { right = triangle_total(100); });
    // sum over i < n of i * (i - 1) / 2
    CHECK(left == 1313400 && right == 161700);
}

TEST("while as many callers compute as there are processors, parallel calls run in place, and after, on the pool") {
    const auto pieces_of = [](u64 n) {
        std::mutex mutex;
        std::vector<std::pair<u64, u64>> pieces;
        parallel_ranges(n, 1, [&](u64 begin, u64 end) {
            const std::scoped_lock lock(mutex);
            pieces.emplace_back(begin, end);
        });
        return pieces;
    };
    {
        std::vector<std::unique_ptr<CallerWork>> callers;
        for (int i = 0; i < tbb::info::default_concurrency(); ++i) callers.push_back(std::make_unique<CallerWork>());
        CHECK(callers_fill_the_processors() && !PoolUse().usable());
        CHECK(pieces_of(10000) == (std::vector<std::pair<u64, u64>>{{0, 10000}}));
        callers.pop_back();
        CHECK(!callers_fill_the_processors() && PoolUse().usable());
    }
    CHECK(PoolUse().usable());
}
