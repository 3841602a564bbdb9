#include "pixel_diff/inputs.hpp"

#include <cstring>

#include "core/checked.hpp"

namespace quorvane {

Status check_diff_inputs(ByteView baseline, ByteView current, u64 width, u64 height, const DiffOptions& options) {
    if (auto ranges = check_option_ranges(options); !ranges) return ranges;
    const auto expected = checked_rgba_length(width, height);
    if (!expected) return CompareError::dimensions_overflow();
    if (baseline.size() != *expected) {
        return CompareError::invalid_buffer_length(*expected, baseline.size(), width, height);
    }
    if (current.size() != baseline.size()) {
        return CompareError::invalid_buffer_length(baseline.size(), current.size(), width, height);
    }
    return ok_status();
}

bool same_bytes(ByteView first, ByteView second) {
    if (first.size() != second.size()) return false;
    return first.empty() || first.data() == second.data() ||
           std::memcmp(first.data(), second.data(), first.size()) == 0;
}

}  // namespace quorvane
