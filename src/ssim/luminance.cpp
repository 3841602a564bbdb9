// RGBA to luminance, one pass over the buffer.
#include "ssim/luminance.hpp"

#include "ssim/window_kernels.hpp"

namespace quorvane {

DoubleMap to_luminance(ByteView rgba) {
    DoubleMap luminance(rgba.size() / kBytesPerPixel);
    fastest_window_kernels().luminance(rgba.data(), luminance.size(), luminance.data());
    return luminance;
}

}  // namespace quorvane
