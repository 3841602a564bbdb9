// The memory a call on an image pair may take: one limit covering the pair's
// canvas and the working buffers of what was asked, checked before anything
// is allocated; and the budget that the concurrent pairs of a batch share.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>

#include "core/error.hpp"
#include "core/types.hpp"

namespace quorvane {

// Every realistic screenshot pair fits: about 110 million canvas pixels, a
// 3840 x 28000 full page, with the diff image and its PNG.
inline constexpr u64 kDefaultMemoryLimit = u64{2} << 30;

// Saturating arithmetic for needs: a need beyond 64 bits exceeds any limit.
inline u64 add_bytes(u64 a, u64 b) {
    u64 sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? ~u64{0} : sum;
}
inline u64 mul_bytes(u64 a, u64 b) {
    u64 product = 0;
    return __builtin_mul_overflow(a, b, &product) ? ~u64{0} : product;
}

// Both images' own sizes; the canvas is their common size.
struct PairSizes {
    Size baseline;
    Size current;

    Size canvas() const;
    u64 canvas_pixels() const { return mul_bytes(canvas().width, canvas().height); }
};

class MemoryBudget {
public:
    MemoryBudget() = default;
    explicit MemoryBudget(u64 limit) : limit_(limit) {}

    u64 limit() const { return limit_; }
    // The error that refuses a call needing `needed` bytes for a pair of
    // these sizes, or nothing when the need is within the limit.
    std::optional<CompareError> refusal(u64 needed, const PairSizes& sizes) const;

private:
    u64 limit_ = kDefaultMemoryLimit;
};

// The budget of the pairs a batch works on at once: a pair waits until its
// need fits what the pairs in flight leave. A pair whose need alone exceeds
// the limit is refused by MemoryBudget::refusal before it gets here.
class SharedBudget {
public:
    explicit SharedBudget(u64 limit) : limit_(limit) {}

    // Holds `bytes` of the budget for its lifetime.
    class Reservation {
    public:
        Reservation(SharedBudget& budget, u64 bytes);
        ~Reservation();
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;

    private:
        SharedBudget& budget_;
        u64 bytes_;
    };

private:
    std::mutex mutex_;
    std::condition_variable released_;
    u64 limit_;
    u64 in_use_ = 0;
};

}  // namespace quorvane
