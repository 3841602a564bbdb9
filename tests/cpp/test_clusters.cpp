// The cluster internals against brute-force references: the whole pipeline,
// order included, against a literal per-pixel labelling (every neighbour met,
// every union made, a find per pixel), the 32-bit label limit, and the merge
// passes. The dilation is checked here and against scipy only through the
// clusters it produces.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "clusters/extract.hpp"
#include "clusters/label.hpp"
#include "clusters/merge.hpp"

using namespace quorvane;

namespace {

Bytes random_mask(u64 width, u64 height, double density, unsigned seed) {
    std::mt19937 random(seed);
    std::bernoulli_distribution marked(density);
    Bytes mask(width * height);
    for (u8& value : mask) value = marked(random) ? 1 : 0;
    return mask;
}

Bytes brute_force_dilation(const Bytes& mask, u64 width, u64 height, u64 radius) {
    Bytes out(width * height, 0);
    auto marked_near = [&](u64 x, u64 y) {
        for (u64 v = y > radius ? y - radius : 0; v <= y + radius && v < height; ++v) {
            for (u64 u = x > radius ? x - radius : 0; u <= x + radius && u < width; ++u) {
                if (mask[v * width + u] == 1) return true;
            }
        }
        return false;
    };
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) out[y * width + x] = marked_near(x, y) ? 1 : 0;
    }
    return out;
}

// The clusters as the pipeline defines them, written out without shortcuts:
// all four neighbours examined for every pixel, the statistics gathered pixel
// by pixel through find, candidates in increasing root label. No merging.
ClusterList literal_clusters(const Bytes& input, u64 width, u64 height, const ClusterOptions& options) {
    const Bytes mask = options.dilation == 0 ? input : brute_force_dilation(input, width, height, options.dilation);
    std::vector<u32> labels(width * height, 0);
    std::vector<u32> parent{0};
    std::vector<u8> rank{0};
    auto find = [&](u32 a) {
        while (parent[a] != a) {
            parent[a] = parent[parent[a]];
            a = parent[a];
        }
        return a;
    };
    auto unite = [&](u32 a, u32 b) {
        const u32 ra = find(a), rb = find(b);
        if (ra == rb) return;
        if (rank[ra] < rank[rb]) {
            parent[ra] = rb;
        } else if (rank[ra] > rank[rb]) {
            parent[rb] = ra;
        } else {
            parent[rb] = ra;
            ++rank[ra];
        }
    };
    const std::int64_t offsets[4][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}};
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) {
            if (mask[y * width + x] != 1) continue;
            u32 current = 0;
            for (const auto& offset : offsets) {
                const std::int64_t nx = static_cast<std::int64_t>(x) + offset[0];
                const std::int64_t ny = static_cast<std::int64_t>(y) + offset[1];
                if (nx < 0 || ny < 0 || nx >= static_cast<std::int64_t>(width)) continue;
                const u32 label = labels[static_cast<u64>(ny) * width + static_cast<u64>(nx)];
                if (label == 0) continue;
                if (current == 0) {
                    current = label;
                } else {
                    unite(current, label);
                    current = std::min(current, label);
                }
            }
            if (current == 0) {
                current = static_cast<u32>(parent.size());
                parent.push_back(current);
                rank.push_back(0);
            }
            labels[y * width + x] = current;
        }
    }
    struct Sums {
        u64 count = 0, sum_x = 0, sum_y = 0, min_x = UINT64_MAX, max_x = 0, min_y = UINT64_MAX, max_y = 0;
    };
    std::vector<Sums> sums(parent.size());
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) {
            const u32 label = labels[y * width + x];
            if (label == 0) continue;
            Sums& s = sums[find(label)];
            ++s.count;
            s.sum_x += x;
            s.sum_y += y;
            s.min_x = std::min(s.min_x, x);
            s.max_x = std::max(s.max_x, x);
            s.min_y = std::min(s.min_y, y);
            s.max_y = std::max(s.max_y, y);
        }
    }
    ClusterList list;
    for (const Sums& s : sums) {
        if (s.count == 0 || s.count < options.min_pixels) continue;
        ClusterRecord c{s.min_x, s.min_y, s.max_x - s.min_x + 1, s.max_y - s.min_y + 1,
                        static_cast<double>(s.sum_x) / static_cast<double>(s.count),
                        static_cast<double>(s.sum_y) / static_cast<double>(s.count), s.count, 1};
        if (options.min_side != 0 && std::min(c.width, c.height) < options.min_side) continue;
        list.clusters.push_back(c);
    }
    list.total_clusters = list.clusters.size();
    std::stable_sort(list.clusters.begin(), list.clusters.end(),
                     [](const ClusterRecord& a, const ClusterRecord& b) { return a.pixel_count > b.pixel_count; });
    if (options.max_clusters && list.total_clusters > *options.max_clusters) {
        list.truncated = true;
        list.clusters.resize(*options.max_clusters);
    }
    return list;
}

bool same_record(const ClusterRecord& a, const ClusterRecord& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height && a.centroid_x == b.centroid_x &&
           a.centroid_y == b.centroid_y && a.pixel_count == b.pixel_count && a.merged_from == b.merged_from;
}

ClusterRecord box(u64 x, u64 y, u64 width, u64 height, u64 pixels = 10) {
    return {x, y, width, height, static_cast<double>(x), static_cast<double>(y), pixels, 1};
}

}  // namespace

TEST("extraction gives the literal labelling's clusters in the same order") {
    struct Case {
        u64 width, height;
        double density;
        ClusterOptions options;
    };
    // Sparse masks without dilation give many components of equal size, whose
    // order is their root labels'; union by rank decides those roots.
    const Case cases[] = {
        {60, 45, 0.08, {.max_clusters = {}, .min_pixels = 1, .dilation = 0}},
        {60, 45, 0.35, {.max_clusters = {}, .min_pixels = 1, .dilation = 0}},
        {60, 45, 0.55, {.max_clusters = {}, .min_pixels = 2, .dilation = 0}},
        {80, 50, 0.01, {.max_clusters = {}, .min_pixels = 1, .dilation = 1}},
        {80, 50, 0.004, {}},
        {80, 50, 0.02, {.max_clusters = {}, .min_pixels = 30, .min_side = 6, .dilation = 2}},
        {70, 30, 0.2, {.max_clusters = 5, .min_pixels = 1, .dilation = 0}},
        {1, 90, 0.3, {.max_clusters = {}, .min_pixels = 1, .dilation = 0}},
        {90, 1, 0.3, {.max_clusters = {}, .min_pixels = 1, .dilation = 1}},
    };
    unsigned seed = 100;
    for (const Case& c : cases) {
        for (int repeat = 0; repeat < 4; ++repeat) {
            const Bytes mask = random_mask(c.width, c.height, c.density, seed++);
            auto ours = extract_clusters(mask, c.width, c.height, c.options);
            REQUIRE(ours.ok());
            const ClusterList expected = literal_clusters(mask, c.width, c.height, c.options);
            CHECK_EQ(ours->total_clusters, expected.total_clusters);
            CHECK_EQ(ours->truncated, expected.truncated);
            REQUIRE(ours->clusters.size() == expected.clusters.size());
            for (std::size_t i = 0; i < expected.clusters.size(); ++i) {
                CHECK(same_record(ours->clusters[i], expected.clusters[i]));
            }
        }
    }
}

TEST("a mask that needs more labels than 32 bits hold is refused, not wrapped") {
    // Four isolated pixels need labels 1 to 4.
    const u64 width = 7, height = 3;
    Bytes mask(width * height, 0);
    mask[0] = mask[2] = mask[2 * width + 4] = mask[2 * width + 6] = 1;
    CHECK(label_components(mask, width, height, 4).ok());
    auto refused = label_components(mask, width, height, 3);
    REQUIRE(!refused.ok());
    CHECK(refused.error().kind() == CompareError::Kind::Message);
    CHECK_EQ(refused.error().text(),
             std::string("too many separate changed regions to cluster: more than 3 labels needed"));
}

TEST("merge test: intersection, gaps against the overlap fraction, and NaN") {
    struct Case {
        ClusterRecord a, b;
        u64 gap;
        double overlap;
        bool merges;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {box(0, 0, 10, 10), box(5, 5, 10, 10), 0, nan, true},      // intersecting boxes merge whatever the overlap
        {box(0, 0, 10, 10), box(10, 0, 10, 10), 1, 2.0, false},    // touching is not intersecting
        {box(0, 0, 10, 10), box(10, 0, 10, 10), 1, 1.0, true},     // rows overlap fully, no gap between columns
        {box(0, 0, 10, 10), box(5, 13, 20, 5), 3, 0.5, true},      // half the narrower width over a 3-row gap
        {box(0, 0, 10, 10), box(5, 13, 20, 5), 2, 0.5, false},
        {box(0, 0, 10, 10), box(6, 13, 20, 5), 3, 0.5, false},     // only 4 of 10 columns shared
        {box(5, 13, 20, 5), box(0, 0, 10, 10), 3, 0.5, true},      // the test is symmetric
        {box(0, 0, 10, 10), box(510, 0, 10, 10), 5, 0.0, true},    // overlap 0: a row gap of 0 is enough
        {box(0, 0, 10, 10), box(510, 0, 10, 10), 5, -1.0, true},
        {box(0, 0, 10, 10), box(510, 0, 10, 10), 5, nan, false},
        {box(0, 0, 10, 10), box(0, 20, 10, 10), 10, nan, false},
    };
    for (const Case& c : cases) CHECK_EQ(clusters_merge(c.a, c.b, c.gap, c.overlap), c.merges);
}

TEST("merging runs passes until none merges, an entry absorbing later ones as it grows") {
    // B and C merge; the grown B then reaches A, which only a second pass sees.
    std::vector<ClusterRecord> clusters{box(0, 0, 10, 10, 100), box(30, 0, 10, 10, 60), box(12, 0, 16, 10, 20)};
    clusters[2].centroid_x = 20.0;
    merge_clusters(clusters, 2, 0.5);
    REQUIRE(clusters.size() == 1);
    CHECK_EQ(clusters[0].x, u64{0});
    CHECK_EQ(clusters[0].width, u64{40});
    CHECK_EQ(clusters[0].pixel_count, u64{180});
    CHECK_EQ(clusters[0].merged_from, u64{3});
    // B absorbs C first: (20 * 20 + 30 * 60) / 80 = 27.5; then A: (27.5 * 80 + 0 * 100) / 180.
    CHECK_EQ(clusters[0].centroid_x, (27.5 * 80.0 + 0.0 * 100.0) / 180.0);

    // An entry that does not merge keeps its place after the merged ones.
    std::vector<ClusterRecord> apart{box(0, 0, 5, 5), box(100, 100, 5, 5), box(3, 3, 5, 5)};
    merge_clusters(apart, 1, 0.5);
    REQUIRE(apart.size() == 2);
    CHECK_EQ(apart[0].merged_from, u64{2});
    CHECK_EQ(apart[1].x, u64{100});
}
