// The vector path of the row rule, written once with the compiler's generic
// vectors and built once per instruction set: row_rule_sse41.cpp,
// row_rule_avx2.cpp and row_rule_avx512.cpp define QUORVANE_SIMD_NAMESPACE
// and include this file, each built with its set enabled. Everything here
// stays inside the including file except classify_row, and nothing here calls
// an inline function or a template defined elsewhere: a copy of one compiled
// here could be the copy the linker keeps, and would then run on processors
// without the set.
//
// Each double is the scalar path's: the same operations in the same order,
// lane by lane (the build never fuses a multiply and an add). A row is taken
// a block of sixteen pixels at a time for the word comparison and the colour
// delta; the pixels over the limit then take the anti-aliasing test a full
// vector of them at a time, gathered from along the row, first in the
// baseline, then in the current image for those it did not settle. Blocks at
// the image's border take the scalar test. The grey of unchanged pixels is
// drawn a vector of them at a time.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "pixel_diff/antialiased.hpp"
#include "pixel_diff/color_delta.hpp"
#include "pixel_diff/gray.hpp"
#include "pixel_diff/row_rule_paths.hpp"

namespace quorvane::QUORVANE_SIMD_NAMESPACE {
namespace {

// Vectors of the set's full width: kLanes doubles, or kLanes pixel words
// converted one double a lane, or kWords pixel words compared at once.
#if defined(__AVX512F__)
constexpr unsigned kVectorBytes = 64;
#elif defined(__AVX__)
constexpr unsigned kVectorBytes = 32;
#else
constexpr unsigned kVectorBytes = 16;
#endif
constexpr unsigned kLanes = kVectorBytes / sizeof(double);
constexpr unsigned kWords = kVectorBytes / sizeof(u32);
constexpr unsigned kAllLanes = (1u << kLanes) - 1;
typedef double F64 __attribute__((vector_size(kVectorBytes)));
typedef decltype(F64{} < F64{}) I64;  // what comparing doubles gives
typedef unsigned LaneWords __attribute__((vector_size(kLanes * sizeof(u32))));
typedef int LaneInts __attribute__((vector_size(kLanes * sizeof(u32))));
typedef unsigned Words __attribute__((vector_size(kVectorBytes)));
typedef int Ints __attribute__((vector_size(kVectorBytes)));

F64 splat(double v) { return F64{} + v; }

template <class Vector>
Vector load(const u32* words) {
    Vector v;
    __builtin_memcpy(&v, words, sizeof v);
    return v;
}

// Bit j set when lane j of a comparison's result is set.
unsigned lane_bits(I64 mask) {
#if defined(__AVX512F__)
    return _mm512_movepi64_mask(reinterpret_cast<__m512i>(mask));
#elif defined(__AVX__)
    return unsigned(_mm256_movemask_pd(reinterpret_cast<__m256d>(mask)));
#else
    return unsigned(_mm_movemask_pd(reinterpret_cast<__m128d>(mask)));
#endif
}

unsigned lane_bits(Ints mask) {
#if defined(__AVX512F__)
    return _mm512_movepi32_mask(reinterpret_cast<__m512i>(mask));
#elif defined(__AVX__)
    return unsigned(_mm256_movemask_ps(reinterpret_cast<__m256>(mask)));
#else
    return unsigned(_mm_movemask_ps(reinterpret_cast<__m128>(mask)));
#endif
}

unsigned lane_bits(LaneInts mask) {
#if defined(__AVX512F__)
    return unsigned(_mm256_movemask_ps(reinterpret_cast<__m256>(mask)));
#elif defined(__AVX__)
    return unsigned(_mm_movemask_ps(reinterpret_cast<__m128>(mask)));
#else
    return lane_bits(__builtin_convertvector(mask, I64));
#endif
}

F64 floor_lanes(F64 v) {
#if defined(__AVX512F__)
    const auto whole = reinterpret_cast<__m512d>(v);
    return reinterpret_cast<F64>(
        _mm512_mask_roundscale_pd(whole, 0xff, whole, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
#elif defined(__AVX__)
    return reinterpret_cast<F64>(_mm256_floor_pd(reinterpret_cast<__m256d>(v)));
#else
    return reinterpret_cast<F64>(_mm_floor_pd(reinterpret_cast<__m128d>(v)));
#endif
}

// The words row[columns[j]], lane by lane.
LaneWords gather(const u32* row, LaneInts columns) {
#if defined(__AVX512F__)
    return reinterpret_cast<LaneWords>(
        _mm256_i32gather_epi32(reinterpret_cast<const int*>(row), reinterpret_cast<__m256i>(columns), 4));
#elif defined(__AVX2__)
    return reinterpret_cast<LaneWords>(
        _mm_i32gather_epi32(reinterpret_cast<const int*>(row), reinterpret_cast<__m128i>(columns), 4));
#else
    return LaneWords{row[columns[0]], row[columns[1]]};
#endif
}

// Bit j set where the words first[j] and second[j] of a block differ.
unsigned differing_words(const u32* first, const u32* second) {
#if defined(__AVX512F__)
    return _mm512_cmpneq_epi32_mask(load<__m512i>(first), load<__m512i>(second));
#else
    unsigned bits = 0;
    for (unsigned at = 0; at < kBlockPixels; at += kWords) {
        bits |= lane_bits(reinterpret_cast<Ints>(load<Words>(first + at) != load<Words>(second + at))) << at;
    }
    return bits;
#endif
}

// Channel values below 256, so the signed conversion is exact.
F64 to_double(LaneInts v) { return __builtin_convertvector(v, F64); }
LaneInts channel(LaneWords words, unsigned shift) { return reinterpret_cast<LaneInts>((words >> shift) & 0xffu); }

bool all_opaque(LaneWords alpha_and) {
    return lane_bits(reinterpret_cast<LaneInts>(alpha_and >> 24 == 0xffu)) == kAllLanes;
}

struct Channels {
    F64 r, g, b, a;
};

Channels channels(LaneWords words) {
    return {to_double(channel(words, 0)), to_double(channel(words, 8)), to_double(channel(words, 16)),
            to_double(channel(words, 24))};
}

struct Deltas {
    F64 r, g, b;
};

// The background of a non-opaque pair at each lane's byte offset. Offsets
// below 2^53 are exact as doubles; offsets of pixels are multiples of four, so
// red's background is the low one.
struct Background {
    F64 r, g, b;
};

I64 floored_quotient_is_odd(F64 offsets, double divisor) {
    const F64 quotient = floor_lanes(offsets / splat(divisor));
    const F64 half = quotient * splat(0.5);  // exact; a fraction only when the quotient is odd
    return floor_lanes(half) != half;
}

Background background_at(F64 offsets) {
    using namespace color;
    const F64 low = splat(kBackgroundLow), high = splat(kBackgroundHigh);
    return {low, floored_quotient_is_odd(offsets, kGolden) ? high : low,
            floored_quotient_is_odd(offsets, kGoldenSquared) ? high : low};
}

F64 blended(F64 c1, F64 a1, F64 c2, F64 a2, F64 background, F64 da) {
    return ((c1 * a1 - c2 * a2) - background * da) / splat(color::kAlphaScale);
}

// Two opaque pixels: the byte differences, exact in integers.
Deltas opaque_deltas(LaneWords p, LaneWords q) {
    return {to_double(channel(p, 0) - channel(q, 0)), to_double(channel(p, 8) - channel(q, 8)),
            to_double(channel(p, 16) - channel(q, 16))};
}

// The blend gives exactly the byte differences for opaque pixels too (255 x
// and 255 y are exact, the background term is +0 and the division exact), so
// a vector with any translucent lane takes it for all lanes.
Deltas blended_deltas(const Channels& p, const Channels& q, const Background& background) {
    const F64 da = p.a - q.a;
    return {blended(p.r, p.a, q.r, q.a, background.r, da), blended(p.g, p.a, q.g, q.a, background.g, da),
            blended(p.b, p.a, q.b, q.a, background.b, da)};
}

F64 brightness(const Deltas& d) {
    using namespace color;
    return (d.r * splat(kYr) + d.g * splat(kYg)) + d.b * splat(kYb);
}

struct ColourTest {
    unsigned over;      // |colour delta| above the limit
    unsigned brighter;  // the baseline pixel the brighter: a negative delta
};

// kLanes consecutive pixels of the pair, the first at pixel index `first`.
ColourTest colour_test(LaneWords baseline, LaneWords current, u64 first, double max_delta) {
    using namespace color;
    Deltas d;
    if (all_opaque(baseline & current)) {
        d = opaque_deltas(baseline, current);
    } else {
        F64 offsets = splat(static_cast<double>(first * kBytesPerPixel));
        for (unsigned j = 0; j < kLanes; ++j) offsets[j] += static_cast<double>(j * kBytesPerPixel);
        d = blended_deltas(channels(baseline), channels(current), background_at(offsets));
    }
    const F64 y = brightness(d);
    const F64 i = (d.r * splat(kIr) - d.g * splat(kIg)) - d.b * splat(kIb);
    const F64 q = (d.r * splat(kQr) - d.g * splat(kQg)) + d.b * splat(kQb);
    const F64 delta = (splat(kWeightY) * y * y + splat(kWeightI) * i * i) + splat(kWeightQ) * q * q;
    // The signed delta is -delta or delta, so its magnitude is delta itself.
    return {lane_bits(delta > splat(max_delta)), lane_bits(y > splat(0.0))};
}

// The neighbours in visiting order: column x - 1, then x, then x + 1, each
// from row y - 1 down to y + 1, the centre skipped.
constexpr int kNeighbourDx[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
constexpr int kNeighbourDy[8] = {-1, 0, 1, -1, 1, -1, 0, 1};

struct Area {
    u64 width, height;
};

// has_many_siblings, its common case here: a pixel away from the border,
// whose rows are read four words at a time. The row below is read ending at
// the pixel's right neighbour, since one word further may lie past the image.
bool many_siblings(const u32* words, u64 x, u64 y, Area area) {
    if (x == 0 || y == 0 || x + 1 == area.width || y + 1 == area.height) {
        return has_many_siblings(words, x, y, area.width, area.height);
    }
    const u32* centre = words + y * area.width + x;
    const __m128i value = _mm_set1_epi32(static_cast<int>(*centre));
    const auto equal = [&](const u32* first) {
        return unsigned(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(load<__m128i>(first), value))));
    };
    const unsigned above = equal(centre - area.width - 1) & 0b111u;   // x - 1, x, x + 1
    const unsigned beside = equal(centre - 1) & 0b101u;               // x - 1, x + 1
    const unsigned below = equal(centre + area.width - 2) & 0b1110u;  // x - 1, x, x + 1
    return __builtin_popcount(above) + __builtin_popcount(beside) + __builtin_popcount(below) > 2;
}

bool flat_in_both(const u32* own, const u32* other, u64 x, u64 y, Area area) {
    return many_siblings(own, x, y, area) && many_siblings(other, x, y, area);
}

// The 16 pixels from `first` on whose words equal those of three or more of
// their neighbours, which settles the test for them: three equal words are
// three zeroes. The pixels and their neighbours lie inside the image.
unsigned with_equal_neighbours(const u32* words, u64 first, Area area) {
    const auto stride = static_cast<std::ptrdiff_t>(area.width);
    unsigned bits = 0;
    for (unsigned at = 0; at < kBlockPixels; at += kWords) {
        const u32* centre = words + first + at;
        const Words c = load<Words>(centre);
        Ints equal{};  // minus the count of equal neighbours
        for (int s = 0; s < 8; ++s) {
            equal += reinterpret_cast<Ints>(load<Words>(centre + kNeighbourDy[s] * stride + kNeighbourDx[s]) == c);
        }
        bits |= lane_bits(equal <= -3) << at;
    }
    return bits;
}

// The index of the first of the eight masks that has bit j.
int first_with(const unsigned (&masks)[8], unsigned j) {
    int s = 0;
    while ((masks[s] >> j & 1u) == 0) ++s;
    return s;
}

// The anti-aliasing test for kLanes centres of row y at `columns`, all of
// them and their neighbours inside the image; bit j set when centre j, among
// the `wanted` ones, lies on an edge. Every neighbour's brightness difference
// is computed, so "more than two zeroes at any point" is "more than two in
// all"; min and max start at 0 and only move away from it, so "min != 0" is
// "min < 0"; and the extreme that strict comparisons keep is the first
// neighbour in visiting order with the extreme value.
unsigned edge_lanes(const u32* own, const u32* other, LaneInts columns, u64 y, Area area, unsigned wanted) {
    const u32* row = own + y * area.width;
    const auto stride = static_cast<std::ptrdiff_t>(area.width);
    const LaneWords c = gather(row, columns);
    LaneWords neighbours[8];
    LaneWords alpha_and = c;
    for (int s = 0; s < 8; ++s) {
        neighbours[s] = gather(row + kNeighbourDy[s] * stride + kNeighbourDx[s], columns);
        alpha_and &= neighbours[s];
    }
    F64 d[8];
    if (all_opaque(alpha_and)) {
        for (int s = 0; s < 8; ++s) d[s] = brightness(opaque_deltas(c, neighbours[s]));
    } else {
        // Blended against the background of the centre's offset.
        const F64 offsets = splat(static_cast<double>(y * area.width * kBytesPerPixel)) +
                            to_double(columns) * splat(static_cast<double>(kBytesPerPixel));
        const Background background = background_at(offsets);
        const Channels centre = channels(c);
        for (int s = 0; s < 8; ++s) d[s] = brightness(blended_deltas(centre, channels(neighbours[s]), background));
    }
    I64 zeroes{};  // minus the count of zeroes
    F64 min{}, max{};
    for (int s = 0; s < 8; ++s) {
        zeroes += d[s] == splat(0.0);
        min = d[s] < min ? d[s] : min;
        max = d[s] > max ? d[s] : max;
    }
    wanted &= lane_bits((zeroes >= -2) & (min < splat(0.0)) & (max > splat(0.0)));
    if (wanted == 0) return 0;
    unsigned at_min[8], at_max[8];
    for (int s = 0; s < 8; ++s) {
        at_min[s] = lane_bits(d[s] == min);
        at_max[s] = lane_bits(d[s] == max);
    }
    unsigned edges = 0;
    for (; wanted != 0; wanted &= wanted - 1) {
        const unsigned j = static_cast<unsigned>(__builtin_ctz(wanted));
        const int low = first_with(at_min, j), high = first_with(at_max, j);
        const auto x = static_cast<u64>(columns[j]);
        if (flat_in_both(own, other, x + kNeighbourDx[low], y + kNeighbourDy[low], area) ||
            flat_in_both(own, other, x + kNeighbourDx[high], y + kNeighbourDy[high], area)) {
            edges |= 1u << j;
        }
    }
    return edges;
}

// Pixels a row is taken by at a time, and the largest width whose columns
// fit the gathers' 32-bit lanes.
constexpr u64 kChunkPixels = 1024;
constexpr u64 kMaxWidth = INT32_MAX;

// The pixels of a chunk that still await the anti-aliasing test in one of
// the images: a block's index in the chunk's output and a lane, as
// block * 16 + lane, in ascending order.
struct Pending {
    u32 entries[kChunkPixels];
    unsigned count = 0;

    void add(unsigned block, unsigned lanes) {
        for (; lanes != 0; lanes &= lanes - 1) entries[count++] = block * kBlockPixels + unsigned(__builtin_ctz(lanes));
    }
};

// Runs the test in `own` for every pending pixel, a vector at a time, and
// marks those on an edge as anti-aliased in their blocks.
void test_pending(const Pending& pending, const u32* own, const u32* other, u64 y, Area area, ClassifiedBlock* blocks) {
    for (unsigned first = 0; first < pending.count; first += kLanes) {
        const unsigned lanes = pending.count - first < kLanes ? pending.count - first : kLanes;
        LaneInts columns{};
        for (unsigned j = 0; j < kLanes; ++j) {
            const u32 entry = pending.entries[first + (j < lanes ? j : 0)];
            columns[j] = static_cast<int>(blocks[entry / kBlockPixels].x + entry % kBlockPixels);
        }
        for (unsigned edges = edge_lanes(own, other, columns, y, area, (1u << lanes) - 1); edges != 0;
             edges &= edges - 1) {
            const u32 entry = pending.entries[first + unsigned(__builtin_ctz(edges))];
            blocks[entry / kBlockPixels].anti_aliased |= 1u << (entry % kBlockPixels);
        }
    }
}

// Classifies the pixels [begin, end) of row y, at most a chunk, into `out`
// as classify_row does; returns the number of blocks written.
u64 classify_chunk(const PairPixels& pair, u64 y, u64 begin, u64 end, ClassifiedBlock* out) {
    const Area area{pair.width, pair.height};
    const bool inner_row = y >= 1 && y + 1 < pair.height;
    Pending in_baseline, in_current;
    unsigned open_in_current[kChunkPixels / kBlockPixels + 1];
    unsigned blocks = 0;
    for (u64 x = begin; x < end; x += kBlockPixels) {
        u64 block_x = x;
        unsigned lanes = 0xffffu;
        if (x + kBlockPixels > end) {
            // A block reaching past the span is moved back to end at the
            // span's end, or the row's, and keeps its lanes from x to the end.
            block_x = x + kBlockPixels <= pair.width ? x : pair.width - kBlockPixels;
            lanes = ((1u << (end - block_x)) - 1) & ~((1u << (x - block_x)) - 1);
        }
        const u64 start = y * pair.width + block_x;
        const u32* baseline = pair.baseline_words + start;
        const u32* current = pair.current_words + start;
        const unsigned differing = differing_words(baseline, current) & lanes;
        if (differing == 0) continue;
        unsigned over = 0, brighter = 0;
        for (unsigned at = 0; at < kBlockPixels; at += kLanes) {
            if ((differing >> at & kAllLanes) == 0) continue;
            const ColourTest test =
                colour_test(load<LaneWords>(baseline + at), load<LaneWords>(current + at), start + at, pair.max_delta);
            over |= test.over << at;
            brighter |= test.brighter << at;
        }
        const unsigned candidates = over & differing;
        if (candidates == 0) continue;
        ClassifiedBlock& block = out[blocks];
        block = {block_x, candidates, 0, brighter & candidates};
        if (!pair.include_aa) {
            if (inner_row && block_x >= 1 && block_x + kBlockPixels < pair.width) {
                const unsigned open_in_baseline = candidates & ~with_equal_neighbours(pair.baseline_words, start, area);
                in_baseline.add(blocks, open_in_baseline);
                open_in_current[blocks] = candidates & ~with_equal_neighbours(pair.current_words, start, area);
            } else {
                // A block at the border: the scalar test, pixel by pixel.
                for (unsigned bits = candidates; bits != 0; bits &= bits - 1) {
                    const u64 at = block_x + unsigned(__builtin_ctz(bits));
                    if (antialiased(pair.baseline, at, y, pair.width, pair.height, pair.baseline_words,
                                    pair.current_words) ||
                        antialiased(pair.current, at, y, pair.width, pair.height, pair.current_words,
                                    pair.baseline_words)) {
                        block.anti_aliased |= 1u << (at - block_x);
                    }
                }
                open_in_current[blocks] = 0;
            }
        }
        ++blocks;
    }
    if (!pair.include_aa) {
        test_pending(in_baseline, pair.baseline_words, pair.current_words, y, area, out);
        for (unsigned b = 0; b < blocks; ++b) in_current.add(b, open_in_current[b] & ~out[b].anti_aliased);
        test_pending(in_current, pair.current_words, pair.baseline_words, y, area, out);
        for (unsigned b = 0; b < blocks; ++b) {
            out[b].changed &= ~out[b].anti_aliased;
            out[b].darker &= out[b].changed;
        }
    }
    return blocks;
}

}  // namespace

// gray_pixel of kLanes pixels at once; a whole vector of opaque pixels
// multiplies by their opacity 255 / 255, exactly 1, without dividing.
void draw_gray(const u8* source, u8* out, u64 begin, u64 end, double alpha) {
    using namespace color;
    u64 i = begin;
    for (; i + kLanes <= end; i += kLanes) {
        LaneWords words;
        __builtin_memcpy(&words, source + i * kBytesPerPixel, sizeof words);
        const Channels c = channels(words);
        const F64 y = (c.r * splat(kYr) + c.g * splat(kYg)) + c.b * splat(kYb);
        const F64 opacity = all_opaque(words) ? splat(1.0) : c.a / splat(kAlphaScale);
        F64 v = splat(255.0) + opacity * (splat(alpha) * (y - splat(255.0)));
        v = v < splat(0.0) ? splat(0.0) : splat(255.0) < v ? splat(255.0) : v;
        const auto level = reinterpret_cast<LaneWords>(__builtin_convertvector(v, LaneInts));
        const LaneWords gray = level * 0x010101u | 0xff000000u;
        __builtin_memcpy(out + i * kBytesPerPixel, &gray, sizeof gray);
    }
    draw_gray_pixels_scalar(source, out, i, end, alpha);
}

u64 classify_row(const PairPixels& pair, u64 y, u64 begin, u64 end, ClassifiedBlock* out) {
    if (pair.width < kBlockPixels || pair.width > kMaxWidth) return classify_row_scalar(pair, y, begin, end, out);
    u64 blocks = 0;
    for (u64 chunk = begin; chunk < end; chunk += kChunkPixels) {
        blocks += classify_chunk(pair, y, chunk, chunk + kChunkPixels < end ? chunk + kChunkPixels : end, out + blocks);
    }
    return blocks;
}

}  // namespace quorvane::QUORVANE_SIMD_NAMESPACE
