// The row rule's vector path for SSE4.1; this file alone is built with it.
#define QUORVANE_SIMD_NAMESPACE simd_sse41
#include "pixel_diff/row_rule_simd.hpp"
