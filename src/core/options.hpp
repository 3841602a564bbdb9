// DiffOptions: the pixel comparison options, built once per call at the
// boundary and passed by reference to every comparing unit.
#pragma once

#include <optional>

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

struct Rgb {
    u8 r = 0;
    u8 g = 0;
    u8 b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct DiffOptions {
    double threshold = 0.1;
    double alpha = 0.1;
    Rgb diff_color{255, 0, 0};
    Rgb aa_color{255, 255, 0};
    std::optional<Rgb> diff_color_alt;
    bool include_aa = false;
};

// NaN fails, as it compares false both ways.
inline bool in_unit_range(double value) { return value >= 0.0 && value <= 1.0; }

// Threshold first, then alpha: the order every entry reports them in.
inline Status check_option_ranges(const DiffOptions& options) {
    if (!in_unit_range(options.threshold)) return CompareError::message(std::string(kThresholdRangeText));
    if (!in_unit_range(options.alpha)) return CompareError::message(std::string(kAlphaRangeText));
    return ok_status();
}

}  // namespace quorvane
