#include "pixel_diff/antialiased.hpp"

#include <algorithm>

#include "pixel_diff/color_delta.hpp"

namespace quorvane {
namespace {

// The neighbours in visiting order, column by column: x - 1, then x, then
// x + 1, each from y - 1 down to y + 1, the centre skipped.
constexpr int kNeighbourDx[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
constexpr int kNeighbourDy[8] = {-1, 0, 1, -1, 1, -1, 0, 1};

bool inside(u64 x, u64 y, u64 width, u64 height) { return x > 0 && y > 0 && x + 1 < width && y + 1 < height; }

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

// Word and byte offsets of the eight neighbours of an interior pixel, in
// visiting order. Both stay signed: a neighbour above or to the left lies
// before the centre, and a pointer may not be moved by a wrapped unsigned.
struct InteriorOffsets {
    std::ptrdiff_t at[8];
    std::ptrdiff_t bytes[8];
    explicit InteriorOffsets(u64 width) {
        const auto w = static_cast<std::ptrdiff_t>(width);
        for (int s = 0; s < 8; ++s) {
            at[s] = kNeighbourDy[s] * w + kNeighbourDx[s];
            bytes[s] = at[s] * static_cast<std::ptrdiff_t>(kBytesPerPixel);
        }
    }
};

// The brightest and the darkest neighbour so far, relative to the centre.
// Comparisons are strict, so among equal values the first visited stays.
struct Extremes {
    double min = 0.0;
    double max = 0.0;
    u64 min_x = 0, min_y = 0, max_x = 0, max_y = 0;

    void offer(double d, u64 x, u64 y) {
        if (d < min) {
            min = d;
            min_x = x;
            min_y = y;
        } else if (d > max) {
            max = d;
            max_x = x;
            max_y = y;
        }
    }
};

// Both extremes found: the edge test proper. The pixel is anti-aliased when
// its brightest or its darkest neighbour sits in a flat area of both images.
bool flat_on_either_side(const Extremes& e, u64 width, u64 height, const u32* own_words, const u32* other_words) {
    if (e.min == 0.0 || e.max == 0.0) return false;
    return (has_many_siblings(own_words, e.min_x, e.min_y, width, height) &&
            has_many_siblings(other_words, e.min_x, e.min_y, width, height)) ||
           (has_many_siblings(own_words, e.max_x, e.max_y, width, height) &&
            has_many_siblings(other_words, e.max_x, e.max_y, width, height));
}

unsigned equal_neighbours(const u32* centre, const InteriorOffsets& offsets) {
    unsigned equal = 0;
    for (int s = 0; s < 8; ++s) equal += centre[offsets.at[s]] == centre[0] ? 1 : 0;
    return equal;
}

bool opaque_neighbourhood(const u8* centre, const InteriorOffsets& offsets) {
    u8 alpha = centre[3];
    for (int s = 0; s < 8; ++s) alpha &= centre[offsets.bytes[s] + 3];
    return alpha == 255;
}

// The interior case, without branches per neighbour. Every neighbour's
// brightness difference is computed (equal neighbours give 0); as the count
// of zeroes only grows, "more than two zeroes at any point" is "more than two
// in all"; and a zero never becomes an extreme, since min <= 0 <= max.
bool antialiased_inside(const u8* image, u64 x1, u64 y1, u64 width, u64 height, const u32* own_words,
                        const u32* other_words) {
    const InteriorOffsets offsets(width);
    // Equal words are zeroes for certain: three of them settle the answer
    // before any colour work.
    if (equal_neighbours(own_words + y1 * width + x1, offsets) > 2) return false;
    const u64 k = (y1 * width + x1) * kBytesPerPixel;
    const u8* centre = image + k;
    double d[8];
    if (opaque_neighbourhood(centre, offsets)) {
        for (int s = 0; s < 8; ++s) {
            d[s] = color::opaque_brightness_delta(centre, centre + offsets.bytes[s]);
        }
    } else {
        for (int s = 0; s < 8; ++s) d[s] = color_delta(image, image, k, k + offsets.bytes[s], true);
    }
    unsigned zeroes = 0;
    for (int s = 0; s < 8; ++s) zeroes += d[s] == 0.0 ? 1 : 0;
    if (zeroes > 2) return false;

    double min = 0.0, max = 0.0;
    int min_slot = 0, max_slot = 0;
    for (int s = 0; s < 8; ++s) {
        const bool lower = d[s] < min;  // strict: the first visited of equals stays
        min = lower ? d[s] : min;
        min_slot = lower ? s : min_slot;
        const bool higher = d[s] > max;
        max = higher ? d[s] : max;
        max_slot = higher ? s : max_slot;
    }
    Extremes extremes;
    extremes.min = min;
    extremes.max = max;
    extremes.min_x = x1 + kNeighbourDx[min_slot];
    extremes.min_y = y1 + kNeighbourDy[min_slot];
    extremes.max_x = x1 + kNeighbourDx[max_slot];
    extremes.max_y = y1 + kNeighbourDy[max_slot];
    return flat_on_either_side(extremes, width, height, own_words, other_words);
}

}  // namespace

bool has_many_siblings(const u32* words, u64 x1, u64 y1, u64 width, u64 height) {
    if (inside(x1, y1, width, height)) {
        // No early exit needed: counting all eight is cheaper than branching.
        return equal_neighbours(words + y1 * width + x1, InteriorOffsets(width)) > 2;
    }
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

bool antialiased(const u8* image, u64 x1, u64 y1, u64 width, u64 height, const u32* own_words, const u32* other_words) {
    if (inside(x1, y1, width, height)) return antialiased_inside(image, x1, y1, width, height, own_words, other_words);
    const Neighbourhood around = neighbourhood(x1, y1, width, height);
    unsigned zeroes = around.border_zeroes;
    const u64 centre = y1 * width + x1;
    Extremes extremes;
    for (u64 x = around.x0; x <= around.x2; ++x) {
        for (u64 y = around.y0; y <= around.y2; ++y) {
            if (x == x1 && y == y1) continue;
            const u64 neighbour = y * width + x;
            const double d = own_words[neighbour] == own_words[centre]
                                 ? 0.0
                                 : color_delta(image, image, centre * kBytesPerPixel, neighbour * kBytesPerPixel, true);
            if (d == 0.0) {
                if (++zeroes > 2) return false;
                continue;
            }
            extremes.offer(d, x, y);
        }
    }
    return flat_on_either_side(extremes, width, height, own_words, other_words);
}

}  // namespace quorvane
