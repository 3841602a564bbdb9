// Undoing Paeth with SSE4.1; this file alone is built with it, and calls
// nothing inline from elsewhere (a copy compiled here could be the one the
// linker keeps, and run on processors without the set).
//
// Paeth as thresholds on the left neighbour a. With b above, c above left
// and e = b - c, the predictor is a unless a - c lies strictly between
// min(e, -2e) and max(e, -2e); inside that window it is b or c by which side
// of a turning point a lies: for e > 0, b from c - floor(e / 2) up and c
// below; for e < 0, c from c + floor(-e / 2) + 1 up and b below. (From
// |a - c| and |a + b - 2c| against |b - c|, ties broken as the filter breaks
// them; a test holds it to the filter for every a, b and c.) Each byte's
// window, turning point and two candidates depend only on the row above, so
// they are planned sixteen bytes at a time, and each pixel is left with a
// few steps that wait on its left neighbour instead of a dozen.
#include <immintrin.h>

#include <cstring>

#include "image_utils/png_filters.hpp"

namespace quorvane::simd_sse41 {
namespace {

constexpr u64 kPlanPixels = 64;

template <unsigned Bpp>
struct Plan {
    // Whole blocks, and the four-byte read of the last pixel.
    static constexpr u64 kBytes = kPlanPixels * Bpp + 16;
    // The window, [low, high]; low 255 and high 0 when it is empty.
    u8 low[kBytes];
    u8 high[kBytes];
    u8 turn[kBytes];
    u8 from_turn[kBytes];    // the predictor in the window when a >= turn
    u8 before_turn[kBytes];  // and when a < turn
};

// Eight bytes' plans in sixteen-bit lanes: the window's ends reach from
// -510 to 765.
struct HalfPlan {
    __m128i low, high, turn, from_turn, before_turn;
};

HalfPlan plan_half(__m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1), most = _mm_set1_epi16(255);
    const __m128i e = _mm_sub_epi16(b, c);
    const __m128i opposite = _mm_sub_epi16(zero, _mm_add_epi16(e, e));
    const __m128i low = _mm_add_epi16(_mm_add_epi16(c, _mm_min_epi16(e, opposite)), one);
    const __m128i high = _mm_sub_epi16(_mm_add_epi16(c, _mm_max_epi16(e, opposite)), one);
    const __m128i empty =
        _mm_or_si128(_mm_or_si128(_mm_cmpgt_epi16(low, high), _mm_cmpgt_epi16(low, most)), _mm_cmpgt_epi16(zero, high));
    const __m128i rising = _mm_cmpgt_epi16(e, zero);
    const __m128i rising_turn = _mm_sub_epi16(c, _mm_srai_epi16(e, 1));
    const __m128i falling_turn = _mm_add_epi16(_mm_add_epi16(c, _mm_srai_epi16(_mm_sub_epi16(zero, e), 1)), one);
    const __m128i turn = _mm_blendv_epi8(falling_turn, rising_turn, rising);
    // Beyond 255 no a reaches the turning point: b throughout.
    const __m128i unreached = _mm_cmpgt_epi16(turn, most);
    HalfPlan plan;
    plan.low = _mm_blendv_epi8(_mm_max_epi16(low, zero), most, empty);
    plan.high = _mm_blendv_epi8(_mm_min_epi16(high, most), zero, empty);
    plan.turn = _mm_min_epi16(_mm_max_epi16(turn, zero), most);
    plan.from_turn = _mm_blendv_epi8(_mm_blendv_epi8(c, b, unreached), b, rising);
    plan.before_turn = _mm_blendv_epi8(b, c, rising);
    return plan;
}

template <unsigned Bpp>
void plan_block(const u8* above, const u8* above_left, Plan<Bpp>& plan, u64 at) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above_left));
    const HalfPlan first = plan_half(_mm_cvtepu8_epi16(b), _mm_cvtepu8_epi16(c));
    const HalfPlan second = plan_half(_mm_cvtepu8_epi16(_mm_srli_si128(b, 8)), _mm_cvtepu8_epi16(_mm_srli_si128(c, 8)));
    const auto store = [at](u8* into, __m128i low_half, __m128i high_half) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(into + at), _mm_packus_epi16(low_half, high_half));
    };
    store(plan.low, first.low, second.low);
    store(plan.high, first.high, second.high);
    store(plan.turn, first.turn, second.turn);
    store(plan.from_turn, first.from_turn, second.from_turn);
    store(plan.before_turn, first.before_turn, second.before_turn);
}

__m128i pixel_at(const u8* at) {
    int word;
    std::memcpy(&word, at, 4);
    return _mm_cvtsi32_si128(word);
}

// a >= bound, byte by byte, unsigned.
__m128i at_least(__m128i a, __m128i bound) { return _mm_cmpeq_epi8(_mm_max_epu8(a, bound), a); }

template <unsigned Bpp>
void undo_paeth(const u8* filtered, u8* row, const u8* previous, u64 length) {
    if (length == 0) return;
    // The first pixel has no left neighbours: its predictor is b.
    for (unsigned k = 0; k < Bpp; ++k) row[k] = static_cast<u8>(filtered[k] + previous[k]);
    u8 first[4] = {};
    std::memcpy(first, row, Bpp);
    __m128i left = pixel_at(first);
    Plan<Bpp> plan;
    for (u64 start = Bpp; start < length; start += kPlanPixels * Bpp) {
        const u64 bytes = length - start < kPlanPixels * Bpp ? length - start : kPlanPixels * Bpp;
        for (u64 at = 0; at < bytes; at += 16) {
            const u64 i = start + at;
            if (i + 16 <= length) {
                plan_block(previous + i, previous + i - Bpp, plan, at);
            } else {  // the row's last bytes: read no further
                u8 above[16] = {}, above_left[16] = {};
                std::memcpy(above, previous + i, length - i);
                std::memcpy(above_left, previous + i - Bpp, length - i);
                plan_block(above, above_left, plan, at);
            }
        }
        for (u64 at = 0; at < bytes; at += Bpp) {
            const u64 i = start + at;
            u8 last[4] = {};
            if (i + 4 > length) std::memcpy(last, filtered + i, Bpp);  // an RGB row's last pixel
            const __m128i x = pixel_at(i + 4 > length ? last : filtered + i);
            const __m128i inside =
                _mm_and_si128(at_least(left, pixel_at(plan.low + at)), at_least(pixel_at(plan.high + at), left));
            const __m128i chosen = _mm_blendv_epi8(pixel_at(plan.before_turn + at), pixel_at(plan.from_turn + at),
                                                   at_least(left, pixel_at(plan.turn + at)));
            left = _mm_add_epi8(x, _mm_blendv_epi8(left, chosen, inside));
            const int word = _mm_cvtsi128_si32(left);
            std::memcpy(row + i, &word, Bpp);
        }
    }
}

}  // namespace

void undo_paeth_rgb(const u8* filtered, u8* row, const u8* previous, u64 length) {
    undo_paeth<3>(filtered, row, previous, length);
}

void undo_paeth_rgba(const u8* filtered, u8* row, const u8* previous, u64 length) {
    undo_paeth<4>(filtered, row, previous, length);
}

}  // namespace quorvane::simd_sse41
