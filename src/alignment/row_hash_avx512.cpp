// Row hashes with AVX-512 (F, DQ, VL); this file alone is built with it.
// Eight rows side by side, one a 64-bit lane: the rows' message words are
// transposed into lanes, and each SipHash-1-3 round runs on all of them at once.
#include <immintrin.h>

// GCC 12 warns that the undefined source of the unmasked intrinsics may be
// read (fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "alignment/row_hash.hpp"
#include "alignment/row_hash_lanes.hpp"

namespace quorvane::simd_avx512 {
namespace {

// Pixels whose alpha (a 32-bit word's top byte) is 0 read as zero words.
const int kAlpha = static_cast<int>(0xff000000u);

struct Lanes {
    using Vector = __m512i;
    static constexpr u64 kCount = 8;

    static Vector broadcast(u64 value) { return _mm512_set1_epi64(static_cast<long long>(value)); }
    static Vector add(Vector a, Vector b) { return _mm512_add_epi64(a, b); }
    static Vector bit_xor(Vector a, Vector b) { return _mm512_xor_si512(a, b); }
    template <int bits>
    static Vector rotate(Vector value) {
        return _mm512_rol_epi64(value, bits);
    }
    static Vector visible(Vector pixels) {
        return _mm512_maskz_mov_epi32(_mm512_test_epi32_mask(pixels, _mm512_set1_epi32(kAlpha)), pixels);
    }
    // One pixel a row, widened to its lane.
    static Vector visible_pixels(const u32 (&pixels)[kCount]) {
        const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));
        return _mm512_cvtepu32_epi64(
            _mm256_maskz_mov_epi32(_mm256_test_epi32_mask(loaded, _mm256_set1_epi32(kAlpha)), loaded));
    }
    static void store(u64* out, Vector value) { _mm512_storeu_si512(out, value); }

    // The next `count` (at most 8) message words of the eight rows at `start`,
    // one vector a word with row k in lane k: each row's words are loaded whole
    // and the 8x8 block transposed (gathers are slower on some processors).
    static void transposed_words(const u8* start, u64 stride, u64 count, Vector (&words)[kCount]) {
        const __mmask8 loaded = static_cast<__mmask8>((1u << count) - 1);
        __m512i rows[kCount];
        for (u64 k = 0; k < kCount; ++k) rows[k] = _mm512_maskz_loadu_epi64(loaded, start + k * stride);
        __m512i pairs[kCount];  // words 0 2 4 6, then 1 3 5 7, of two rows side by side
        for (u64 k = 0; k < kCount; k += 2) {
            pairs[k] = _mm512_unpacklo_epi64(rows[k], rows[k + 1]);
            pairs[k + 1] = _mm512_unpackhi_epi64(rows[k], rows[k + 1]);
        }
        constexpr int kEven = _MM_SHUFFLE(2, 0, 2, 0), kOdd = _MM_SHUFFLE(3, 1, 3, 1);
        __m512i quads[kCount];  // four rows: words 0 4, 2 6, 1 5, 3 7
        for (u64 half = 0; half < 2; ++half) {
            const u64 in = half * 4, out = half * 4;
            quads[out + 0] = _mm512_shuffle_i64x2(pairs[in + 0], pairs[in + 2], kEven);
            quads[out + 1] = _mm512_shuffle_i64x2(pairs[in + 0], pairs[in + 2], kOdd);
            quads[out + 2] = _mm512_shuffle_i64x2(pairs[in + 1], pairs[in + 3], kEven);
            quads[out + 3] = _mm512_shuffle_i64x2(pairs[in + 1], pairs[in + 3], kOdd);
        }
        constexpr u64 kFirstWord[4] = {0, 2, 1, 3};  // of quads 0 .. 3; the other is 4 more
        for (u64 q = 0; q < 4; ++q) {
            words[kFirstWord[q]] = _mm512_shuffle_i64x2(quads[q], quads[q + 4], kEven);
            words[kFirstWord[q] + 4] = _mm512_shuffle_i64x2(quads[q], quads[q + 4], kOdd);
        }
    }
};

}  // namespace

u64 hash_row_groups(const u8* first_row, u64 width, u64 rows, u64* hashes) {
    return row_hash_lanes::hash_row_groups<Lanes>(first_row, width, rows, hashes);
}

}  // namespace quorvane::simd_avx512
