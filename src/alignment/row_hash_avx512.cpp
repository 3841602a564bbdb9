// Row hashes with AVX-512 (F, DQ, VL); this file alone is built with it.
// Eight rows side by side, one a 64-bit lane: the rows' message words are
// transposed into lanes, and each SipHash-1-3 round runs on all of them at once.
#include <immintrin.h>

// GCC 12 warns that the undefined source of the unmasked intrinsics may be
// read (fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <cstring>

#include "alignment/row_hash.hpp"
#include "alignment/siphash.hpp"

namespace quorvane::simd_avx512 {
namespace {

inline __m512i start(int word) { return _mm512_set1_epi64(static_cast<long long>(kSipHashStart[word])); }

constexpr u64 kLanes = 8;

struct SipLanes {
    __m512i v0 = start(0);
    __m512i v1 = start(1);
    __m512i v2 = start(2);
    __m512i v3 = start(3);

    void round() {
        v0 = _mm512_add_epi64(v0, v1);
        v1 = _mm512_xor_si512(_mm512_rol_epi64(v1, 13), v0);
        v0 = _mm512_rol_epi64(v0, 32);
        v2 = _mm512_add_epi64(v2, v3);
        v3 = _mm512_xor_si512(_mm512_rol_epi64(v3, 16), v2);
        v0 = _mm512_add_epi64(v0, v3);
        v3 = _mm512_xor_si512(_mm512_rol_epi64(v3, 21), v0);
        v2 = _mm512_add_epi64(v2, v1);
        v1 = _mm512_xor_si512(_mm512_rol_epi64(v1, 17), v2);
        v2 = _mm512_rol_epi64(v2, 32);
    }

    void absorb(__m512i word) {
        v3 = _mm512_xor_si512(v3, word);
        round();
        v0 = _mm512_xor_si512(v0, word);
    }

    __m512i finish(__m512i tail, u64 length) {
        const __m512i last = _mm512_or_si512(tail, _mm512_set1_epi64(static_cast<long long>(length << 56)));
        absorb(last);
        v2 = _mm512_xor_si512(v2, _mm512_set1_epi64(0xff));
        round();
        round();
        round();
        return _mm512_xor_si512(_mm512_xor_si512(v0, v1), _mm512_xor_si512(v2, v3));
    }
};

// Pixels whose alpha (a 32-bit word's top byte) is 0 read as zero words.
const int kAlpha = static_cast<int>(0xff000000u);

inline __m512i visible(__m512i pixels) {
    return _mm512_maskz_mov_epi32(_mm512_test_epi32_mask(pixels, _mm512_set1_epi32(kAlpha)), pixels);
}

inline __m256i visible(__m256i pixels) {
    return _mm256_maskz_mov_epi32(_mm256_test_epi32_mask(pixels, _mm256_set1_epi32(kAlpha)), pixels);
}

// The next `count` (at most 8) message words of the eight rows at `start`,
// one vector a word with row k in lane k: each row's words are loaded whole
// and the 8x8 block transposed (gathers are slower on some processors).
inline void transposed_words(const u8* start, u64 stride, u64 count, __m512i (&words)[kLanes]) {
    const __mmask8 loaded = static_cast<__mmask8>((1u << count) - 1);
    __m512i rows[kLanes];
    for (u64 k = 0; k < kLanes; ++k) rows[k] = _mm512_maskz_loadu_epi64(loaded, start + k * stride);
    __m512i pairs[kLanes];  // words 0 2 4 6, then 1 3 5 7, of two rows side by side
    for (u64 k = 0; k < kLanes; k += 2) {
        pairs[k] = _mm512_unpacklo_epi64(rows[k], rows[k + 1]);
        pairs[k + 1] = _mm512_unpackhi_epi64(rows[k], rows[k + 1]);
    }
    constexpr int kEven = _MM_SHUFFLE(2, 0, 2, 0), kOdd = _MM_SHUFFLE(3, 1, 3, 1);
    __m512i quads[kLanes];  // four rows: words 0 4, 2 6, 1 5, 3 7
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

}  // namespace

u64 hash_row_groups(const u8* first_row, u64 width, u64 rows, u64* hashes) {
    const u64 stride = width * kBytesPerPixel;
    const u64 pairs = width / 2;
    u64 y = 0;
    for (; y + kLanes <= rows; y += kLanes) {
        const u8* rows_start = first_row + y * stride;
        SipLanes hash;
        __m512i words[kLanes];
        for (u64 i = 0; i < pairs; i += kLanes) {
            const u64 count = std::min(kLanes, pairs - i);
            transposed_words(rows_start + i * 8, stride, count, words);
            for (u64 w = 0; w < count; ++w) hash.absorb(visible(words[w]));
        }
        // An odd width ends in one pixel, read alone so that no load passes
        // the row.
        __m512i tail = _mm512_setzero_si512();
        if (width % 2 != 0) {
            u32 last[kLanes];
            for (u64 k = 0; k < kLanes; ++k) std::memcpy(&last[k], rows_start + k * stride + pairs * 8, 4);
            tail = _mm512_cvtepu32_epi64(visible(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(last))));
        }
        _mm512_storeu_si512(hashes + y, hash.finish(tail, stride));
    }
    return y;
}

}  // namespace quorvane::simd_avx512
