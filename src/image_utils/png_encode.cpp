// Encoding: the rows are filtered and compressed in strips on the pool, each
// strip by libdeflate on its own, and the strips joined into the one zlib
// stream of the image data. A strip's last block is made non-final and the
// strip ended on a byte boundary with an empty stored block, as zlib's own
// sync flush does, so the next strip's blocks follow it directly; the
// Adler-32 of the whole comes from the strips' sums.
#include "image_utils/png_encode.hpp"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/checked.hpp"
#include "core/parallel.hpp"
#include "image_utils/deflate_walk.hpp"
#include "image_utils/png_filters.hpp"
#include "image_utils/widen_rgb.hpp"

namespace quorvane {

Bytes drop_alpha(ByteView rgba) {
    const u64 pixels = rgba.size() / kBytesPerPixel;
    Bytes rgb(pixels * 3);
    narrow_rgba_row(rgba.data(), rgb.data(), pixels);
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

// DEFLATE level: within 5% of the size zlib's default level gives (1.00 to
// 1.03x on diff images of screenshots, 0.95x on the screenshots), and much
// faster; see bench/bench_encode_png.py. Level 5 saved 1-2% more for 8%
// more of a diff image's time.
constexpr int kDeflateLevel = 4;
// Rows are compressed in strips of about this many filtered bytes: enough
// that restarting the window costs little, small enough to spread a
// screenshot over every core.
constexpr u64 kStripBytes = u64{1} << 20;
// The image data is written in IDAT chunks of at most this many bytes.
constexpr u64 kIdatBytes = u64{1} << 20;
constexpr u64 kMaxSide = 0x7fffffff;

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

struct Strip {
    Bytes deflated;
    u32 adler = 1;
    u64 length = 0;  // filtered bytes
};

// Rows [first, end) filtered (each filter reads the row above, the strip's
// first row included) and compressed as DEFLATE blocks; a strip that is not
// the last ends on a byte boundary with no final block.
Strip deflate_strip(ByteView rgba, u64 width, u64 first, u64 end, bool last) {
    const u64 row_bytes = width * 3;
    const u64 stride = row_bytes + 1;
    Strip strip;
    strip.length = (end - first) * stride;
    Bytes filtered(strip.length);
    Bytes rows(2 * row_bytes, 0);  // the row above, then this row
    u8* above = rows.data();
    u8* row = rows.data() + row_bytes;
    if (first > 0) narrow_rgba_row(rgba.data() + (first - 1) * width * 4, above, width);
    for (u64 y = first; y < end; ++y) {
        narrow_rgba_row(rgba.data() + y * width * 4, row, width);
        filter_row(row, above, row_bytes, 3, filtered.data() + (y - first) * stride);
        std::swap(above, row);
    }
    strip.adler = static_cast<u32>(libdeflate_adler32(1, filtered.data(), filtered.size()));

    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(kDeflateLevel));
    if (!compressor) throw std::bad_alloc();
    Bytes room(libdeflate_deflate_compress_bound(compressor.get(), filtered.size()));
    const u64 size =
        libdeflate_deflate_compress(compressor.get(), filtered.data(), filtered.size(), room.data(), room.size());
    if (size == 0) throw Panic("libdeflate found its own bound too small");
    // Kept until every strip is done: only as large as it needs to be.
    strip.deflated.reserve(size + 5);
    strip.deflated.assign(room.begin(), room.begin() + static_cast<std::ptrdiff_t>(size));

    // Every strip is walked, so that no PNG is written that zlib would refuse.
    const auto layout = walk_deflate(strip.deflated, strip.length);
    if (!layout || layout->output_length != strip.length || (layout->end_bit + 7) / 8 != size) {
        throw Panic("libdeflate wrote a stream that zlib refuses");
    }
    if (!last) {
        strip.deflated[layout->final_block_bit / 8] &= static_cast<u8>(~(1u << layout->final_block_bit % 8));
        // The bits after the final block are zero; an empty stored block's
        // three header bits start there, then its byte-aligned lengths.
        const u64 padding = (8 - layout->end_bit % 8) % 8;
        if (padding != 0) strip.deflated.back() &= static_cast<u8>(0xff >> padding);
        if (padding < 3) strip.deflated.push_back(0);
        strip.deflated.insert(strip.deflated.end(), {0x00, 0x00, 0xff, 0xff});
    }
    return strip;
}

// The zlib header for the level, its check bits making it a multiple of 31.
std::array<u8, 2> zlib_header() {
    constexpr u8 kMethodAndWindow = 0x78;  // deflate, 32 KiB window
    const u8 level_hint = kDeflateLevel < 2 ? 0 : kDeflateLevel < 6 ? 1 : kDeflateLevel == 6 ? 2 : 3;
    u8 flags = static_cast<u8>(level_hint << 6);
    flags = static_cast<u8>(flags + 31 - (kMethodAndWindow * 256 + flags) % 31);
    return {kMethodAndWindow, flags};
}

}  // namespace

void put_be32(Bytes& out, u32 value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<u8>(value >> shift));
}

void put_chunk(Bytes& out, const char* type, ByteView data) {
    put_be32(out, static_cast<u32>(data.size()));
    const u64 start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_be32(out, static_cast<u32>(libdeflate_crc32(0, out.data() + start, 4 + data.size())));
}

namespace {

// Writes the image data, handed over in pieces, as IDAT chunks of at most
// kIdatBytes each.
class ImageDataWriter {
public:
    explicit ImageDataWriter(Bytes& out) : out_(out) {}

    void add(ByteView piece) {
        while (!piece.empty()) {
            if (open_ && filled_ == kIdatBytes) close();
            if (!open_) start();
            const u64 taken = std::min<u64>(piece.size(), kIdatBytes - filled_);
            out_.insert(out_.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(taken));
            crc_ = static_cast<u32>(libdeflate_crc32(crc_, piece.data(), taken));
            filled_ += taken;
            piece = piece.subspan(taken);
        }
    }

    void close() {
        if (!open_) return;
        for (u64 i = 0; i < 4; ++i) out_[length_at_ + i] = static_cast<u8>(filled_ >> (24 - 8 * i));
        put_be32(out_, crc_);
        open_ = false;
    }

private:
    void start() {
        length_at_ = out_.size();
        put_be32(out_, 0);
        out_.insert(out_.end(), {'I', 'D', 'A', 'T'});
        crc_ = static_cast<u32>(libdeflate_crc32(0, out_.data() + length_at_ + 4, 4));
        filled_ = 0;
        open_ = true;
    }

    Bytes& out_;
    u64 length_at_ = 0;
    u64 filled_ = 0;
    u32 crc_ = 0;
    bool open_ = false;
};

// The file around the strips, each freed once it is written.
Bytes png_file(u64 width, u64 height, std::vector<Strip>& strips) {
    u64 data = 6;
    for (const Strip& strip : strips) data += strip.deflated.size();
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    out.reserve(8 + 25 + data + (data / kIdatBytes + 1) * 12 + 12);
    Bytes header;
    put_be32(header, static_cast<u32>(width));
    put_be32(header, static_cast<u32>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit truecolour, deflate, filter method 0, not interlaced
    put_chunk(out, "IHDR", header);

    ImageDataWriter image_data(out);
    image_data.add(zlib_header());
    uLong adler = 1;
    for (Strip& strip : strips) {
        image_data.add(strip.deflated);
        adler = adler32_combine(adler, strip.adler, static_cast<z_off_t>(strip.length));
        Bytes().swap(strip.deflated);
    }
    Bytes trailer;
    put_be32(trailer, static_cast<u32>(adler));
    image_data.add(trailer);
    image_data.close();
    put_chunk(out, "IEND", {});
    return out;
}

}  // namespace

u64 png_strip_rows(u64 width) { return std::max<u64>(1, kStripBytes / (width * 3 + 1)); }

Result<Bytes> encode_png(ByteView rgba, u64 width, u64 height) {
    if (auto checked = check_encodable(rgba, width, height); !checked) return std::move(checked).error();
    if (width == 0) return CompareError::png_encode("image width is zero");
    if (height == 0) return CompareError::png_encode("image height is zero");
    if (width > kMaxSide) return CompareError::png_encode("image width is more than 2^31 - 1");
    if (height > kMaxSide) return CompareError::png_encode("image height is more than 2^31 - 1");

    const u64 rows_per_strip = png_strip_rows(width);
    const u64 count = (height + rows_per_strip - 1) / rows_per_strip;
    std::vector<Strip> strips(count);
    parallel_ranges_if(worth_splitting(width * height), count, 1, [&](u64 begin, u64 end) {
        for (u64 s = begin; s < end; ++s) {
            const u64 first = s * rows_per_strip;
            strips[s] = deflate_strip(rgba, width, first, std::min(height, first + rows_per_strip), s + 1 == count);
        }
    });

    return png_file(width, height, strips);
}

}  // namespace quorvane
