#include "image_utils/vp8l_codes.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <numeric>

namespace quorvane::vp8l {
namespace {

constexpr u32 kMaxCodeLengthLength = 7;
constexpr u32 kCodeLengthSymbols = 19;
// The order in which the code lengths of the code-length code are stored.
constexpr std::array<u8, kCodeLengthSymbols> kCodeLengthOrder = {17, 18, 0, 1,  2,  3,  4,  5,  16, 6,
                                                                 7,  8,  9, 10, 11, 12, 13, 14, 15};
constexpr u32 kRepeatLength = 16;     // the last non-zero length, 3 to 6 times
constexpr u32 kRepeatZeros = 17;      // 3 to 10 zeros
constexpr u32 kRepeatManyZeros = 18;  // 11 to 138 zeros
constexpr u8 kFirstLastLength = 8;    // what a repeat repeats before any length was given

// Huffman code lengths of the used symbols, no longer than `max_length`:
// where the tree grows too deep, the smallest counts are raised, doubling
// the floor until it fits.
std::vector<u8> huffman_lengths(std::span<const u32> counts, u32 max_length) {
    std::vector<u32> used;
    for (u32 symbol = 0; symbol < counts.size(); ++symbol) {
        if (counts[symbol] != 0) used.push_back(symbol);
    }
    std::vector<u8> lengths(counts.size(), 0);
    const u64 leaves = used.size();
    std::vector<u64> weight(2 * leaves);
    std::vector<u32> parent(2 * leaves);
    for (u64 floor = 1;; floor *= 2) {
        std::vector<u32> order = used;
        const auto weight_of = [&](u32 symbol) { return std::max<u64>(counts[symbol], floor); };
        std::stable_sort(order.begin(), order.end(), [&](u32 a, u32 b) { return weight_of(a) < weight_of(b); });
        for (u64 i = 0; i < leaves; ++i) weight[i] = weight_of(order[i]);
        // Leaves 0 .. leaves - 1 in order of weight, then the inner nodes in
        // the order they are made, which is also by weight: the lighter of
        // the next leaf and the next inner node is taken each time.
        u64 next_leaf = 0, next_inner = leaves, made = leaves;
        const auto take = [&] {
            if (next_leaf < leaves && (next_inner == made || weight[next_leaf] <= weight[next_inner])) {
                return next_leaf++;
            }
            return next_inner++;
        };
        for (u64 joined = 0; joined + 1 < leaves; ++joined) {
            const u64 a = take(), b = take();
            weight[made] = weight[a] + weight[b];
            parent[a] = parent[b] = static_cast<u32>(made);
            ++made;
        }
        std::vector<u8> depth(made, 0);
        u32 deepest = 0;
        for (u64 node = made - 1; node-- > 0;) {
            depth[node] = static_cast<u8>(depth[parent[node]] + 1);
            deepest = std::max<u32>(deepest, depth[node]);
        }
        if (deepest <= max_length) {
            for (u64 i = 0; i < leaves; ++i) lengths[order[i]] = depth[i];
            return lengths;
        }
    }
}

// Canonical codes for the lengths, bit-reversed.
std::vector<std::uint16_t> canonical_codes(std::span<const u8> lengths) {
    std::array<u32, 16> per_length{};
    for (u8 length : lengths) ++per_length[length];
    per_length[0] = 0;
    std::array<u32, 16> next{};
    for (u32 length = 1, code = 0; length < next.size(); ++length) {
        code = (code + per_length[length - 1]) << 1;
        next[length] = code;
    }
    std::vector<std::uint16_t> codes(lengths.size(), 0);
    for (u64 symbol = 0; symbol < lengths.size(); ++symbol) {
        const u32 length = lengths[symbol];
        if (length == 0) continue;
        const u32 code = next[length]++;
        u32 reversed = 0;
        for (u32 bit = 0; bit < length; ++bit) reversed |= ((code >> bit) & 1u) << (length - 1 - bit);
        codes[symbol] = static_cast<std::uint16_t>(reversed);
    }
    return codes;
}

struct LengthToken {
    u8 symbol;
    u8 extra;
};

// The code lengths as the format stores them: lengths, runs of the last
// non-zero length, runs of zeros.
std::vector<LengthToken> length_tokens(std::span<const u8> lengths) {
    std::vector<LengthToken> tokens;
    u8 last = kFirstLastLength;
    for (u64 i = 0; i < lengths.size();) {
        const u8 length = lengths[i];
        u64 run = 1;
        while (i + run < lengths.size() && lengths[i + run] == length) ++run;
        i += run;
        if (length == 0) {
            for (; run >= 11; run -= std::min<u64>(run, 138)) {
                tokens.push_back({kRepeatManyZeros, static_cast<u8>(std::min<u64>(run, 138) - 11)});
            }
            if (run >= 3) {
                tokens.push_back({kRepeatZeros, static_cast<u8>(run - 3)});
                run = 0;
            }
            for (; run > 0; --run) tokens.push_back({0, 0});
            continue;
        }
        if (length != last) {
            tokens.push_back({length, 0});
            last = length;
            --run;
        }
        for (; run >= 3; run -= std::min<u64>(run, 6)) {
            tokens.push_back({kRepeatLength, static_cast<u8>(std::min<u64>(run, 6) - 3)});
        }
        for (; run > 0; --run) tokens.push_back({length, 0});
    }
    return tokens;
}

u32 extra_bits_of(u8 symbol) {
    if (symbol == kRepeatLength) return 2;
    if (symbol == kRepeatZeros) return 3;
    if (symbol == kRepeatManyZeros) return 7;
    return 0;
}

}  // namespace

Bytes BitWriter::take() && {
    if (used_ > 0) out_.push_back(static_cast<u8>(pending_));
    return std::move(out_);
}

PrefixCode prefix_code(std::span<const u32> counts, u32 max_length, Simple simple) {
    PrefixCode code;
    std::vector<u32> used(counts.begin(), counts.end());
    u64 symbols = 0;
    u32 only = 0;
    for (u32 symbol = 0; symbol < used.size(); ++symbol) {
        if (used[symbol] == 0) continue;
        ++symbols;
        only = symbol;
    }
    if (simple == Simple::Allowed && symbols <= 1 && only < 256) {
        code.lengths.assign(counts.size(), 0);
        code.codes.assign(counts.size(), 0);
        code.simple_symbol = only;
        return code;
    }
    // A lone symbol gets a partner that is never written: a decoder reads a
    // one-symbol normal code as zero bits.
    if (symbols == 1) used[only == 0 ? 1 : 0] = 1;
    code.lengths = huffman_lengths(used, max_length);
    code.codes = canonical_codes(code.lengths);
    return code;
}

void write_code(BitWriter& out, const PrefixCode& code) {
    if (code.simple_symbol) {
        const u32 symbol = *code.simple_symbol;
        out.put(1, 1);  // simple
        out.put(0, 1);  // one symbol
        const bool wide = symbol > 1;
        out.put(wide ? 1 : 0, 1);
        out.put(symbol, wide ? 8 : 1);
        return;
    }
    const std::vector<LengthToken> tokens = length_tokens(code.lengths);
    std::array<u32, kCodeLengthSymbols> counts{};
    for (const LengthToken& token : tokens) ++counts[token.symbol];
    // The code-length code's own lengths are always stored: it has no simple form.
    const PrefixCode lengths_code = prefix_code(counts, kMaxCodeLengthLength, Simple::Refused);
    const std::vector<u8>& stored = lengths_code.lengths;
    out.put(0, 1);  // normal
    u32 kept = kCodeLengthSymbols;
    while (kept > 4 && stored[kCodeLengthOrder[kept - 1]] == 0) --kept;
    out.put(kept - 4, 4);
    for (u32 i = 0; i < kept; ++i) out.put(stored[kCodeLengthOrder[i]], 3);
    out.put(0, 1);  // a length for every symbol of the alphabet
    for (const LengthToken& token : tokens) {
        lengths_code.write(out, token.symbol);
        out.put(token.extra, extra_bits_of(token.symbol));
    }
}

PrefixSplit split_prefix(u32 value) {
    const u32 offset = value - 1;
    if (offset < 4) return {offset, 0, 0};
    const u32 highest = static_cast<u32>(std::bit_width(offset)) - 1;
    const u32 second = (offset >> (highest - 1)) & 1u;
    const u32 extra_bits = highest - 1;
    return {2 * highest + second, extra_bits, offset & ((1u << extra_bits) - 1)};
}

}  // namespace quorvane::vp8l
