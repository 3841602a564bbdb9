#include "alignment/aligned_diff.hpp"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "alignment/belongs_to_pair.hpp"
#include "alignment/changed_rows.hpp"
#include "alignment/segment_mask.hpp"
#include "alignment/tiling.hpp"
#include "core/parallel.hpp"
#include "pixel_diff/gray.hpp"
#include "pixel_diff/render.hpp"

namespace quorvane {
namespace {

// Rows per unit of work when the grey layer is drawn on the pool.
constexpr u64 kPieceRows = 64;

struct RowRange {
    u64 begin = 0;
    u64 end = 0;
};

// The faded current image, drawn only on the rows of equal segments: every
// other current row is painted over by a strip or an inserted band, as are
// matched rows that differ.
void draw_matched_rows(const CanvasView& pair, std::span<const RowSegment> segments, double alpha, u8* out) {
    std::vector<RowRange> pieces;
    for (const RowSegment& segment : segments) {
        if (segment.kind != SegmentKind::Equal) continue;
        const u64 end = segment.current_start + segment.len;
        for (u64 row = segment.current_start; row < end; row += kPieceRows) {
            pieces.push_back({row, std::min(row + kPieceRows, end)});
        }
    }
    const u64 width = pair.width;
    const auto draw = [&](u64 first, u64 last) {
        for (u64 i = first; i < last; ++i) {
            draw_gray_pixels(pair.current.data(), out, pieces[i].begin * width, pieces[i].end * width, alpha);
        }
    };
    parallel_ranges_if(worth_splitting(width * pair.current_size.height), pieces.size(), 1, draw);
}

// Rows changed in place, drawn by the ordinary diff image of their strip; its
// context rows feed the anti-aliasing test of the edge rows only.
Status draw_replace_strip(const CanvasView& pair, const RowSegment& segment, const DiffOptions& options, u8* out) {
    const SegmentStrip strip = segment_strip(pair, segment);
    auto image = render_diff_image(strip.baseline, strip.current, pair.width, strip.rows, options);
    if (!image) return std::move(image).error();
    const u64 stride = pair.width * kBytesPerPixel;
    std::memcpy(out + segment.current_start * stride, image->pixels.data() + strip.above * stride,
                segment.len * stride);
    return ok_status();
}

void paint_rows(u8* out, u64 width, u64 first_row, u64 end_row, Rgb colour) {
    const u8 pixel[kBytesPerPixel] = {colour.r, colour.g, colour.b, 255};
    u32 word;
    std::memcpy(&word, pixel, sizeof word);
    std::fill_n(reinterpret_cast<u32*>(out + first_row * width * kBytesPerPixel), (end_row - first_row) * width, word);
}

// Inserted rows become solid bands of the diff colour; rows deleted from the
// baseline leave a one-row line where they went missing, unless that is below
// the last current row. Painted over everything else, in band order.
void paint_shift_bands(std::span<const RowSegment> segments, const CanvasView& pair, const DiffOptions& options,
                       u8* out) {
    const u64 height = pair.current_size.height;
    for (const RowSegment& segment : segments) {
        if (segment.kind == SegmentKind::Insert) {
            const u64 y = segment.current_start;
            paint_rows(out, pair.width, y, std::min(y + segment.len, height), options.diff_color);
        } else if (segment.kind == SegmentKind::Delete && segment.current_start < height) {
            paint_rows(out, pair.width, segment.current_start, segment.current_start + 1,
                       options.diff_color_alt.value_or(options.diff_color));
        }
    }
}

}  // namespace

Result<Image> render_aligned_diff(const CanvasView& pair, u64 pair_fingerprint, const AlignmentRecord& record,
                                  const DiffOptions& options) {
    if (auto bound = check_alignment_belongs_to_pair(record, pair, pair_fingerprint); !bound)
        return std::move(bound).error();
    if (auto ranges = check_option_ranges(options); !ranges) return std::move(ranges).error();
    const std::span<const RowSegment> segments = record.refined_segments;
    // Every output row belongs to exactly one equal, replace or insert
    // segment, so the buffer is written in full without a zero fill.
    require_tiling(segments, pair.width, pair.baseline_size.height, pair.current_size.height);
    const u64 height = pair.current_size.height;
    Image image{Bytes(pair.width * height * kBytesPerPixel), pair.width, height};
    u8* out = image.pixels.data();

    draw_matched_rows(pair, segments, options.alpha, out);
    for (const RowSegment& rows : rows_changed_in_place(pair, segments, record.row_threshold)) {
        if (auto drawn = draw_replace_strip(pair, rows, options, out); !drawn) return std::move(drawn).error();
    }
    paint_shift_bands(segments, pair, options, out);
    // Current-image rows are canvas rows: the regions stand where they were given.
    paint_regions(image.pixels, {image.width, image.height}, pair.ignore, pair.mask_color);
    return image;
}

}  // namespace quorvane
