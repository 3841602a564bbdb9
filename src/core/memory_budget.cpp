#include "core/memory_budget.hpp"

#include <algorithm>
#include <string>

namespace quorvane {
namespace {

std::string size_text(Size size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

}  // namespace

Size PairSizes::canvas() const {
    return {std::max(baseline.width, current.width), std::max(baseline.height, current.height)};
}

std::optional<CompareError> MemoryBudget::refusal(u64 needed, const PairSizes& sizes) const {
    if (needed <= limit_) return std::nullopt;
    return CompareError::memory_limit(needed, limit_,
                                      "a " + size_text(sizes.baseline) + " baseline and a " + size_text(sizes.current) +
                                          " current image on a " + size_text(sizes.canvas()) + " canvas");
}

SharedBudget::Reservation::Reservation(SharedBudget& budget, u64 bytes) : budget_(budget), bytes_(bytes) {
    std::unique_lock lock(budget_.mutex_);
    // Alone, a pair may take the whole budget, whatever it needs.
    budget_.released_.wait(lock, [&] {
        return budget_.in_use_ == 0 ||
               (budget_.in_use_ <= budget_.limit_ && budget_.limit_ - budget_.in_use_ >= bytes_);
    });
    budget_.in_use_ = add_bytes(budget_.in_use_, bytes_);
}

SharedBudget::Reservation::~Reservation() {
    {
        std::lock_guard lock(budget_.mutex_);
        budget_.in_use_ -= bytes_;
    }
    budget_.released_.notify_all();
}

}  // namespace quorvane
