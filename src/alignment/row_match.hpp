// When a baseline row and a current row match: by equal hashes (the same
// pixels), or within a colour threshold, so that rendering noise such as
// dithered gradients does not part rows that show the same content.
#pragma once

#include <span>
#include <vector>

#include "core/image_pair.hpp"
#include "core/types.hpp"

namespace quorvane {

// Rows match when their row hashes are equal.
struct ExactRowMatch {
    std::span<const u64> a;  // baseline row hashes
    std::span<const u64> b;  // current row hashes
    bool operator()(u64 x, u64 y) const { return a[x] == b[y]; }
};

inline constexpr u64 kSignatureBlocks = 16;

// A coarse summary of a row: the smallest and the largest value of each
// channel in each of up to 16 blocks of neighbouring pixels. Within a
// threshold every channel of an opaque pixel pair differs by at most that
// channel's tolerance (SignatureTolerance), and so do the extremes of two
// blocks; a pair of rows with a block, opaque in both, whose extremes differ
// by more can be refused without its pixels. Each array holds a pixel's 4
// bytes a block; blocks past the row's last are all zeros, never opaque.
inline constexpr u64 kSignatureBytes = kSignatureBlocks * kBytesPerPixel;
struct RowSignature {
    u8 low[kSignatureBytes];     // per block: the smallest R, G, B and A
    u8 high[kSignatureBytes];    // per block: the largest R, G, B and A
    u8 opaque[kSignatureBytes];  // per block, in all 4 bytes: 255 when every pixel is opaque, else 0
};

// The blocks of a row of `width` pixels: how many, and how wide each is
// (the last one may be narrower).
struct SignatureBlocks {
    u64 count = 0;
    u64 width = 0;
};
SignatureBlocks signature_blocks(u64 width);

RowSignature row_signature(const u8* row, u64 width);

// The largest difference of each colour channel of two opaque pixels within
// `threshold`, laid out as the summaries are (255 for alpha, never passed).
struct SignatureTolerance {
    u8 bytes[kSignatureBytes];
};
SignatureTolerance signature_tolerance(double threshold);

// False only when some block opaque in both rows has extremes further apart
// than the tolerance.
bool signatures_compatible(const RowSignature& first, const RowSignature& second, const SignatureTolerance& tolerance);

// Rows match when every pixel pair is within `threshold` by the changed-pixel
// rule's colour delta (no anti-aliasing test): the pixel at byte offset k of
// the baseline, its background pattern taken at k as for an unshifted pair,
// against the pixel in the same column of the current row. Equal hashes
// match at once. Two summarised rows whose summaries differ are refused
// without their pixels; other pairs are checked pixel by pixel, which stops
// at the first chunk of pixels out of reach. A row is summarised once it has
// failed to match: it will likely fail again and again (the search's snakes
// end on it on diagonal after diagonal), while most rows that match are
// never summarised.
class ThresholdRowMatch {
public:
    ThresholdRowMatch(const CanvasView& pair, std::span<const u64> a, std::span<const u64> b, double threshold);

    bool operator()(u64 x, u64 y);

    // The pixel check alone.
    bool pixels_within(u64 x, u64 y) const;

private:
    // The summaries made so far of one image's rows.
    struct Summaries {
        std::vector<u32> slot;  // per row: 0, or 1 + the position of its summary
        std::vector<RowSignature> made;
    };
    // Summarises a row that failed to match, if it has no summary yet.
    void summarise(Summaries& summaries, ByteView pixels, u64 row);

    CanvasView pair_;
    std::span<const u64> a_;
    std::span<const u64> b_;
    double max_delta_;
    u8 within_per_channel_;  // opaque pixels no channel of which differs by more are within
    SignatureTolerance tolerance_;
    Summaries baseline_;
    Summaries current_;
};

}  // namespace quorvane
