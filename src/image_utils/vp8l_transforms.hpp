// The transforms a lossless WebP (VP8L) encoder applies before entropy
// coding, each the exact inverse of what a decoder undoes: green subtracted
// from red and blue, every pixel replaced by its difference from a
// prediction (one of the format's predictors chosen a tile), and red and
// blue decorrelated from green (and blue from red) a tile.
#pragma once

#include <span>
#include <vector>

#include "core/types.hpp"

namespace quorvane::vp8l {

// Pixels as the format holds them: 0xAARRGGBB.
using Argb = std::vector<u32>;

void subtract_green(std::span<u32> argb);

// Tiles of 2^bits pixels a side: their count across and down an image side.
u64 tiles_across(u64 side, u32 bits);

// Replaces each pixel by its residual against the predictor chosen for its
// tile; returns the tiles' predictor image (the mode in each green byte).
Argb predict(Argb& argb, u64 width, u64 height, u32 bits);

// Decorrelates the residuals' colours a tile; returns the tiles' multipliers
// (green-to-red in blue, green-to-blue in green, red-to-blue in red).
Argb decorrelate_colours(Argb& argb, u64 width, u64 height, u32 bits);

}  // namespace quorvane::vp8l
