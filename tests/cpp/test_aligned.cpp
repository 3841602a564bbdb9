// What the shift-aware methods share below Python: the fingerprint cache
// filled once (by an aligned record or by the first shift-aware call), the
// order of their checks, and the tiling they insist on before reading rows.
#include <atomic>
#include <barrier>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "alignment/align_rows.hpp"
#include "alignment/aligned_diff.hpp"
#include "alignment/fingerprint.hpp"
#include "alignment/tiling.hpp"
#include "check.hpp"
#include "letter_rows.hpp"
#include "clusters/aligned_clusters.hpp"
#include "image_utils/pair.hpp"
#include "ssim/aligned_ssim.hpp"

using namespace quorvane;

namespace {

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

template <class T>
std::string error_text(const Result<T>& result) {
    return result ? std::string("no error") : result.error().text();
}

const std::string kNotAligned = "images could not be row-aligned";
const std::string kForeign = "alignment does not belong to this image pair";
const std::string kThreshold = "threshold must be in the range [0.0, 1.0]";
const std::string kAlpha = "alpha must be in the range [0.0, 1.0]";

bool panics(auto&& call) {
    try {
        call();
    } catch (const Panic&) {
        return true;
    }
    return false;
}

}  // namespace

TEST("threads that find the cell empty at once share one computation") {
    for (int round = 0; round < 20; ++round) {
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
                    return u64{0x5eed} + static_cast<u64>(round);
                });
            });
        }
        for (auto& thread : threads) thread.join();
        CHECK_EQ(computations.load(), 1);
        for (u64 value : seen) CHECK_EQ(value, u64{0x5eed} + static_cast<u64>(round));
    }
}

TEST("the pair's cache is filled by an aligned record, else by the first shift-aware call") {
    ImagePair pair = pair_of("abcdef", "abXcdef");
    const u64 own = compute_pair_fingerprint(pair.view());
    CHECK(!pair.fingerprint.peek().has_value());
    const AlignmentRecord record = align(pair);
    remember_pair_fingerprint(pair, record);
    const std::optional<u64> stored = pair.fingerprint.peek();
    REQUIRE(stored.has_value());
    CHECK_EQ(*stored, record.fingerprint);
    CHECK_EQ(record.fingerprint, own);
    // Once filled, the cell keeps its value.
    AlignmentRecord other = record;
    other.fingerprint = own + 1;
    remember_pair_fingerprint(pair, other);
    CHECK_EQ(cached_pair_fingerprint(pair), own);

    // A failed alignment leaves the cell empty; the first shift-aware call fills it.
    ImagePair widths = pair_of("abc", "abc", kWidth + 1);
    const AlignmentRecord failed = align(widths);
    CHECK(!failed.aligned);
    remember_pair_fingerprint(widths, failed);
    CHECK(!widths.fingerprint.peek().has_value());
    CHECK_EQ(cached_pair_fingerprint(widths), compute_pair_fingerprint(widths.view()));
    CHECK(widths.fingerprint.peek().has_value());
}

TEST("the diff image checks the alignment before the option ranges; clusters the threshold first") {
    const ImagePair pair = pair_of("abcdef", "abXcdef");
    const AlignmentRecord record = align(pair);
    const u64 fingerprint = compute_pair_fingerprint(pair.view());
    AlignmentRecord failed = record;
    failed.aligned = false;
    DiffOptions bad_alpha;
    bad_alpha.alpha = 2.0;
    DiffOptions bad_threshold;
    bad_threshold.threshold = -0.5;

    CHECK_EQ(error_text(render_aligned_diff(pair.view(), fingerprint, failed, bad_alpha)), kNotAligned);
    CHECK_EQ(error_text(render_aligned_diff(pair.view(), fingerprint + 1, record, bad_threshold)), kForeign);
    CHECK_EQ(error_text(render_aligned_diff(pair.view(), fingerprint, record, bad_threshold)), kThreshold);
    CHECK_EQ(error_text(render_aligned_diff(pair.view(), fingerprint, record, bad_alpha)), kAlpha);
    CHECK(render_aligned_diff(pair.view(), fingerprint, record, DiffOptions{}).ok());

    CHECK_EQ(error_text(aligned_ssim(pair.view(), fingerprint, failed)), kNotAligned);
    CHECK_EQ(error_text(aligned_ssim(pair.view(), fingerprint + 1, record)), kForeign);

    CHECK_EQ(error_text(aligned_clusters(pair.view(), fingerprint, failed, bad_threshold, {})), kThreshold);
    CHECK_EQ(error_text(aligned_clusters(pair.view(), fingerprint, failed, DiffOptions{}, {})), kNotAligned);
    CHECK_EQ(error_text(aligned_clusters(pair.view(), fingerprint + 1, record, DiffOptions{}, {})), kForeign);
}

TEST("segments that do not tile both images are a broken invariant, never read") {
    const ImagePair pair = pair_of("abcdef", "abXcdef");
    const AlignmentRecord record = align(pair);
    const u64 fingerprint = compute_pair_fingerprint(pair.view());
    const PairView view = pair.view();
    CHECK(!panics([&] { require_tiling(record.refined_segments, kWidth, 6, 7); }));

    using Kind = SegmentKind;
    const std::vector<std::vector<RowSegment>> broken = {
        {},                                                          // no rows at all
        {{0, 0, 6, Kind::Equal}},                                    // stops short of the current rows
        {{0, 0, 2, Kind::Equal}, {2, 3, 1, Kind::Insert}, {2, 3, 4, Kind::Equal}},  // a gap
        {{0, 0, 7, Kind::Replace}},                                  // past the baseline's rows
        {{0, 0, 0, Kind::Equal}, {0, 0, 1, Kind::Insert}, {0, 1, 6, Kind::Equal}},  // an empty segment
        {{0, 0, 2, Kind::Equal}, {2, 2, 1, Kind::Insert}, {2, 3, 4, Kind::Equal}, {6, 7, 1, Kind::Delete},
         {7, 7, 1, Kind::Insert}},                                   // runs on past the end
    };
    for (const auto& segments : broken) {
        AlignmentRecord forged = record;
        forged.refined_segments = segments;
        CHECK(panics([&] { require_tiling(segments, kWidth, 6, 7); }));
        CHECK(panics([&] { (void)aligned_ssim(view, fingerprint, forged); }));
        CHECK(panics([&] { (void)render_aligned_diff(view, fingerprint, forged, DiffOptions{}); }));
        CHECK(panics([&] { (void)aligned_clusters(view, fingerprint, forged, DiffOptions{}, {}); }));
    }
    // A pair without columns has no rows to tile.
    CHECK(!panics([&] { require_tiling({}, 0, 4, 9); }));
    CHECK(panics([&] { require_tiling(record.refined_segments, 0, 6, 7); }));
}
