// Bringing the two images of a pair to their common size, and building the
// record a Comparison owns from decoded or caller-supplied pixels.
#include "image_utils/pair.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/checked.hpp"
#include "core/parallel.hpp"
#include "image_utils/pad.hpp"
#include "image_utils/png_decode.hpp"
#include "operations/memory_needs.hpp"

namespace quorvane {
namespace {

// Stops at the first difference, so that telling two different images
// apart costs little.
bool same_content(ByteView first, ByteView second) {
    if (first.size() != second.size()) return false;
    return first.empty() || first.data() == second.data() ||
           std::memcmp(first.data(), second.data(), first.size()) == 0;
}

}  // namespace

Result<PaddedImages> normalize_pair(ByteView baseline, u64 baseline_width, u64 baseline_height, ByteView current,
                                    u64 current_width, u64 current_height) {
    if (auto checked = check_rgba_buffer(baseline, baseline_width, baseline_height); !checked) {
        return std::move(checked).error();
    }
    if (auto checked = check_rgba_buffer(current, current_width, current_height); !checked) {
        return std::move(checked).error();
    }

    PaddedImages pair;
    pair.width = std::max(baseline_width, current_width);
    pair.height = std::max(baseline_height, current_height);
    pair.baseline = baseline;
    pair.current = current;
    if (baseline_width < pair.width || baseline_height < pair.height) {
        auto padded = pad_to(baseline, baseline_width, baseline_height, pair.width, pair.height);
        if (!padded) return std::move(padded).error();
        pair.baseline_padded = padded.take();
        pair.baseline = *pair.baseline_padded;
    }
    if (current_width < pair.width || current_height < pair.height) {
        auto padded = pad_to(current, current_width, current_height, pair.width, pair.height);
        if (!padded) return std::move(padded).error();
        pair.current_padded = padded.take();
        pair.current = *pair.current_padded;
    }
    return pair;
}

void paint_own_sizes(DecodedImages& images, const IgnoreRegions& ignore) {
    for (Image* image : {&images.baseline, &images.current}) {
        paint_regions(image->pixels, {image->width, image->height}, ignore.regions, ignore.color);
    }
}

namespace {

// An image as wide as the canvas but shorter is padded with zero rows below
// it, in its own buffer when that has room for them (the decoder leaves room
// when it can), so that nothing is copied.
void pad_below_in_place(Image& image, u64 width, u64 height) {
    if (image.width != width || image.height >= height || width == 0) return;
    const auto canvas = checked_rgba_length(width, height);
    if (!canvas || image.pixels.capacity() < *canvas) return;
    const u64 own = image.pixels.size();
    image.pixels.resize(*canvas);
    std::memset(image.pixels.data() + own, 0, *canvas - own);
    image.height = height;
}

}  // namespace

Result<ImagePair> build_image_pair(Image baseline, Image current, const IgnoreRegions& ignore) {
    ImagePair pair;
    pair.baseline_size = {baseline.width, baseline.height};
    pair.current_size = {current.width, current.height};
    if (check_rgba_buffer(baseline.pixels, baseline.width, baseline.height) &&
        check_rgba_buffer(current.pixels, current.width, current.height)) {
        const u64 width = std::max(baseline.width, current.width);
        const u64 height = std::max(baseline.height, current.height);
        pad_below_in_place(baseline, width, height);
        pad_below_in_place(current, width, height);
    }
    auto normalized =
        normalize_pair(baseline.pixels, baseline.width, baseline.height, current.pixels, current.width, current.height);
    if (!normalized) return std::move(normalized).error();

    pair.width = normalized->width;
    pair.height = normalized->height;
    // Each image was painted at its own size; what padding added, in place
    // or in a copy, is painted now.
    const Size canvas{pair.width, pair.height};
    pair.baseline = normalized->baseline_padded ? std::move(*normalized->baseline_padded) : std::move(baseline.pixels);
    if (normalized->current_padded) {
        pair.current = std::move(*normalized->current_padded);
    } else {
        pair.current = std::move(current.pixels);
    }
    // Padding below keeps the current image as the canvas's first rows; a
    // widened one keeps its original beside it.
    if (pair.current_size.width < pair.width) pair.current_unpadded = std::move(current.pixels);
    paint_regions(pair.baseline, canvas, ignore.regions, ignore.color, pair.baseline_size);
    paint_regions(pair.current, canvas, ignore.regions, ignore.color, pair.current_size);
    pair.ignore = ignore;
    pair.ignored_pixels = covered_pixels(ignore.regions, canvas);
    // Images equal once painted are one: the pair keeps a single buffer.
    if (pair.baseline_size == pair.current_size && same_content(pair.baseline, pair.current)) {
        pair.current = Bytes();
        pair.same_pixels = true;
    }
    return pair;
}

namespace {

// One image on both sides: nothing to pad or to compare.
Result<ImagePair> one_image_pair(Image image, const IgnoreRegions& ignore) {
    if (auto checked = check_rgba_buffer(image.pixels, image.width, image.height); !checked) {
        return std::move(checked).error();
    }
    ImagePair pair;
    pair.width = image.width;
    pair.height = image.height;
    pair.baseline_size = pair.current_size = {image.width, image.height};
    pair.baseline = std::move(image.pixels);
    pair.same_pixels = true;
    pair.ignore = ignore;
    pair.ignored_pixels = covered_pixels(ignore.regions, pair.baseline_size);
    return pair;
}

}  // namespace

Result<ImagePair> build_decoded_pair(DecodedImages images, const IgnoreRegions& ignore) {
    if (images.one_file) return one_image_pair(std::move(images.baseline), ignore);
    return build_image_pair(std::move(images.baseline), std::move(images.current), ignore);
}

Result<ImagePair> build_painted_pair(DecodedImages images, const IgnoreRegions& ignore) {
    paint_own_sizes(images, ignore);
    return build_decoded_pair(std::move(images), ignore);
}

namespace {

// Room for the rows that padding will add below an image as wide as the
// canvas its pair's headers claim; 0 for any other image.
u64 room_to_pad_below(std::optional<Size> own, std::optional<Size> other) {
    if (!own || !other || own->width < other->width || own->height >= other->height) return 0;
    return checked_rgba_length(own->width, other->height).value_or(0);
}

}  // namespace

Result<DecodedImages> decode_images(ByteView baseline_png, ByteView current_png) {
    if (same_content(baseline_png, current_png)) {
        auto image = decode_png(baseline_png);
        if (!image) return std::move(image).error().undecodable(InputImage::Baseline);
        return DecodedImages{image.take(), {}, true};
    }
    const auto baseline_size = png_claimed_size(baseline_png);
    const auto current_size = png_claimed_size(current_png);
    const u64 baseline_room = room_to_pad_below(baseline_size, current_size);
    const u64 current_room = room_to_pad_below(current_size, baseline_size);
    std::optional<Result<Image>> baseline;
    std::optional<Result<Image>> current;
    fork_join([&] { baseline.emplace(decode_png(baseline_png, baseline_room)); },
              [&] { current.emplace(decode_png(current_png, current_room)); });
    if (!*baseline) return std::move(*baseline).error().undecodable(InputImage::Baseline);
    if (!*current) return std::move(*current).error().undecodable(InputImage::Current);
    return DecodedImages{baseline->take(), current->take()};
}

std::optional<PairSizes> decodable_pair_sizes(ByteView baseline_png, ByteView current_png) {
    const auto baseline = png_claimed_size(baseline_png);
    const auto current = png_claimed_size(current_png);
    const auto decodable = [](std::optional<Size> size) {
        return size && checked_rgba_length(size->width, size->height).value_or(~u64{0}) <= kPngDecodeBudget;
    };
    if (!decodable(baseline) || !decodable(current)) return std::nullopt;
    return PairSizes{*baseline, *current};
}

Result<ImagePair> decode_image_pair(ByteView baseline_png, ByteView current_png, const IgnoreRegions& ignore,
                                    MemoryBudget budget) {
    if (const auto sizes = decodable_pair_sizes(baseline_png, current_png)) {
        if (auto refused = budget.refusal(pair_memory_needed(*sizes), *sizes)) return *std::move(refused);
    }
    auto images = decode_images(baseline_png, current_png);
    if (!images) return std::move(images).error();
    auto pair = build_painted_pair(images.take(), ignore);
    if (pair) pair->budget = budget;
    return pair;
}

Result<ImagePair> copy_image_pair(ByteView baseline, Size baseline_size, ByteView current, Size current_size,
                                  const IgnoreRegions& ignore, MemoryBudget budget) {
    if (auto checked = check_rgba_buffer(baseline, baseline_size.width, baseline_size.height); !checked) {
        return std::move(checked).error();
    }
    if (auto checked = check_rgba_buffer(current, current_size.width, current_size.height); !checked) {
        return std::move(checked).error();
    }
    const PairSizes sizes{baseline_size, current_size};
    if (auto refused = budget.refusal(pair_memory_needed(sizes), sizes)) return *std::move(refused);
    // Equal buffers are copied once, for both sides.
    DecodedImages images{Image{Bytes(baseline.begin(), baseline.end()), baseline_size.width, baseline_size.height},
                         {},
                         baseline_size == current_size && same_content(baseline, current)};
    if (!images.one_file) {
        images.current = {Bytes(current.begin(), current.end()), current_size.width, current_size.height};
    }
    auto pair = build_painted_pair(std::move(images), ignore);
    if (pair) pair->budget = budget;
    return pair;
}

}  // namespace quorvane
