// Ignore regions: rectangles of the common canvas that are painted in one
// colour in both images before any analysis, so nothing in them is compared,
// and painted again over the diff images, to show where nothing was.
#pragma once

#include <span>
#include <vector>

#include "core/options.hpp"
#include "core/types.hpp"

namespace quorvane {

// In canvas pixels. Any values are safe: a rectangle is clipped to the
// canvas where it is used, and one with no pixels inside paints nothing.
struct Region {
    u64 x = 0;
    u64 y = 0;
    u64 width = 0;
    u64 height = 0;
    friend bool operator==(const Region&, const Region&) = default;
};

inline constexpr Rgb kDefaultMaskColor{255, 0, 255};

struct IgnoreRegions {
    std::vector<Region> regions;
    Rgb color = kDefaultMaskColor;
    bool empty() const { return regions.empty(); }
};

// Sets every pixel of the regions that lies inside the image to the colour,
// opaque. Pixels of the top-left `done` area are left alone: an image painted
// at its own size and then padded needs only its padding painted.
void paint_regions(std::span<u8> pixels, Size size, std::span<const Region> regions, Rgb color, Size done = {});

// Pixels of the canvas inside at least one region.
u64 covered_pixels(std::span<const Region> regions, Size canvas);

}  // namespace quorvane
