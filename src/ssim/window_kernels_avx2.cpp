// The windowed SSIM's arithmetic built for AVX2; this file alone is built with it.
#define QUORVANE_WINDOW_NAMESPACE window_avx2
#define QUORVANE_WINDOW_NAME "avx2"
#include "ssim/window_kernels_body.hpp"
