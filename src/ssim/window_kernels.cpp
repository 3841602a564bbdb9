// The baseline build of the windowed SSIM's arithmetic, and the choice among
// the builds.
#define QUORVANE_WINDOW_NAMESPACE window_baseline
#define QUORVANE_WINDOW_NAME "baseline"
#include "ssim/window_kernels_body.hpp"

#include <vector>

#include "core/instruction_sets.hpp"

namespace quorvane {

#if !defined(QUORVANE_SCALAR_ONLY)
namespace window_avx2 {
extern const WindowKernels kernels;
}
namespace window_avx512 {
extern const WindowKernels kernels;
}
#endif

namespace {

std::vector<WindowKernels> detect_paths() {
    std::vector<WindowKernels> paths{window_baseline::kernels};
#if !defined(QUORVANE_SCALAR_ONLY)
    if (instruction_sets().avx2) paths.push_back(window_avx2::kernels);
    if (instruction_sets().avx512) paths.push_back(window_avx512::kernels);
#endif
    return paths;
}

}  // namespace

std::span<const WindowKernels> window_kernel_paths() {
    static const std::vector<WindowKernels> paths = detect_paths();
    return paths;
}

const WindowKernels& fastest_window_kernels() {
    static const WindowKernels& fastest = window_kernel_paths().back();
    return fastest;
}

}  // namespace quorvane
