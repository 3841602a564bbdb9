// Test tool: decodes a PNG file with the module's decoder and writes the
// width and height (8 bytes little-endian each) and the RGBA pixels to
// stdout, or the error text to stderr with exit status 2.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "image_utils/png_decode.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: png_to_rgba FILE.png\n");
        return 1;
    }
    std::ifstream file(argv[1], std::ios::binary);
    auto image = quorvane::decode_png(quorvane::Bytes(std::istreambuf_iterator<char>(file), {}));
    if (!image) {
        std::fprintf(stderr, "%s\n", image.error().text().c_str());
        return 2;
    }
    const quorvane::u64 size[2] = {image->width, image->height};
    std::fwrite(size, sizeof size, 1, stdout);
    std::fwrite(image->pixels.data(), 1, image->pixels.size(), stdout);
    return 0;
}
