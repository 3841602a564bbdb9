// The anti-aliasing and siblings tests on small hand-drawn neighbourhoods.
// Images are grids of opaque grey levels, written row by row.
#include <initializer_list>
#include <vector>

#include "check.hpp"
#include "pixel_diff/antialiased.hpp"
#include "pixel_diff/pixel_words.hpp"

using namespace quorvane;

namespace {

constexpr int W = 255;  // white
constexpr int B = 0;    // black

struct Grid {
    Bytes pixels;
    std::vector<u32> words;
    u64 width = 0;
    u64 height = 0;

    Grid(std::initializer_list<std::initializer_list<int>> rows) {
        height = rows.size();
        width = rows.begin()->size();
        for (const auto& row : rows) {
            REQUIRE(row.size() == width);
            for (int level : row) {
                for (int c = 0; c < 3; ++c) pixels.push_back(static_cast<u8>(level));
                pixels.push_back(255);
            }
        }
        const PixelWords view(pixels);
        words.assign(view.data(), view.data() + view.size());
    }

    Grid with(u64 x, u64 y, int level) const {
        Grid copy = *this;
        for (int c = 0; c < 3; ++c) copy.pixels[(y * width + x) * 4 + c] = static_cast<u8>(level);
        const PixelWords view(copy.pixels);
        copy.words.assign(view.data(), view.data() + view.size());
        return copy;
    }

    bool siblings(u64 x, u64 y) const { return has_many_siblings(words.data(), x, y, width, height); }
    bool aa(u64 x, u64 y, const Grid& other) const {
        return antialiased(pixels.data(), x, y, width, height, words.data(), other.words.data());
    }
};

// Centre (2, 2) at 128 between its brightest neighbours, white at (1, 1) and
// (3, 3), and its darkest, black at (1, 2). Only the white at (3, 3) sits in
// a flat area (three white neighbours below it).
const Grid kLaterWhiteFlat{
    {150, 150, 150, 150, 150},
    {150, W, 150, 150, 150},
    {150, B, 128, 150, 150},
    {150, 150, 150, W, 150},
    {150, 150, W, W, W},
};

// The same with the flat area around the white at (1, 1) instead.
const Grid kFirstWhiteFlat{
    {W, W, W, 150, 150},
    {150, W, 150, 150, 150},
    {150, B, 128, 150, 150},
    {150, 150, 150, W, 150},
    {150, 150, 150, 150, 150},
};

}  // namespace

TEST("siblings: three equal neighbours inside, two more than the border") {
    const Grid grid{
        {1, 1, 5, 5},
        {1, 7, 5, 1},
        {9, 1, 8, 5},
    };
    CHECK(!grid.siblings(1, 1));               // interior 7: no equal neighbour
    CHECK(grid.siblings(2, 1));                // interior 5: (2,0), (3,0), (3,2)
    CHECK(!grid.with(3, 2, 6).siblings(2, 1));  // interior with two only
    CHECK(grid.siblings(0, 0));                // corner: border, (1,0), (0,1)
    CHECK(grid.siblings(1, 0));                // edge: border, (0,0), (0,1)
    CHECK(!grid.siblings(0, 2));               // corner 9: border only
    CHECK(!grid.siblings(3, 1));               // edge 1: border only
}

TEST("siblings in degenerate images stay inside them") {
    const Grid single{{4}};
    CHECK(!single.siblings(0, 0));
    const Grid column{{5}, {5}, {5}, {6}};
    CHECK(column.siblings(0, 1));   // border, (0,0), (0,2)
    CHECK(!column.siblings(0, 2));  // border, (0,1)
    CHECK(!column.siblings(0, 3));
    const Grid row{{5, 5, 5, 6}};
    CHECK(row.siblings(1, 0));
    CHECK(!row.siblings(2, 0));
}

TEST("an edge pixel between flat bright and dark areas is anti-aliased, if the flat area is in both images") {
    const Grid current = kFirstWhiteFlat.with(2, 2, 150);
    CHECK(kFirstWhiteFlat.aa(2, 2, current));
    CHECK(!kFirstWhiteFlat.aa(2, 2, current.with(0, 0, 150)));
    // Among equally bright neighbours the first visited is the extreme: the
    // white at (1, 1), not the flat white at (3, 3) visited after it.
    CHECK(!kLaterWhiteFlat.aa(2, 2, kLaterWhiteFlat.with(2, 2, 150)));
}

TEST("a pixel brighter or darker than all its neighbours is not anti-aliased") {
    const Grid dark_dot{
        {W, W, W, W},
        {W, B, W, W},
        {W, W, W, W},
    };
    CHECK(!dark_dot.aa(1, 1, dark_dot.with(1, 1, W)));
    const Grid light_dot{
        {B, B, B},
        {B, W, B},
        {B, B, B},
    };
    CHECK(!light_dot.aa(1, 1, light_dot.with(1, 1, B)));
}

TEST("the image border counts as one neighbour of equal brightness") {
    // Two neighbours equal to the centre are tolerated inside the image ...
    const Grid inside{
        {W, W, W, 150, 150},
        {150, W, 150, 128, 150},
        {150, B, 128, 128, 150},
        {150, 150, 150, 150, 150},
    };
    CHECK(inside.aa(2, 2, inside.with(2, 2, 150)));
    // ... but not on the bottom edge, where the border makes three.
    const Grid on_edge{
        {W, W, W, 150, 150},
        {150, W, 150, 128, 150},
        {150, B, 128, 128, 150},
    };
    CHECK(!on_edge.aa(2, 2, on_edge.with(2, 2, 150)));
}

TEST("a corner pixel has three neighbours and no room for an edge") {
    const Grid corner{
        {128, W},
        {B, W},
    };
    CHECK(!corner.aa(0, 0, corner.with(0, 0, W)));
    const Grid two_equal{
        {128, 128},
        {128, B},
    };
    CHECK(!two_equal.aa(0, 0, two_equal.with(0, 0, B)));
}

TEST("one-pixel-wide and one-pixel-high images are never anti-aliased") {
    const Grid column{{B}, {B}, {128}, {W}, {W}};
    const Grid row{{B, B, 128, W, W}};
    const Grid single{{128}};
    for (u64 y = 0; y < column.height; ++y) CHECK(!column.aa(0, y, column.with(0, y, 7)));
    for (u64 x = 0; x < row.width; ++x) CHECK(!row.aa(x, 0, row.with(x, 0, 7)));
    CHECK(!single.aa(0, 0, single.with(0, 0, 7)));
}
