// The luminance that SSIM compares: one double per RGBA pixel.
#pragma once

#include "core/types.hpp"
#include "ssim/double_map.hpp"

namespace quorvane {

// Y = (R * 0.299 + G * 0.587) + B * 0.114 per pixel, in buffer order, on the
// 0..255 scale. Alpha is ignored, so transparent-black padding reads as 0.
DoubleMap to_luminance(ByteView rgba);

}  // namespace quorvane
