// Widening and narrowing with SSE4.1 (its byte shuffle is SSSE3's); this
// file alone is built with it. Four pixels a block: twelve bytes shuffled
// into sixteen, or sixteen into twelve.
#include <immintrin.h>

#include "image_utils/widen_rgb.hpp"

namespace quorvane::simd_sse41 {

u64 widen_rgb(const u8* rgb, u8* rgba, u64 width, TransparentKey key) {
    // Each block loads sixteen bytes, four past its pixels: the last two
    // pixels are left to the scalar path so that no load leaves the row.
    constexpr u64 kPixels = 4;
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    const __m128i transparent = _mm_set1_epi32(static_cast<int>(key.value_or(0)));
    u64 x = 0;
    for (; x + kPixels + 2 <= width; x += kPixels) {
        const __m128i colours =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 3 * x)), spread);
        __m128i alpha = opaque;
        if (key) alpha = _mm_andnot_si128(_mm_cmpeq_epi32(colours, transparent), opaque);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rgba + 4 * x), _mm_or_si128(colours, alpha));
    }
    return x;
}

u64 narrow_rgba(const u8* rgba, u8* rgb, u64 width) {
    // Each block stores sixteen bytes, four past its pixels, which the next
    // block overwrites: the last two pixels are left to the scalar path so
    // that no store leaves the row.
    constexpr u64 kPixels = 4;
    const __m128i gather = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    u64 x = 0;
    for (; x + kPixels + 2 <= width; x += kPixels) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + 3 * x), _mm_shuffle_epi8(pixels, gather));
    }
    return x;
}

}  // namespace quorvane::simd_sse41
