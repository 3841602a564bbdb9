#include "pixel_diff/antialiased.hpp"

#include <algorithm>

#include "pixel_diff/color_delta.hpp"

namespace quorvane {
namespace {

// The 3x3 neighbourhood of a pixel, cut at the image border.
struct Neighbourhood {
    u64 x0, x2, y0, y2;
    // A border pixel starts with one "equal neighbour": the missing outside.
    unsigned border_zeroes;
};

Neighbourhood neighbourhood(u64 x, u64 y, u64 width, u64 height) {
    Neighbourhood n{x == 0 ? 0 : x - 1, std::min(x + 1, width - 1), y == 0 ? 0 : y - 1, std::min(y + 1, height - 1), 0};
    n.border_zeroes = (x == n.x0 || x == n.x2 || y == n.y0 || y == n.y2) ? 1 : 0;
    return n;
}

}  // namespace

bool has_many_siblings(const u32* words, u64 x1, u64 y1, u64 width, u64 height) {
    const Neighbourhood around = neighbourhood(x1, y1, width, height);
    unsigned zeroes = around.border_zeroes;
    const u32 centre = words[y1 * width + x1];
    for (u64 x = around.x0; x <= around.x2; ++x) {
        for (u64 y = around.y0; y <= around.y2; ++y) {
            if (x == x1 && y == y1) continue;
            if (words[y * width + x] == centre && ++zeroes > 2) return true;
        }
    }
    return false;
}

bool antialiased(const u8* image, u64 x1, u64 y1, u64 width, u64 height, const u32* own_words,
                 const u32* other_words) {
    const Neighbourhood around = neighbourhood(x1, y1, width, height);
    unsigned zeroes = around.border_zeroes;
    const u64 centre = y1 * width + x1;
    const u32 centre_word = own_words[centre];
    double min = 0.0;
    double max = 0.0;
    u64 min_x = 0, min_y = 0, max_x = 0, max_y = 0;
    for (u64 x = around.x0; x <= around.x2; ++x) {
        for (u64 y = around.y0; y <= around.y2; ++y) {
            if (x == x1 && y == y1) continue;
            const u64 neighbour = y * width + x;
            // Equal words have brightness difference 0 without any colour work.
            const double d = own_words[neighbour] == centre_word
                                 ? 0.0
                                 : color_delta(image, image, centre * kBytesPerPixel, neighbour * kBytesPerPixel, true);
            if (d == 0.0) {
                if (++zeroes > 2) return false;
            } else if (d < min) {
                min = d;
                min_x = x;
                min_y = y;
            } else if (d > max) {
                max = d;
                max_x = x;
                max_y = y;
            }
        }
    }
    if (min == 0.0 || max == 0.0) return false;
    return (has_many_siblings(own_words, min_x, min_y, width, height) &&
            has_many_siblings(other_words, min_x, min_y, width, height)) ||
           (has_many_siblings(own_words, max_x, max_y, width, height) &&
            has_many_siblings(other_words, max_x, max_y, width, height));
}

}  // namespace quorvane
