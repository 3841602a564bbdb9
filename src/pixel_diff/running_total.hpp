// The shared running total of a capped count spread over the pool: units of
// work not yet started are skipped once the cap is reached.
#pragma once

#include <atomic>
#include <optional>

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

}  // namespace quorvane
