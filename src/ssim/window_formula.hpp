// The SSIM of one window from its means, variances and covariance, shared by
// the windowed and the whole-image scores.
#pragma once

namespace quorvane {

// (0.01 * 255)^2 and (0.03 * 255)^2, written out as decimal literals.
inline constexpr double kSsimC1 = 6.5025;
inline constexpr double kSsimC2 = 58.5225;

// A window's SSIM is numerator / denominator, or 1.0 when the denominator is
// exactly 0.0. Identical images give numerator == denominator bit for bit
// (2 * m * m and m * m + m * m round alike), hence exactly 1.0.
struct WindowTerms {
    double numerator;
    double denominator;
};

// Always inlined: the builds for each instruction set use it, and must not
// share an out-of-line copy built for one of them.
[[gnu::always_inline]] inline WindowTerms window_terms(double mean_x, double mean_y, double variance_x,
                                                       double variance_y, double covariance) {
    return {(2.0 * mean_x * mean_y + kSsimC1) * (2.0 * covariance + kSsimC2),
            (mean_x * mean_x + mean_y * mean_y + kSsimC1) * (variance_x + variance_y + kSsimC2)};
}

inline double window_value(const WindowTerms& terms) {
    return terms.denominator == 0.0 ? 1.0 : terms.numerator / terms.denominator;
}

}  // namespace quorvane
