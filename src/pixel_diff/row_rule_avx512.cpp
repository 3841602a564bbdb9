// The row rule's vector path for AVX-512 (F, DQ, BW, VL); this file alone is built with it.
#define QUORVANE_SIMD_NAMESPACE simd_avx512
#include "pixel_diff/row_rule_simd.hpp"
