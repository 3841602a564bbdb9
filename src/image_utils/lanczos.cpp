// Lanczos3 weights per axis, computed once per call, and the two passes.
// Output rows are filtered in bands: the vertical pass of a band's rows into
// a float intermediate, then the horizontal pass out of it. Bands are
// independent, so splitting them over the pool cannot change a single value.
#include "image_utils/lanczos.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <numbers>

#include "core/instruction_sets.hpp"
#include "core/parallel.hpp"

namespace quorvane {
namespace {

constexpr float kLobes = 3.0f;

// The sine of an angle within a few turns, by Cody and Waite's reduction to
// [-pi/2, pi/2] and its Taylor series to the 21st power (its remainder is
// below 1e-18 there), in double arithmetic rounded once to float: correctly
// rounded for every float below 3 pi. The C library's sinf is not, and
// differs between its versions (glibc rewrote it in 2.28), so the weights,
// and the thumbnails, would differ between the systems the wheels run on.
float sine(float angle) {
    constexpr double kPiHigh = 0x1.921fb54p+1;        // pi's first 27 bits: turns * kPiHigh is exact
    constexpr double kPiLow = 0x1.10b4611a62633p-29;  // the rest
    const double turns = std::round(static_cast<double>(angle) / std::numbers::pi);
    const double r = (static_cast<double>(angle) - turns * kPiHigh) - turns * kPiLow;
    const double r2 = r * r;
    double series = 0.0;
    for (int power = 21; power >= 3; power -= 2) series = (1.0 - series) * r2 / (power * (power - 1));
    const double value = r * (1.0 - series);
    return static_cast<float>(static_cast<long long>(turns) % 2 == 0 ? value : -value);
}

float sinc(float t) {
    if (t == 0.0f) return 1.0f;
    const float a = t * std::numbers::pi_v<float>;
    return sine(a) / a;
}

// The source samples [left, right) that one output sample reads.
struct Window {
    u64 left = 0;
    u64 right = 0;
};

Window window_of(float centre, float support, u64 source_length) {
    const auto length = static_cast<std::int64_t>(source_length);
    const auto left = std::clamp(static_cast<std::int64_t>(std::floor(centre - support)), std::int64_t{0}, length - 1);
    const auto right = std::clamp(static_cast<std::int64_t>(std::ceil(centre + support)), left + 1, length);
    return {static_cast<u64>(left), static_cast<u64>(right)};
}

// Output rows filtered as one band, and the width in floats of the strips
// the vertical pass cuts a band into. The source rows of one strip are
// converted to float once, stay in the first-level cache, and are read by
// every output row of the band.
constexpr u64 kBandRows = 8;
constexpr u64 kStrip = 64;
// The vertical pass leaves a band's rows side by side: for each source
// pixel, its four channels in each of the band's rows, so that one tap of
// the horizontal pass reads the same pixel of every row at once.
constexpr u64 kBandPixelFloats = kBandRows * kBytesPerPixel;

// Eight neighbouring samples of a strip, or two rows' channels of a pixel of
// the band, summed as one vector: two SSE registers, or one AVX register
// where the processor has AVX2 (on x86-64 both passes are compiled both
// ways, and the first call picks). The sums are the same either way: each
// lane adds its taps in order. A strip's 64 floats are eight such sums, a
// band pixel's 32 four, enough independent chains to keep the adders busy.
using WideLanes = float __attribute__((vector_size(8 * sizeof(float))));
constexpr u64 kStripWideLanes = kStrip / 8;
constexpr u64 kBandPixelWideLanes = kBandPixelFloats / 8;
using WideInts = int __attribute__((vector_size(8 * sizeof(int))));
using WideBytes = u8 __attribute__((vector_size(8)));

// What an output row's taps make of each byte value v: sum over k of v *
// w[k], added in order from zero exactly as the vertical pass adds them.
using ByteSums = std::array<float, 256>;

// One worker's buffers for the vertical pass of a band.
struct VerticalScratch {
    float* between;  // the band's rows side by side, source width
    float* strip;    // a strip of its source rows, as floats
    u32* changes;    // per source row and strip: rows so far whose strip differs from the one above
    ByteSums* sums;  // per output row
};

// Whether a strip's bytes in two rows are the same; a whole strip is
// compared with a size the compiler knows, in vector registers.
[[gnu::always_inline]] inline bool same_strip(const u8* a, const u8* b, u64 span) {
    return span == kStrip ? std::memcmp(a, b, kStrip) == 0 : std::memcmp(a, b, span) == 0;
}

[[gnu::always_inline]] inline void byte_sums(const float* w, u64 taps, ByteSums& sums) {
    // Eight groups of eight values at once: their chains of additions overlap.
    constexpr u64 kGroups = 8;
    for (u64 v0 = 0; v0 < sums.size(); v0 += 8 * kGroups) {
        constexpr WideLanes kLanes = {0, 1, 2, 3, 4, 5, 6, 7};
        WideLanes values[kGroups];
        WideLanes sum[kGroups] = {};
        for (u64 g = 0; g < kGroups; ++g) values[g] = kLanes + static_cast<float>(v0 + 8 * g);
        for (u64 k = 0; k < taps; ++k) {
            for (u64 g = 0; g < kGroups; ++g) sum[g] += values[g] * w[k];
        }
        std::memcpy(sums.data() + v0, sum, sizeof sum);
    }
}

// The vertical pass of output rows [y0, y1) into `between`, the rows side by
// side: sample x of row y is sum over k of source[first + k][x] * w[k], the
// taps added in order. The band is cut into strips of columns;
// where every row an output row reads repeats the first within a strip (a
// page's background, its margins), each sample v gives v times the weights,
// looked up in that output row's byte sums, made once a band when first
// needed; the strip's other output rows sum its source rows converted to
// floats. Inlined into each variant below, so that it is compiled for that
// variant's processor.
[[gnu::always_inline]] inline void vertical_band(const u8* source, u64 stride, const AxisTaps& rows, u64 y0, u64 y1,
                                                 const VerticalScratch& scratch) {
    const u64 top = rows.first[y0];
    const u64 bottom = rows.first[y1 - 1] + rows.taps;
    const u64 strips = (stride + kStrip - 1) / kStrip;
    bool sums_made[kBandRows] = {};
    // Which strips of each source row repeat the row above, found row after
    // row so that the source is read in the order it lies in memory; a row
    // the same as the one above throughout is found by one compare.
    for (u64 r = top; r < bottom; ++r) {
        const u8* in = source + r * stride;
        u32* marks = scratch.changes + (r - top) * strips;
        if (r != top && std::memcmp(in, in - stride, stride) == 0) {
            std::memcpy(marks, marks - strips, strips * sizeof *marks);
            continue;
        }
        for (u64 s = 0; s < strips; ++s) {
            const u64 x0 = s * kStrip;
            const u64 span = std::min(kStrip, stride - x0);
            const u32 before = r == top ? 0 : (marks - strips)[s];
            marks[s] = before + (r == top || !same_strip(in + x0, in + x0 - stride, span) ? 1 : 0);
        }
    }
    for (u64 s = 0; s < strips; ++s) {
        // The last strip may be short; the lanes beyond it are computed from
        // stale floats and never stored.
        const u64 x0 = s * kStrip;
        const u64 span = std::min(kStrip, stride - x0);
        // Which output rows read one repeated row; only the rows that the
        // others sum are converted to floats.
        bool repeated[kBandRows];
        u64 convert_begin = bottom;
        u64 convert_end = top;
        for (u64 y = y0; y < y1; ++y) {
            const u32* changed = scratch.changes + (rows.first[y] - top) * strips + s;
            repeated[y - y0] = changed[(rows.taps - 1) * strips] == changed[0];
            if (repeated[y - y0]) continue;
            convert_begin = std::min(convert_begin, rows.first[y]);
            convert_end = rows.first[y] + rows.taps;
        }
        for (u64 r = convert_begin; r < convert_end; ++r) {
            const u8* in = source + r * stride + x0;
            float* converted = scratch.strip + (r - top) * kStrip;
            for (u64 j = 0; j < span; ++j) converted[j] = static_cast<float>(in[j]);
        }
        for (u64 y = y0; y < y1; ++y) {
            const u64 first_row = rows.first[y];
            const float* w = rows.weights.data() + y * rows.taps;
            // Pixel p of the strip goes to out + p * kBandPixelFloats.
            float* out = scratch.between + x0 * kBandRows + (y - y0) * kBytesPerPixel;
            if (repeated[y - y0]) {
                ByteSums& sums = scratch.sums[y - y0];
                if (!sums_made[y - y0]) byte_sums(w, rows.taps, sums);
                sums_made[y - y0] = true;
                const u8* in = source + first_row * stride + x0;
                for (u64 p = 0; p < span / kBytesPerPixel; ++p) {
                    for (u64 c = 0; c < kBytesPerPixel; ++c) {
                        out[p * kBandPixelFloats + c] = sums[in[p * kBytesPerPixel + c]];
                    }
                }
                continue;
            }
            const float* first = scratch.strip + (first_row - top) * kStrip;
            WideLanes sum[kStripWideLanes] = {};
            for (u64 k = 0; k < rows.taps; ++k) {
                for (u64 v = 0; v < kStripWideLanes; ++v) {
                    WideLanes samples;
                    std::memcpy(&samples, first + k * kStrip + 8 * v, sizeof samples);
                    sum[v] += samples * w[k];
                }
            }
            for (u64 p = 0; p < span / kBytesPerPixel; ++p) {
                std::memcpy(out + p * kBandPixelFloats, reinterpret_cast<const float*>(sum) + p * kBytesPerPixel,
                            kBytesPerPixel * sizeof(float));
            }
        }
    }
}

// Eight values clamped to [0, 255] and rounded half away from zero, as
// bytes; for a non-negative value that is truncation plus one when the exact
// fraction is at least 0.5.
[[gnu::always_inline]] inline void store_bytes(const WideLanes& value, u8* out) {
    const WideLanes zero = {};
    const WideLanes top = zero + 255.0f;
    WideLanes clamped = value < zero ? zero : value;
    clamped = top < clamped ? top : clamped;
    const WideInts whole = __builtin_convertvector(clamped, WideInts);
    const WideInts round_up = clamped - __builtin_convertvector(whole, WideLanes) >= zero + 0.5f;
    const WideBytes bytes = __builtin_convertvector(whole - round_up, WideBytes);  // a true comparison is -1
    std::memcpy(out, &bytes, sizeof bytes);
}

// Output pixels filtered together: their sums are independent, so one
// pixel's additions need not wait for each other.
constexpr u64 kGroup = 2;

// The horizontal pass of output pixels [o, o + Count) of the band's `rows`
// rows: for every row at once, the sum over k of the band's pixel first + k
// times w[k], the taps added in order.
template <u64 Count>
[[gnu::always_inline]] inline void horizontal_pixels(const float* between, const AxisTaps& columns, u64 o, u64 rows,
                                                     u8* target, u64 target_stride) {
    const u64 taps = columns.taps;
    WideLanes sum[Count][kBandPixelWideLanes] = {};
    for (u64 k = 0; k < taps; ++k) {
        for (u64 g = 0; g < Count; ++g) {
            const float* pixel = between + (columns.first[o + g] + k) * kBandPixelFloats;
            const float w = columns.weights[(o + g) * taps + k];
            for (u64 v = 0; v < kBandPixelWideLanes; ++v) {
                WideLanes samples;
                std::memcpy(&samples, pixel + 8 * v, sizeof samples);
                sum[g][v] += samples * w;
            }
        }
    }
    for (u64 g = 0; g < Count; ++g) {
        u8 bytes[kBandPixelFloats];
        for (u64 v = 0; v < kBandPixelWideLanes; ++v) store_bytes(sum[g][v], bytes + 8 * v);
        for (u64 r = 0; r < rows; ++r) {
            std::memcpy(target + r * target_stride + (o + g) * kBytesPerPixel, bytes + r * kBytesPerPixel,
                        kBytesPerPixel);
        }
    }
}

// Both passes of output rows [y0, y1) into the target's rows from y0 on.
// Rows of the band beyond y1 hold stale floats; their sums are never stored.
[[gnu::always_inline]] inline void filter_band(const u8* source, u64 stride, const AxisTaps& rows,
                                               const AxisTaps& columns, u64 y0, u64 y1, const VerticalScratch& scratch,
                                               u8* target, u64 width) {
    vertical_band(source, stride, rows, y0, y1, scratch);
    const u64 target_stride = width * kBytesPerPixel;
    u8* out = target + y0 * target_stride;
    u64 o = 0;
    for (; o + kGroup <= width; o += kGroup) {
        horizontal_pixels<kGroup>(scratch.between, columns, o, y1 - y0, out, target_stride);
    }
    for (; o < width; ++o) horizontal_pixels<1>(scratch.between, columns, o, y1 - y0, out, target_stride);
}

using FilterBand = void (*)(const u8*, u64, const AxisTaps&, const AxisTaps&, u64, u64, const VerticalScratch&, u8*,
                            u64);

void filter_band_baseline(const u8* source, u64 stride, const AxisTaps& rows, const AxisTaps& columns, u64 y0, u64 y1,
                          const VerticalScratch& scratch, u8* target, u64 width) {
    filter_band(source, stride, rows, columns, y0, y1, scratch, target, width);
}

#if defined(__x86_64__)
[[gnu::target("avx2")]] void filter_band_avx2(const u8* source, u64 stride, const AxisTaps& rows,
                                              const AxisTaps& columns, u64 y0, u64 y1, const VerticalScratch& scratch,
                                              u8* target, u64 width) {
    filter_band(source, stride, rows, columns, y0, y1, scratch, target, width);
}
#endif

// Chosen by what the processor reports (cpuid) rather than by target_clones,
// whose resolver needs libgcc's __cpu_model (absent from Zig's runtime) and
// under clang leaves calls of a clone into libc++ unresolved.
FilterBand filter_band_for_this_processor() {
#if defined(__x86_64__)
    if (instruction_sets().avx2) return filter_band_avx2;
#endif
    return filter_band_baseline;
}

}  // namespace

float lanczos3(float x) {
    if (std::fabs(x) >= kLobes) return 0.0f;
    return sinc(x) * sinc(x / kLobes);
}

AxisTaps lanczos3_taps(u64 source_length, u64 target_length) {
    const float ratio = static_cast<float>(source_length) / static_cast<float>(target_length);
    const float scale = std::max(ratio, 1.0f);  // a downscale widens the filter
    const float support = kLobes * scale;
    const auto centre_of = [&](u64 o) { return (static_cast<float>(o) + 0.5f) * ratio; };

    AxisTaps axis;
    for (u64 o = 0; o < target_length; ++o) {
        const Window window = window_of(centre_of(o), support, source_length);
        axis.taps = std::max(axis.taps, window.right - window.left);
    }
    axis.first.resize(target_length);
    axis.weights.assign(target_length * axis.taps, 0.0f);
    for (u64 o = 0; o < target_length; ++o) {
        const float centre = centre_of(o);
        const Window window = window_of(centre, support, source_length);
        // Moved left where a full-width window would run past the last sample.
        const u64 first = std::min(window.left, source_length - axis.taps);
        float* weights = axis.weights.data() + o * axis.taps + (window.left - first);
        // The kernel is centred on a sample's left edge, hence the half step.
        const float origin = centre - 0.5f;

        float sum = 0.0f;
        for (u64 i = window.left; i < window.right; ++i) {
            const float weight = lanczos3((static_cast<float>(i) - origin) / scale);
            weights[i - window.left] = weight;
            sum += weight;
        }
        for (u64 k = 0; k < window.right - window.left; ++k) weights[k] /= sum;
        axis.first[o] = first;
    }
    return axis;
}

std::shared_ptr<const AxisTaps> lanczos3_taps_kept(u64 source_length, u64 target_length) {
    // A report makes four thumbnails of one size a pair, and a suite's
    // screenshots share a few sizes; the weights depend on the two lengths
    // alone, so small sets of recent lengths are kept, larger ones made anew.
    struct Kept {
        u64 source_length;
        u64 target_length;
        std::shared_ptr<const AxisTaps> taps;
    };
    struct KeptTaps {
        std::mutex mutex;
        std::deque<Kept> entries;
    };
    constexpr u64 kKept = 8;
    constexpr u64 kMostWeightsKept = u64{1} << 16;
    // Never destroyed: a worker of the pool may resize while the process exits.
    static KeptTaps& kept = *new KeptTaps;
    {
        const std::scoped_lock lock(kept.mutex);
        for (const Kept& entry : kept.entries) {
            if (entry.source_length == source_length && entry.target_length == target_length) return entry.taps;
        }
    }
    auto taps = std::make_shared<const AxisTaps>(lanczos3_taps(source_length, target_length));
    if (taps->weights.size() <= kMostWeightsKept) {
        const std::scoped_lock lock(kept.mutex);
        if (kept.entries.size() == kKept) kept.entries.pop_front();
        kept.entries.push_back({source_length, target_length, taps});
    }
    return taps;
}

Bytes resize_lanczos3(ByteView rgba, u64 source_width, u64 source_height, u64 width, u64 height, u64 kept_rows) {
    const std::shared_ptr<const AxisTaps> row_taps = lanczos3_taps_kept(source_height, height);
    const std::shared_ptr<const AxisTaps> column_taps = lanczos3_taps_kept(source_width, width);
    const AxisTaps& rows = *row_taps;
    const AxisTaps& columns = *column_taps;
    const u64 source_stride = source_width * kBytesPerPixel;
    const u64 target_stride = width * kBytesPerPixel;

    Bytes target(kept_rows * target_stride);
    static const FilterBand filter = filter_band_for_this_processor();
    const auto resize_bands = [&](u64 begin, u64 end) {
        std::vector<float> between(kBandRows * source_stride);
        std::vector<float> strip;
        std::vector<u32> changes;
        std::vector<ByteSums> sums(kBandRows);
        for (u64 band = begin; band < end; ++band) {
            const u64 y0 = band * kBandRows;
            const u64 y1 = std::min(y0 + kBandRows, kept_rows);
            const u64 source_rows = rows.first[y1 - 1] + rows.taps - rows.first[y0];
            strip.resize(source_rows * kStrip);
            changes.resize(source_rows * ((source_stride + kStrip - 1) / kStrip));
            filter(rgba.data(), source_stride, rows, columns, y0, y1,
                   {between.data(), strip.data(), changes.data(), sums.data()}, target.data(), width);
        }
    };
    const u64 bands = (kept_rows + kBandRows - 1) / kBandRows;
    parallel_ranges_if(worth_splitting(source_width * source_height), bands, 1, resize_bands);
    return target;
}

}  // namespace quorvane
