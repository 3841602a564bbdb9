#include "pixel_diff/row_rule.hpp"

#include <vector>

#include "core/instruction_sets.hpp"
#include "pixel_diff/classify.hpp"
#include "pixel_diff/gray.hpp"
#include "pixel_diff/row_rule_paths.hpp"

namespace quorvane {
namespace {

std::vector<RowRulePath> detect_paths() {
    std::vector<RowRulePath> paths{{"scalar", classify_row_scalar, draw_gray_pixels_scalar}};
#if !defined(QUORVANE_SCALAR_ONLY)
    const InstructionSets& sets = instruction_sets();
    if (sets.sse41) paths.push_back({"sse4.1", simd_sse41::classify_row, simd_sse41::draw_gray});
    if (sets.avx2) paths.push_back({"avx2", simd_avx2::classify_row, simd_avx2::draw_gray});
    if (sets.avx512) paths.push_back({"avx512", simd_avx512::classify_row, simd_avx512::draw_gray});
#endif
    return paths;
}

}  // namespace

std::span<const RowRulePath> row_rule_paths() {
    static const std::vector<RowRulePath> paths = detect_paths();
    return paths;
}

const RowRulePath& fastest_row_rule_path() {
    static const RowRulePath& fastest = row_rule_paths().back();
    return fastest;
}

void draw_gray_pixels(const u8* source, u8* out, u64 begin, u64 end, double alpha) {
    fastest_row_rule_path().draw_gray(source, out, begin, end, alpha);
}

void draw_gray_pixels_scalar(const u8* source, u8* out, u64 begin, u64 end, double alpha) {
    for (u64 k = begin * kBytesPerPixel; k < end * kBytesPerPixel; k += kBytesPerPixel) {
        const u8 level = gray_pixel(source[k], source[k + 1], source[k + 2], source[k + 3], alpha);
        out[k] = level;
        out[k + 1] = level;
        out[k + 2] = level;
        out[k + 3] = 255;
    }
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
