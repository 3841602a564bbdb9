// The shift-aware computations on a pair of screenshots without PNG encoding:
// render_aligned_diff against render_diff_image, and aligned_ssim against
// ssim_rgba of the whole pair; the alignment is made once, outside the timings.
#include <cstdio>
#include <utility>

#include "alignment/align_rows.hpp"
#include "alignment/aligned_diff.hpp"
#include "bench_support.hpp"
#include "image_utils/pair.hpp"
#include "image_utils/png_decode.hpp"
#include "pixel_diff/render.hpp"
#include "ssim/aligned_ssim.hpp"
#include "ssim/ssim.hpp"

using namespace quorvane;

int main(int argc, char** argv) {
    auto images = bench::load_arguments(argc, argv, 2, "aligned_bench BASELINE.png CURRENT.png");
    auto built = build_image_pair(std::move(images[0]), std::move(images[1]));
    if (!built) return 1;
    const ImagePair pair = built.take();
    const CanvasView view = pair.view();
    const DiffOptions options;
    const AlignmentRecord record = *align_rows(view, options, 0.25, 2048);
    if (!record.aligned) return 1;

    volatile u64 sink = 0;
    volatile double score = 0.0;
    const double aligned_render_ms =
        bench::best_ms([&] { sink = render_aligned_diff(view, record.fingerprint, record, options)->pixels.size(); });
    const double render_ms = bench::best_ms(
        [&] { sink = render_diff_image(pair.baseline, pair.current, pair.width, pair.height, options)->count; });
    const CanvasSsim canvas_ssim = [&] { return ssim_rgba(pair.baseline, pair.current, pair.width, pair.height); };
    const double aligned_ssim_ms =
        bench::best_ms([&] { score = *aligned_ssim(view, record.fingerprint, record, canvas_ssim); }, 7);
    const double ssim_ms =
        bench::best_ms([&] { score = *ssim_rgba(pair.baseline, pair.current, pair.width, pair.height); }, 7);
    std::printf("%llux%llu, %zu shift bands, %llu changed rows\n", static_cast<unsigned long long>(pair.width),
                static_cast<unsigned long long>(pair.height), record.bands.size(),
                static_cast<unsigned long long>(record.changed_rows));
    std::printf("  render_aligned_diff %.2f ms vs render_diff_image %.2f ms -> %.2fx\n", aligned_render_ms, render_ms,
                aligned_render_ms / render_ms);
    std::printf("  aligned_ssim %.2f ms vs ssim_rgba %.2f ms -> %.2fx\n", aligned_ssim_ms, ssim_ms,
                aligned_ssim_ms / ssim_ms);
    return 0;
}
