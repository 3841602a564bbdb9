// The image is turned into transformed pixels (green subtracted, predicted,
// colours decorrelated), the pixels into symbols (literals, recent colours
// from a small cache, copies of the run to the left or the row above), and
// the symbols into one group of five prefix codes: the parts of the format
// that pay on screenshots, each cheap to choose.
#include "image_utils/webp_lossless.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "image_utils/vp8l_codes.hpp"
#include "image_utils/vp8l_transforms.hpp"

namespace quorvane {
namespace {

using vp8l::Argb;
using vp8l::BitWriter;
using vp8l::PrefixCode;

constexpr u32 kPredictorBits = 4;
constexpr u32 kColourBits = 5;
constexpr u32 kCacheBits = 10;
constexpr u32 kLiteralSymbols = 256;
constexpr u32 kLengthSymbols = 24;
constexpr u32 kDistanceSymbols = 40;
constexpr u32 kLongestCopy = 4096;
constexpr u32 kShortestCopy = 3;
constexpr u32 kMaxCodeLength = 15;
// Distance codes 1 to 120 name nearby pixels, 1 the one above and 2 the one
// to the left; the copies we make need no other.
constexpr u32 kAboveCode = 1;
constexpr u32 kLeftCode = 2;

enum class TransformType : u32 { Predictor = 0, CrossColour = 1, SubtractGreen = 2 };

struct Symbol {
    enum class Kind : u8 { Literal, Cached, Copy } kind;
    u32 value;  // the pixel, the cache slot or the copy's length
    u32 distance_code = 0;
};

u32 cache_slot(u32 pixel, u32 bits) { return (pixel * 0x1e35a7bdu) >> (32 - bits); }

u32 run_length(const Argb& argb, u64 at, u64 distance) {
    const u64 limit = std::min<u64>(kLongestCopy, argb.size() - at);
    u64 length = 0;
    while (length < limit && argb[at + length] == argb[at + length - distance]) ++length;
    return static_cast<u32>(length);
}

// Greedy: the longer copy of the pixels to the left or above, else the
// pixel from the cache or as a literal. Every pixel enters the cache, as
// the decoder's does.
std::vector<Symbol> symbols_of(const Argb& argb, u64 width, u32 cache_bits) {
    std::vector<Symbol> symbols;
    symbols.reserve(argb.size() / 2);
    std::vector<u32> cache(cache_bits == 0 ? 0 : u64{1} << cache_bits, 0);
    std::vector<bool> filled(cache.size(), false);
    const auto remember = [&](u32 pixel) {
        if (cache_bits == 0) return;
        const u32 slot = cache_slot(pixel, cache_bits);
        cache[slot] = pixel;
        filled[slot] = true;
    };
    for (u64 at = 0; at < argb.size();) {
        u32 length = at >= 1 ? run_length(argb, at, 1) : 0;
        u32 code = kLeftCode;
        if (at >= width && width > 1) {
            const u32 above = run_length(argb, at, width);
            if (above > length) {
                length = above;
                code = kAboveCode;
            }
        }
        if (length >= kShortestCopy) {
            symbols.push_back({Symbol::Kind::Copy, length, code});
            for (u64 i = at; i < at + length; ++i) remember(argb[i]);
            at += length;
            continue;
        }
        const u32 pixel = argb[at];
        if (cache_bits != 0) {
            const u32 slot = cache_slot(pixel, cache_bits);
            if (filled[slot] && cache[slot] == pixel) {
                symbols.push_back({Symbol::Kind::Cached, slot});
                ++at;
                continue;
            }
        }
        symbols.push_back({Symbol::Kind::Literal, pixel});
        remember(pixel);
        ++at;
    }
    return symbols;
}

// The five codes of one group: green with copy lengths and cache slots, red,
// blue, alpha, distance.
struct CodeGroup {
    PrefixCode green, red, blue, alpha, distance;
};

CodeGroup codes_for(const std::vector<Symbol>& symbols, u32 cache_bits) {
    std::vector<u32> green(kLiteralSymbols + kLengthSymbols + (cache_bits == 0 ? 0 : u64{1} << cache_bits), 0);
    std::vector<u32> red(kLiteralSymbols, 0), blue(kLiteralSymbols, 0), alpha(kLiteralSymbols, 0);
    std::vector<u32> distance(kDistanceSymbols, 0);
    for (const Symbol& symbol : symbols) {
        switch (symbol.kind) {
            case Symbol::Kind::Literal:
                ++green[(symbol.value >> 8) & 0xffu];
                ++red[(symbol.value >> 16) & 0xffu];
                ++blue[symbol.value & 0xffu];
                ++alpha[symbol.value >> 24];
                break;
            case Symbol::Kind::Cached:
                ++green[kLiteralSymbols + kLengthSymbols + symbol.value];
                break;
            case Symbol::Kind::Copy:
                ++green[kLiteralSymbols + vp8l::split_prefix(symbol.value).symbol];
                ++distance[vp8l::split_prefix(symbol.distance_code).symbol];
                break;
        }
    }
    return {vp8l::prefix_code(green, kMaxCodeLength), vp8l::prefix_code(red, kMaxCodeLength),
            vp8l::prefix_code(blue, kMaxCodeLength), vp8l::prefix_code(alpha, kMaxCodeLength),
            vp8l::prefix_code(distance, kMaxCodeLength)};
}

void write_split(BitWriter& out, const PrefixCode& code, u32 value) {
    const vp8l::PrefixSplit split = vp8l::split_prefix(value);
    code.write(out, split.symbol);
    out.put(split.extra_value, split.extra_bits);
}

// An entropy-coded image: the whole picture (`main`, which may name a group
// of codes per tile; ours uses one) or a transform's tile image.
void write_image(BitWriter& out, const Argb& argb, u64 width, bool main) {
    const u32 cache_bits = main ? kCacheBits : 0;
    if (cache_bits != 0) {
        out.put(1, 1);
        out.put(cache_bits, 4);
    } else {
        out.put(0, 1);
    }
    if (main) out.put(0, 1);  // one group of codes for every pixel
    const std::vector<Symbol> symbols = symbols_of(argb, width, cache_bits);
    const CodeGroup codes = codes_for(symbols, cache_bits);
    for (const PrefixCode* code : {&codes.green, &codes.red, &codes.blue, &codes.alpha, &codes.distance}) {
        vp8l::write_code(out, *code);
    }
    for (const Symbol& symbol : symbols) {
        switch (symbol.kind) {
            case Symbol::Kind::Literal:
                codes.green.write(out, (symbol.value >> 8) & 0xffu);
                codes.red.write(out, (symbol.value >> 16) & 0xffu);
                codes.blue.write(out, symbol.value & 0xffu);
                codes.alpha.write(out, symbol.value >> 24);
                break;
            case Symbol::Kind::Cached:
                codes.green.write(out, kLiteralSymbols + kLengthSymbols + symbol.value);
                break;
            case Symbol::Kind::Copy: {
                const vp8l::PrefixSplit length = vp8l::split_prefix(symbol.value);
                codes.green.write(out, kLiteralSymbols + length.symbol);
                out.put(length.extra_value, length.extra_bits);
                write_split(out, codes.distance, symbol.distance_code);
                break;
            }
        }
    }
}

void write_transform(BitWriter& out, TransformType type) {
    out.put(1, 1);
    out.put(static_cast<u32>(type), 2);
}

void write_tiled_transform(BitWriter& out, TransformType type, u32 bits, const Argb& tiles, u64 width) {
    write_transform(out, type);
    out.put(bits - 2, 3);
    write_image(out, tiles, vp8l::tiles_across(width, bits), false);
}

void put_le32(u8* out, u64 value) {
    for (u32 byte = 0; byte < 4; ++byte) out[byte] = static_cast<u8>(value >> (8 * byte));
}

// The bitstream in a RIFF container: the file's header, then one VP8L chunk,
// padded to an even length.
Bytes riff_file(const Bytes& bitstream) {
    constexpr u64 kHeaderBytes = 20;
    const u64 padded = bitstream.size() + bitstream.size() % 2;
    Bytes file(kHeaderBytes + padded, 0);
    std::memcpy(file.data(), "RIFF", 4);
    put_le32(file.data() + 4, 4 + 8 + padded);
    std::memcpy(file.data() + 8, "WEBPVP8L", 8);
    put_le32(file.data() + 16, bitstream.size());
    std::memcpy(file.data() + kHeaderBytes, bitstream.data(), bitstream.size());
    return file;
}

}  // namespace

Bytes encode_webp_lossless(ByteView rgba, u64 width, u64 height) {
    Argb argb(width * height);
    for (u64 i = 0; i < argb.size(); ++i) {
        const u8* pixel = rgba.data() + i * kBytesPerPixel;
        argb[i] = 0xff000000u | (u32{pixel[0]} << 16) | (u32{pixel[1]} << 8) | pixel[2];
    }
    BitWriter out;
    constexpr u32 kSignature = 0x2f;
    out.put(kSignature, 8);
    out.put(static_cast<u32>(width - 1), 14);
    out.put(static_cast<u32>(height - 1), 14);
    out.put(0, 1);  // no alpha
    out.put(0, 3);  // version
    vp8l::subtract_green(argb);
    write_transform(out, TransformType::SubtractGreen);
    const Argb modes = vp8l::predict(argb, width, height, kPredictorBits);
    write_tiled_transform(out, TransformType::Predictor, kPredictorBits, modes, width);
    const Argb multipliers = vp8l::decorrelate_colours(argb, width, height, kColourBits);
    write_tiled_transform(out, TransformType::CrossColour, kColourBits, multipliers, width);
    out.put(0, 1);  // no more transforms
    write_image(out, argb, width, true);
    return riff_file(std::move(out).take());
}

}  // namespace quorvane
