// What the fuzz targets share: reading option bytes and PNG files from one
// input, putting right the chunk checksums that mutation breaks, the size
// limit that keeps executions fast, the errors a failed decoding may give,
// and the check that stops on a broken promise.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/error.hpp"
#include "core/types.hpp"

namespace quorvane::fuzz {

// Images above this many pixels (at the common size) are decoded but not
// analysed: the analyses are linear in the pixels, so large images would
// only slow the search down, and the parallel splits they would take are
// covered by the unit tests.
inline constexpr u64 kMaxAnalysedPixels = u64{1} << 16;

// A promise of the code under test that the input broke: report it and stop
// the way a sanitizer does, so the fuzzer keeps the input.
#define FUZZ_REQUIRE(condition)                                                                    \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "broken promise: %s at %s:%d\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// Consumes an input from the front. Past the end every byte reads as 0 and
// every slice is empty, so any input, however short, is a valid one.
class InputReader {
public:
    InputReader(const u8* data, std::size_t size) : rest_(data, size) {}

    u8 byte() {
        if (rest_.empty()) return 0;
        const u8 value = rest_.front();
        rest_ = rest_.subspan(1);
        return value;
    }

    u64 u16le() { return byte() | (u64{byte()} << 8); }

    ByteView take(u64 count) {
        const ByteView part = rest_.first(std::min<u64>(count, rest_.size()));
        rest_ = rest_.subspan(part.size());
        return part;
    }

    ByteView rest() { return take(rest_.size()); }

private:
    ByteView rest_;
};

// A count option: mostly small values, while the top eight byte values
// stand for the extremes that arithmetic on counts must survive.
inline u64 count_option(u8 byte, u64 modulo) {
    constexpr u64 kExtremes[8] = {
        0, 1, 0xffffffff, u64{1} << 32, (u64{1} << 63) - 1, u64{1} << 63, ~u64{0} - 1, ~u64{0},
    };
    return byte >= 248 ? kExtremes[byte - 248] : byte % modulo;
}

// The errors a PNG that does not decode may give, marked as such.
inline bool is_decode_failure(const CompareError& error, InputImage image = InputImage::Lone) {
    const bool expected_kind =
        error.kind() == CompareError::Kind::PngDecode || error.kind() == CompareError::Kind::DimensionsOverflow;
    return expected_kind && error.undecodable_image() == image;
}

inline u32 read_be32(const u8* at) { return (u32{at[0]} << 24) | (u32{at[1]} << 16) | (u32{at[2]} << 8) | u32{at[3]}; }

// A copy of `png` in which every complete chunk carries the right CRC, so a
// mutation inside a chunk (a new width, palette or compressed row) reaches
// the decoder's logic instead of stopping at its checksum test. Bytes after
// the last complete chunk are kept as they are.
inline Bytes with_chunk_crcs_fixed(ByteView png) {
    Bytes fixed(png.begin(), png.end());
    constexpr u64 kSignature = 8;
    u64 at = kSignature;
    while (at + 12 <= fixed.size()) {
        const u64 length = read_be32(fixed.data() + at);
        if (length > fixed.size() - at - 12) break;
        const u8* typed = fixed.data() + at + 4;  // the CRC covers type and data
        const uLong crc = crc32(0L, typed, static_cast<uInt>(4 + length));
        u8* stored = fixed.data() + at + 8 + length;
        stored[0] = static_cast<u8>(crc >> 24);
        stored[1] = static_cast<u8>(crc >> 16);
        stored[2] = static_cast<u8>(crc >> 8);
        stored[3] = static_cast<u8>(crc);
        at += 12 + length;
    }
    return fixed;
}

}  // namespace quorvane::fuzz
