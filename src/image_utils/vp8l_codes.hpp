// The entropy coding of a lossless WebP (VP8L) bitstream: bits written least
// significant first, length-limited canonical prefix codes, and the way the
// format describes a code to the decoder.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace quorvane::vp8l {

class BitWriter {
public:
    // The low `count` bits of `bits` (count at most 32), first bit first.
    void put(u32 bits, u32 count) {
        pending_ |= u64{bits} << used_;
        used_ += count;
        while (used_ >= 8) {
            out_.push_back(static_cast<u8>(pending_));
            pending_ >>= 8;
            used_ -= 8;
        }
    }
    // The bytes written, the last one padded with zero bits.
    Bytes take() &&;

private:
    Bytes out_;
    u64 pending_ = 0;
    u32 used_ = 0;
};

// A prefix code over an alphabet. A code of one symbol (or none) whose
// symbol fits in eight bits is a "simple" code that spends no bits on it;
// every other code has at least two used symbols, as decoders expect.
struct PrefixCode {
    std::vector<u8> lengths;           // 0: never written
    std::vector<std::uint16_t> codes;  // bit-reversed, to be written least significant first
    std::optional<u32> simple_symbol;

    void write(BitWriter& out, u32 symbol) const { out.put(codes[symbol], lengths[symbol]); }
};

// Whether a code of one symbol may take the simple form.
enum class Simple : bool { Refused, Allowed };

// The code for these symbol counts, no symbol longer than `max_length` bits.
PrefixCode prefix_code(std::span<const u32> counts, u32 max_length, Simple simple = Simple::Allowed);

// The description of the code, as the decoder reads it before the data.
void write_code(BitWriter& out, const PrefixCode& code);

// A length or distance of 1 or more as its prefix symbol and extra bits.
struct PrefixSplit {
    u32 symbol;
    u32 extra_bits;
    u32 extra_value;
};
PrefixSplit split_prefix(u32 value);

}  // namespace quorvane::vp8l
