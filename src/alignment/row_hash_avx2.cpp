// Row hashes with AVX2; this file alone is built with it. Four rows side by
// side, one a 64-bit lane: the rows' message words are transposed into
// lanes, and each SipHash-1-3 round runs on all of them at once.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "alignment/row_hash.hpp"
#include "alignment/siphash.hpp"

namespace quorvane::simd_avx2 {
namespace {

inline __m256i start(int word) { return _mm256_set1_epi64x(static_cast<long long>(kSipHashStart[word])); }

constexpr u64 kLanes = 4;

template <int bits>
inline __m256i rotate(__m256i value) {
    return _mm256_or_si256(_mm256_slli_epi64(value, bits), _mm256_srli_epi64(value, 64 - bits));
}

// A half turn swaps each lane's two 32-bit halves.
template <>
inline __m256i rotate<32>(__m256i value) {
    return _mm256_shuffle_epi32(value, 0xb1);
}

struct SipLanes {
    __m256i v0 = start(0);
    __m256i v1 = start(1);
    __m256i v2 = start(2);
    __m256i v3 = start(3);

    void round() {
        v0 = _mm256_add_epi64(v0, v1);
        v1 = _mm256_xor_si256(rotate<13>(v1), v0);
        v0 = rotate<32>(v0);
        v2 = _mm256_add_epi64(v2, v3);
        v3 = _mm256_xor_si256(rotate<16>(v3), v2);
        v0 = _mm256_add_epi64(v0, v3);
        v3 = _mm256_xor_si256(rotate<21>(v3), v0);
        v2 = _mm256_add_epi64(v2, v1);
        v1 = _mm256_xor_si256(rotate<17>(v1), v2);
        v2 = rotate<32>(v2);
    }

    void absorb(__m256i word) {
        v3 = _mm256_xor_si256(v3, word);
        round();
        v0 = _mm256_xor_si256(v0, word);
    }

    __m256i finish(__m256i tail, u64 length) {
        const __m256i last = _mm256_or_si256(tail, _mm256_set1_epi64x(static_cast<long long>(length << 56)));
        absorb(last);
        v2 = _mm256_xor_si256(v2, _mm256_set1_epi64x(0xff));
        round();
        round();
        round();
        return _mm256_xor_si256(_mm256_xor_si256(v0, v1), _mm256_xor_si256(v2, v3));
    }
};

// Pixels whose alpha (a 32-bit word's top byte) is 0 read as zero words.
const int kAlpha = static_cast<int>(0xff000000u);

inline __m256i visible(__m256i pixels) {
    const __m256i clear =
        _mm256_cmpeq_epi32(_mm256_and_si256(pixels, _mm256_set1_epi32(kAlpha)), _mm256_setzero_si256());
    return _mm256_andnot_si256(clear, pixels);
}

inline __m128i visible(__m128i pixels) {
    const __m128i clear = _mm_cmpeq_epi32(_mm_and_si128(pixels, _mm_set1_epi32(kAlpha)), _mm_setzero_si128());
    return _mm_andnot_si128(clear, pixels);
}

// The next `count` (at most 4) message words of the four rows at `start`,
// one vector a word with row k in lane k: each row's words are loaded whole
// and the 4x4 block transposed (gathers are slower on some processors).
inline void transposed_words(const u8* start, u64 stride, u64 count, __m256i (&words)[kLanes]) {
    const __m256i loaded =
        _mm256_cmpgt_epi64(_mm256_set1_epi64x(static_cast<long long>(count)), _mm256_setr_epi64x(0, 1, 2, 3));
    __m256i rows[kLanes];
    for (u64 k = 0; k < kLanes; ++k) {
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

}  // namespace

u64 hash_row_groups(const u8* first_row, u64 width, u64 rows, u64* hashes) {
    const u64 stride = width * kBytesPerPixel;
    const u64 pairs = width / 2;
    u64 y = 0;
    for (; y + kLanes <= rows; y += kLanes) {
        const u8* rows_start = first_row + y * stride;
        SipLanes hash;
        __m256i words[kLanes];
        for (u64 i = 0; i < pairs; i += kLanes) {
            const u64 count = std::min(kLanes, pairs - i);
            transposed_words(rows_start + i * 8, stride, count, words);
            for (u64 w = 0; w < count; ++w) hash.absorb(visible(words[w]));
        }
        // An odd width ends in one pixel, read alone so that no load passes
        // the row.
        __m256i tail = _mm256_setzero_si256();
        if (width % 2 != 0) {
            u32 last[kLanes];
            for (u64 k = 0; k < kLanes; ++k) std::memcpy(&last[k], rows_start + k * stride + pairs * 8, 4);
            tail = _mm256_cvtepu32_epi64(visible(_mm_loadu_si128(reinterpret_cast<const __m128i*>(last))));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(hashes + y), hash.finish(tail, stride));
    }
    return y;
}

}  // namespace quorvane::simd_avx2
