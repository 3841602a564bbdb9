// Row hashing of one screenshot, on the calling thread and on the pool,
// against a plain pass that reads the same buffer as 64-bit words.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "alignment/row_hash.hpp"
#include "image_utils/png_decode.hpp"

using namespace quorvane;

namespace {

template <class F>
double best_ms(F&& run, int repeats = 15) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, std::chrono::duration<double, std::milli>(elapsed).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: row_hash_bench IMAGE.png\n");
        return 1;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const Bytes png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto decoded = decode_png(png);
    if (!decoded) return 1;
    const Image image = decoded.take();
    const u64 stride = image.width * 4;
    volatile u64 sink = 0;

    const double words = best_ms([&] {
        u64 sum = 0;
        for (u64 i = 0; i + 8 <= image.pixels.size(); i += 8) {
            u64 word;
            std::memcpy(&word, &image.pixels[i], 8);
            sum += word;
        }
        sink = sum;
    });
    const double serial = best_ms([&] {
        u64 mix = 0;
        for (u64 y = 0; y < image.height; ++y) mix ^= row_hash(image.pixels.data() + y * stride, image.width);
        sink = mix;
    });
    const double pooled = best_ms([&] { sink = hash_rows(image.pixels, image.width, image.height).back(); });
    const double mib = static_cast<double>(image.pixels.size()) / (1 << 20);
    std::printf("row_hash of %llux%llu rows, one thread: %.2f ms (%.0f MiB/s) vs summing its 64-bit words %.2f ms "
                "-> %.2fx\n",
                static_cast<unsigned long long>(image.width), static_cast<unsigned long long>(image.height), serial,
                mib / serial * 1e3, words, serial / words);
    std::printf("hash_rows on the pool: %.2f ms -> %.2fx of one thread\n", pooled, pooled / serial);
    return 0;
}
