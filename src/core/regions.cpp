// Ignore regions clipped to an image, painted row by row, and the area of
// their union.
#include "core/regions.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace quorvane {
namespace {

// A region's pixels inside the image: columns [left, right), rows [top, bottom).
struct Span2d {
    u64 left, top, right, bottom;
};

// Written so that no sum can overflow, whatever the region holds.
std::optional<Span2d> clip(const Region& region, Size size) {
    if (region.x >= size.width || region.y >= size.height || region.width == 0 || region.height == 0) {
        return std::nullopt;
    }
    return Span2d{region.x, region.y, region.x + std::min(region.width, size.width - region.x),
                  region.y + std::min(region.height, size.height - region.y)};
}

// The first row of a run is written pixel by pixel, the others copied from it.
void fill_rows(u8* first, u64 pixels, u64 rows, u64 stride, const u8 (&pixel)[4]) {
    for (u64 i = 0; i < pixels; ++i) std::memcpy(first + i * kBytesPerPixel, pixel, kBytesPerPixel);
    for (u64 row = 1; row < rows; ++row) std::memcpy(first + row * stride, first, pixels * kBytesPerPixel);
}

}  // namespace

void paint_regions(std::span<u8> pixels, Size size, std::span<const Region> regions, Rgb color, Size done) {
    const u8 pixel[4] = {color.r, color.g, color.b, 255};
    const u64 stride = size.width * kBytesPerPixel;
    for (const Region& region : regions) {
        auto area = clip(region, size);
        if (!area) continue;
        // Rows beside the done area start right of it; rows below it start at the region's left edge.
        const u64 beside_end = std::min(area->bottom, std::max(area->top, done.height));
        const u64 beside_left = std::max(area->left, done.width);
        if (beside_left < area->right && area->top < beside_end) {
            fill_rows(pixels.data() + area->top * stride + beside_left * kBytesPerPixel, area->right - beside_left,
                      beside_end - area->top, stride, pixel);
        }
        if (beside_end < area->bottom) {
            fill_rows(pixels.data() + beside_end * stride + area->left * kBytesPerPixel, area->right - area->left,
                      area->bottom - beside_end, stride, pixel);
        }
    }
}

u64 covered_pixels(std::span<const Region> regions, Size canvas) {
    std::vector<Span2d> areas;
    std::vector<u64> rows;
    for (const Region& region : regions) {
        if (auto area = clip(region, canvas)) {
            areas.push_back(*area);
            rows.push_back(area->top);
            rows.push_back(area->bottom);
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    // Between two consecutive row edges the same regions cross every row, so
    // the union of their columns is counted once for the whole band.
    u64 covered = 0;
    std::vector<std::pair<u64, u64>> columns;
    for (std::size_t band = 0; band + 1 < rows.size(); ++band) {
        const u64 top = rows[band], bottom = rows[band + 1];
        columns.clear();
        for (const Span2d& area : areas) {
            if (area.top <= top && bottom <= area.bottom) columns.emplace_back(area.left, area.right);
        }
        std::sort(columns.begin(), columns.end());
        u64 width = 0, reached = 0;
        for (const auto& [left, right] : columns) {
            const u64 start = std::max(left, reached);
            if (right > start) width += right - start;
            reached = std::max(reached, right);
        }
        covered += width * (bottom - top);
    }
    return covered;
}

}  // namespace quorvane
