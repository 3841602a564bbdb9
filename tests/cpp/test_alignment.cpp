// The parts of row alignment that Python cannot see: the bounded trace, the
// backtrack's tie rule, refined segments, the context rows of a segment's
// mask, and the binding check field by field.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "alignment/align_rows.hpp"
#include "alignment/binding.hpp"
#include "alignment/fingerprint.hpp"
#include "alignment/myers.hpp"
#include "alignment/refine.hpp"
#include "alignment/segment_mask.hpp"
#include "check.hpp"
#include "letter_rows.hpp"
#include "image_utils/pair.hpp"
#include "pixel_diff/mask.hpp"

using namespace quorvane;

namespace {

constexpr u64 kWidth = 6;

ImagePair pair_of(Image baseline, Image current) {
    auto pair = build_image_pair(std::move(baseline), std::move(current));
    if (!pair) throw std::runtime_error(pair.error().text());
    return pair.take();
}

AlignmentRecord align(const ImagePair& pair, double ratio = 1.0, u64 max_rows = 2048) {
    auto record = align_rows(pair.view(), DiffOptions{}, ratio, max_rows);
    if (!record) throw std::runtime_error(record.error().text());
    return record.take();
}

using Kind = SegmentKind;

}  // namespace

TEST("the search gives up with bad_alloc once the trace would pass its bound") {
    const std::vector<u64> a = {1, 2, 3, 4, 5, 6};
    const std::vector<u64> b = {7, 8, 9, 10, 11, 12};  // nothing in common: 12 edits
    // Rounds 0 .. 12 keep 13^2 entries in all.
    auto script = shortest_edit_script(a, b, 12, 13 * 13);
    REQUIRE(script.has_value());
    CHECK_EQ(script->distance, u64{12});
    bool threw = false;
    try {
        (void)shortest_edit_script(a, b, 12, 13 * 13 - 1);
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    CHECK(threw);
    // Under the budget the bound is never reached.
    CHECK(!shortest_edit_script(a, b, 11, 13 * 13 - 1).has_value());
}

TEST("a row changed in place is a deletion then an insertion") {
    const std::vector<u64> a = {5, 1, 6};
    const std::vector<u64> b = {5, 2, 6};
    auto script = shortest_edit_script(a, b, 6);
    REQUIRE(script.has_value());
    const std::vector<EditOp> expected = {
        {0, 0, EditKind::Match}, {1, 1, EditKind::Deletion}, {2, 1, EditKind::Insertion}, {2, 2, EditKind::Match}};
    CHECK(script->operations == expected);
    CHECK_EQ(script->distance, u64{2});
}

TEST("an alignment carries its refined segments: rows that share nothing collapse across a filler run") {
    // The segments themselves are seen from Python.
    const AlignmentRecord record = align(pair_of(letter_rows("pqWWDEFrs", kWidth), letter_rows("pqIJKWWrs", kWidth)));
    const std::vector<RowSegment> refined = {{0, 0, 2, Kind::Equal}, {2, 2, 5, Kind::Replace}, {7, 7, 2, Kind::Equal}};
    CHECK(record.refined_segments == refined);
}

TEST("refinement collapses across fillers unless a deleted row reappears among the inserted ones") {
    const std::vector<u64> a = {1, 2, 9, 9, 3, 4, 5};
    const std::vector<u64> b = {1, 2, 6, 7, 9, 9, 5};
    const std::vector<RowSegment> moved = {
        {0, 0, 2, Kind::Equal}, {2, 2, 2, Kind::Insert}, {2, 4, 2, Kind::Equal}, {4, 6, 2, Kind::Delete},
        {6, 6, 1, Kind::Equal}};
    const std::vector<RowSegment> replaced = {{0, 0, 2, Kind::Equal}, {2, 2, 4, Kind::Replace}, {6, 6, 1, Kind::Equal}};
    CHECK(refine_segments(moved, a, b) == replaced);
    // Deleted row 4 is inserted row 2: the content moved, so the shift stays.
    const std::vector<u64> a2 = {1, 2, 9, 9, 6, 4, 5};
    CHECK(refine_segments(moved, a2, b) == moved);
    // A longer insert leaves an insert after the replace; the filler joins the replace.
    const std::vector<u64> b3 = {1, 2, 6, 7, 8, 9, 9, 5};
    // (the deleted rows 3 and 4 appear nowhere in the current image)
    const std::vector<RowSegment> longer = {
        {0, 0, 2, Kind::Equal}, {2, 2, 3, Kind::Insert}, {2, 5, 2, Kind::Equal}, {4, 7, 2, Kind::Delete},
        {6, 7, 1, Kind::Equal}};
    const std::vector<RowSegment> collapsed = {
        {0, 0, 2, Kind::Equal}, {2, 2, 4, Kind::Replace}, {6, 6, 1, Kind::Insert}, {6, 7, 1, Kind::Equal}};
    CHECK(refine_segments(longer, a, b3) == collapsed);
    // A filler after the window's last edit is not part of it.
    const std::vector<u64> a4 = {1, 3, 9, 9, 5};
    const std::vector<u64> b4 = {1, 6, 9, 9, 5};
    const std::vector<RowSegment> trailing = {
        {0, 0, 1, Kind::Equal}, {1, 1, 1, Kind::Delete}, {2, 1, 1, Kind::Insert}, {2, 2, 2, Kind::Equal},
        {4, 4, 1, Kind::Equal}};
    const std::vector<RowSegment> trailing_refined = {
        {0, 0, 1, Kind::Equal}, {1, 1, 1, Kind::Replace}, {2, 2, 2, Kind::Equal}, {4, 4, 1, Kind::Equal}};
    CHECK(refine_segments(trailing, a4, b4) == trailing_refined);
    CHECK(repeated_rows(std::vector<u64>{4, 1, 4, 2}, std::vector<u64>{1, 2, 3, 3}) == (std::vector<u64>{3, 4}));
}

namespace {

// Soft-edged blocks on white, so that the anti-aliasing test matters at the
// edge rows of a segment.
Image blocks(u64 width, u64 height, u64 seed) {
    Image image{Bytes(width * height * 4, 255), width, height};
    u64 state = seed;
    auto next = [&](u64 n) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (state >> 33) % n;
    };
    for (int block = 0; block < 12; ++block) {
        const u64 x0 = next(width - 4), y0 = next(height - 4), w = 2 + next(6), h = 2 + next(6);
        const u8 shade = static_cast<u8>(next(200));
        for (u64 y = y0; y < std::min(height, y0 + h); ++y) {
            for (u64 x = x0; x < std::min(width, x0 + w); ++x) {
                u8* pixel = &image.pixels[(y * width + x) * 4];
                const bool edge = x == x0 || y == y0;
                pixel[0] = pixel[1] = pixel[2] = edge ? static_cast<u8>(shade / 2 + 100) : shade;
            }
        }
    }
    return image;
}

}  // namespace

TEST("a segment's mask matches the full mask wherever its rows see the same neighbourhood") {
    // The anti-aliasing test reaches two rows away, so a segment's edge rows
    // may differ from the full mask when a context row stands in for the
    // image; every other row, and the rows at the images' own edges, agree.
    const u64 width = 24, height = 20;
    const Image baseline = blocks(width, height, 1);
    const Image current = blocks(width, height, 2);
    auto full = build_diff_mask(baseline.pixels, current.pixels, width, height, DiffOptions{});
    REQUIRE(full.ok());
    const ImagePair pair = pair_of(baseline, current);
    for (const u64 start : {u64{0}, u64{5}, u64{16}}) {
        for (const u64 len : {u64{1}, u64{3}, u64{4}}) {
            const RowSegment segment{start, start, len, Kind::Replace};
            auto mask = segment_change_mask(pair.view(), segment, DiffOptions{});
            REQUIRE(mask.ok() && mask->size() == len * width);
            for (u64 i = 0; i < len; ++i) {
                const u64 y = start + i;
                const bool edge_row = (i == 0 && y != 0) || (i + 1 == len && y + 1 != height);
                if (edge_row) continue;
                CHECK(std::equal(mask->begin() + static_cast<std::ptrdiff_t>(i * width),
                                 mask->begin() + static_cast<std::ptrdiff_t>((i + 1) * width),
                                 full->mask.begin() + static_cast<std::ptrdiff_t>(y * width)));
            }
        }
    }
    auto whole = segment_change_mask(pair.view(), RowSegment{0, 0, height, Kind::Replace}, DiffOptions{});
    REQUIRE(whole.ok());
    CHECK(std::equal(whole->begin(), whole->end(), full->mask.begin(), full->mask.end()));
    CHECK(full->count > 0);
}

TEST("a shifted segment takes its context from each image's own neighbouring rows") {
    const u64 width = 24;
    const Image baseline = blocks(width, 20, 3);
    const Image current = blocks(width, 22, 4);
    const ImagePair pair = pair_of(baseline, current);
    const RowSegment segment{6, 9, 5, Kind::Replace};
    auto mask = segment_change_mask(pair.view(), segment, DiffOptions{});
    REQUIRE(mask.ok());
    // The same strips cut by hand: rows 5 .. 11 of the baseline, 8 .. 14 of the current.
    const u64 stride = width * 4;
    const ByteView strip_b = ByteView(baseline.pixels).subspan(5 * stride, 7 * stride);
    const ByteView strip_c = ByteView(current.pixels).subspan(8 * stride, 7 * stride);
    auto strip = build_diff_mask(strip_b, strip_c, width, 7, DiffOptions{});
    REQUIRE(strip.ok());
    CHECK(std::equal(mask->begin(), mask->end(), strip->mask.begin() + static_cast<std::ptrdiff_t>(width)));
    // A segment reaching the baseline's last row has no row below.
    auto bottom = segment_change_mask(pair.view(), RowSegment{17, 2, 3, Kind::Replace}, DiffOptions{});
    REQUIRE(bottom.ok());
    auto bottom_strip = build_diff_mask(ByteView(baseline.pixels).subspan(16 * stride, 4 * stride),
                                        ByteView(current.pixels).subspan(1 * stride, 4 * stride), width, 4,
                                        DiffOptions{});
    REQUIRE(bottom_strip.ok());
    CHECK(std::equal(bottom->begin(), bottom->end(), bottom_strip->mask.begin() + static_cast<std::ptrdiff_t>(width)));
    DiffOptions bad;
    bad.threshold = 2.0;
    CHECK(!segment_change_mask(pair.view(), segment, bad).ok());
}

TEST("the binding check refuses a failed alignment first, then any other pair") {
    const ImagePair pair = pair_of(letter_rows("abcd", kWidth), letter_rows("abxcd", kWidth));
    const AlignmentRecord record = align(pair);
    const u64 fingerprint = compute_pair_fingerprint(pair.view());
    CHECK(check_alignment_binding(record, pair.view(), fingerprint).ok());

    auto kind_of = [&](const AlignmentRecord& changed, u64 pair_fingerprint) {
        auto status = check_alignment_binding(changed, pair.view(), pair_fingerprint);
        return status.ok() ? std::string("ok") : status.error().text();
    };
    const std::string foreign = "alignment does not belong to this image pair";
    AlignmentRecord failed = record;
    failed.aligned = false;
    failed.width = 99;
    CHECK_EQ(kind_of(failed, fingerprint), std::string("images could not be row-aligned"));
    CHECK_EQ(kind_of(record, fingerprint + 1), foreign);
    for (u64 AlignmentRecord::*field : {&AlignmentRecord::width, &AlignmentRecord::baseline_height,
                                        &AlignmentRecord::current_height, &AlignmentRecord::fingerprint}) {
        AlignmentRecord changed = record;
        changed.*field += 1;
        CHECK_EQ(kind_of(changed, fingerprint), foreign);
    }
}

TEST("align_rows checks threshold, alpha and max_edit_ratio, in that order; -0.0 is in range") {
    // Python sees the threshold and the ratio; alpha sits between them.
    const ImagePair pair = pair_of(letter_rows("ab", kWidth), letter_rows("ab", kWidth));
    auto text_of = [&](double threshold, double alpha, double ratio) {
        DiffOptions options;
        options.threshold = threshold;
        options.alpha = alpha;
        auto record = align_rows(pair.view(), options, ratio, 10);
        return record.ok() ? std::string("ok") : record.error().text();
    };
    CHECK_EQ(text_of(std::numeric_limits<double>::quiet_NaN(), 2.0, 2.0), std::string(kThresholdRangeText));
    CHECK_EQ(text_of(0.1, -0.5, 2.0), std::string(kAlphaRangeText));
    CHECK_EQ(text_of(0.1, 0.1, -0.0), std::string("ok"));
}
