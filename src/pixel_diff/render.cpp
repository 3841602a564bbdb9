#include "pixel_diff/render.hpp"

#include <algorithm>

#include "core/parallel.hpp"
#include "pixel_diff/gray.hpp"
#include "pixel_diff/inputs.hpp"
#include "pixel_diff/scan.hpp"

namespace quorvane {
namespace {

// Rows per unit of work when a diff image is drawn on the pool.
constexpr u64 kBandRows = 64;

void paint(u8* out, u64 i, Rgb colour) {
    u8* pixel = out + i * kBytesPerPixel;
    pixel[0] = colour.r;
    pixel[1] = colour.g;
    pixel[2] = colour.b;
    pixel[3] = 255;
}

// Draws rows [first_row, end_row): grey first, then the pixels whose words
// differ repainted by their class. Returns the rows' changed-pixel count.
u64 draw_rows(const ScanContext& pair, const DiffOptions& options, u8* out, u64 first_row, u64 end_row) {
    draw_gray_pixels(pair.baseline, out, first_row * pair.width, end_row * pair.width, options.alpha);
    u64 count = 0;
    for (u64 y = first_row; y < end_row; ++y) {
        const u64 start = y * pair.width;
        for_each_differing_word(pair.baseline_words, pair.current_words, start, start + pair.width, [&](u64 i) {
            const ClassifiedPixel pixel = pair.classify(i - start, y);
            switch (pixel.kind) {
                case PixelClass::Unchanged:
                    return;
                case PixelClass::AntiAliased:
                    paint(out, i, options.aa_color);
                    return;
                case PixelClass::Changed:
                    // A negative delta: the current image got darker here.
                    paint(out, i,
                          options.diff_color_alt && pixel.delta < 0.0 ? *options.diff_color_alt : options.diff_color);
                    ++count;
                    return;
            }
        });
    }
    return count;
}

// body(first_row, end_row) over whole bands, on the pool for large images.
template <class Body>
u64 sum_over_bands(u64 width, u64 height, Body&& body) {
    const u64 bands = (height + kBandRows - 1) / kBandRows;
    return parallel_sum_if(worth_splitting(width * height), bands, 1, [&](u64 first_band, u64 end_band) {
        return body(first_band * kBandRows, std::min(end_band * kBandRows, height));
    });
}

}  // namespace

Result<DiffImage> render_diff_image(ByteView baseline, ByteView current, u64 width, u64 height,
                                    const DiffOptions& options) {
    if (auto checked = check_diff_inputs(baseline, current, width, height, options); !checked) {
        return std::move(checked).error();
    }
    // Every byte is written below, so the buffer skips the zero fill.
    DiffImage image{Bytes(baseline.size()), 0, width, height};
    u8* out = image.pixels.data();
    if (same_bytes(baseline, current)) {
        sum_over_bands(width, height, [&](u64 first_row, u64 end_row) {
            draw_gray_pixels(baseline.data(), out, first_row * width, end_row * width, options.alpha);
            return u64{0};
        });
        return image;
    }

    const ScanContext pair(baseline, current, width, height, options);
    image.count = sum_over_bands(
        width, height, [&](u64 first_row, u64 end_row) { return draw_rows(pair, options, out, first_row, end_row); });
    return image;
}

Result<DiffImage> render_pair_diff(const CanvasView& pair, const DiffOptions& options) {
    auto image = render_diff_image(pair.baseline, pair.current, pair.width, pair.height, options);
    if (image) paint_regions(image->pixels, {image->width, image->height}, pair.ignore, pair.mask_color);
    return image;
}

}  // namespace quorvane
