#include "pixel_diff/row_rule.hpp"

#include <vector>

#include "core/instruction_sets.hpp"
#include "pixel_diff/classify.hpp"
#include "pixel_diff/row_rule_paths.hpp"

namespace quorvane {
namespace {

std::vector<RowRulePath> detect_paths() {
    std::vector<RowRulePath> paths{{"scalar", classify_row_scalar}};
#if !defined(QUORVANE_SCALAR_ONLY)
    const InstructionSets& sets = instruction_sets();
    if (sets.sse41) paths.push_back({"sse4.1", simd_sse41::classify_row});
    if (sets.avx2) paths.push_back({"avx2", simd_avx2::classify_row});
    if (sets.avx512) paths.push_back({"avx512", simd_avx512::classify_row});
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
