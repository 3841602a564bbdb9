// Row hashing of one screenshot, on the calling thread (a row at a time,
// then with the fastest path's rows side by side) and on the pool, against a
// plain pass that reads the same buffer as 64-bit words.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "alignment/row_hash.hpp"
#include "bench_support.hpp"
#include "image_utils/png_decode.hpp"

using namespace quorvane;

int main(int argc, char** argv) {
    const Image image = bench::load_arguments(argc, argv, 1, "row_hash_bench IMAGE.png")[0];
    const u64 stride = image.width * 4;
    volatile u64 sink = 0;

    const double words = bench::best_ms([&] {
        u64 sum = 0;
        for (u64 i = 0; i + 8 <= image.pixels.size(); i += 8) {
            u64 word;
            std::memcpy(&word, &image.pixels[i], 8);
            sum += word;
        }
        sink = sum;
    });
    const double serial = bench::best_ms([&] {
        u64 mix = 0;
        for (u64 y = 0; y < image.height; ++y) mix ^= row_hash(image.pixels.data() + y * stride, image.width);
        sink = mix;
    });
    const RowHashPath& fastest = row_hash_paths().back();
    std::vector<u64> hashes(image.height);
    const double side_by_side = bench::best_ms([&] {
        const u64 done = fastest.hash(image.pixels.data(), image.width, image.height, hashes.data());
        hash_row_groups_scalar(image.pixels.data() + done * stride, image.width, image.height - done,
                               hashes.data() + done);
        sink = hashes.back();
    });
    const double pooled = bench::best_ms([&] { sink = hash_rows(image.pixels, image.width, image.height).back(); });
    const double mib = static_cast<double>(image.pixels.size()) / (1 << 20);
    std::printf(
        "row_hash of %llux%llu rows, one thread: %.2f ms (%.0f MiB/s) vs summing its 64-bit words %.2f ms "
        "-> %.2fx\n",
        static_cast<unsigned long long>(image.width), static_cast<unsigned long long>(image.height), serial,
        mib / serial * 1e3, words, serial / words);
    std::printf("%s path, one thread: %.2f ms -> %.2fx of a row at a time\n", fastest.name, side_by_side,
                side_by_side / serial);
    std::printf("hash_rows on the pool: %.2f ms -> %.2fx of one thread\n", pooled, pooled / serial);
    return 0;
}
