// The fast path takes a file only where libpng's reading, as png_decode
// drives it, would decode it without error: every chunk well formed with its
// CRC right; before the image data only the IHDR, a tRNS of an RGB image and
// ancillary chunks (which libpng skips); the image data inflating, under
// zlib's rules, to exactly the rows the header implies; after it any chunks
// up to an empty IEND (libpng checks only their CRCs). Anything else, a
// damaged or merely unusual file, is left to libpng, which decodes it or
// words the failure.
#include "image_utils/png_fast_decode.hpp"

#include <libdeflate.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "core/checked.hpp"
#include "image_utils/deflate_walk.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_filters.hpp"
#include "image_utils/widen_rgb.hpp"

namespace quorvane {
namespace {

constexpr u8 kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr u64 kMaxChunkLength = 0x7fffffff;
constexpr u8 kTruecolour = 2;
constexpr u8 kTruecolourAlpha = 6;

u32 read_be32(const u8* at) { return u32{at[0]} << 24 | u32{at[1]} << 16 | u32{at[2]} << 8 | u32{at[3]}; }

struct Chunk {
    std::string_view type;
    ByteView data;
};

// Reads chunks from the front of the file; any malformed chunk (cut short,
// a length beyond 2^31 - 1, a type that is not four letters, a wrong CRC)
// ends the reading.
class ChunkReader {
public:
    explicit ChunkReader(ByteView rest) : rest_(rest) {}

    std::optional<Chunk> next() {
        if (rest_.size() < 12) return std::nullopt;
        const u64 length = read_be32(rest_.data());
        if (length > kMaxChunkLength || length > rest_.size() - 12) return std::nullopt;
        const u8* type = rest_.data() + 4;
        for (int i = 0; i < 4; ++i) {
            const u8 letter = static_cast<u8>(type[i] & ~0x20);
            if (letter < 'A' || letter > 'Z') return std::nullopt;
        }
        const u32 crc = static_cast<u32>(libdeflate_crc32(0, type, 4 + length));
        if (crc != read_be32(type + 4 + length)) return std::nullopt;
        Chunk chunk{{reinterpret_cast<const char*>(type), 4}, rest_.subspan(8, length)};
        rest_ = rest_.subspan(12 + length);
        return chunk;
    }

private:
    ByteView rest_;
};

// An ancillary chunk has a lower-case first letter.
bool is_ancillary(const Chunk& chunk) { return (chunk.type[0] & 0x20) != 0; }

struct PlainPng {
    u64 width = 0;
    u64 height = 0;
    unsigned channels = 0;                         // 3 or 4
    std::optional<std::array<u8, 3>> transparent;  // the tRNS colour of an RGB image
    std::vector<ByteView> image_data;              // the IDAT chunks, in order
};

std::optional<PlainPng> read_header(const Chunk& chunk) {
    if (chunk.type != "IHDR" || chunk.data.size() != 13) return std::nullopt;
    const u8* fields = chunk.data.data();
    PlainPng png;
    png.width = read_be32(fields);
    png.height = read_be32(fields + 4);
    const u8 depth = fields[8];
    const u8 colour = fields[9];
    const bool plain =
        fields[10] == 0 && fields[11] == 0 && fields[12] == 0;  // deflate, filter method 0, no interlacing
    if (png.width == 0 || png.width > kMaxChunkLength || png.height == 0 || png.height > kMaxChunkLength ||
        depth != 8 || (colour != kTruecolour && colour != kTruecolourAlpha) || !plain) {
        return std::nullopt;
    }
    png.channels = colour == kTruecolour ? 3 : 4;
    return png;
}

// One transparent colour for an RGB image, with 8-bit samples.
bool read_transparency(const Chunk& chunk, PlainPng& png) {
    const u8* s = chunk.data.data();
    if (png.channels != 3 || png.transparent || chunk.data.size() != 6 || (s[0] | s[2] | s[4]) != 0) return false;
    png.transparent = std::array<u8, 3>{s[1], s[3], s[5]};
    return true;
}

std::optional<PlainPng> read_chunks(ByteView file) {
    if (file.size() < sizeof kSignature || std::memcmp(file.data(), kSignature, sizeof kSignature) != 0) {
        return std::nullopt;
    }
    ChunkReader chunks(file.subspan(sizeof kSignature));
    auto chunk = chunks.next();
    if (!chunk) return std::nullopt;
    auto png = read_header(*chunk);
    if (!png) return std::nullopt;

    for (chunk = chunks.next(); chunk && chunk->type != "IDAT"; chunk = chunks.next()) {
        const bool usable = chunk->type == "tRNS" ? read_transparency(*chunk, *png) : is_ancillary(*chunk);
        if (!usable) return std::nullopt;
    }
    for (; chunk && chunk->type == "IDAT"; chunk = chunks.next()) png->image_data.push_back(chunk->data);
    for (; chunk && chunk->type != "IEND"; chunk = chunks.next()) {
        if (chunk->type == "IHDR") return std::nullopt;
    }
    if (!chunk || !chunk->data.empty() || png->image_data.empty()) return std::nullopt;
    return png;
}

// The fast path's own buffers, and what libpng would allocate for the same
// file (rows of a few times 4w bytes, zlib's window and state, its structs),
// must both fit the budget: then libpng cannot fail for the budget where the
// fast path succeeds. Both are counted generously.
bool within_budget(u64 rgba_length, u64 buffers, u64 width) {
    constexpr u64 kFixedCosts = u64{1} << 20;
    const u64 rows = width * 32 + kFixedCosts;
    return buffers <= kPngDecodeBudget && rows <= kPngDecodeBudget && rgba_length <= kPngDecodeBudget - rows &&
           buffers <= kPngDecodeBudget - rows;
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

// The zlib stream, inflated to exactly `out.size()` bytes, when both
// libdeflate and the rules of zlib (a 32 KiB window, as libpng reads it)
// accept it and it fills the image data to its end.
bool inflate_exactly(ByteView stream, std::span<u8> out) {
    constexpr u64 kHeader = 2;
    constexpr u64 kTrailer = 4;
    if (stream.size() < kHeader + kTrailer || stream[0] != 0x78) return false;
    std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor) throw std::bad_alloc();
    std::size_t consumed = 0;
    const auto result = libdeflate_zlib_decompress_ex(decompressor.get(), stream.data(), stream.size(), out.data(),
                                                      out.size(), &consumed, nullptr);
    if (result != LIBDEFLATE_SUCCESS || consumed != stream.size()) return false;
    const ByteView blocks = stream.subspan(kHeader, stream.size() - kHeader - kTrailer);
    const auto layout = walk_deflate(blocks, out.size());
    return layout && layout->output_length == out.size() && (layout->end_bit + 7) / 8 == blocks.size();
}

bool filters_valid(const u8* inflated, u64 stride, u64 height) {
    for (u64 y = 0; y < height; ++y) {
        if (inflated[y * stride] > kLastPngFilter) return false;
    }
    return true;
}

// RGBA: the inflated rows sit at the start of the pixel buffer, each behind
// its filter byte; every row is unfiltered y + 1 bytes to the left of where
// it was inflated, onto bytes already read.
void unfilter_rgba(u8* pixels, u64 width, u64 height) {
    const u64 row_bytes = width * 4;
    const Bytes zeros(row_bytes, 0);
    for (u64 y = 0; y < height; ++y) {
        const u8* filtered = pixels + y * (row_bytes + 1);
        u8* row = pixels + y * row_bytes;
        unfilter_row(filtered[0], filtered + 1, row, y == 0 ? zeros.data() : row - row_bytes, row_bytes, 4);
    }
}

// RGB: the inflated rows fill the end of the pixel buffer; each is
// unfiltered into one of two rolling rows, then widened into place, which
// never reaches the inflated rows still to come (3w + 1 <= 4w).
void unfilter_rgb(u8* pixels, const u8* inflated, u64 width, u64 height,
                  const std::optional<std::array<u8, 3>>& transparent) {
    const u64 row_bytes = width * 3;
    TransparentKey key;
    if (transparent) key = u32{(*transparent)[0]} | u32{(*transparent)[1]} << 8 | u32{(*transparent)[2]} << 16;
    Bytes rows(2 * (row_bytes + 1), 0);
    u8* previous = rows.data();
    u8* current = rows.data() + row_bytes + 1;
    for (u64 y = 0; y < height; ++y) {
        const u8* filtered = inflated + y * (row_bytes + 1);
        unfilter_row(filtered[0], filtered + 1, current, previous, row_bytes, 3);
        widen_rgb_row(current, pixels + y * width * 4, width, key);
        std::swap(previous, current);
    }
}

}  // namespace

std::optional<Image> decode_png_fast(ByteView file, u64 capacity) {
    auto png = read_chunks(file);
    if (!png) return std::nullopt;
    const u64 width = png->width;
    const u64 height = png->height;
    const auto rgba_length = checked_rgba_length(width, height);
    const auto inflated_length = checked_mul(height, width * png->channels + 1);
    if (!rgba_length || !inflated_length) return std::nullopt;

    u64 compressed = 0;
    for (ByteView part : png->image_data) compressed += part.size();
    const bool joined = png->image_data.size() > 1;
    const u64 buffer_length = std::max(*rgba_length, *inflated_length);
    const u64 stream_copy = joined ? compressed : 0;
    if (!within_budget(*rgba_length, buffer_length + stream_copy, width)) return std::nullopt;
    if (capacity < buffer_length || !within_budget(*rgba_length, capacity + stream_copy, width)) {
        capacity = buffer_length;
    }

    Bytes stream;
    ByteView zlib_stream = png->image_data.front();
    if (joined) {
        stream.reserve(compressed);
        for (ByteView part : png->image_data) stream.insert(stream.end(), part.begin(), part.end());
        zlib_stream = stream;
    }

    Image image{Bytes(), width, height};
    image.pixels.reserve(capacity);
    image.pixels.resize(buffer_length);
    u8* pixels = image.pixels.data();
    u8* inflated = pixels + (buffer_length - *inflated_length);
    if (!inflate_exactly(zlib_stream, {inflated, *inflated_length})) return std::nullopt;
    Bytes().swap(stream);
    const u64 stride = *inflated_length / height;
    if (!filters_valid(inflated, stride, height)) return std::nullopt;

    if (png->channels == 4) {
        unfilter_rgba(pixels, width, height);
        image.pixels.resize(*rgba_length);
    } else {
        unfilter_rgb(pixels, inflated, width, height, png->transparent);
    }
    return image;
}

}  // namespace quorvane
