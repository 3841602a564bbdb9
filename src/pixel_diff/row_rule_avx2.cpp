// The row rule's vector path for AVX2; this file alone is built with it.
#define QUORVANE_SIMD_NAMESPACE simd_avx2
#include "pixel_diff/row_rule_simd.hpp"
