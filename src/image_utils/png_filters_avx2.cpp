// Filtering rows for encoding with AVX2, thirty-two bytes a block; this file
// alone is built with it.
#define QUORVANE_FILTER_NAMESPACE simd_avx2
#include "image_utils/png_filter_blocks.hpp"
