// The vector part of filtering rows for encoding, written once with the
// compiler's generic vectors: png_filters.cpp builds it with the baseline
// set, png_filters_avx2.cpp with AVX2, each defining
// QUORVANE_FILTER_NAMESPACE first. Everything here stays inside the including
// file except the two functions at the end, and nothing here calls a function
// defined elsewhere: a copy compiled here could be the copy the linker keeps,
// and would then run on processors without the set. Filtering has no carry
// between neighbouring bytes, so each predictor is a handful of byte-wise
// vector operations, and every build writes the same bytes.
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include <cstdint>
#include <cstring>

#include "image_utils/png_filters.hpp"

namespace quorvane::QUORVANE_FILTER_NAMESPACE {
namespace {

#if defined(__AVX2__)
constexpr u64 kBlockBytes = 32;
#else
constexpr u64 kBlockBytes = 16;
#endif
using Block = u8 __attribute__((vector_size(kBlockBytes)));

#if defined(__SSE2__)
// Running sums of a filter's bytes, each eight bytes summed into a 64-bit
// lane by one instruction (psadbw against zero).
struct WideSums {
    using Lanes = long long __attribute__((vector_size(kBlockBytes)));
    Lanes lanes{};

    void add(Block bytes) {
#if defined(__AVX2__)
        lanes += reinterpret_cast<Lanes>(_mm256_sad_epu8(reinterpret_cast<__m256i>(bytes), __m256i{}));
#else
        lanes += reinterpret_cast<Lanes>(_mm_sad_epu8(reinterpret_cast<__m128i>(bytes), __m128i{}));
#endif
    }

    u64 total() const {
        u64 sum = 0;
        for (unsigned lane = 0; lane < kBlockBytes / 8; ++lane) sum += static_cast<u64>(lanes[lane]);
        return sum;
    }
};
#else
// Half a block's bytes widened to sixteen bits: one register.
using HalfBlock = u8 __attribute__((vector_size(kBlockBytes / 2)));
using WideHalf = std::uint16_t __attribute__((vector_size(kBlockBytes)));

// Sixteen-bit running sums of a filter's bytes, in two registers.
struct WideSums {
    WideHalf low{};
    WideHalf high{};

    void add(Block bytes) {
        HalfBlock half;
        std::memcpy(&half, &bytes, sizeof half);
        low += __builtin_convertvector(half, WideHalf);
        std::memcpy(&half, reinterpret_cast<const u8*>(&bytes) + sizeof half, sizeof half);
        high += __builtin_convertvector(half, WideHalf);
    }

    u64 total() const {
        u64 sum = 0;
        for (unsigned lane = 0; lane < kBlockBytes / 2; ++lane) sum += u64{low[lane]} + high[lane];
        return sum;
    }
};
#endif

Block block_at(const u8* at) {
    Block block;
    std::memcpy(&block, at, sizeof block);
    return block;
}

Block absolute_difference(Block x, Block y) { return x > y ? x - y : y - x; }

// |value| of filtered bytes taken as signed: min(v, 256 - v).
Block magnitude(Block value) {
    const Block negated = -value;
    return value < negated ? value : negated;
}

// (a + b) >> 1 without leaving eight bits.
Block average(Block a, Block b) { return (a & b) + ((a ^ b) >> 1); }

// Paeth in eight bits: |a + b - 2c| is |(b - c) + (a - c)|, the difference
// of the two distances when b - c and a - c have opposite signs; with equal
// signs it is their sum, never below either, so c cannot win and 255 stands
// in for it.
Block paeth(Block a, Block b, Block c) {
    const Block to_a = absolute_difference(b, c);
    const Block to_b = absolute_difference(a, c);
    const Block same_side = (b >= c) == (a >= c);
    const Block to_c = same_side ? Block{} - 1 : absolute_difference(to_a, to_b);
    const Block nearer = to_b < to_a ? b : a;
    const Block nearest_distance = to_b < to_a ? to_b : to_a;
    return to_c < nearest_distance ? c : nearer;
}

// The predictor of each filter type; None predicts 0.
Block predict(u8 filter, Block a, Block b, Block c) {
    switch (filter) {
        case png_filter::kSub:
            return a;
        case png_filter::kUp:
            return b;
        case png_filter::kAverage:
            return average(a, b);
        case png_filter::kPaeth:
            return paeth(a, b, c);
        default:
            return Block{};
    }
}

}  // namespace

void add_filter_sums(const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, FilterSums& sums) {
    // The sixteen-bit lanes of a build without psadbw hold the sums of up to
    // 257 blocks; the sums are emptied into the totals every 256.
    constexpr u64 kBlocksPerFlush = 256;
    for (u64 first = begin; first < end; first += kBlockBytes * kBlocksPerFlush) {
        const u64 last = first + kBlockBytes * kBlocksPerFlush < end ? first + kBlockBytes * kBlocksPerFlush : end;
        // Five variables, not an array, so that they stay in registers.
        WideSums none, sub, up, average_sums, paeth_sums;
        for (u64 i = first; i < last; i += kBlockBytes) {
            const Block x = block_at(row + i);
            const Block a = block_at(row + i - bpp);
            const Block b = block_at(previous + i);
            const Block c = block_at(previous + i - bpp);
            none.add(magnitude(x));
            sub.add(magnitude(x - a));
            up.add(magnitude(x - b));
            average_sums.add(magnitude(x - average(a, b)));
            paeth_sums.add(magnitude(x - paeth(a, b, c)));
        }
        sums[png_filter::kNone] += none.total();
        sums[png_filter::kSub] += sub.total();
        sums[png_filter::kUp] += up.total();
        sums[png_filter::kAverage] += average_sums.total();
        sums[png_filter::kPaeth] += paeth_sums.total();
    }
}

void filter_blocks(u8 filter, const u8* row, const u8* previous, u64 bpp, u64 begin, u64 end, u8* out) {
    for (u64 i = begin; i < end; i += kBlockBytes) {
        const Block x = block_at(row + i);
        const Block predicted =
            predict(filter, block_at(row + i - bpp), block_at(previous + i), block_at(previous + i - bpp));
        const Block filtered = x - predicted;
        std::memcpy(out + i, &filtered, sizeof filtered);
    }
}

}  // namespace quorvane::QUORVANE_FILTER_NAMESPACE
