// RGB rows (3 bytes a pixel) widened to RGBA: alpha 255, or 0 on the
// colour a tRNS chunk names; and RGBA rows narrowed to RGB, alpha dropped,
// for encoding. A vector path for each instruction set that has one, the
// scalar path as reference and fallback.
#pragma once

#include <optional>
#include <span>

#include "core/types.hpp"

namespace quorvane {

// The transparent colour as a pixel word's low three bytes (red first).
using TransparentKey = std::optional<u32>;

// Widens pixels [0, width) and returns how many it did: a vector path stops
// where its next block would read past the row, and leaves the rest to the
// scalar path.
using WidenRgb = u64 (*)(const u8* rgb, u8* rgba, u64 width, TransparentKey key);

// Narrows pixels [0, width) and returns how many it did, stopping like widening.
using NarrowRgba = u64 (*)(const u8* rgba, u8* rgb, u64 width);

struct WidenRgbPath {
    const char* name;
    WidenRgb widen;
    NarrowRgba narrow;
};

// The scalar path first, then each vector path this processor runs.
std::span<const WidenRgbPath> widen_rgb_paths();

// Widens one row with the fastest path. The row must have one byte of slack
// after its last pixel: the scalar path reads each pixel as four bytes.
void widen_rgb_row(const u8* rgb, u8* rgba, u64 width, TransparentKey key);

u64 widen_rgb_scalar(const u8* rgb, u8* rgba, u64 width, TransparentKey key);

// Narrows one row (or a whole image, as one row) with the fastest path.
void narrow_rgba_row(const u8* rgba, u8* rgb, u64 width);

u64 narrow_rgba_scalar(const u8* rgba, u8* rgb, u64 width);

#if !defined(QUORVANE_SCALAR_ONLY)
namespace simd_sse41 {
u64 widen_rgb(const u8* rgb, u8* rgba, u64 width, TransparentKey key);
u64 narrow_rgba(const u8* rgba, u8* rgb, u64 width);
}  // namespace simd_sse41
#endif

}  // namespace quorvane
