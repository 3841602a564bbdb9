// The perceptual distance of two RGBA pixels in YIQ space, alpha blended
// against a patterned background, and the threshold-to-distance rule.
#pragma once

#include <cmath>

#include "core/types.hpp"

namespace quorvane {

inline constexpr double kDeltaScale = 35215.0;

// The largest colour delta that still counts as no difference.
inline double max_delta(double threshold) { return threshold * (threshold * kDeltaScale); }

namespace color {

inline constexpr double kYr = 0.29889531, kYg = 0.58662247, kYb = 0.11448223;
inline constexpr double kIr = 0.59597799, kIg = 0.2741761, kIb = 0.32180189;
inline constexpr double kQr = 0.21147017, kQg = 0.52261711, kQb = 0.31114694;
inline constexpr double kWeightY = 0.5053, kWeightI = 0.299, kWeightQ = 0.1957;
inline constexpr double kBackgroundLow = 48.0, kBackgroundHigh = 207.0;
inline constexpr double kGolden = 1.618033988749895, kGoldenSquared = 2.618033988749895;
inline constexpr double kAlphaScale = 255.0;

// Channel differences of two pixels, first minus second.
struct Deltas {
    double r, g, b;
};

// The background a non-opaque pixel pair is blended onto, patterned by the
// byte offset in the first image.
struct Background {
    double r, g, b;
};

inline bool floored_quotient_is_odd(u64 k, double divisor) {
    return (static_cast<long long>(std::floor(static_cast<double>(k) / divisor)) & 1) != 0;
}

inline Background background_at(u64 k) {
    return {(k & 1) != 0 ? kBackgroundHigh : kBackgroundLow,
            floored_quotient_is_odd(k, kGolden) ? kBackgroundHigh : kBackgroundLow,
            floored_quotient_is_odd(k, kGoldenSquared) ? kBackgroundHigh : kBackgroundLow};
}

inline double blended(double c1, double a1, double c2, double a2, double background, double da) {
    return ((c1 * a1 - c2 * a2) - background * da) / kAlphaScale;
}

// Channel differences of two opaque pixels. The differences of the bytes
// are exact in integers, so converting once gives the same doubles as
// subtracting converted channels.
inline Deltas opaque_deltas(const u8* p, const u8* q) {
    return {static_cast<double>(p[0] - q[0]), static_cast<double>(p[1] - q[1]), static_cast<double>(p[2] - q[2])};
}

inline double brightness(const Deltas& d) { return (d.r * kYr + d.g * kYg) + d.b * kYb; }

// The signed brightness difference of two opaque pixels: color_delta with
// y_only, without its branches (equal pixels give +0.0 here too).
inline double opaque_brightness_delta(const u8* p, const u8* q) { return brightness(opaque_deltas(p, q)); }

// Deltas of the pixel p in first at offset k against q; false when the
// pixels are equal in all four channels (the delta is then 0).
inline bool channel_deltas(const u8* p, const u8* q, u64 k, Deltas& out) {
    if (p[0] == q[0] && p[1] == q[1] && p[2] == q[2] && p[3] == q[3]) return false;
    if (p[3] == 255 && q[3] == 255) {
        out = opaque_deltas(p, q);
        return true;
    }
    const double r1 = p[0], g1 = p[1], b1 = p[2], a1 = p[3];
    const double r2 = q[0], g2 = q[1], b2 = q[2], a2 = q[3];
    const double da = a1 - a2;
    const Background background = background_at(k);
    out = {blended(r1, a1, r2, a2, background.r, da), blended(g1, a1, g2, a2, background.g, da),
           blended(b1, a1, b2, a2, background.b, da)};
    return true;
}

}  // namespace color

// Signed YIQ distance of the pixel at byte offset k in first and the one at m
// in second. Negative when the first pixel is the brighter. With y_only, the
// signed brightness difference instead (positive: first is brighter).
inline double color_delta(const u8* first, const u8* second, u64 k, u64 m, bool y_only) {
    using namespace color;
    Deltas d;
    if (!channel_deltas(first + k, second + m, k, d)) return 0.0;
    const double y = brightness(d);
    if (y_only) return y;
    const double i = (d.r * kIr - d.g * kIg) - d.b * kIb;
    const double q = (d.r * kQr - d.g * kQg) + d.b * kQb;
    const double delta = (kWeightY * y * y + kWeightI * i * i) + kWeightQ * q * q;
    return y > 0.0 ? -delta : delta;
}

}  // namespace quorvane
