// The shared running total of a capped count spread over the pool: units of
// work not yet started are skipped once the cap is reached.
#pragma once

#include <atomic>
#include <optional>

#include "core/parallel.hpp"
#include "core/types.hpp"

namespace quorvane {

class RunningTotal {
public:
    explicit RunningTotal(std::optional<u64> cap) : cap_(cap) {}

    // Only decides whether to skip work, so no ordering beyond atomicity.
    bool reached() const { return cap_ && total_.load(std::memory_order_relaxed) >= *cap_; }
    void add(u64 count) {
        if (cap_) total_.fetch_add(count, std::memory_order_relaxed);
    }

private:
    std::optional<u64> cap_;
    std::atomic<u64> total_{0};
};

// The sum of count_unit(unit) over [0, units) on the pool, one unit at a time;
// with a cap, units not yet started are skipped once the running total
// reaches it, so the answer is then anywhere from the cap up.
template <class CountUnit>
u64 capped_sum_on_pool(u64 units, std::optional<u64> cap, CountUnit&& count_unit) {
    RunningTotal running(cap);
    return parallel_sum(units, 1, [&](u64 first_unit, u64 end_unit) {
        u64 partial = 0;
        for (u64 unit = first_unit; unit < end_unit; ++unit) {
            if (running.reached()) continue;
            const u64 n = count_unit(unit);
            running.add(n);
            partial += n;
        }
        return partial;
    });
}

}  // namespace quorvane
