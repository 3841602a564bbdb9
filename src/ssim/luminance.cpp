// RGBA to luminance, one pass over the buffer.
#include "ssim/luminance.hpp"

namespace quorvane {

DoubleMap to_luminance(ByteView rgba) {
    const u64 pixels = rgba.size() / kBytesPerPixel;
    DoubleMap luminance(pixels);
    const u8* source = rgba.data();
    double* out = luminance.data();
    for (u64 i = 0; i < pixels; ++i) {
        const double r = source[i * 4];
        const double g = source[i * 4 + 1];
        const double b = source[i * 4 + 2];
        out[i] = (r * 0.299 + g * 0.587) + b * 0.114;
    }
    return luminance;
}

}  // namespace quorvane
