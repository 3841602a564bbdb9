// The windowed SSIM's arithmetic built for AVX-512 (F, DQ, BW, VL); this file alone is built with it.
#define QUORVANE_WINDOW_NAMESPACE window_avx512
#define QUORVANE_WINDOW_NAME "avx512"
#include "ssim/window_kernels_body.hpp"
