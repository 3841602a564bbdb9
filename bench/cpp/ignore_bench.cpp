// Painting ignore regions into a screenshot: one rectangle over the whole
// image, and overlapping strips that cover it about three times, against
// std::fill_n writing the mask colour over as many pixel words as the
// rectangles hold: painting should cost one pass over the rectangles' pixels.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_support.hpp"
#include "core/regions.hpp"

using namespace quorvane;

int main(int argc, char** argv) {
    auto images = bench::load_arguments(argc, argv, 1, "ignore_bench SCREENSHOT.png");
    Image& image = images[0];
    const u64 width = image.width, height = image.height;

    // 64 strips tiling the image, each stretched to twice its height, and
    // the whole image.
    std::vector<Region> strips;
    for (u64 i = 0; i < 64; ++i) {
        const u64 top = height * i / 64, bottom = height * (i + 1) / 64;
        strips.push_back({0, top, width, 2 * (bottom - top)});
    }
    strips.push_back({0, 0, width, height});
    const std::vector<Region> whole{{0, 0, width, height}};

    std::vector<u32> words(width * height);
    u32 colour;
    const u8 pixel[4] = {kDefaultMaskColor.r, kDefaultMaskColor.g, kDefaultMaskColor.b, 255};
    std::memcpy(&colour, pixel, sizeof colour);
    std::printf("painting ignore regions into a %llux%llu image, against std::fill_n of the same pixel words:\n",
                static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
    struct Case {
        const char* label;
        const std::vector<Region>* regions;
    };
    for (const Case& run :
         {Case{"one rectangle over the image", &whole}, Case{"64 overlapping strips and the image", &strips}}) {
        u64 covered = 0;
        for (const Region& region : *run.regions) {
            covered += region.width * (std::min(region.y + region.height, height) - region.y);
        }
        const double paint_ms = bench::best_ms(
            [&] {
                paint_regions(image.pixels, {width, height}, *run.regions, kDefaultMaskColor);
            },
            30);
        const double fill_ms = bench::best_ms(
            [&] {
                for (u64 done = 0; done < covered; done += words.size()) {
                    std::fill_n(words.data(), std::min<u64>(words.size(), covered - done), colour);
                }
            },
            30);
        std::printf("  %s (%.2f images of rectangles): %.2f ms vs %.2f ms -> %.2fx\n", run.label,
                    static_cast<double>(covered) / static_cast<double>(width * height), paint_ms, fill_ms,
                    paint_ms / fill_ms);
    }
    return 0;
}
