#include "operations/diff_images.hpp"

#include <utility>

#include "alignment/aligned_diff.hpp"
#include "alignment/fingerprint.hpp"
#include "image_utils/png_encode.hpp"
#include "operations/memory_needs.hpp"
#include "pixel_diff/change_blocks.hpp"
#include "pixel_diff/render.hpp"

namespace quorvane {
namespace {

// Drawn from the rows the pair's last count classified when they were kept.
Result<DiffImage> pair_diff_image(const ImagePair& pair, const DiffOptions& options) {
    const std::shared_ptr<const ChangeBlocks> known = pair.change_blocks.load();
    return render_pair_diff(pair.view(), options, known.get());
}

}  // namespace

Result<DiffPng> diff_png(const ImagePair& pair, const DiffOptions& options) {
    if (auto refused = refusal(pair, diff_png_work_bytes({pair.width, pair.height}))) return *std::move(refused);
    auto image = pair_diff_image(pair, options);
    if (!image) return std::move(image).error();
    auto png = encode_png(image->pixels, image->width, image->height);
    if (!png) return std::move(png).error();
    return DiffPng{png.take(), image->count};
}

Result<PngAndThumbnail> diff_png_and_thumbnail(const ImagePair& pair, const DiffOptions& options,
                                               const ThumbnailOptions& thumbnail) {
    if (auto refused = refusal(pair, diff_png_and_thumbnail_work_bytes({pair.width, pair.height}, thumbnail))) {
        return *std::move(refused);
    }
    auto image = pair_diff_image(pair, options);
    if (!image) return std::move(image).error();
    return encode_png_and_thumbnail(image->pixels, image->width, image->height, thumbnail);
}

namespace {

Result<Image> aligned_diff(ImagePair& pair, const AlignmentRecord& alignment, const DiffOptions& options) {
    return render_aligned_diff(pair.view(), cached_pair_fingerprint(pair), alignment, options);
}

}  // namespace

Result<Bytes> aligned_diff_png(ImagePair& pair, const AlignmentRecord& alignment, const DiffOptions& options) {
    const Size canvas{pair.width, pair.height};
    if (auto refused = refusal(pair, aligned_diff_work_bytes(canvas, diff_png_work_bytes(canvas)))) {
        return *std::move(refused);
    }
    auto image = aligned_diff(pair, alignment, options);
    if (!image) return std::move(image).error();
    return encode_png(image->pixels, image->width, image->height);
}

Result<PngAndThumbnail> aligned_diff_png_and_thumbnail(ImagePair& pair, const AlignmentRecord& alignment,
                                                       const DiffOptions& options, const ThumbnailOptions& thumbnail) {
    const Size canvas{pair.width, pair.height};
    const u64 work = aligned_diff_work_bytes(canvas, diff_png_and_thumbnail_work_bytes(canvas, thumbnail));
    if (auto refused = refusal(pair, work)) return *std::move(refused);
    auto image = aligned_diff(pair, alignment, options);
    if (!image) return std::move(image).error();
    return encode_png_and_thumbnail(image->pixels, image->width, image->height, thumbnail);
}

}  // namespace quorvane
