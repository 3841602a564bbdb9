// What every C++ benchmark needs: the best of several timed runs, and a
// screenshot decoded by the module's own decoder.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
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

}  // namespace bench
