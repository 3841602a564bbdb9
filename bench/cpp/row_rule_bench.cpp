// The changed-pixel rule over every row of a pair of screenshots, on the
// calling thread, by each path this processor runs, against the scalar
// reference path timed in the same run.
#include <cstdio>
#include <vector>

#include "bench_support.hpp"
#include "core/options.hpp"
#include "pixel_diff/color_delta.hpp"
#include "pixel_diff/pixel_words.hpp"
#include "pixel_diff/row_rule.hpp"

using namespace quorvane;

namespace {

// The number of Changed pixels, row by row.
u64 count_changed(const PairPixels& pair, RowRule rule, std::vector<ClassifiedBlock>& blocks) {
    u64 changed = 0;
    for (u64 y = 0; y < pair.height; ++y) {
        const u64 count = rule(pair, y, 0, pair.width, blocks.data());
        for (u64 b = 0; b < count; ++b) changed += static_cast<u64>(__builtin_popcount(blocks[b].changed));
    }
    return changed;
}

}  // namespace

int main(int argc, char** argv) {
    const auto images = bench::load_same_size_pair(argc, argv, "row_rule_bench BASELINE.png CURRENT.png");
    const PixelWords baseline(images.baseline.pixels), current(images.current.pixels);
    const DiffOptions options;
    const PairPixels pair{images.baseline.pixels.data(),
                          images.current.pixels.data(),
                          baseline.data(),
                          current.data(),
                          images.baseline.width,
                          images.baseline.height,
                          max_delta(options.threshold),
                          options.include_aa};
    const auto paths = row_rule_paths();
    std::vector<ClassifiedBlock> blocks(pair.width / kBlockPixels + 1);
    // The paths take turns, so a disturbance of the shared machine hits all alike.
    std::vector<double> best(paths.size(), 1e300);
    volatile u64 sink = 0;
    for (int round = 0; round < 15; ++round) {
        for (std::size_t p = 0; p < paths.size(); ++p) {
            best[p] =
                std::min(best[p], bench::best_ms([&] { sink = count_changed(pair, paths[p].classify, blocks); }, 1));
        }
    }
    for (std::size_t p = 0; p < paths.size(); ++p) {
        std::printf("  %-7s %7.2f ms -> %.2fx the scalar path's time\n", paths[p].name, best[p], best[p] / best[0]);
    }
    return 0;
}
