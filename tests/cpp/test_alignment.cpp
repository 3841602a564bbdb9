// The parts of row alignment that Python cannot see: SipHash-1-3, row hashes
// and the pair fingerprint against CPython's hash() of the same bytes; the
// edit budget, the bounded trace, the backtrack's tie rule and refined
// segments; rows matched within a threshold against the colour delta itself;
// the fingerprint cache, filled once; the binding check; and the tiling the
// shift-aware parts insist on before reading rows.
#include <atomic>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <random>
#include <thread>

#include "alignment/align_rows.hpp"
#include "alignment/aligned_diff.hpp"
#include "alignment/belongs_to_pair.hpp"
#include "alignment/fingerprint.hpp"
#include "alignment/myers.hpp"
#include "alignment/refine.hpp"
#include "alignment/row_hash.hpp"
#include "alignment/row_match.hpp"
#include "alignment/siphash.hpp"
#include "alignment/tiling.hpp"
#include "check.hpp"
#include "clusters/aligned_clusters.hpp"
#include "image_utils/pair.hpp"
#include "pixel_diff/color_delta.hpp"
#include "ssim/aligned_ssim.hpp"

using namespace quorvane;

namespace {

// Rows of solid colours, one distinct colour a letter, so that a case reads
// as two strings.
Image letter_rows(const std::string& letters, u64 width) {
    Image image{Bytes(width * letters.size() * 4), width, letters.size()};
    for (u64 i = 0; i < image.pixels.size(); i += 4) {
        const auto code = static_cast<u8>(letters[i / 4 / width]);
        const u8 pixel[4] = {static_cast<u8>(code * 7), static_cast<u8>(code * 13), static_cast<u8>(code * 29), 255};
        std::memcpy(&image.pixels[i], pixel, 4);
    }
    return image;
}

constexpr u64 kWidth = 3;

ImagePair pair_of(const std::string& baseline, const std::string& current, u64 current_width = kWidth) {
    auto pair = build_image_pair(letter_rows(baseline, kWidth), letter_rows(current, current_width));
    if (!pair) throw std::runtime_error(pair.error().text());
    return pair.take();
}

AlignmentRecord align(const ImagePair& pair) {
    auto record = align_rows(pair.view(), DiffOptions{}, 1.0, 2048);
    if (!record) throw std::runtime_error(record.error().text());
    return record.take();
}

using Kind = SegmentKind;

// Segments written "=0,0,2 +2,2,2": the kind (= equal, ~ replace, + insert,
// - delete), then the baseline's and the current image's first rows and the length.
std::vector<RowSegment> segments(const char* text) {
    std::vector<RowSegment> list;
    std::istringstream in(text);
    char kind = 0, comma = 0;
    u64 baseline = 0, current = 0, length = 0;
    while (in >> kind >> baseline >> comma >> current >> comma >> length) {
        const Kind kinds[] = {Kind::Equal, Kind::Replace, Kind::Insert, Kind::Delete};
        list.push_back({baseline, current, length, kinds[std::string_view("=~+-").find(kind)]});
    }
    return list;
}

}  // namespace

// CPython 3.11 hashes bytes with SipHash-1-3, its key zero under
// PYTHONHASHSEED=0: the vectors are hash(data) & (2**64 - 1) of the bytes a
// row hash reads (transparent pixels as zeros), and of the fingerprint's
// lengths and hashes packed as little-endian 64-bit words ("<Q2QQ3Q").
TEST("siphash13, row_hash and pair_fingerprint match CPython's hash of the same bytes") {
    const std::pair<u64, u64> vectors[] = {
        // the hash of bytes 0 .. n - 1
        {1, 0x68a914128e01e473ull},   {7, 0x2f098ab0c751325aull},  {8, 0xead411e67ebe2eeaull},
        {9, 0x75927f9d95124362ull},   {15, 0xf30eb725bb91c9eaull}, {16, 0x8972188433a5c5b7ull},
        {17, 0x4883c49a2c009c1dull},  {63, 0x385d3e39e5f37359ull}, {64, 0x75e05fd5bbc870c6ull},
        {256, 0x31ae646afba70308ull},
    };
    for (const auto& [length, hash] : vectors) {
        Bytes bytes(length);
        for (u64 i = 0; i < length; ++i) bytes[i] = static_cast<u8>(i);
        CHECK_EQ(siphash13(bytes), hash);
    }
    // Transparent pixels read as zeros; odd widths end in half a word.
    const std::vector<std::vector<u8>> rows = {
        {1, 2, 3, 255},
        {10, 20, 30, 255, 40, 50, 60, 128},
        {10, 20, 30, 255, 99, 98, 97, 0, 1, 1, 1, 1},
        {0, 255, 0, 200, 40, 254, 1, 201, 80, 253, 2, 202, 120, 252, 3, 203, 160, 251, 4, 204},
        {255, 255, 255, 0, 255, 255, 255, 0, 255, 255, 255, 0, 255, 255, 255, 0},
    };
    const u64 hashes[] = {0x6734208ad78e3d4dull, 0x448022ba7604d485ull, 0x412d23df843cc79cull, 0x7dc6427bd83e9c90ull,
                          0x76be999e3e25b2a0ull};
    for (std::size_t i = 0; i < rows.size(); ++i) CHECK_EQ(row_hash(rows[i].data(), rows[i].size() / 4), hashes[i]);
    // Sixteen zero bytes either way: four transparent pixels, or two zero lengths.
    CHECK_EQ(row_hash(rows[4].data(), 4), siphash13(Bytes(16, 0)));
    const std::span<const u64> all(hashes);
    CHECK_EQ(pair_fingerprint(all.first(2), all.subspan(2)), 0x91a0443a1e3cd02aull);
    CHECK_EQ(pair_fingerprint({}, {}), 0x76be999e3e25b2a0ull);
    // The lengths keep the boundary between the two lists.
    CHECK(pair_fingerprint(all.first(2), all.subspan(2)) != pair_fingerprint(all.first(3), all.subspan(3)));
}

// Every path hashes each row as row_hash does: odd and even widths, groups
// of lanes and the rows left over, transparent pixels of any colour, and the
// last row ending where the buffer does.
TEST("each row hash path hashes every row as row_hash does") {
    for (const u64 width : {u64{0}, u64{1}, u64{2}, u64{3}, u64{7}, u64{64}, u64{1001}}) {
        for (const u64 rows : {u64{1}, u64{4}, u64{8}, u64{19}}) {
            Bytes pixels = random_bytes(width * rows * kBytesPerPixel, static_cast<unsigned>(width * 31 + rows));
            // A third of the pixels transparent, their colours left as they are.
            for (u64 i = 3; i < pixels.size(); i += 12) pixels[i] = 0;
            std::vector<u64> expected(rows);
            for (u64 y = 0; y < rows; ++y) expected[y] = row_hash(pixels.data() + y * width * kBytesPerPixel, width);
            CHECK(hash_rows(pixels, width, rows) == expected);
            for (const RowHashPath& path : row_hash_paths()) {
                std::vector<u64> hashes(rows, 0);
                const u64 done = path.hash(pixels.data(), width, rows, hashes.data());
                CHECK(done <= rows);
                hash_row_groups_scalar(pixels.data() + done * width * kBytesPerPixel, width, rows - done,
                                       hashes.data() + done);
                if (hashes != expected)
                    check::record_failure(
                        __FILE__, __LINE__,
                        std::string(path.name) + " at " + std::to_string(width) + "x" + std::to_string(rows));
            }
        }
    }
}

TEST("the edit budget is rounded up; the search gives up with bad_alloc once the trace would pass its bound") {
    CHECK(align_rows(pair_of("abc", "abXc").view(), DiffOptions{}, 0.1, 2048)->aligned);  // ceil(0.7) edits

    const std::vector<u64> a = {1, 2, 3, 4, 5, 6}, b = {7, 8, 9, 10, 11, 12};  // nothing in common: 12 edits
    // Rounds 0 .. 12 keep 13^2 entries in all; under the budget the bound is never reached.
    CHECK_EQ(shortest_edit_script(a, b, 12, 13 * 13)->distance, u64{12});
    CHECK(throws<std::bad_alloc>([&] { (void)shortest_edit_script(a, b, 12, 13 * 13 - 1); }));
    CHECK(!shortest_edit_script(a, b, 11, 13 * 13 - 1).has_value());

    // A row changed in place is a deletion, then an insertion.
    auto script = shortest_edit_script(std::vector<u64>{5, 1, 6}, std::vector<u64>{5, 2, 6}, 6);
    REQUIRE(script.has_value());
    CHECK(script->operations == (std::vector<EditOp>{{0, 0, EditKind::Match},
                                                     {1, 1, EditKind::Deletion},
                                                     {2, 1, EditKind::Insertion},
                                                     {2, 2, EditKind::Match}}));
}

TEST("refinement collapses across fillers unless a deleted row reappears among the inserted ones") {
    const std::vector<u64> a = {1, 2, 9, 9, 3, 4, 5}, b = {1, 2, 6, 7, 9, 9, 5};
    CHECK(segments("=0,1,2 ~3,4,5 +6,7,8 -9,10,11") ==
          (std::vector<RowSegment>{
              {0, 1, 2, Kind::Equal}, {3, 4, 5, Kind::Replace}, {6, 7, 8, Kind::Insert}, {9, 10, 11, Kind::Delete}}));
    const std::vector<RowSegment> moved = segments("=0,0,2 +2,2,2 =2,4,2 -4,6,2 =6,6,1");
    CHECK(refine_segments(moved, a, b) == segments("=0,0,2 ~2,2,4 =6,6,1"));
    // Deleted row 4 is inserted row 2: the content moved, so the shift stays.
    CHECK(refine_segments(moved, std::vector<u64>{1, 2, 9, 9, 6, 4, 5}, b) == moved);
    // A longer insert leaves an insert after the replace; the filler joins the replace.
    const std::vector<u64> longer = {1, 2, 6, 7, 8, 9, 9, 5};
    CHECK(refine_segments(segments("=0,0,2 +2,2,3 =2,5,2 -4,7,2 =6,7,1"), a, longer) ==
          segments("=0,0,2 ~2,2,4 +6,6,1 =6,7,1"));
    // A filler after the window's last edit is not part of it.
    CHECK(refine_segments(segments("=0,0,1 -1,1,1 +2,1,1 =2,2,2 =4,4,1"), std::vector<u64>{1, 3, 9, 9, 5},
                          std::vector<u64>{1, 6, 9, 9, 5}) == segments("=0,0,1 ~1,1,1 =2,2,2 =4,4,1"));
    CHECK(repeated_rows(std::vector<u64>{4, 1, 4, 2}, std::vector<u64>{1, 2, 3, 3}) == (std::vector<u64>{3, 4}));
}

// Pairs of rows, each pixel moved by channel noise that reaches past the
// threshold's largest step, then, on the rows meant to match, shrunk until
// the pixel is within it: pairs that match just, and pairs that do not.
// Rows 1 and 2 of every 3 are opaque; the others have pixels of any alpha.
TEST("rows within a threshold match by the colour delta of every pixel pair; their summaries never refuse them") {
    const u64 width = 75;  // 10 blocks of 8 pixels, the last of 3
    const u64 rows = 24;
    std::mt19937 random(3);
    for (const double threshold : {0.0, 0.02, 0.1, 0.3, 1.0}) {
        const double limit = max_delta(threshold);
        const int spread = 2 + static_cast<int>(std::sqrt(limit / 0.1));
        Image baseline{Bytes(width * rows * 4), width, rows};
        for (u64 i = 0; i < baseline.pixels.size(); ++i) {
            baseline.pixels[i] = i % 4 == 3 && i / 4 / width % 3 != 0 ? 255 : static_cast<u8>(random());
        }
        Image current{baseline.pixels, width, rows};
        for (u64 k = 0; k < current.pixels.size(); k += 4) {
            // Pixels seen through alpha may differ more in their bytes.
            const int reach = baseline.pixels[k + 3] == 255 ? spread : 4 * spread;
            int noise[4];
            for (int& n : noise) n = static_cast<int>(random() % (2 * reach + 1)) - reach;
            if (baseline.pixels[k + 3] == 255) noise[3] = 0;
            for (int eighths = 8; eighths >= 0; --eighths) {
                for (u64 c = 0; c < 4; ++c) {
                    current.pixels[k + c] =
                        static_cast<u8>(std::clamp(baseline.pixels[k + c] + noise[c] * eighths / 8, 0, 255));
                }
                const bool within =
                    !(std::fabs(color_delta(baseline.pixels.data(), current.pixels.data(), k, k, false)) > limit);
                if (within || k / 4 / width % 2 != 0) break;
            }
        }
        const ImagePair pair = build_image_pair(baseline, current).take();
        const CanvasView view = pair.view();
        const RowHashes hashes = hash_pair_rows(view);
        ThresholdRowMatch match(view, hashes.baseline, hashes.current, threshold);
        const SignatureTolerance tolerance = signature_tolerance(threshold);
        int matched_apart = 0, refused = 0;
        for (u64 x = 0; x < rows; ++x) {
            for (u64 y = 0; y < rows; ++y) {
                bool within = true;
                for (u64 offset = 0; offset < width * 4; offset += 4) {
                    const double delta = color_delta(view.baseline.data(), view.current.data(), x * width * 4 + offset,
                                                     y * width * 4 + offset, false);
                    within = within && !(std::fabs(delta) > limit);
                }
                CHECK_EQ(match.pixels_within(x, y), within);
                CHECK_EQ(match(x, y), within);
                const bool compatible =
                    signatures_compatible(row_signature(view.baseline.data() + x * width * 4, width),
                                          row_signature(view.current.data() + y * width * 4, width), tolerance);
                CHECK(compatible || !within);
                matched_apart += within && hashes.baseline[x] != hashes.current[y];
                refused += !compatible;
            }
        }
        CHECK(matched_apart >= (threshold > 0.0 ? 8 : 0));  // the noise was there, and within
        CHECK(refused >= (threshold < 1.0 ? 100 : 0));      // and the summaries do refuse rows
    }
}

namespace {

// The colour delta of two opaque pixels whose channels differ by d.
double opaque_delta(const int (&d)[3]) {
    u8 first[4] = {0, 0, 0, 255};
    u8 second[4] = {0, 0, 0, 255};
    for (int c = 0; c < 3; ++c) (d[c] > 0 ? first : second)[c] = static_cast<u8>(std::abs(d[c]));
    return std::fabs(color_delta(first, second, 0, 0, false));
}

}  // namespace

// The tolerance of each channel is the largest difference that channel can
// reach between opaque pixels within the threshold, found by trying every
// difference of the other two channels. And the pixel check's shortcut for
// pixels whose channels all differ a little holds exactly: one-pixel rows
// that differ on the corners of every cube of channel differences.
TEST("the summaries' tolerances are the channels' reach within the threshold; the pixel check's shortcut is exact") {
    for (const double threshold : {0.0, 0.02, 0.1, 0.3}) {
        const double limit = max_delta(threshold);
        const SignatureTolerance tolerance = signature_tolerance(threshold);
        for (int channel = 0; channel < 3; ++channel) {
            const auto reachable = [&](int value) {
                int d[3];
                d[channel] = value;
                for (d[(channel + 1) % 3] = -255; d[(channel + 1) % 3] <= 255; ++d[(channel + 1) % 3]) {
                    for (d[(channel + 2) % 3] = -255; d[(channel + 2) % 3] <= 255; ++d[(channel + 2) % 3]) {
                        if (!(opaque_delta(d) > limit)) return true;
                    }
                }
                return false;
            };
            const int reach = tolerance.bytes[channel];
            CHECK(reachable(reach) && (reach == 255 || !reachable(reach + 1)));
        }
        Image baseline{Bytes(8 * 256 * 4, 0), 1, 8 * 256};
        Image current = baseline;
        for (u64 row = 0; row < baseline.height; ++row) {
            for (u64 c = 0; c < 4; ++c) {
                const bool up = c == 3 || ((row >> c) & 1) != 0;
                (up ? baseline : current).pixels[row * 4 + c] = static_cast<u8>(c == 3 ? 255 : row / 8);
            }
            current.pixels[row * 4 + 3] = 255;
        }
        const ImagePair pair = build_image_pair(baseline, current).take();
        const RowHashes hashes = hash_pair_rows(pair.view());
        const ThresholdRowMatch match(pair.view(), hashes.baseline, hashes.current, threshold);
        for (u64 row = 0; row < baseline.height; ++row) {
            const double delta =
                color_delta(pair.baseline.data(), pair.current_pixels().data(), row * 4, row * 4, false);
            CHECK_EQ(match.pixels_within(row, row), !(std::fabs(delta) > limit));
        }
    }
}

TEST("threads that find the fingerprint cell empty at once share one computation") {
    for (int round = 0; round < 10; ++round) {
        FingerprintCell cell;
        constexpr int kThreads = 8;
        std::barrier start(kThreads);
        std::atomic<int> computations{0};
        std::vector<u64> seen(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                start.arrive_and_wait();
                seen[t] = cell.get_or_compute([&] {
                    ++computations;
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // let the others pile up
                    return u64{0x5eed};
                });
            });
        }
        for (auto& thread : threads) thread.join();
        CHECK_EQ(computations.load(), 1);
        CHECK(seen == std::vector<u64>(kThreads, 0x5eed));
    }
}

TEST("the pair's fingerprint is cached from an aligned record, else by the first shift-aware call") {
    ImagePair pair = pair_of("abcdef", "abXcdef");
    const u64 own = compute_pair_fingerprint(pair.view());
    CHECK(!pair.fingerprint.peek().has_value());
    const AlignmentRecord record = align(pair);
    remember_pair_fingerprint(pair, record);
    CHECK(record.fingerprint == own && pair.fingerprint.peek() == std::optional<u64>(own));

    // Rows matched within a threshold tie the record to the threshold too,
    // while the pair's own fingerprint, from the same row hashes, is cached.
    ImagePair fresh = pair_of("abcdef", "abXcdef");
    const AlignmentRecord within = align_rows(fresh.view(), DiffOptions{}, 1.0, 2048, 0.2).take();
    remember_pair_fingerprint(fresh, within);
    CHECK(within.aligned && within.fingerprint == alignment_fingerprint(own, 0.2) && within.fingerprint != own);
    CHECK(fresh.fingerprint.peek() == std::optional<u64>(own));

    ImagePair widths = pair_of("abc", "abc", kWidth + 1);
    const AlignmentRecord failed = align(widths);
    CHECK(!failed.aligned);
    remember_pair_fingerprint(widths, failed);
    CHECK(!widths.fingerprint.peek().has_value());
    CHECK_EQ(cached_pair_fingerprint(widths), compute_pair_fingerprint(widths.view()));
    CHECK(widths.fingerprint.peek().has_value());
}

TEST(
    "the check that an alignment belongs to its pair refuses a failed alignment first, then a record of another pair") {
    const ImagePair pair = pair_of("abcd", "abxcd");
    const AlignmentRecord record = align(pair);
    const u64 fingerprint = compute_pair_fingerprint(pair.view());
    const std::string foreign = "alignment does not belong to this image pair";
    CHECK_EQ(outcome(check_alignment_belongs_to_pair(record, pair.view(), fingerprint)), std::string("ok"));
    AlignmentRecord failed = record;
    failed.aligned = false;
    failed.width = 99;
    CHECK_EQ(outcome(check_alignment_belongs_to_pair(failed, pair.view(), fingerprint)),
             std::string("images could not be row-aligned"));
    CHECK_EQ(outcome(check_alignment_belongs_to_pair(record, pair.view(), fingerprint + 1)), foreign);
    AlignmentRecord taller = record;
    taller.current_height += 1;
    CHECK_EQ(outcome(check_alignment_belongs_to_pair(taller, pair.view(), fingerprint)), foreign);
    AlignmentRecord within = align_rows(pair.view(), DiffOptions{}, 1.0, 2048, 0.2).take();
    CHECK_EQ(outcome(check_alignment_belongs_to_pair(within, pair.view(), fingerprint)), std::string("ok"));
    within.row_threshold = 0.25;
    CHECK_EQ(outcome(check_alignment_belongs_to_pair(within, pair.view(), fingerprint)), foreign);
}

TEST("segments that do not tile both images are a broken invariant, never read") {
    const ImagePair pair = pair_of("abcdef", "abXcdef");
    const CanvasView view = pair.view();
    const AlignmentRecord record = align(pair);
    const u64 fingerprint = compute_pair_fingerprint(view);
    CHECK(!throws<Panic>([&] { require_tiling(record.refined_segments, kWidth, 6, 7); }));
    const char* broken[] = {
        "",                                    // no rows at all
        "=0,0,6",                              // short of the current rows
        "=0,0,2 +2,3,1 =2,3,4",                // a gap
        "~0,0,7",                              // past the baseline's rows
        "=0,0,0 +0,0,1 =0,1,6",                // an empty segment
        "=0,0,2 +2,2,1 =2,3,4 -6,7,1 +7,7,1",  // runs on past the end
    };
    for (const char* text : broken) {
        AlignmentRecord forged = record;
        forged.refined_segments = segments(text);
        CHECK(throws<Panic>([&] { require_tiling(forged.refined_segments, kWidth, 6, 7); }));
        CHECK(
            throws<Panic>([&] { (void)aligned_ssim(view, fingerprint, forged, [] { return Result<double>(1.0); }); }));
        CHECK(throws<Panic>([&] { (void)render_aligned_diff(view, fingerprint, forged, DiffOptions{}); }));
        CHECK(throws<Panic>([&] { (void)aligned_clusters(view, fingerprint, forged, DiffOptions{}, {}); }));
    }
    // A pair without columns has no rows to tile.
    CHECK(!throws<Panic>([&] { require_tiling({}, 0, 4, 9); }));
    CHECK(throws<Panic>([&] { require_tiling(record.refined_segments, 0, 6, 7); }));
}
