// Window means through a summed-area table over the mirror-padded map, as
// the definition reads; the windowed SSIM builds the same tables row by row.
#include "ssim/box_mean.hpp"

#include "core/error.hpp"

namespace quorvane {

u64 reflect_index(std::int64_t i, u64 extent) {
    if (extent <= 1) return 0;
    const auto last = static_cast<std::int64_t>(extent) - 1;
    while (i < 0 || i > last) i = i < 0 ? -i : 2 * last - i;
    return static_cast<u64>(i);
}

DoubleMap box_mean(std::span<const double> map, u64 width, u64 height, u64 window) {
    if (window == 0) throw Panic("window means need a window of at least one pixel");
    if (map.size() != width * height) throw Panic("box_mean map does not match its size");
    if (map.empty()) return {};
    const auto radius = static_cast<std::int64_t>(window / 2);
    const u64 padded_width = width + window - 1, stride = padded_width + 1;
    // S[p + 1][q + 1] = (running sum of padded row p up to q) + S[p][q + 1].
    DoubleMap table(stride * (height + window), 0.0);
    for (u64 p = 0; p + 1 < height + window; ++p) {
        const double* row = map.data() + reflect_index(static_cast<std::int64_t>(p) - radius, height) * width;
        double row_sum = 0.0;
        for (u64 q = 0; q < padded_width; ++q) {
            row_sum += row[reflect_index(static_cast<std::int64_t>(q) - radius, width)];
            table[(p + 1) * stride + q + 1] = row_sum + table[p * stride + q + 1];
        }
    }
    DoubleMap means(map.size());
    const double area = static_cast<double>(window * window);
    for (u64 y = 0; y < height; ++y) {
        const double* top = table.data() + y * stride;
        const double* bottom = top + window * stride;
        for (u64 x = 0; x < width; ++x) {
            means[y * width + x] = (bottom[x + window] - top[x + window] - bottom[x] + top[x]) / area;
        }
    }
    return means;
}

}  // namespace quorvane
