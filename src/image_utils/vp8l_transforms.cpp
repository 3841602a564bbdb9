#include "image_utils/vp8l_transforms.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <limits>

namespace quorvane::vp8l {
namespace {

constexpr u32 kOpaqueBlack = 0xff000000u;

// Each channel of a pixel as an int.
[[gnu::always_inline]] inline int channel(u32 pixel, u32 shift) { return static_cast<int>((pixel >> shift) & 0xffu); }

[[gnu::always_inline]] inline u32 clamp_byte(int value) { return static_cast<u32>(std::clamp(value, 0, 255)); }

[[gnu::always_inline]] inline u32 clamp_add_subtract_full(u32 a, u32 b, u32 c) {
    u32 out = 0;
    for (u32 shift = 0; shift < 32; shift += 8) {
        out |= clamp_byte(channel(a, shift) + channel(b, shift) - channel(c, shift)) << shift;
    }
    return out;
}

// The left pixel unless the top one is nearer to the gradient's estimate.
[[gnu::always_inline]] inline u32 select(u32 left, u32 top, u32 top_left) {
    int left_gap = 0, top_gap = 0;
    for (u32 shift = 0; shift < 32; shift += 8) {
        left_gap += std::abs(channel(top, shift) - channel(top_left, shift));
        top_gap += std::abs(channel(left, shift) - channel(top_left, shift));
    }
    return left_gap < top_gap ? left : top;
}

// The format's predictors by number, those we try; `top` points at the
// pixel above, so that top[1] of the last column is the first pixel of this
// row, as the format has it.
template <u32 Mode>
[[gnu::always_inline]] inline u32 predict_one(u32 left, const u32* top) {
    if constexpr (Mode == 1) return left;
    if constexpr (Mode == 2) return top[0];
    if constexpr (Mode == 3) return top[1];
    if constexpr (Mode == 11) return select(left, top[0], top[-1]);
    if constexpr (Mode == 12) return clamp_add_subtract_full(left, top[0], top[-1]);
}

// Each channel of a minus b, modulo 256.
[[gnu::always_inline]] inline u32 subtract_pixels(u32 a, u32 b) {
    const u32 alpha_and_green = 0x00ff00ffu + (a & 0xff00ff00u) - (b & 0xff00ff00u);
    const u32 red_and_blue = 0xff00ff00u + (a & 0x00ff00ffu) - (b & 0x00ff00ffu);
    return (alpha_and_green & 0xff00ff00u) | (red_and_blue & 0x00ff00ffu);
}

// What a residual byte roughly costs to code: small differences either way
// are cheap, on a scale of log2.
const std::array<u8, 256>& residual_costs() {
    static const std::array<u8, 256> costs = [] {
        std::array<u8, 256> table{};
        for (u32 v = 0; v < 256; ++v) {
            const u32 magnitude = std::min(v, 256 - v);
            table[v] = static_cast<u8>(magnitude == 0 ? 0 : 2 + 2 * std::bit_width(magnitude));
        }
        return table;
    }();
    return costs;
}

[[gnu::always_inline]] inline u32 residual_cost(const std::array<u8, 256>& costs, u32 residual) {
    return costs[(residual >> 16) & 0xffu] + costs[(residual >> 8) & 0xffu] + costs[residual & 0xffu];
}

struct Tile {
    u64 x0, x1, y0, y1;
};

// Each tile of 2^bits pixels a side, row by row, with its index in the
// transform's tile image.
template <class Visit>
void for_each_tile(u64 width, u64 height, u32 bits, Visit&& visit) {
    const u64 across = tiles_across(width, bits), down = tiles_across(height, bits);
    for (u64 ty = 0; ty < down; ++ty) {
        for (u64 tx = 0; tx < across; ++tx) {
            visit(Tile{tx << bits, std::min((tx + 1) << bits, width), ty << bits, std::min((ty + 1) << bits, height)},
                  ty * across + tx);
        }
    }
}

// visit(index, residual) for each pixel of the tile under one predictor; the
// first row and column of the image are predicted otherwise and left out.
template <u32 Mode, class Visit>
[[gnu::always_inline]] inline void for_each_residual(const Argb& argb, u64 width, const Tile& tile, Visit&& visit) {
    for (u64 y = std::max<u64>(tile.y0, 1); y < tile.y1; ++y) {
        const u32* row = argb.data() + y * width;
        const u32* above = row - width;
        for (u64 x = std::max<u64>(tile.x0, 1); x < tile.x1; ++x) {
            visit(y * width + x, subtract_pixels(row[x], predict_one<Mode>(row[x - 1], above + x)));
        }
    }
}

template <u32 Mode>
u64 tile_cost(const Argb& argb, u64 width, const Tile& tile, const std::array<u8, 256>& costs) {
    u64 total = 0;
    for_each_residual<Mode>(argb, width, tile, [&](u64, u32 residual) { total += residual_cost(costs, residual); });
    return total;
}

template <u32 Mode>
void tile_residuals(const Argb& argb, u64 width, const Tile& tile, Argb& out) {
    for_each_residual<Mode>(argb, width, tile, [&](u64 index, u32 residual) { out[index] = residual; });
}

// The predictors tried on each tile, those that win most often on
// screenshots first; the format's others (averages of neighbours, the
// top-left pixel) seldom win there, and never by much.
template <u32... Modes>
struct Predictors {
    static constexpr std::array<u32, sizeof...(Modes)> modes{Modes...};
    static constexpr std::array costs{tile_cost<Modes>...};
    static constexpr std::array residuals{tile_residuals<Modes>...};
};
using Tried = Predictors<1, 2, 11, 12, 3>;

[[gnu::always_inline]] inline int signed_byte(u32 value) {
    return static_cast<int>(static_cast<std::int8_t>(value & 0xffu));
}

// The colour transform's delta: a multiplier and a channel as signed bytes,
// in units of 1/32.
[[gnu::always_inline]] inline int colour_delta(int multiplier, int value) { return (multiplier * value) >> 5; }

// The multiplier m that best predicts `target` as m * `source` / 32, by
// least squares, then the cheapest of it, its neighbours and 0.
int best_multiplier(std::span<const int> source, std::span<const int> target, const std::array<u8, 256>& costs) {
    std::int64_t products = 0, squares = 0;
    for (u64 i = 0; i < source.size(); ++i) {
        products += source[i] * target[i];
        squares += source[i] * source[i];
    }
    if (products == 0) return 0;
    const int estimate = static_cast<int>(std::clamp<std::int64_t>(32 * products / squares, -128, 127));
    int best = 0;
    u64 best_cost = std::numeric_limits<u64>::max();
    for (int candidate : {0, estimate, estimate - 1, estimate + 1}) {
        // 0 again, or beyond a signed byte: nothing new to cost.
        if (candidate < -128 || candidate > 127 || (candidate == 0 && best_cost != std::numeric_limits<u64>::max())) {
            continue;
        }
        u64 cost = 0;
        for (u64 i = 0; i < source.size(); ++i) {
            cost += costs[static_cast<u32>(target[i] - colour_delta(candidate, source[i])) & 0xffu];
        }
        if (cost < best_cost) {
            best_cost = cost;
            best = candidate;
        }
    }
    return best;
}

// One tile's channels as signed bytes, for the multipliers' search.
struct TileChannels {
    explicit TileChannels(u64 pixels) : green(pixels), red(pixels), blue(pixels), blue_left(pixels) {}
    std::vector<int> green, red, blue, blue_left;
};

}  // namespace

void subtract_green(std::span<u32> argb) {
    for (u32& pixel : argb) {
        const u32 green = (pixel >> 8) & 0xffu;
        const u32 red = (((pixel >> 16) & 0xffu) - green) & 0xffu;
        const u32 blue = ((pixel & 0xffu) - green) & 0xffu;
        pixel = (pixel & 0xff00ff00u) | (red << 16) | blue;
    }
}

u64 tiles_across(u64 side, u32 bits) { return (side + (u64{1} << bits) - 1) >> bits; }

Argb predict(Argb& argb, u64 width, u64 height, u32 bits) {
    const std::array<u8, 256>& costs = residual_costs();
    Argb modes(tiles_across(width, bits) * tiles_across(height, bits));
    Argb residuals(argb.size());
    // The first pixel is predicted as opaque black, the rest of the first row
    // by its left neighbour, the rest of the first column by the pixel above.
    residuals[0] = subtract_pixels(argb[0], kOpaqueBlack);
    for (u64 x = 1; x < width; ++x) residuals[x] = subtract_pixels(argb[x], argb[x - 1]);
    for (u64 y = 1; y < height; ++y) residuals[y * width] = subtract_pixels(argb[y * width], argb[(y - 1) * width]);
    for_each_tile(width, height, bits, [&](const Tile& tile, u64 index) {
        u64 best = 0;
        u64 best_cost = std::numeric_limits<u64>::max();
        for (u64 tried = 0; tried < Tried::modes.size(); ++tried) {
            const u64 cost = Tried::costs[tried](argb, width, tile, costs);
            if (cost < best_cost) {
                best_cost = cost;
                best = tried;
            }
            if (best_cost == 0) break;  // a flat tile: nothing predicts better
        }
        Tried::residuals[best](argb, width, tile, residuals);
        modes[index] = kOpaqueBlack | (Tried::modes[best] << 8);
    });
    argb = std::move(residuals);
    return modes;
}

Argb decorrelate_colours(Argb& argb, u64 width, u64 height, u32 bits) {
    const std::array<u8, 256>& costs = residual_costs();
    Argb multipliers(tiles_across(width, bits) * tiles_across(height, bits), kOpaqueBlack);
    TileChannels channels(u64{1} << (2 * bits));
    for_each_tile(width, height, bits, [&](const Tile& tile, u64 index) {
        u64 count = 0;
        u32 colours = 0;
        for (u64 y = tile.y0; y < tile.y1; ++y) {
            for (u64 x = tile.x0; x < tile.x1; ++x, ++count) {
                const u32 pixel = argb[y * width + x];
                colours |= pixel & 0x00ff00ffu;
                channels.green[count] = signed_byte(pixel >> 8);
                channels.red[count] = signed_byte(pixel >> 16);
                channels.blue[count] = signed_byte(pixel);
            }
        }
        if (colours == 0) return;  // grey: red and blue are already all zero
        const std::span<const int> green(channels.green.data(), count), red(channels.red.data(), count);
        const std::span<const int> blue(channels.blue.data(), count);
        const int green_to_red = best_multiplier(green, red, costs);
        const int green_to_blue = best_multiplier(green, blue, costs);
        for (u64 i = 0; i < count; ++i) channels.blue_left[i] = blue[i] - colour_delta(green_to_blue, green[i]);
        const int red_to_blue = best_multiplier(red, std::span<const int>(channels.blue_left.data(), count), costs);
        for (u64 y = tile.y0, i = 0; y < tile.y1; ++y) {
            for (u64 x = tile.x0; x < tile.x1; ++x, ++i) {
                const u32 new_red = static_cast<u32>(red[i] - colour_delta(green_to_red, green[i])) & 0xffu;
                const u32 new_blue =
                    static_cast<u32>(channels.blue_left[i] - colour_delta(red_to_blue, red[i])) & 0xffu;
                u32& pixel = argb[y * width + x];
                pixel = (pixel & 0xff00ff00u) | (new_red << 16) | new_blue;
            }
        }
        multipliers[index] = kOpaqueBlack | ((static_cast<u32>(red_to_blue) & 0xffu) << 16) |
                             ((static_cast<u32>(green_to_blue) & 0xffu) << 8) |
                             (static_cast<u32>(green_to_red) & 0xffu);
    });
    return multipliers;
}

}  // namespace quorvane::vp8l
