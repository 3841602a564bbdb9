#include "image_utils/widen_rgb.hpp"

#include <cstring>
#include <vector>

#include "core/instruction_sets.hpp"

namespace quorvane {
namespace {

std::vector<WidenRgbPath> detect_paths() {
    std::vector<WidenRgbPath> paths{{"scalar", widen_rgb_scalar, narrow_rgba_scalar}};
#if !defined(QUORVANE_SCALAR_ONLY)
    if (instruction_sets().sse41) paths.push_back({"sse4.1", simd_sse41::widen_rgb, simd_sse41::narrow_rgba});
#endif
    return paths;
}

}  // namespace

std::span<const WidenRgbPath> widen_rgb_paths() {
    static const std::vector<WidenRgbPath> paths = detect_paths();
    return paths;
}

// Each pixel is read as four bytes, the last one the next pixel's (or the
// row's slack byte), and its fourth byte replaced by alpha.
u64 widen_rgb_scalar(const u8* rgb, u8* rgba, u64 width, TransparentKey key) {
    for (u64 x = 0; x < width; ++x) {
        u32 pixel;
        std::memcpy(&pixel, rgb + 3 * x, 4);
        pixel &= 0x00ffffffu;
        pixel |= key && pixel == *key ? 0u : 0xff000000u;
        std::memcpy(rgba + 4 * x, &pixel, 4);
    }
    return width;
}

void widen_rgb_row(const u8* rgb, u8* rgba, u64 width, TransparentKey key) {
    static const WidenRgb fastest = widen_rgb_paths().back().widen;
    const u64 done = fastest(rgb, rgba, width, key);
    widen_rgb_scalar(rgb + 3 * done, rgba + 4 * done, width - done, key);
}

u64 narrow_rgba_scalar(const u8* rgba, u8* rgb, u64 width) {
    for (u64 x = 0; x < width; ++x) {
        rgb[3 * x + 0] = rgba[4 * x + 0];
        rgb[3 * x + 1] = rgba[4 * x + 1];
        rgb[3 * x + 2] = rgba[4 * x + 2];
    }
    return width;
}

void narrow_rgba_row(const u8* rgba, u8* rgb, u64 width) {
    static const NarrowRgba fastest = widen_rgb_paths().back().narrow;
    const u64 done = fastest(rgba, rgb, width);
    narrow_rgba_scalar(rgba + 4 * done, rgb + 3 * done, width - done);
}

}  // namespace quorvane
