#include "operations/resize.hpp"

#include <utility>

#include "image_utils/lanczos.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"

namespace quorvane {

Result<Bytes> resize_png(ByteView png, u64 width, u64 height) {
    auto image = decode_png(png);
    if (!image) return std::move(image).error();
    if (width == 0 || height == 0) return CompareError::message("resize width and height must be at least 1");
    if (width > kPngDecodeBudget / kBytesPerPixel / height) {
        return CompareError::message("resized image exceeds the 512 MiB decoding memory budget");
    }
    if (image->width == width && image->height == height) return encode_png(image->pixels, width, height);
    const Bytes resized = resize_lanczos3(image->pixels, image->width, image->height, width, height, height);
    return encode_png(resized, width, height);
}

}  // namespace quorvane
