#include "clusters/merge.hpp"

#include <algorithm>
#include <functional>
#include <limits>

#include "clusters/box_grid.hpp"

namespace quorvane {
namespace {

// The length of [a_start, a_start + a_length) ∩ [b_start, b_start + b_length)
// over the shorter length; 0.0 when they do not intersect.
double overlap_fraction(u64 a_start, u64 a_length, u64 b_start, u64 b_length) {
    const u64 low = std::max(a_start, b_start);
    const u64 high = std::min(a_start + a_length, b_start + b_length);
    if (high <= low) return 0.0;
    return static_cast<double>(high - low) / static_cast<double>(std::min(a_length, b_length));
}

// The empty stretch between two ranges, 0 when they touch or overlap.
u64 gap_between(u64 a_start, u64 a_length, u64 b_start, u64 b_length) {
    if (b_start >= a_start + a_length) return b_start - (a_start + a_length);
    if (a_start >= b_start + b_length) return a_start - (b_start + b_length);
    return 0;
}

u64 saturating_add(u64 a, u64 b) {
    return a > std::numeric_limits<u64>::max() - b ? std::numeric_limits<u64>::max() : a + b;
}

// The pixels a range must touch to lie at most `gap` from [start, start + length).
Span within_gap(u64 start, u64 length, u64 gap) {
    const u64 before = saturating_add(gap, 1);
    return {start > before ? start - before : 0, saturating_add(start + length, gap)};
}

// Where the boxes that can merge with `box` lie: every box that passes the
// merge test touches one of these rectangles. Across a gap two boxes must
// overlap in the other direction, so they lie near the box on all sides;
// when any overlap will do (overlap <= 0), anywhere in the band of rows or
// the band of columns near it.
struct Reach {
    PixelRect parts[2];
    int count = 1;
};

Reach merge_reach(const ClusterRecord& box, u64 gap, double overlap) {
    const Span columns = within_gap(box.x, box.width, gap);
    const Span rows = within_gap(box.y, box.height, gap);
    if (overlap <= 0.0) {
        constexpr Span anywhere{0, std::numeric_limits<u64>::max()};
        return {{{anywhere, rows}, {columns, anywhere}}, 2};
    }
    return {{{columns, rows}, {}}, 1};
}

bool touches(const ClusterRecord& box, const Reach& reach) {
    const auto meets = [](u64 start, u64 length, Span range) {
        return start <= range.last && start + std::max<u64>(length, 1) - 1 >= range.first;
    };
    for (int part = 0; part < reach.count; ++part) {
        const PixelRect& rect = reach.parts[part];
        if (meets(box.x, box.width, rect.columns) && meets(box.y, box.height, rect.rows)) return true;
    }
    return false;
}

// One pass of the greedy merge: each entry in turn, growing, absorbs every
// later entry that merges with it, tested in list order against the entry
// as it stands at that moment. Only later entries near it can merge, so they
// are gathered from the grid (made of the boxes as the pass found them:
// later entries do not change before their own turn) into a queue ordered by
// position, and gathered again from the cells that a growth brings near.
bool merge_pass(std::vector<ClusterRecord>& clusters, u64 gap, double overlap) {
    const u64 count = clusters.size();
    const BoxGrid grid(clusters);
    std::vector<u8> alive(count, 1);
    std::vector<u64> gathered_by(count, count);
    std::vector<u64> candidates;  // a min-heap of positions, kept from one entry to the next
    bool merged = false;
    for (u64 i = 0; i + 1 < count; ++i) {
        if (!alive[i]) continue;
        ClusterRecord grown = clusters[i];
        u64 tested = i;  // entries up to here have had their test
        const auto gather = [&](u64 j) {
            if (alive[j] && j > tested && gathered_by[j] != i) {
                gathered_by[j] = i;
                candidates.push_back(j);
                std::push_heap(candidates.begin(), candidates.end(), std::greater<>());
            }
        };
        CellRect covered[2];
        bool grew = true;
        while (true) {
            if (grew) {
                const Reach reach = merge_reach(grown, gap, overlap);
                for (int part = 0; part < reach.count; ++part) {
                    const CellRect wanted = grid.cells_of(reach.parts[part]);
                    for_new_cells(covered[part], wanted, [&](u64 column, u64 row) {
                        for (u32 j : grid.cell(column, row)) gather(j);
                    });
                    covered[part] = wanted;
                }
                for (u32 j : grid.oversized()) {
                    if (touches(clusters[j], reach)) gather(j);
                }
                grew = false;
            }
            if (candidates.empty()) break;
            std::pop_heap(candidates.begin(), candidates.end(), std::greater<>());
            tested = candidates.back();
            candidates.pop_back();
            if (clusters_merge(grown, clusters[tested], gap, overlap)) {
                merge_into(grown, clusters[tested]);
                alive[tested] = 0;
                merged = grew = true;
            }
        }
        clusters[i] = grown;
    }
    if (merged) {
        u64 kept = 0;
        for (u64 i = 0; i < count; ++i) {
            if (alive[i]) clusters[kept++] = clusters[i];
        }
        clusters.resize(kept);
    }
    return merged;
}

}  // namespace

bool clusters_merge(const ClusterRecord& a, const ClusterRecord& b, u64 gap, double overlap) {
    const double columns_overlap = overlap_fraction(a.x, a.width, b.x, b.width);
    const double rows_overlap = overlap_fraction(a.y, a.height, b.y, b.height);
    if (columns_overlap > 0.0 && rows_overlap > 0.0) return true;
    if (columns_overlap >= overlap && gap_between(a.y, a.height, b.y, b.height) <= gap) return true;
    return rows_overlap >= overlap && gap_between(a.x, a.width, b.x, b.width) <= gap;
}

void merge_into(ClusterRecord& a, const ClusterRecord& b) {
    const u64 x = std::min(a.x, b.x);
    const u64 y = std::min(a.y, b.y);
    const u64 right = std::max(a.x + a.width, b.x + b.width);
    const u64 bottom = std::max(a.y + a.height, b.y + b.height);
    const auto a_count = static_cast<double>(a.pixel_count);
    const auto b_count = static_cast<double>(b.pixel_count);
    const auto total = static_cast<double>(a.pixel_count + b.pixel_count);
    a.centroid_x = (b.centroid_x * b_count + a.centroid_x * a_count) / total;
    a.centroid_y = (b.centroid_y * b_count + a.centroid_y * a_count) / total;
    a.x = x;
    a.y = y;
    a.width = right - x;
    a.height = bottom - y;
    a.pixel_count += b.pixel_count;
    a.merged_from += b.merged_from;
    a.changed_pixels += b.changed_pixels;
}

void merge_clusters(std::vector<ClusterRecord>& clusters, u64 gap, double overlap) {
    while (merge_pass(clusters, gap, overlap)) {}
}

}  // namespace quorvane
