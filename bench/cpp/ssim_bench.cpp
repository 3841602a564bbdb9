// The windowed SSIM of a pair of screenshots by each build of its arithmetic
// this processor runs, in processor time (all threads), against the baseline
// build timed in the same run; under `taskset -c 0` the work runs on one
// thread.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench_support.hpp"
#include "ssim/window_kernels.hpp"
#include "ssim/windowed.hpp"

using namespace quorvane;

namespace {

double processor_ms() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const auto images = bench::load_same_size_pair(argc, argv, "ssim_bench BASELINE.png CURRENT.png");
    const u64 width = images.baseline.width, height = images.baseline.height, stride = width * kBytesPerPixel;
    const auto paths = window_kernel_paths();
    std::vector<double> best(paths.size(), 1e300);
    double sink = 0.0;
    // The builds take turns, so a disturbance of the shared machine hits all alike.
    for (int round = 0; round < 15; ++round) {
        for (std::size_t p = 0; p < paths.size(); ++p) {
            const WindowKernels& kernels = paths[p];
            const LuminanceRows rows = [&](u64 row, u64 first, u64 count, double* x, double* y) {
                kernels.luminance(images.baseline.pixels.data() + row * stride + first * kBytesPerPixel, count, x);
                kernels.luminance(images.current.pixels.data() + row * stride + first * kBytesPerPixel, count, y);
            };
            const double start = processor_ms();
            sink += windowed_ssim(rows, width, height, kernels);
            best[p] = std::min(best[p], processor_ms() - start);
        }
    }
    for (std::size_t p = 0; p < paths.size(); ++p) {
        std::printf("  %-8s %7.2f ms -> %.2fx the baseline build's time\n", paths[p].name, best[p], best[p] / best[0]);
    }
    return sink > 0.0 ? 0 : 1;
}
