// What every C++ benchmark needs: the best of several timed runs, screenshots
// decoded by the module's own decoder, and zlib's DEFLATE as the yardstick
// of PNG encoding.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "image_utils/png_decode.hpp"

namespace bench {

// The fastest of several runs, in milliseconds: the least disturbed one.
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

// The decoded image of a PNG file; a benchmark without its input stops here.
inline quorvane::Image load_png(const char* path) {
    std::ifstream file(path, std::ios::binary);
    const quorvane::Bytes png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto image = quorvane::decode_png(png);
    if (!image) {
        std::fprintf(stderr, "%s: %s\n", path, image.error().text().c_str());
        std::exit(1);
    }
    return image.take();
}

// The PNG files named on the command line, decoded; a benchmark called with
// the wrong number of them prints its usage and stops here.
inline std::vector<quorvane::Image> load_arguments(int argc, char** argv, int files, const char* usage) {
    if (argc != files + 1) {
        std::fprintf(stderr, "usage: %s\n", usage);
        std::exit(1);
    }
    std::vector<quorvane::Image> images;
    for (int i = 1; i <= files; ++i) images.push_back(load_png(argv[i]));
    return images;
}

// Two screenshots of the same size named on the command line; a pair of
// different sizes stops here.
struct SameSizePair {
    quorvane::Image baseline;
    quorvane::Image current;
};

inline SameSizePair load_same_size_pair(int argc, char** argv, const char* usage) {
    auto images = load_arguments(argc, argv, 2, usage);
    if (images[0].width != images[1].width || images[0].height != images[1].height) std::exit(1);
    return {std::move(images[0]), std::move(images[1])};
}

// The length of zlib's compress2 output at the default level.
inline quorvane::u64 deflated_length(const quorvane::Bytes& bytes) {
    uLongf length = compressBound(bytes.size());
    quorvane::Bytes out(length);
    compress2(out.data(), &length, bytes.data(), bytes.size(), Z_DEFAULT_COMPRESSION);
    return length;
}

}  // namespace bench
