// The walk reads bits through a 64-bit buffer refilled once per symbol, and
// decodes Huffman codes canonically: a 10-bit table for the common short
// codewords, counting through the code lengths for the rest. A codeword the
// code does not assign is found missing either way, as zlib finds it.
#include "image_utils/deflate_walk.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace quorvane {
namespace {

using u16 = std::uint16_t;

class BitReader {
public:
    explicit BitReader(ByteView data) : start_(data.data()), next_(data.data()), end_(data.data() + data.size()) {}

    // At least 56 bits in the buffer; past the end of the data they are zero.
    void refill() {
        if (end_ - next_ >= 8) {
            u64 word;
            std::memcpy(&word, next_, sizeof word);
            buffer_ |= word << available_;
            next_ += (63 - available_) >> 3;
            available_ |= 56;
            return;
        }
        while (available_ <= 56) {
            if (next_ < end_) {
                buffer_ |= u64{*next_++} << available_;
            } else {
                ++zeros_loaded_;
            }
            available_ += 8;
        }
    }

    u64 peek() const { return buffer_; }
    void drop(unsigned count) {
        buffer_ >>= count;
        available_ -= count;
    }
    u64 take(unsigned count) {
        const u64 value = buffer_ & ((u64{1} << count) - 1);
        drop(count);
        return value;
    }

    u64 consumed_bits() const { return (static_cast<u64>(next_ - start_) + zeros_loaded_) * 8 - available_; }
    u64 total_bits() const { return static_cast<u64>(end_ - start_) * 8; }
    // More zeros loaded than the buffer can still hold: reading has gone past
    // the end, so a walk over zeros stops instead of running on.
    bool exhausted() const { return zeros_loaded_ > 8; }

    // Continues at a byte offset with an empty buffer.
    void seek(u64 byte) {
        next_ = start_ + byte;
        zeros_loaded_ = 0;
        buffer_ = 0;
        available_ = 0;
    }
    const u8* at(u64 byte) const { return start_ + byte; }

private:
    const u8* start_;
    const u8* next_;
    const u8* end_;
    u64 buffer_ = 0;
    unsigned available_ = 0;
    u64 zeros_loaded_ = 0;
};

constexpr unsigned kMaxCodeLength = 15;
constexpr unsigned kTableBits = 10;
constexpr int kNoSymbol = -1;

enum class CodeKind { CodeLengths, Literals, Distances };

// A canonical Huffman code. Table entries hold symbol << 4 | length, or 0
// for a codeword longer than the table or not assigned.
struct Code {
    std::array<u16, kMaxCodeLength + 1> count{};
    std::array<u16, 320> symbols{};
    std::array<u16, 1u << kTableBits> table{};
};

unsigned reversed(unsigned code, unsigned length) {
    unsigned result = 0;
    for (unsigned i = 0; i < length; ++i) {
        result = (result << 1) | (code & 1);
        code >>= 1;
    }
    return result;
}

// zlib's acceptance: no over-subscribed code; an incomplete one only for
// literals and distances, and only when it is empty or one codeword of one
// bit. (An empty code-length code or one without end-of-block fails later in
// zlib; here at once.)
bool build_code(Code& code, const u8* lengths, unsigned symbols, CodeKind kind) {
    code.count.fill(0);
    for (unsigned s = 0; s < symbols; ++s) ++code.count[lengths[s]];
    code.count[0] = 0;
    unsigned longest = 0;
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        if (code.count[length] != 0) longest = length;
    }
    code.table.fill(0);
    if (longest == 0) return kind == CodeKind::Distances;

    int left = 1;
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        left = 2 * left - code.count[length];
        if (left < 0) return false;
    }
    if (left > 0 && (kind == CodeKind::CodeLengths || longest != 1)) return false;

    std::array<u16, kMaxCodeLength + 2> offset{};
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        offset[length + 1] = static_cast<u16>(offset[length] + code.count[length]);
    }
    for (unsigned s = 0; s < symbols; ++s) {
        if (lengths[s] != 0) code.symbols[offset[lengths[s]]++] = static_cast<u16>(s);
    }

    unsigned next_code = 0;
    unsigned index = 0;
    for (unsigned length = 1; length <= kTableBits; ++length) {
        for (unsigned k = 0; k < code.count[length]; ++k, ++next_code, ++index) {
            const u16 entry = static_cast<u16>(code.symbols[index] << 4 | length);
            for (unsigned slot = reversed(next_code, length); slot < (1u << kTableBits); slot += 1u << length) {
                code.table[slot] = entry;
            }
        }
        next_code <<= 1;
    }
    return true;
}

// Codewords longer than the table, and unassigned ones: the canonical code
// read one bit at a time (each length's codes follow the shorter ones').
int decode_slowly(const Code& code, BitReader& in) {
    u64 bits = in.peek();
    int value = 0;
    int first = 0;
    int index = 0;
    for (unsigned length = 1; length <= kMaxCodeLength; ++length) {
        value |= static_cast<int>(bits & 1);
        bits >>= 1;
        const int count = code.count[length];
        if (value - count < first) {
            in.drop(length);
            return code.symbols[static_cast<unsigned>(index + value - first)];
        }
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return kNoSymbol;
}

int decode(const Code& code, BitReader& in) {
    const u16 entry = code.table[in.peek() & ((1u << kTableBits) - 1)];
    if (entry != 0) {
        in.drop(entry & 15);
        return entry >> 4;
    }
    return decode_slowly(code, in);
}

constexpr u16 kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr u8 kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr u16 kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr u8 kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr unsigned kLiteralSymbols = 288;
constexpr unsigned kDistanceSymbols = 32;

struct FixedCodes {
    Code literals;
    Code distances;
    FixedCodes() {
        u8 lengths[kLiteralSymbols + kDistanceSymbols];
        for (unsigned s = 0; s < kLiteralSymbols; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        for (unsigned s = 0; s < kDistanceSymbols; ++s) lengths[kLiteralSymbols + s] = 5;
        build_code(literals, lengths, kLiteralSymbols, CodeKind::Literals);
        build_code(distances, lengths + kLiteralSymbols, kDistanceSymbols, CodeKind::Distances);
    }
};

const FixedCodes& fixed_codes() {
    static const FixedCodes codes;
    return codes;
}

// The code lengths of a dynamic block, then its two codes.
bool read_dynamic_codes(BitReader& in, Code& literals, Code& distances) {
    in.refill();
    const unsigned literal_count = 257 + static_cast<unsigned>(in.take(5));
    const unsigned distance_count = 1 + static_cast<unsigned>(in.take(5));
    const unsigned length_code_count = 4 + static_cast<unsigned>(in.take(4));
    if (literal_count > 286 || distance_count > 30) return false;

    constexpr u8 kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    u8 length_code_lengths[19] = {};
    for (unsigned i = 0; i < length_code_count; ++i) {
        in.refill();
        length_code_lengths[kOrder[i]] = static_cast<u8>(in.take(3));
    }
    Code length_code;
    if (!build_code(length_code, length_code_lengths, 19, CodeKind::CodeLengths)) return false;

    u8 lengths[286 + 30];
    const unsigned total = literal_count + distance_count;
    unsigned filled = 0;
    while (filled < total) {
        in.refill();
        if (in.exhausted()) return false;
        const int symbol = decode(length_code, in);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[filled++] = static_cast<u8>(symbol);
            continue;
        }
        u8 value = 0;
        unsigned repeat = 0;
        if (symbol == 16) {
            if (filled == 0) return false;
            value = lengths[filled - 1];
            repeat = 3 + static_cast<unsigned>(in.take(2));
        } else if (symbol == 17) {
            repeat = 3 + static_cast<unsigned>(in.take(3));
        } else {
            repeat = 11 + static_cast<unsigned>(in.take(7));
        }
        if (filled + repeat > total) return false;
        std::memset(lengths + filled, value, repeat);
        filled += repeat;
    }
    if (lengths[256] == 0) return false;  // no end-of-block
    return build_code(literals, lengths, literal_count, CodeKind::Literals) &&
           build_code(distances, lengths + literal_count, distance_count, CodeKind::Distances);
}

// The symbols of one block up to its end-of-block; false on any symbol
// zlib refuses, a distance before the start, or output past the limit.
bool walk_codes(BitReader& in, const Code& literals, const Code& distances, u64& output, u64 max_output) {
    for (;;) {
        in.refill();
        if (in.exhausted()) return false;
        const int symbol = decode(literals, in);
        if (symbol < 256) {
            if (symbol < 0 || ++output > max_output) return false;
            continue;
        }
        if (symbol == 256) return true;
        const unsigned length_index = static_cast<unsigned>(symbol) - 257;
        if (length_index >= 29) return false;
        const u64 length = kLengthBase[length_index] + in.take(kLengthExtra[length_index]);
        const int distance_symbol = decode(distances, in);
        if (distance_symbol < 0 || distance_symbol >= 30) return false;
        const u64 distance = kDistanceBase[distance_symbol] + in.take(kDistanceExtra[distance_symbol]);
        if (distance > output || length > max_output - output) return false;
        output += length;
    }
}

// A stored block from its byte-aligned length fields on.
bool walk_stored(BitReader& in, u64& output, u64 max_output) {
    in.drop(static_cast<unsigned>(-in.consumed_bits() % 8));  // to the next byte boundary
    const u64 at = in.consumed_bits() / 8;
    const u64 size = in.total_bits() / 8;
    if (at > size || size - at < 4) return false;
    const u8* fields = in.at(at);
    const unsigned length = fields[0] | fields[1] << 8;
    const unsigned complement = fields[2] | fields[3] << 8;
    if (length != (~complement & 0xffff) || size - at - 4 < length || length > max_output - output) return false;
    output += length;
    in.seek(at + 4 + length);
    return true;
}

}  // namespace

std::optional<DeflateLayout> walk_deflate(ByteView data, u64 max_output) {
    BitReader in(data);
    DeflateLayout layout;
    Code literals;
    Code distances;
    bool final_block = false;
    while (!final_block) {
        in.refill();
        layout.final_block_bit = in.consumed_bits();
        final_block = in.take(1) != 0;
        bool walked = false;
        switch (in.take(2)) {
            case 0:
                walked = walk_stored(in, layout.output_length, max_output);
                break;
            case 1:
                walked =
                    walk_codes(in, fixed_codes().literals, fixed_codes().distances, layout.output_length, max_output);
                break;
            case 2:
                walked = read_dynamic_codes(in, literals, distances) &&
                         walk_codes(in, literals, distances, layout.output_length, max_output);
                break;
            default:
                break;
        }
        if (!walked || in.consumed_bits() > in.total_bits()) return std::nullopt;
    }
    layout.end_bit = in.consumed_bits();
    return layout;
}

}  // namespace quorvane
