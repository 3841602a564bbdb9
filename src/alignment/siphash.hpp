// SipHash-1-3 with both key words zero and the standard 64-bit output: the
// one hash behind row matching and the pair fingerprint.
#pragma once

#include "core/types.hpp"

namespace quorvane {

// The state a zero key starts from: the four constants themselves.
inline constexpr u64 kSipHashStart[4] = {0x736f6d6570736575ull, 0x646f72616e646f6dull, 0x6c7967656e657261ull,
                                         0x7465646279746573ull};

// Incremental form for callers that feed whole 8-byte words they build
// themselves (masked pixels, little-endian integers) instead of a buffer.
class SipHash13 {
public:
    // One message word: the next 8 bytes of the message, read little-endian.
    void absorb(u64 word) {
        v3_ ^= word;
        round();
        v0_ ^= word;
    }

    // `tail` holds the last length % 8 message bytes, little-endian;
    // `length` is the whole message's length in bytes.
    u64 finish(u64 tail, u64 length) {
        const u64 last = tail | (length << 56);
        v3_ ^= last;
        round();
        v0_ ^= last;
        v2_ ^= 0xff;
        round();
        round();
        round();
        return v0_ ^ v1_ ^ v2_ ^ v3_;
    }

private:
    static u64 rotate(u64 value, int bits) { return (value << bits) | (value >> (64 - bits)); }

    void round() {
        v0_ += v1_;
        v1_ = rotate(v1_, 13);
        v1_ ^= v0_;
        v0_ = rotate(v0_, 32);
        v2_ += v3_;
        v3_ = rotate(v3_, 16);
        v3_ ^= v2_;
        v0_ += v3_;
        v3_ = rotate(v3_, 21);
        v3_ ^= v0_;
        v2_ += v1_;
        v1_ = rotate(v1_, 17);
        v1_ ^= v2_;
        v2_ = rotate(v2_, 32);
    }

    u64 v0_ = kSipHashStart[0];
    u64 v1_ = kSipHashStart[1];
    u64 v2_ = kSipHashStart[2];
    u64 v3_ = kSipHashStart[3];
};

// The little-endian value of `count` bytes (at most 8) at `bytes`.
inline u64 load_le(const u8* bytes, u64 count) {
    u64 value = 0;
    for (u64 i = 0; i < count; ++i) value |= u64{bytes[i]} << (8 * i);
    return value;
}

u64 siphash13(ByteView bytes);

}  // namespace quorvane
