// Decoding tries the fast path first and runs libpng for every file it
// leaves. libpng runs under a memory budget and reports errors by longjmp, so
// the frame that calls it holds no C++ object with a destructor; everything
// it fills is owned by the caller.
#include "image_utils/png_decode.hpp"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/checked.hpp"
#include "image_utils/png_fast_decode.hpp"

namespace quorvane {
namespace {

struct DecodeState {
    ByteView input;
    u64 offset = 0;
    u64 allocated = 0;  // libpng's own allocations currently live
    u64 budget = kPngDecodeBudget;
    bool refused = false;  // an allocation was refused for the budget
    char message[256] = {};
};

constexpr const char* kOverBudgetText = "image exceeds the 512 MiB decoding memory budget";

// libpng allocations carry their size in front so the budget can be kept.
constexpr u64 kHeader = alignof(std::max_align_t);

png_voidp budgeted_malloc(png_structp png, png_alloc_size_t size) {
    auto* state = static_cast<DecodeState*>(png_get_mem_ptr(png));
    if (size > state->budget || state->allocated > state->budget - size) {
        state->refused = true;
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &size, sizeof size);
    state->allocated += size;
    return block + kHeader;
}

void budgeted_free(png_structp png, png_voidp pointer) {
    if (pointer == nullptr) return;
    auto* state = static_cast<DecodeState*>(png_get_mem_ptr(png));
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    png_alloc_size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    state->allocated -= size;
    std::free(block);
}

void keep_message(DecodeState& state, const char* text) {
    std::strncpy(state.message, text ? text : "unknown error", sizeof state.message - 1);
}

[[noreturn]] void on_error(png_structp png, png_const_charp text) {
    keep_message(*static_cast<DecodeState*>(png_get_error_ptr(png)), text);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void read_from_memory(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<DecodeState*>(png_get_io_ptr(png));
    if (length > state->input.size() - state->offset) png_error(png, "unexpected end of PNG data");
    std::memcpy(data, state->input.data() + state->offset, length);
    state->offset += length;
}

// Ancillary chunks that never change the pixels we produce: colour
// management, text, time and the like are skipped, not interpreted.
constexpr png_byte kIgnoredChunks[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0"
    "tEXt\0tIME\0zTXt\0";

void request_rgba8(png_structp png, png_infop info) {
    const int color_type = png_get_color_type(png, info);
    const int bit_depth = png_get_bit_depth(png, info);
    const bool has_trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (color_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (has_trns) png_set_tRNS_to_alpha(png);
    if (bit_depth == 16) png_set_scale_16(png);
    if ((color_type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    if ((color_type & PNG_COLOR_MASK_ALPHA) == 0 && !has_trns) png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
}

enum class Outcome { Decoded, Failed, Overflow, OverBudget };

// The only frame between setjmp and libpng: trivially destructible locals only.
Outcome run_libpng(png_structp png, png_infop info, DecodeState& state, u64 capacity, Bytes& pixels, u64& width,
                   u64& height) {
    if (setjmp(png_jmpbuf(png))) return Outcome::Failed;
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_set_chunk_malloc_max(png, state.budget);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks, sizeof kIgnoredChunks / 5);
    png_set_read_fn(png, &state, read_from_memory);
    png_read_info(png, info);
    request_rgba8(png, info);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    auto length = checked_rgba_length(width, height);
    if (!length) return Outcome::Overflow;
    if (png_get_rowbytes(png, info) != width * kBytesPerPixel) png_error(png, "unexpected row layout");
    if (*length > state.budget - state.allocated) return Outcome::OverBudget;
    state.budget -= *length;
    if (capacity > *length && capacity - *length <= state.budget - state.allocated) {
        state.budget -= capacity - *length;
        pixels.reserve(capacity);
    }
    pixels.resize(*length);  // untouched pages cost nothing until rows arrive

    const u64 stride = width * kBytesPerPixel;
    for (int pass = 0; pass < passes; ++pass) {
        for (u64 y = 0; y < height; ++y) png_read_row(png, pixels.data() + y * stride, nullptr);
    }
    png_read_end(png, nullptr);
    return Outcome::Decoded;
}

class ReadStruct {
public:
    explicit ReadStruct(DecodeState& state)
        : png_(png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &state, on_error, on_warning, &state, budgeted_malloc,
                                        budgeted_free)),
          info_(png_ ? png_create_info_struct(png_) : nullptr) {}
    ~ReadStruct() { png_destroy_read_struct(png_ ? &png_ : nullptr, info_ ? &info_ : nullptr, nullptr); }
    ReadStruct(const ReadStruct&) = delete;
    ReadStruct& operator=(const ReadStruct&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_;
    png_infop info_;
};

}  // namespace

namespace {

Result<Image> run_decode(ByteView png, u64 capacity) {
    DecodeState state;
    state.input = png;
    ReadStruct reader(state);
    if (reader.png() == nullptr || reader.info() == nullptr) throw std::bad_alloc();

    Image image;
    switch (run_libpng(reader.png(), reader.info(), state, capacity, image.pixels, image.width, image.height)) {
        case Outcome::Decoded:
            break;
        case Outcome::Failed:
            if (state.refused) return CompareError::png_decode(kOverBudgetText);
            return CompareError::png_decode(state.message);
        case Outcome::Overflow:
            return CompareError::dimensions_overflow();
        case Outcome::OverBudget:
            return CompareError::png_decode(kOverBudgetText);
    }
    auto expected = checked_rgba_length(image.width, image.height);
    if (!expected) return CompareError::dimensions_overflow();
    if (image.pixels.size() != *expected) {
        return CompareError::invalid_buffer_length(*expected, image.pixels.size(), image.width, image.height);
    }
    return image;
}

}  // namespace

Result<Image> decode_png_with_libpng(ByteView png, u64 capacity) {
    auto image = run_decode(png, capacity);
    if (!image) return std::move(image).error().undecodable(InputImage::Lone);
    return image;
}

Result<Image> decode_png(ByteView png, u64 capacity) {
    if (auto image = decode_png_fast(png, capacity)) return std::move(*image);
    return decode_png_with_libpng(png, capacity);
}

std::optional<Size> png_claimed_size(ByteView png) {
    constexpr u8 kStart[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    if (png.size() < 24 || !std::equal(kStart, kStart + 16, png.begin())) return std::nullopt;
    const auto be32 = [&](u64 at) {
        return u64{png[at]} << 24 | u64{png[at + 1]} << 16 | u64{png[at + 2]} << 8 | png[at + 3];
    };
    return Size{be32(16), be32(20)};
}

}  // namespace quorvane
