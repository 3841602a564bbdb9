// encode_png on a 1366 x 3000 screenshot against zlib's compress2 at the
// default level over the same RGB bytes: the share of encoding that is not
// DEFLATE (filters, row handling).
#include <cstdio>

#include "bench_support.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"

using namespace quorvane;

int main(int argc, char** argv) {
    const Image image = bench::load_arguments(argc, argv, 1, "encode_png_bench SCREENSHOT.png")[0];
    const Bytes rgb = drop_alpha(image.pixels);
    std::size_t encoded_size = 0;
    const double encode_ms =
        bench::best_ms([&] { encoded_size = encode_png(image.pixels, image.width, image.height)->size(); }, 7);
    const double deflate_ms = bench::best_ms([&] { (void)bench::deflated_length(rgb); }, 7);
    std::printf("encode_png %llux%llu: %.1f ms (%zu bytes) vs zlib compress2 of the RGB bytes %.1f ms -> %.2fx\n",
                static_cast<unsigned long long>(image.width), static_cast<unsigned long long>(image.height),
                encode_ms, encoded_size, deflate_ms, encode_ms / deflate_ms);
    return 0;
}
