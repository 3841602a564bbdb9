// Window means through a summed-area table over the mirror-padded map.
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
    if (window == 0) throw Panic("box_mean needs a window of at least one pixel");
    if (map.size() != width * height) throw Panic("box_mean map does not match its size");
    if (width == 0 || height == 0) return {};
    const u64 radius = window / 2;
    const u64 padded_width = width + 2 * radius;
    const u64 padded_height = height + 2 * radius;

    DoubleMap padded(padded_width * padded_height);
    for (u64 p = 0; p < padded_height; ++p) {
        const u64 row = reflect_index(static_cast<std::int64_t>(p) - static_cast<std::int64_t>(radius), height);
        for (u64 q = 0; q < padded_width; ++q) {
            const u64 column = reflect_index(static_cast<std::int64_t>(q) - static_cast<std::int64_t>(radius), width);
            padded[p * padded_width + q] = map[row * width + column];
        }
    }

    const u64 table_width = padded_width + 1;
    DoubleMap table((padded_height + 1) * table_width, 0.0);
    for (u64 p = 0; p < padded_height; ++p) {
        double row_sum = 0.0;
        for (u64 q = 0; q < padded_width; ++q) {
            row_sum += padded[p * padded_width + q];
            table[(p + 1) * table_width + q + 1] = row_sum + table[p * table_width + q + 1];
        }
    }

    const double area = static_cast<double>(window * window);
    DoubleMap means(width * height);
    for (u64 y = 0; y < height; ++y) {
        const double* top = table.data() + y * table_width;
        const double* bottom = table.data() + (y + window) * table_width;
        for (u64 x = 0; x < width; ++x) {
            means[y * width + x] = (bottom[x + window] - top[x + window] - bottom[x] + top[x]) / area;
        }
    }
    return means;
}

}  // namespace quorvane
