// Row hashes with AVX2; this file alone is built with it. Four rows side by
// side, one a 64-bit lane: the rows' message words are transposed into
// lanes, and each SipHash-1-3 round runs on all of them at once.
#include <immintrin.h>

#include "alignment/row_hash.hpp"
#include "alignment/row_hash_lanes.hpp"

namespace quorvane::simd_avx2 {
namespace {

// Pixels whose alpha (a 32-bit word's top byte) is 0 read as zero words.
const int kAlpha = static_cast<int>(0xff000000u);

struct Lanes {
    using Vector = __m256i;
    static constexpr u64 kCount = 4;

    static Vector broadcast(u64 value) { return _mm256_set1_epi64x(static_cast<long long>(value)); }
    static Vector add(Vector a, Vector b) { return _mm256_add_epi64(a, b); }
    static Vector bit_xor(Vector a, Vector b) { return _mm256_xor_si256(a, b); }
    // A half turn swaps each lane's two 32-bit halves.
    template <int bits>
    static Vector rotate(Vector value) {
        if constexpr (bits == 32) {
            return _mm256_shuffle_epi32(value, 0xb1);
        } else {
            return _mm256_or_si256(_mm256_slli_epi64(value, bits), _mm256_srli_epi64(value, 64 - bits));
        }
    }
    static Vector visible(Vector pixels) {
        const Vector clear =
            _mm256_cmpeq_epi32(_mm256_and_si256(pixels, _mm256_set1_epi32(kAlpha)), _mm256_setzero_si256());
        return _mm256_andnot_si256(clear, pixels);
    }
    // One pixel a row, widened to its lane.
    static Vector visible_pixels(const u32 (&pixels)[kCount]) {
        const __m128i loaded = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
        const __m128i clear = _mm_cmpeq_epi32(_mm_and_si128(loaded, _mm_set1_epi32(kAlpha)), _mm_setzero_si128());
        return _mm256_cvtepu32_epi64(_mm_andnot_si128(clear, loaded));
    }
    static void store(u64* out, Vector value) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), value); }

    // The next `count` (at most 4) message words of the four rows at `start`,
    // one vector a word with row k in lane k: each row's words are loaded whole
    // and the 4x4 block transposed (gathers are slower on some processors).
    static void transposed_words(const u8* start, u64 stride, u64 count, Vector (&words)[kCount]) {
        const __m256i loaded =
            _mm256_cmpgt_epi64(_mm256_set1_epi64x(static_cast<long long>(count)), _mm256_setr_epi64x(0, 1, 2, 3));
        __m256i rows[kCount];
        for (u64 k = 0; k < kCount; ++k) {
            rows[k] = _mm256_maskload_epi64(reinterpret_cast<const long long*>(start + k * stride), loaded);
        }
        // Words 0 2, then 1 3, of two rows side by side.
        const __m256i even01 = _mm256_unpacklo_epi64(rows[0], rows[1]), odd01 = _mm256_unpackhi_epi64(rows[0], rows[1]);
        const __m256i even23 = _mm256_unpacklo_epi64(rows[2], rows[3]), odd23 = _mm256_unpackhi_epi64(rows[2], rows[3]);
        words[0] = _mm256_permute2x128_si256(even01, even23, 0x20);
        words[1] = _mm256_permute2x128_si256(odd01, odd23, 0x20);
        words[2] = _mm256_permute2x128_si256(even01, even23, 0x31);
        words[3] = _mm256_permute2x128_si256(odd01, odd23, 0x31);
    }
};

}  // namespace

u64 hash_row_groups(const u8* first_row, u64 width, u64 rows, u64* hashes) {
    return row_hash_lanes::hash_row_groups<Lanes>(first_row, width, rows, hashes);
}

}  // namespace quorvane::simd_avx2
