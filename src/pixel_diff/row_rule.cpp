#include "pixel_diff/row_rule.hpp"

#include <vector>

#include "pixel_diff/classify.hpp"
#include "pixel_diff/row_rule_paths.hpp"

#if !defined(QUORVANE_SCALAR_ONLY)
#include <cpuid.h>
#endif

namespace quorvane {
namespace {

#if !defined(QUORVANE_SCALAR_ONLY)

struct Features {
    bool sse41 = false, avx2 = false, avx512 = false;
};

// The instruction sets the processor has and the system saves the registers
// of: an AVX register the kernel does not preserve must not be used.
Features processor_features() {
    Features features;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return features;
    features.sse41 = (c & bit_SSE4_1) != 0;
    if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return features;
    unsigned saved_low = 0, saved_high = 0;
    __asm__("xgetbv" : "=a"(saved_low), "=d"(saved_high) : "c"(0));
    constexpr unsigned kVectorState = 0x6, kWideVectorState = 0xe6;  // XMM and YMM; also opmask and ZMM
    if ((saved_low & kVectorState) != kVectorState || __get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return features;
    features.avx2 = (b & bit_AVX2) != 0;
    constexpr unsigned kAvx512 = bit_AVX512F | bit_AVX512DQ | bit_AVX512BW | bit_AVX512VL;
    features.avx512 = (saved_low & kWideVectorState) == kWideVectorState && (b & kAvx512) == kAvx512;
    return features;
}

#endif

std::vector<RowRulePath> detect_paths() {
    std::vector<RowRulePath> paths{{"scalar", classify_row_scalar}};
#if !defined(QUORVANE_SCALAR_ONLY)
    const Features features = processor_features();
    if (features.sse41) paths.push_back({"sse4.1", simd_sse41::classify_row});
    if (features.sse41 && features.avx2) paths.push_back({"avx2", simd_avx2::classify_row});
    if (features.sse41 && features.avx2 && features.avx512) paths.push_back({"avx512", simd_avx512::classify_row});
#endif
    return paths;
}

}  // namespace

std::span<const RowRulePath> row_rule_paths() {
    static const std::vector<RowRulePath> paths = detect_paths();
    return paths;
}

RowRule fastest_row_rule() {
    static const RowRule fastest = row_rule_paths().back().classify;
    return fastest;
}

u64 classify_row_scalar(const PairPixels& pair, u64 y, u64 begin, u64 end, ClassifiedBlock* out) {
    const u32* baseline_words = pair.baseline_words + y * pair.width;
    const u32* current_words = pair.current_words + y * pair.width;
    u64 blocks = 0;
    for (u64 x = begin; x < end; x += kBlockPixels) {
        const u64 block_end = x + kBlockPixels < end ? x + kBlockPixels : end;
        u32 differing_bits = 0;
        for (u64 at = x; at < block_end; ++at) differing_bits |= baseline_words[at] ^ current_words[at];
        if (differing_bits == 0) continue;
        ClassifiedBlock block{x, 0, 0, 0};
        for (u64 at = x; at < block_end; ++at) {
            if (baseline_words[at] == current_words[at]) continue;
            const ClassifiedPixel pixel =
                classify_pixel(pair.baseline, pair.current, pair.baseline_words, pair.current_words, at, y, pair.width,
                               pair.height, pair.max_delta, pair.include_aa);
            const u32 bit = u32{1} << (at - x);
            if (pixel.kind == PixelClass::AntiAliased) block.anti_aliased |= bit;
            if (pixel.kind != PixelClass::Changed) continue;
            block.changed |= bit;
            if (pixel.delta < 0.0) block.darker |= bit;
        }
        if ((block.changed | block.anti_aliased) != 0) out[blocks++] = block;
    }
    return blocks;
}

}  // namespace quorvane
