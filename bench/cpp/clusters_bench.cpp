// The cluster pipeline on a pair of screenshots, each stage timed alone
// against count_changed_pixels of the same pair: the change mask, the
// dilation, the labelling, the statistics, and extract_clusters whole; and
// the dilation at a radius ten times wider, which must cost about the same.
#include <cstdio>

#include "bench_support.hpp"
#include "clusters/component_stats.hpp"
#include "clusters/dilate.hpp"
#include "clusters/extract.hpp"
#include "clusters/label.hpp"
#include "image_utils/png_decode.hpp"
#include "pixel_diff/count.hpp"
#include "pixel_diff/mask.hpp"

using namespace quorvane;

int main(int argc, char** argv) {
    const auto pair = bench::load_same_size_pair(argc, argv, "clusters_bench BASELINE.png CURRENT.png");
    const Image& baseline = pair.baseline;
    const Image& current = pair.current;
    const u64 width = baseline.width, height = baseline.height;
    const DiffOptions options;
    const ClusterOptions cluster_options;

    volatile u64 sink = 0;
    const double count_ms = bench::best_ms(
        [&] { sink = *count_changed_pixels(baseline.pixels, current.pixels, width, height, options, std::nullopt); });
    DiffMask mask;
    const double mask_ms =
        bench::best_ms([&] { mask = build_diff_mask(baseline.pixels, current.pixels, width, height, options).take(); });
    Bytes dilated;
    const double dilate_ms =
        bench::best_ms([&] { dilated = dilate_square(mask.mask, width, height, cluster_options.dilation); });
    const double wide_dilate_ms = bench::best_ms([&] { sink = dilate_square(mask.mask, width, height, 40).size(); });
    const double label_ms = bench::best_ms([&] { sink = label_components(dilated, width, height)->forest.size(); });
    const double stats_ms = bench::best_ms([&] {
        auto labels = label_components(dilated, width, height).take();
        sink = component_statistics(dilated, mask.mask, labels, width, height).size();
    });
    const double extract_ms =
        bench::best_ms([&] { sink = extract_clusters(mask.mask, width, height, cluster_options)->clusters.size(); });

    u64 marked = 0;
    for (u8 value : dilated) marked += value;
    std::printf("%llux%llu, %llu changed pixels, %llu after dilation; yardstick: count_changed_pixels %.2f ms\n",
                static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                static_cast<unsigned long long>(mask.count), static_cast<unsigned long long>(marked), count_ms);
    std::printf("  build_diff_mask            %.2f ms -> %.2fx\n", mask_ms, mask_ms / count_ms);
    std::printf("  dilate_square (radius 4)   %.2f ms -> %.2fx\n", dilate_ms, dilate_ms / count_ms);
    std::printf("  dilate_square (radius 40)  %.2f ms -> %.2fx the radius 4 time\n", wide_dilate_ms,
                wide_dilate_ms / dilate_ms);
    std::printf("  label_components           %.2f ms -> %.2fx\n", label_ms, label_ms / count_ms);
    std::printf("  labels + statistics        %.2f ms -> %.2fx\n", stats_ms, stats_ms / count_ms);
    std::printf("  extract_clusters, whole    %.2f ms -> %.2fx\n", extract_ms, extract_ms / count_ms);
    std::printf("  mask + extract_clusters    %.2f ms -> %.2fx (target <= 3.00x)\n", mask_ms + extract_ms,
                (mask_ms + extract_ms) / count_ms);
    return 0;
}
