// Encoding runs libpng with its default compression and adaptive row filters.
// As in decoding, the frame that calls libpng holds only trivial locals.
#include "image_utils/png_encode.hpp"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <limits>
#include <new>

#include "core/checked.hpp"

namespace quorvane {

Bytes drop_alpha(ByteView rgba) {
    const u64 pixels = rgba.size() / kBytesPerPixel;
    Bytes rgb(pixels * 3);
    const u8* in = rgba.data();
    u8* out = rgb.data();
    for (u64 i = 0; i < pixels; ++i) {
        out[3 * i + 0] = in[4 * i + 0];
        out[3 * i + 1] = in[4 * i + 1];
        out[3 * i + 2] = in[4 * i + 2];
    }
    return rgb;
}

Status check_encodable(ByteView rgba, u64 width, u64 height) {
    auto expected = checked_rgba_length(width, height);
    if (!expected) return CompareError::dimensions_overflow();
    if (rgba.size() != *expected) return CompareError::invalid_buffer_length(*expected, rgba.size(), width, height);
    constexpr u64 kMaxSide = std::numeric_limits<u32>::max();
    if (width > kMaxSide) return CompareError::image_too_large("width");
    if (height > kMaxSide) return CompareError::image_too_large("height");
    return ok_status();
}

namespace {

struct EncodeState {
    Bytes* output = nullptr;
    bool out_of_memory = false;
    char message[256] = {};
};

[[noreturn]] void on_error(png_structp png, png_const_charp text) {
    auto* state = static_cast<EncodeState*>(png_get_error_ptr(png));
    std::strncpy(state->message, text ? text : "unknown error", sizeof state->message - 1);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void append_to_output(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<EncodeState*>(png_get_io_ptr(png));
    try {
        state->output->insert(state->output->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        state->out_of_memory = true;
        png_error(png, "out of memory");
    }
}

void flush_nothing(png_structp) {}

bool run_libpng(png_structp png, png_infop info, EncodeState& state, const u8* rgb, u32 width, u32 height) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, &state, append_to_output, flush_nothing);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const u64 stride = u64{width} * 3;
    for (u32 y = 0; y < height; ++y) png_write_row(png, rgb + y * stride);
    png_write_end(png, nullptr);
    return true;
}

class WriteStruct {
public:
    explicit WriteStruct(EncodeState& state)
        : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, on_error, on_warning)),
          info_(png_ ? png_create_info_struct(png_) : nullptr) {}
    ~WriteStruct() { png_destroy_write_struct(png_ ? &png_ : nullptr, info_ ? &info_ : nullptr); }
    WriteStruct(const WriteStruct&) = delete;
    WriteStruct& operator=(const WriteStruct&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_;
    png_infop info_;
};

}  // namespace

Result<Bytes> encode_png(ByteView rgba, u64 width, u64 height) {
    if (auto checked = check_encodable(rgba, width, height); !checked) return std::move(checked).error();
    const Bytes rgb = drop_alpha(rgba);

    Bytes output;
    EncodeState state;
    state.output = &output;
    WriteStruct writer(state);
    if (writer.png() == nullptr || writer.info() == nullptr) throw std::bad_alloc();
    if (!run_libpng(writer.png(), writer.info(), state, rgb.data(), static_cast<u32>(width), static_cast<u32>(height))) {
        if (state.out_of_memory) throw std::bad_alloc();
        return CompareError::png_encode(state.message);
    }
    return output;
}

}  // namespace quorvane
