// The cluster internals against references written out here: the order of
// clusters of equal size (their root labels', which union by rank decides)
// against a literal per-pixel labelling, the 32-bit label limit, and the
// merge passes, also against the quadratic merge that the grid replaces. The
// dilation and the clusters themselves are checked against scipy from Python.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>

#include "check.hpp"
#include "clusters/dilate.hpp"
#include "clusters/extract.hpp"
#include "clusters/label.hpp"
#include "clusters/merge.hpp"

using namespace quorvane;

namespace {

// The clusters as the pipeline defines them, written out without shortcuts:
// all four earlier neighbours examined for every pixel, union by rank, the
// statistics gathered pixel by pixel through find, candidates in increasing
// root label, then a stable sort. No merging.
ClusterList literal_clusters(const Bytes& mask, u64 width, u64 height, const ClusterOptions& options) {
    std::vector<u32> labels(width * height, 0), parent{0};
    std::vector<u8> rank{0};
    const auto find = [&](u32 a) {
        while (parent[a] != a) a = parent[a] = parent[parent[a]];
        return a;
    };
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) {
            if (mask[y * width + x] != 1) continue;
            u32 current = 0;
            for (const auto& [dx, dy] : {std::pair{-1, -1}, {0, -1}, {1, -1}, {-1, 0}}) {
                const std::int64_t nx = static_cast<std::int64_t>(x) + dx, ny = static_cast<std::int64_t>(y) + dy;
                if (nx < 0 || ny < 0 || nx >= static_cast<std::int64_t>(width)) continue;
                const u32 label = labels[static_cast<u64>(ny) * width + static_cast<u64>(nx)];
                if (label == 0) continue;
                if (current != 0) {
                    u32 ra = find(current), rb = find(label);
                    if (rank[ra] < rank[rb]) std::swap(ra, rb);
                    if (ra != rb) parent[rb] = ra, rank[ra] += rank[ra] == rank[rb];
                }
                current = current == 0 ? label : std::min(current, label);
            }
            if (current == 0) {
                current = static_cast<u32>(parent.size());
                parent.push_back(current);
                rank.push_back(0);
            }
            labels[y * width + x] = current;
        }
    }
    std::vector<ClusterRecord> sums(parent.size(), {UINT64_MAX, UINT64_MAX, 0, 0, 0.0, 0.0, 0, 1});
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) {
            if (labels[y * width + x] == 0) continue;
            ClusterRecord& s = sums[find(labels[y * width + x])];  // width and height hold the far edges
            s.x = std::min(s.x, x), s.width = std::max(s.width, x), s.centroid_x += static_cast<double>(x);
            s.y = std::min(s.y, y), s.height = std::max(s.height, y), s.centroid_y += static_cast<double>(y);
            ++s.pixel_count;
        }
    }
    ClusterList list;
    for (ClusterRecord c : sums) {
        if (c.pixel_count == 0 || c.pixel_count < options.min_pixels) continue;
        c.width -= c.x - 1, c.height -= c.y - 1;
        c.centroid_x /= static_cast<double>(c.pixel_count), c.centroid_y /= static_cast<double>(c.pixel_count);
        if (std::min(c.width, c.height) >= options.min_side) list.clusters.push_back(c);
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
    // order is their root labels'.
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
            Bytes mask = random_bytes(c.width * c.height, seed++);
            for (u8& value : mask) value = value < c.density * 256 ? 1 : 0;
            auto ours = extract_clusters(mask, c.width, c.height, c.options);
            REQUIRE(ours.ok());
            const Bytes grown = c.options.dilation ? dilate_square(mask, c.width, c.height, c.options.dilation) : mask;
            const ClusterList expected = literal_clusters(grown, c.width, c.height, c.options);
            CHECK(ours->total_clusters == expected.total_clusters && ours->truncated == expected.truncated);
            REQUIRE(ours->clusters.size() == expected.clusters.size());
            for (std::size_t i = 0; i < expected.clusters.size(); ++i) {
                CHECK(same_record(ours->clusters[i], expected.clusters[i]));
            }
        }
    }
}

TEST("a mask that needs more labels than 32 bits hold is refused, not wrapped") {
    Bytes mask(7 * 3, 0);  // four isolated pixels need labels 1 to 4
    mask[0] = mask[2] = mask[2 * 7 + 4] = mask[2 * 7 + 6] = 1;
    CHECK(label_components(mask, 7, 3, 4).ok());
    CHECK_EQ(outcome(label_components(mask, 7, 3, 3)),
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
        {box(0, 0, 10, 10), box(5, 5, 10, 10), 0, nan, true},    // intersecting boxes merge whatever the overlap
        {box(0, 0, 10, 10), box(10, 0, 10, 10), 1, 2.0, false},  // touching is not intersecting
        {box(0, 0, 10, 10), box(10, 0, 10, 10), 1, 1.0, true},   // rows overlap fully, no gap between columns
        {box(0, 0, 10, 10), box(5, 13, 20, 5), 3, 0.5, true},    // half the narrower width over a 3-row gap
        {box(0, 0, 10, 10), box(5, 13, 20, 5), 2, 0.5, false},
        {box(0, 0, 10, 10), box(6, 13, 20, 5), 3, 0.5, false},   // only 4 of 10 columns shared
        {box(5, 13, 20, 5), box(0, 0, 10, 10), 3, 0.5, true},    // the test is symmetric
        {box(0, 0, 10, 10), box(510, 0, 10, 10), 5, 0.0, true},  // overlap 0: a row gap of 0 is enough
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
    const ClusterRecord& merged = clusters[0];
    CHECK(merged.x == 0 && merged.width == 40 && merged.pixel_count == 180 && merged.merged_from == 3);
    // B absorbs C first: (20 * 20 + 30 * 60) / 80 = 27.5; then A: (27.5 * 80 + 0 * 100) / 180.
    CHECK_EQ(merged.centroid_x, (27.5 * 80.0 + 0.0 * 100.0) / 180.0);
    // An entry that does not merge keeps its place after the merged ones.
    std::vector<ClusterRecord> apart{box(0, 0, 5, 5), box(100, 100, 5, 5), box(3, 3, 5, 5)};
    merge_clusters(apart, 1, 0.5);
    REQUIRE(apart.size() == 2);
    CHECK(apart[0].merged_from == 2 && apart[1].x == 100);
}

// The merge as first written, every later entry tested for every entry: the
// reference that the grid's merge must match step for step.
void quadratic_merge(std::vector<ClusterRecord>& clusters, u64 gap, double overlap) {
    for (bool merged = true; merged;) {
        merged = false;
        for (std::size_t i = 0; i + 1 < clusters.size(); ++i) {
            for (std::size_t j = i + 1; j < clusters.size();) {
                if (!clusters_merge(clusters[i], clusters[j], gap, overlap)) {
                    ++j;
                    continue;
                }
                merge_into(clusters[i], clusters[j]);
                clusters.erase(clusters.begin() + static_cast<std::ptrdiff_t>(j));
                merged = true;
            }
        }
    }
}

TEST("the grid merge gives the quadratic merge's clusters, in its order, to the last bit") {
    struct Case {
        u64 boxes, field, side, gap;
        double overlap;
        bool diagonal;         // boxes along the diagonal, so that bands of rows and columns meet few others
        unsigned huge_one_in;  // a box as large as the field, one in so many
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const u64 any_gap = std::numeric_limits<u64>::max();
    const Case cases[] = {
        {600, 3000, 12, 1, 0.5, false, 0},  // sparse: few merges
        {600, 800, 20, 2, 0.5, false, 0},   // chains over several passes
        {600, 300, 20, 2, 0.5, false, 0},   // everything into one: the order shows in the centroid's bits
        {300, 3600, 8, 2, 0.0, true, 0},    // any overlap: whole bands of rows and columns
        {300, 9000, 8, 2, -1.0, true, 0},   {400, 2000, 30, 4, nan, false, 0},  // intersecting boxes only
        {400, 1200, 30, 1, 1.5, false, 0},  {200, 3000, 8, any_gap, 0.5, true, 0},
        {600, 1500, 9, 2, 0.3, false, 100},  // huge boxes over small ones, kept aside by the grid
        {300, 6000, 8, 2, 0.0, true, 50},   {1, 10, 5, 1, 0.5, false, 0},
    };
    unsigned seed = 7;
    for (const Case& c : cases) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            std::mt19937_64 random(seed++);
            const auto below = [&](u64 limit) { return random() % limit; };
            std::vector<ClusterRecord> boxes;
            for (u64 i = 0; i < c.boxes; ++i) {
                const u64 side = c.huge_one_in != 0 && below(c.huge_one_in) == 0 ? c.field : c.side;
                const u64 x = below(c.field);
                ClusterRecord cluster = box(x, c.diagonal ? x + below(c.side) : below(c.field), 1 + below(side),
                                            1 + below(side), 1 + below(1000));
                cluster.centroid_x += static_cast<double>(below(1 << 20)) / 3.0;
                cluster.centroid_y -= static_cast<double>(below(1 << 20)) / 7.0;
                boxes.push_back(cluster);
            }
            std::vector<ClusterRecord> expected = boxes;
            quadratic_merge(expected, c.gap, c.overlap);
            merge_clusters(boxes, c.gap, c.overlap);
            REQUIRE(boxes.size() == expected.size());
            for (std::size_t i = 0; i < boxes.size(); ++i) CHECK(same_record(boxes[i], expected[i]));
        }
    }
}
