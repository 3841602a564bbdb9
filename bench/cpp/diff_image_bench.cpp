// The pixel difference engine on a pair of screenshots, each stage timed
// alone: counting and rendering the diff image against a plain loop counting
// the differing pixel words of the same buffers; encoding the diff image
// against zlib's compress2 at the default level over its RGB bytes.
#include <cstdio>

#include "bench_support.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"
#include "pixel_diff/count.hpp"
#include "pixel_diff/pixel_words.hpp"
#include "pixel_diff/render.hpp"

using namespace quorvane;

int main(int argc, char** argv) {
    const auto pair = bench::load_same_size_pair(argc, argv, "diff_image_bench BASELINE.png CURRENT.png");
    const Image& baseline = pair.baseline;
    const Image& current = pair.current;
    const u64 width = baseline.width, height = baseline.height;
    const DiffOptions options;

    const PixelWords first(baseline.pixels), second(current.pixels);
    volatile u64 sink = 0;
    const double words_ms = bench::best_ms([&] {
        u64 differing = 0;
        for (u64 i = 0; i < first.size(); ++i) differing += first.data()[i] != second.data()[i] ? 1 : 0;
        sink = differing;
    });
    const double count_ms = bench::best_ms(
        [&] { sink = *count_changed_pixels(baseline.pixels, current.pixels, width, height, options, std::nullopt); });
    DiffImage image;
    const double render_ms = bench::best_ms(
        [&] { image = render_diff_image(baseline.pixels, current.pixels, width, height, options).take(); });
    const double encode_ms = bench::best_ms([&] { sink = encode_png(image.pixels, width, height)->size(); }, 5);
    const Bytes rgb = drop_alpha(image.pixels);
    const double deflate_ms = bench::best_ms([&] { sink = bench::deflated_length(rgb); }, 5);
    std::printf("%llux%llu, %llu changed pixels; yardstick: counting differing words in a loop %.2f ms\n",
                static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                static_cast<unsigned long long>(image.count), words_ms);
    std::printf("  count_changed_pixels %.2f ms -> %.2fx\n", count_ms, count_ms / words_ms);
    std::printf("  render_diff_image    %.2f ms -> %.2fx\n", render_ms, render_ms / words_ms);
    std::printf("  encode_png of the diff image %.2f ms vs zlib compress2 of its RGB bytes %.2f ms -> %.2fx\n",
                encode_ms, deflate_ms, encode_ms / deflate_ms);
    return 0;
}
