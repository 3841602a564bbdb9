// Fuzz target: one image pair through every analysis. The input is option
// bytes, then the baseline PNG (its length in two bytes) and the current PNG.
// The pair is built, and every method's operation run on it, by the very
// functions Comparison calls; where two routes must agree (count, mask and
// diff image; an image alone and with its thumbnail; the per-method and the
// batch work; an alignment and the pair fingerprint) the answers are
// compared.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
#include <numeric>
#include <optional>

#include "alignment/fingerprint.hpp"
#include "alignment/tiling.hpp"
#include "batch/pair_work.hpp"
#include "clusters/extract.hpp"
#include "core/checked.hpp"
#include "fuzz_input.hpp"
#include "image_utils/pair.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"
#include "operations/analyses.hpp"
#include "operations/diff_images.hpp"
#include "operations/memory_needs.hpp"
#include "operations/thumbnails.hpp"
#include "pixel_diff/mask.hpp"
#include "pixel_diff/render.hpp"

namespace quorvane::fuzz {
namespace {

struct FuzzCase {
    DiffOptions diff;
    ClusterOptions clusters;
    AlignmentOptions alignment;
    u64 cap = 0;
    IgnoreRegions ignore;
    bool batch_work = false;
    std::optional<u64> thumbnail_width;  // thumbnails are made only when set
    Bytes baseline_png;
    Bytes current_png;
};

FuzzCase read_input(InputReader& input) {
    FuzzCase read;
    read.diff.threshold = input.byte() / 255.0;
    read.diff.alpha = input.byte() / 255.0;
    const u8 flags = input.byte();
    read.diff.include_aa = (flags & 1) != 0;
    if (flags & 2) read.diff.diff_color_alt = Rgb{0, 0, 255};
    read.batch_work = (flags & 4) != 0;
    read.clusters.dilation = count_option(input.byte(), 9);
    read.clusters.min_pixels = count_option(input.byte(), 40);
    read.clusters.min_side = count_option(input.byte(), 6);
    const u64 max_clusters = count_option(input.byte(), 12);
    if ((flags & 16) == 0) read.clusters.max_clusters = max_clusters;
    read.clusters.merge_gap = count_option(input.byte(), 10);
    const u8 overlap = input.byte();  // any value is accepted, NaN and negatives included
    read.clusters.merge_overlap = overlap == 255 ? std::nan("") : overlap / 100.0 - 0.5;
    read.alignment.max_edit_ratio = input.byte() / 255.0;
    read.alignment.max_edit_rows = count_option(input.byte(), 256);
    read.cap = count_option(input.byte(), 256);
    if (flags & 8) read.thumbnail_width = 1 + read.cap % 64;
    if (flags & 32) read.ignore.regions.push_back({read.cap % 13, read.cap % 7, 1 + read.cap % 11, 1 + read.cap % 5});
    // Checksums are put right: their failure is the decoder target's business.
    read.baseline_png = with_chunk_crcs_fixed(input.take(input.u16le()));
    read.current_png = with_chunk_crcs_fixed(input.rest());
    return read;
}

bool in_unit_interval(double value) { return value >= 0.0 && value <= 1.0; }

void check_clusters(const ClusterList& list, u64 width, u64 height, const ClusterOptions& options) {
    if (options.max_clusters) {
        FUZZ_REQUIRE(list.truncated == (list.total_clusters > *options.max_clusters));
        FUZZ_REQUIRE(list.clusters.size() <= *options.max_clusters);
    } else {
        FUZZ_REQUIRE(!list.truncated);
    }
    FUZZ_REQUIRE(list.clusters.size() <= list.total_clusters);
    for (const ClusterRecord& cluster : list.clusters) {
        FUZZ_REQUIRE(cluster.width >= 1 && cluster.height >= 1);
        FUZZ_REQUIRE(cluster.x + cluster.width <= width && cluster.y + cluster.height <= height);
        FUZZ_REQUIRE(cluster.pixel_count >= 1 && cluster.merged_from >= 1);
    }
}

// A PNG file of the size given, as the encoder writes it.
void require_png_of_size(ByteView png, u64 width, u64 height) {
    auto decoded = decode_png(png);
    FUZZ_REQUIRE(decoded && decoded->width == width && decoded->height == height);
}

// The PNG of an image drawn with its thumbnail is the PNG drawn alone.
void require_same_png(const Result<PngAndThumbnail>& both, const Bytes& alone) {
    FUZZ_REQUIRE(both && both->png == alone && !both->thumbnail.empty());
}

void check_alignment(const CanvasView& view, const AlignmentRecord& record) {
    FUZZ_REQUIRE(record.width == view.width);
    FUZZ_REQUIRE(record.baseline_height == view.baseline_size.height);
    FUZZ_REQUIRE(record.current_height == view.current_size.height);
    if (!record.aligned) {
        FUZZ_REQUIRE(record.segments.empty() && record.refined_segments.empty() && record.bands.empty());
        return;
    }
    require_tiling(record.segments, record.width, record.baseline_height, record.current_height);
    require_tiling(record.refined_segments, record.width, record.baseline_height, record.current_height);
    FUZZ_REQUIRE(record.fingerprint == compute_pair_fingerprint(view));
    u64 inserted = 0;
    u64 deleted = 0;
    for (const RowSegment& segment : record.segments) {
        if (segment.kind == SegmentKind::Insert) inserted += segment.len;
        if (segment.kind == SegmentKind::Delete) deleted += segment.len;
    }
    FUZZ_REQUIRE(inserted == record.inserted_rows && deleted == record.deleted_rows);
}

void run_aligned_methods(ImagePair& pair, const AlignmentRecord& record, const FuzzCase& input) {
    auto score = pair_aligned_ssim(pair, record);
    auto png = aligned_diff_png(pair, record, input.diff);
    auto clusters = pair_aligned_clusters(pair, record, input.diff, input.clusters);
    if (!record.aligned) {
        FUZZ_REQUIRE(!score && score.error().kind() == CompareError::Kind::NotAligned);
        FUZZ_REQUIRE(!png && png.error().kind() == CompareError::Kind::NotAligned);
        FUZZ_REQUIRE(!clusters && clusters.error().kind() == CompareError::Kind::NotAligned);
        return;
    }
    FUZZ_REQUIRE(pair.fingerprint.peek() == record.fingerprint);
    FUZZ_REQUIRE(score && in_unit_interval(*score));
    FUZZ_REQUIRE(png.ok());
    require_png_of_size(*png, pair.width, pair.current_size.height);
    if (input.thumbnail_width) {
        ThumbnailOptions thumbnail;
        thumbnail.width = *input.thumbnail_width;
        require_same_png(aligned_diff_png_and_thumbnail(pair, record, input.diff, thumbnail), *png);
    }
    FUZZ_REQUIRE(clusters.ok());
    check_clusters(*clusters, pair.width, pair.current_size.height, input.clusters);
}

// The batch work of one pair must give what the methods give; with a diff
// image its count is the image's.
void check_batch_work(const FuzzCase& input, const DiffPng& diff, double ssim, const std::optional<Bytes>& thumbnail) {
    const CompareOptions options{input.diff, true, input.thumbnail_width, std::nullopt, input.ignore, {}};
    auto compared = compare_pair(input.baseline_png, input.current_png, options);
    FUZZ_REQUIRE(compared.ok());
    FUZZ_REQUIRE(compared->count == diff.count && compared->ssim == ssim);
    FUZZ_REQUIRE(compared->diff_png && *compared->diff_png == diff.png);
    FUZZ_REQUIRE(compared->thumbnail == thumbnail);
    auto drawn = diff_pair(input.baseline_png, input.current_png, input.diff, input.ignore);
    FUZZ_REQUIRE(drawn && drawn->png == diff.png && drawn->count == diff.count);
}

// The pair as Comparison builds it, or nothing when its canvas is too large
// to analyse quickly: decoded and built by the two steps of
// decode_image_pair. A pair whose need exceeds the default memory limit must
// be refused before anything is decoded.
std::optional<ImagePair> build_pair(const FuzzCase& input) {
    auto images = decode_images(input.baseline_png, input.current_png);
    if (!images) {
        // The baseline's failure wins and names its side.
        const bool baseline_decodes = decode_png(input.baseline_png).ok();
        FUZZ_REQUIRE(is_decode_failure(images.error(), baseline_decodes ? InputImage::Current : InputImage::Baseline));
        return std::nullopt;
    }
    const Image& baseline = images->baseline;
    const Image& current = images->current_image();
    const auto canvas =
        checked_rgba_length(std::max(baseline.width, current.width), std::max(baseline.height, current.height));
    if (!canvas || *canvas > kMaxAnalysedPixels * kBytesPerPixel) {
        const PairSizes sizes{{baseline.width, baseline.height}, {current.width, current.height}};
        if (pair_memory_needed(sizes) > kDefaultMemoryLimit) {
            auto refused = decode_image_pair(input.baseline_png, input.current_png, input.ignore);
            FUZZ_REQUIRE(!refused && refused.error().kind() == CompareError::Kind::MemoryLimit);
        }
        return std::nullopt;
    }
    auto built = build_painted_pair(images.take(), input.ignore);
    FUZZ_REQUIRE(built.ok() && built->ignored_pixels <= built->width * built->height);
    return built.take();
}

void run_pair(FuzzCase& input) {
    std::optional<ImagePair> built = build_pair(input);
    if (!built) return;
    ImagePair& pair = *built;
    const CanvasView view = pair.view();
    const u64 width = view.width;
    const u64 height = view.height;
    // An unlimited edit budget only where the trace stays small.
    if (view.baseline_size.height + view.current_size.height > 512) {
        input.alignment.max_edit_rows = std::min<u64>(input.alignment.max_edit_rows, 255);
    }

    auto count = pair_diff_count(pair, input.diff, std::nullopt);
    FUZZ_REQUIRE(count.ok() && *count <= width * height);
    auto capped = pair_diff_count(pair, input.diff, input.cap);
    FUZZ_REQUIRE(capped.ok());
    if (input.cap == 0) {
        FUZZ_REQUIRE(*capped == 0);
    } else if (*count < input.cap) {
        FUZZ_REQUIRE(*capped == *count);
    } else {
        FUZZ_REQUIRE(*capped >= input.cap && *capped <= *count);
    }

    auto mask = build_diff_mask(view.baseline, view.current, width, height, input.diff);
    FUZZ_REQUIRE(mask && mask->count == *count && mask->mask.size() == width * height);
    FUZZ_REQUIRE(std::accumulate(mask->mask.begin(), mask->mask.end(), u64{0}) == *count);

    // At threshold 0 without include_aa counting compares words only, while
    // the diff image keeps the full rule, whose changed pixels are among them.
    const bool exact_mode = input.diff.threshold == 0.0 && !input.diff.include_aa;
    auto image = render_pair_diff(view, input.diff);
    FUZZ_REQUIRE(image && image->pixels.size() == width * height * kBytesPerPixel);
    FUZZ_REQUIRE(exact_mode ? image->count <= *count : image->count == *count);
    for (u64 at = 3; at < image->pixels.size(); at += kBytesPerPixel) FUZZ_REQUIRE(image->pixels[at] == 255);
    // Drawn from the rows the count kept, the image is the one drawn anew.
    auto diff = diff_png(pair, input.diff);
    FUZZ_REQUIRE(diff && diff->count == image->count);
    auto drawn = encode_png(image->pixels, width, height);
    FUZZ_REQUIRE(drawn && *drawn == diff->png);
    require_png_of_size(diff->png, width, height);

    auto score = pair_ssim(pair);
    FUZZ_REQUIRE(score && in_unit_interval(*score));

    auto clusters = pair_clusters(pair, input.diff, input.clusters);
    FUZZ_REQUIRE(clusters.ok());
    check_clusters(*clusters, width, height, input.clusters);
    auto from_mask = extract_clusters(mask->mask, width, height, input.clusters);
    FUZZ_REQUIRE(from_mask && from_mask->total_clusters == clusters->total_clusters);

    std::optional<Bytes> current_webp;
    if (input.thumbnail_width) {
        ThumbnailOptions options;
        options.width = *input.thumbnail_width;
        auto current = current_thumbnail(pair, options);
        FUZZ_REQUIRE(current.ok());
        current_webp = current.take();
        FUZZ_REQUIRE(baseline_thumbnail(pair, {options, false}).ok());
        FUZZ_REQUIRE(baseline_thumbnail(pair, {options, true}).ok());
        require_same_png(diff_png_and_thumbnail(pair, input.diff, options), diff->png);
    }

    auto record = pair_row_alignment(pair, input.diff, input.alignment);
    FUZZ_REQUIRE(record.ok());
    check_alignment(view, *record);
    run_aligned_methods(pair, *record, input);

    if (input.batch_work) check_batch_work(input, *diff, *score, current_webp);
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quorvane::fuzz::InputReader reader(data, size);
    quorvane::fuzz::FuzzCase input = quorvane::fuzz::read_input(reader);
    quorvane::fuzz::run_pair(input);
    return 0;
}
