// encode_png on the image of a PNG file against libpng writing the same
// pixels with its defaults (zlib's default level, adaptive row filters):
// time and size, the size being what the contract bounds (at most 1.05x).
#include <png.h>

#include <cstdio>

#include "bench_support.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"

using namespace quorvane;

namespace {

// libpng's simplified writer with default settings, into memory.
Bytes libpng_default_png(const Bytes& rgb, u64 width, u64 height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr);
    Bytes out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "libpng: %s\n", image.message);
        std::exit(1);
    }
    out.resize(size);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const Image image = bench::load_arguments(argc, argv, 1, "encode_png_bench IMAGE.png")[0];
    const Bytes rgb = drop_alpha(image.pixels);
    std::size_t ours = 0;
    std::size_t theirs = 0;
    const double encode_ms =
        bench::best_ms([&] { ours = encode_png(image.pixels, image.width, image.height)->size(); }, 7);
    const double libpng_ms =
        bench::best_ms([&] { theirs = libpng_default_png(rgb, image.width, image.height).size(); }, 3);
    std::printf(
        "encode_png %llux%llu: %.1f ms, %zu bytes; libpng's default encode %.1f ms, %zu bytes -> "
        "%.2fx the time, %.3fx the size (target <= 1.05x: %s)\n",
        static_cast<unsigned long long>(image.width), static_cast<unsigned long long>(image.height), encode_ms, ours,
        libpng_ms, theirs, encode_ms / libpng_ms, double(ours) / double(theirs),
        double(ours) <= 1.05 * double(theirs) ? "met" : "MISSED");
    return 0;
}
