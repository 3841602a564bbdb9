// The vector paths of the row rule, one namespace per instruction set, each
// built from row_rule_simd.hpp in a file of its own with that set enabled.
#pragma once

#include "pixel_diff/row_rule.hpp"

namespace quorvane {

#if !defined(QUORVANE_SCALAR_ONLY)
namespace simd_sse41 {
u64 classify_row(const PairPixels& pair, u64 y, u64 begin, u64 end, ClassifiedBlock* out);
void draw_gray(const u8* source, u8* out, u64 begin, u64 end, double alpha);
}  // namespace simd_sse41
namespace simd_avx2 {
u64 classify_row(const PairPixels& pair, u64 y, u64 begin, u64 end, ClassifiedBlock* out);
void draw_gray(const u8* source, u8* out, u64 begin, u64 end, double alpha);
}  // namespace simd_avx2
namespace simd_avx512 {
u64 classify_row(const PairPixels& pair, u64 y, u64 begin, u64 end, ClassifiedBlock* out);
void draw_gray(const u8* source, u8* out, u64 begin, u64 end, double alpha);
}  // namespace simd_avx512
#endif

}  // namespace quorvane
