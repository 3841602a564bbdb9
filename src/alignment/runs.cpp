#include "alignment/runs.hpp"

namespace quorvane {
namespace {

SegmentKind segment_kind(EditKind kind) {
    switch (kind) {
        case EditKind::Match:
            return SegmentKind::Equal;
        case EditKind::Insertion:
            return SegmentKind::Insert;
        case EditKind::Deletion:
            return SegmentKind::Delete;
    }
    return SegmentKind::Equal;
}

}  // namespace

std::vector<RowSegment> edit_runs(std::span<const EditOp> operations) {
    std::vector<RowSegment> runs;
    for (const EditOp& operation : operations) {
        const SegmentKind kind = segment_kind(operation.kind);
        if (!runs.empty() && runs.back().kind == kind) {
            ++runs.back().len;
        } else {
            runs.push_back({operation.baseline, operation.current, 1, kind});
        }
    }
    return runs;
}

std::optional<u64> uniform_hash(std::span<const u64> hashes, u64 start, u64 len) {
    if (len == 0) return std::nullopt;
    const u64 first = hashes[start];
    for (u64 i = start + 1; i < start + len; ++i) {
        if (hashes[i] != first) return std::nullopt;
    }
    return first;
}

void slide_over_uniform_rows(std::vector<RowSegment>& runs, std::span<const u64> a, std::span<const u64> b) {
    if (runs.size() < 3) return;
    for (u64 i = 0; i + 2 < runs.size(); ++i) {
        const RowSegment edit = runs[i];
        RowSegment& between = runs[i + 1];
        RowSegment& other = runs[i + 2];
        if (edit.kind == SegmentKind::Equal || between.kind != SegmentKind::Equal) continue;
        const u64 b1 = between.baseline_start;
        const u64 c1 = between.current_start;
        const u64 len1 = between.len;
        const u64 len2 = other.len;
        if (edit.kind == SegmentKind::Insert && other.kind == SegmentKind::Delete) {
            const auto h1 = uniform_hash(a, b1, len1);
            const auto h2 = uniform_hash(a, other.baseline_start, len2);
            if (!h1 || !h2 || *h1 != *h2) continue;
            between = {b1, c1, len2, SegmentKind::Delete};
            other = {b1 + len2, c1, len1, SegmentKind::Equal};
        } else if (edit.kind == SegmentKind::Delete && other.kind == SegmentKind::Insert) {
            const auto h1 = uniform_hash(b, c1, len1);
            const auto h2 = uniform_hash(b, other.current_start, len2);
            if (!h1 || !h2 || *h1 != *h2) continue;
            between = {b1, c1, len2, SegmentKind::Insert};
            other = {b1, c1 + len2, len1, SegmentKind::Equal};
        }
    }
}

}  // namespace quorvane
