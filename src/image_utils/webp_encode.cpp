// Encoding runs libwebp's advanced API: a default configuration switched to
// lossless, an ARGB picture imported from RGB, and an in-memory writer. Both
// libwebp allocations are owned by guards so that every path frees them.
#include "image_utils/webp_encode.hpp"

#include <webp/encode.h>

#include <new>
#include <string>

#include "image_utils/png_encode.hpp"
#include "image_utils/webp_lossless.hpp"

namespace quorvane {
namespace {

class Picture {
public:
    Picture() {
        if (!WebPPictureInit(&picture_)) throw Panic("libwebp encoder ABI mismatch");
    }
    ~Picture() { WebPPictureFree(&picture_); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    WebPPicture* get() { return &picture_; }

private:
    WebPPicture picture_;
};

class MemoryOutput {
public:
    MemoryOutput() { WebPMemoryWriterInit(&writer_); }
    ~MemoryOutput() { WebPMemoryWriterClear(&writer_); }
    MemoryOutput(const MemoryOutput&) = delete;
    MemoryOutput& operator=(const MemoryOutput&) = delete;

    WebPMemoryWriter* get() { return &writer_; }
    Bytes bytes() const { return Bytes(writer_.mem, writer_.mem + writer_.size); }

private:
    WebPMemoryWriter writer_;
};

// libwebp reports a code, not a text; these are its own descriptions. Its
// out-of-memory codes are allocation failures like any other.
std::string describe(WebPEncodingError code) {
    switch (code) {
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
            throw std::bad_alloc();
        case VP8_ENC_ERROR_NULL_PARAMETER:
            return "a pointer parameter is NULL";
        case VP8_ENC_ERROR_INVALID_CONFIGURATION:
            return "configuration is invalid";
        case VP8_ENC_ERROR_BAD_DIMENSION:
            return "picture has invalid width/height";
        case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
            return "partition is bigger than 512k";
        case VP8_ENC_ERROR_PARTITION_OVERFLOW:
            return "partition is bigger than 16M";
        case VP8_ENC_ERROR_BAD_WRITE:
            return "error while flushing bytes";
        case VP8_ENC_ERROR_FILE_TOO_BIG:
            return "file is bigger than 4G";
        case VP8_ENC_ERROR_USER_ABORT:
            return "abort request by user";
        default:
            return "unknown error " + std::to_string(static_cast<int>(code));
    }
}

bool fits_webp(u64 side) { return side >= 1 && side <= WEBP_MAX_DIMENSION; }

}  // namespace

Result<Bytes> encode_webp(ByteView rgba, u64 width, u64 height, WebpEffort effort) {
    if (auto checked = check_encodable(rgba, width, height); !checked) return std::move(checked).error();
    const bool preset = effort.encoder == WebpEffort::Encoder::LibwebpPreset;
    if (preset && (effort.preset < 0 || effort.preset > kMaxWebpEffort)) {
        return CompareError::message("thumbnail effort must be 0 to " + std::to_string(kMaxWebpEffort));
    }
    // Refused before libwebp sees them: its sizes are ints, and an empty
    // picture would only fail later.
    if (!fits_webp(width) || !fits_webp(height)) {
        return CompareError::webp_encode(describe(VP8_ENC_ERROR_BAD_DIMENSION) + " (" + std::to_string(width) + "x" +
                                         std::to_string(height) + "; each side must be 1 to " +
                                         std::to_string(WEBP_MAX_DIMENSION) + ")");
    }
    if (effort.encoder == WebpEffort::Encoder::Own) return encode_webp_lossless(rgba, width, height);
    const Bytes rgb = drop_alpha(rgba);

    WebPConfig config;
    if (!WebPConfigInit(&config)) throw Panic("libwebp encoder ABI mismatch");
    config.lossless = 1;
    if (preset && !WebPConfigLosslessPreset(&config, effort.preset))
        throw Panic("libwebp refused a lossless preset level");

    Picture picture;
    MemoryOutput output;
    WebPPicture* pic = picture.get();
    pic->use_argb = 1;  // lossless encodes ARGB; YUV would lose colour
    pic->width = static_cast<int>(width);
    pic->height = static_cast<int>(height);
    pic->writer = WebPMemoryWrite;
    pic->custom_ptr = output.get();

    if (!WebPPictureImportRGB(pic, rgb.data(), static_cast<int>(width * 3)) || !WebPEncode(&config, pic)) {
        return CompareError::webp_encode(describe(pic->error_code));
    }
    return output.bytes();
}

}  // namespace quorvane
