#include "alignment/refine.hpp"

#include <algorithm>
#include <optional>

#include "alignment/runs.hpp"

namespace quorvane {
namespace {

void add_repeated(std::span<const u64> hashes, std::vector<u64>& repeated) {
    std::vector<u64> sorted(hashes.begin(), hashes.end());
    std::sort(sorted.begin(), sorted.end());
    for (u64 i = 1; i < sorted.size(); ++i) {
        if (sorted[i] == sorted[i - 1] && (repeated.empty() || repeated.back() != sorted[i])) {
            repeated.push_back(sorted[i]);
        }
    }
}

class Refiner {
public:
    Refiner(std::span<const RowSegment> segments, std::span<const u64> a, std::span<const u64> b,
            const RowsMatch& rows_match)
        : segments_(segments), a_(a), b_(b), rows_match_(rows_match) {}

    std::vector<RowSegment> run() {
        std::vector<RowSegment> refined;
        refined.reserve(segments_.size());
        u64 i = 0;
        while (i < segments_.size()) {
            if (segments_[i].kind == SegmentKind::Equal) {
                refined.push_back(segments_[i]);
                ++i;
                continue;
            }
            const u64 last = window_end(i);
            const std::span<const RowSegment> window = segments_.subspan(i, last - i + 1);
            if (collapses(window)) {
                collapse(window, refined);
            } else {
                refined.insert(refined.end(), window.begin(), window.end());
            }
            i = last + 1;
        }
        return refined;
    }

private:
    // The index of the window's last non-equal segment: later non-equal
    // segments join across filler runs; any other equal segment ends it.
    u64 window_end(u64 first) {
        u64 last = first;
        for (u64 j = first + 1; j < segments_.size(); ++j) {
            if (segments_[j].kind != SegmentKind::Equal) {
                last = j;
            } else if (!is_filler(segments_[j])) {
                break;
            }
        }
        return last;
    }

    bool is_filler(const RowSegment& equal) {
        const auto hash = uniform_hash(a_, equal.baseline_start, equal.len);
        if (!hash) return false;
        if (!repeated_) repeated_ = repeated_rows(a_, b_);
        return std::binary_search(repeated_->begin(), repeated_->end(), *hash);
    }

    // An insert and a delete, and no inserted row that reappears among the
    // deleted rows: the rows did not move, they changed. The window's edits
    // fit in the edit budget, so testing every pair stays within it squared.
    bool collapses(std::span<const RowSegment> window) const {
        const auto of_kind = [](SegmentKind kind) {
            return [kind](const RowSegment& segment) { return segment.kind == kind; };
        };
        if (std::ranges::none_of(window, of_kind(SegmentKind::Insert)) ||
            std::ranges::none_of(window, of_kind(SegmentKind::Delete))) {
            return false;
        }
        for (const RowSegment& inserted : window) {
            if (inserted.kind != SegmentKind::Insert) continue;
            for (const RowSegment& deleted : window) {
                if (deleted.kind != SegmentKind::Delete) continue;
                for (u64 y = inserted.current_start; y < inserted.current_start + inserted.len; ++y) {
                    for (u64 x = deleted.baseline_start; x < deleted.baseline_start + deleted.len; ++x) {
                        if (rows_match_(x, y)) return false;
                    }
                }
            }
        }
        return true;
    }

    static void collapse(std::span<const RowSegment> window, std::vector<RowSegment>& refined) {
        const RowSegment& first = window.front();
        const RowPosition end = segment_end(window.back());
        const u64 baseline_rows = end.baseline - first.baseline_start;
        const u64 current_rows = end.current - first.current_start;
        const u64 paired = std::min(baseline_rows, current_rows);
        refined.push_back({first.baseline_start, first.current_start, paired, SegmentKind::Replace});
        if (baseline_rows != current_rows) {
            refined.push_back({first.baseline_start + paired, first.current_start + paired,
                               std::max(baseline_rows, current_rows) - paired,
                               current_rows > baseline_rows ? SegmentKind::Insert : SegmentKind::Delete});
        }
    }

    std::span<const RowSegment> segments_;
    std::span<const u64> a_;
    std::span<const u64> b_;
    const RowsMatch& rows_match_;
    std::optional<std::vector<u64>> repeated_;  // made on the first filler test
};

}  // namespace

std::vector<u64> repeated_rows(std::span<const u64> a, std::span<const u64> b) {
    std::vector<u64> repeated;
    add_repeated(a, repeated);
    add_repeated(b, repeated);
    std::sort(repeated.begin(), repeated.end());
    repeated.erase(std::unique(repeated.begin(), repeated.end()), repeated.end());
    return repeated;
}

std::vector<RowSegment> refine_segments(std::span<const RowSegment> segments, std::span<const u64> a,
                                        std::span<const u64> b, const RowsMatch& rows_match) {
    return Refiner(segments, a, b, rows_match).run();
}

std::vector<RowSegment> refine_segments(std::span<const RowSegment> segments, std::span<const u64> a,
                                        std::span<const u64> b) {
    return refine_segments(segments, a, b, ExactRowMatch{a, b});
}

}  // namespace quorvane
