#include "alignment/row_match.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "pixel_diff/color_delta.hpp"

namespace quorvane {
namespace {

u32 word_at(const u8* pixel) {
    u32 word;
    std::memcpy(&word, pixel, sizeof word);
    return word;
}

// The largest per-channel difference that keeps every pair of opaque pixels
// within `limit`: the delta is a convex quadratic form of the channel
// differences, so over a cube of them it peaks at a corner, and the corners
// are kept a hair under the limit against rounding elsewhere.
u8 within_per_channel(double limit) {
    const auto corners_within = [&](int difference) {
        for (int signs = 0; signs < 8; ++signs) {
            u8 first[4] = {0, 0, 0, 255};
            u8 second[4] = {0, 0, 0, 255};
            for (int channel = 0; channel < 3; ++channel) {
                (((signs >> channel) & 1) != 0 ? first : second)[channel] = static_cast<u8>(difference);
            }
            if (std::fabs(color_delta(first, second, 0, 0, false)) > limit * (1.0 - 1e-9)) return false;
        }
        return true;
    };
    int difference = 0;
    while (difference < 255 && corners_within(difference + 1)) ++difference;
    return static_cast<u8>(difference);
}

}  // namespace

SignatureBlocks signature_blocks(u64 width) {
    if (width == 0) return {};
    // Whole groups of 4 pixels (16 bytes) a block, so that blocks are made of
    // whole vectors.
    const u64 block_width = ((width + kSignatureBlocks - 1) / kSignatureBlocks + 3) / 4 * 4;
    return {(width + block_width - 1) / block_width, block_width};
}

namespace {

// 16 bytes, 4 pixels, handled as one vector.
using Lanes = u8 __attribute__((vector_size(16)));
constexpr u64 kLanes = sizeof(Lanes);

Lanes lanes_min(Lanes a, Lanes b) {
    const auto a_smaller = reinterpret_cast<Lanes>(a < b);
    return (a & a_smaller) | (b & ~a_smaller);
}

Lanes lanes_max(Lanes a, Lanes b) {
    const auto a_larger = reinterpret_cast<Lanes>(a > b);
    return (a & a_larger) | (b & ~a_larger);
}

}  // namespace

RowSignature row_signature(const u8* row, u64 width) {
    // Extremes of 4 pixels at a time, folded to one pixel's 4 bytes a block.
    const SignatureBlocks blocks = signature_blocks(width);
    const u64 row_bytes = width * kBytesPerPixel;
    RowSignature signature{};
    for (u64 block = 0; block < blocks.count; ++block) {
        const u64 begin = block * blocks.width * kBytesPerPixel;
        const u64 end = std::min(row_bytes, begin + blocks.width * kBytesPerPixel);
        Lanes low;
        Lanes high;
        for (u64 lane = 0; lane < kLanes; ++lane) {
            low[lane] = 255;
            high[lane] = 0;
        }
        u64 at = begin;
        for (; at + kLanes <= end; at += kLanes) {
            Lanes bytes;
            std::memcpy(&bytes, row + at, kLanes);
            low = lanes_min(low, bytes);
            high = lanes_max(high, bytes);
        }
        // Only a row's last block can end inside a group of 4 pixels.
        for (u64 lane = 0; at + lane < end; ++lane) {
            low[lane] = std::min(low[lane], row[at + lane]);
            high[lane] = std::max(high[lane], row[at + lane]);
        }
        u8* block_low = signature.low + block * kBytesPerPixel;
        u8* block_high = signature.high + block * kBytesPerPixel;
        for (u64 channel = 0; channel < kBytesPerPixel; ++channel) {
            block_low[channel] =
                std::min(std::min(low[channel], low[channel + 4]), std::min(low[channel + 8], low[channel + 12]));
            block_high[channel] =
                std::max(std::max(high[channel], high[channel + 4]), std::max(high[channel + 8], high[channel + 12]));
        }
        std::fill_n(signature.opaque + block * kBytesPerPixel, kBytesPerPixel, block_low[3] == 255 ? 255 : 0);
    }
    return signature;
}

// The changed-pixel rule's delta of opaque pixels is a quadratic form d'Md
// of the channel differences d, with M = sum of weight * v v' over the Y, I
// and Q rows v. Where d'Md <= limit, channel c reaches at most
// sqrt(limit * inverse(M)[c][c]); the differences are integers, so its
// floor, kept from slipping below an integer by rounding, bounds them.
SignatureTolerance signature_tolerance(double threshold) {
    using namespace color;
    const double rows[3][3] = {{kYr, kYg, kYb}, {kIr, -kIg, -kIb}, {kQr, -kQg, kQb}};
    const double weights[3] = {kWeightY, kWeightI, kWeightQ};
    double m[3][3] = {};
    for (int row = 0; row < 3; ++row) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) m[i][j] += weights[row] * rows[row][i] * rows[row][j];
        }
    }
    const auto minor = [&](int i, int j) { return m[i][i] * m[j][j] - m[i][j] * m[j][i]; };
    const double determinant = m[0][0] * minor(1, 2) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    const double inverse_diagonal[3] = {minor(1, 2) / determinant, minor(0, 2) / determinant,
                                        minor(0, 1) / determinant};
    SignatureTolerance tolerance{};
    std::fill_n(tolerance.bytes, kSignatureBytes, u8{255});
    for (int channel = 0; channel < 3; ++channel) {
        const double reach = std::sqrt(max_delta(threshold) * inverse_diagonal[channel]) * (1.0 + 1e-6);
        const auto limit = static_cast<u8>(std::min(255.0, std::floor(reach)));
        for (u64 block = 0; block < kSignatureBlocks; ++block)
            tolerance.bytes[block * kBytesPerPixel + channel] = limit;
    }
    return tolerance;
}

bool signatures_compatible(const RowSignature& first, const RowSignature& second, const SignatureTolerance& tolerance) {
    // Byte-wise over every block at once, without a branch.
    u8 apart = 0;
    for (u64 i = 0; i < kSignatureBytes; ++i) {
        const u8 low_gap = std::max(first.low[i], second.low[i]) - std::min(first.low[i], second.low[i]);
        const u8 high_gap = std::max(first.high[i], second.high[i]) - std::min(first.high[i], second.high[i]);
        const u8 gap = std::max(low_gap, high_gap);
        apart |= (gap > tolerance.bytes[i] ? u8{255} : u8{0}) & first.opaque[i] & second.opaque[i];
    }
    return apart == 0;
}

ThresholdRowMatch::ThresholdRowMatch(const CanvasView& pair, std::span<const u64> a, std::span<const u64> b,
                                     double threshold)
    : pair_(pair),
      a_(a),
      b_(b),
      max_delta_(max_delta(threshold)),
      within_per_channel_(within_per_channel(max_delta_)),
      tolerance_(signature_tolerance(threshold)) {
    baseline_.slot.assign(a.size(), 0);
    current_.slot.assign(b.size(), 0);
}

void ThresholdRowMatch::summarise(Summaries& summaries, ByteView pixels, u64 row) {
    if (summaries.slot[row] != 0) return;
    summaries.made.push_back(row_signature(pixels.data() + row * pair_.width * kBytesPerPixel, pair_.width));
    summaries.slot[row] = static_cast<u32>(summaries.made.size());
}

bool ThresholdRowMatch::operator()(u64 x, u64 y) {
    if (a_[x] == b_[y]) return true;
    const u32 first = baseline_.slot[x];
    const u32 second = current_.slot[y];
    if (first != 0 && second != 0 &&
        !signatures_compatible(baseline_.made[first - 1], current_.made[second - 1], tolerance_)) {
        return false;
    }
    if (pixels_within(x, y)) return true;
    summarise(baseline_, pair_.baseline, x);
    summarise(current_, pair_.current, y);
    return false;
}

bool ThresholdRowMatch::pixels_within(u64 x, u64 y) const {
    // Pixels are looked at in chunks: a branch-free pass tells whether every
    // pixel of the chunk is plainly within (opaque, every channel close), as
    // almost all are in rows that match, or one is plainly not (opaque, a
    // channel beyond its reach within the threshold), as in most rows that do
    // not; only other chunks get the delta.
    constexpr u64 kChunk = 64;
    const u64 stride = pair_.width * kBytesPerPixel;
    const u8* baseline = pair_.baseline.data();
    const u8* current = pair_.current.data();
    const u64 baseline_row = x * stride;
    const u64 current_row = y * stride;
    for (u64 chunk = 0; chunk < stride; chunk += kChunk * kBytesPerPixel) {
        const u64 chunk_end = std::min(stride, chunk + kChunk * kBytesPerPixel);
        const int close = within_per_channel_;
        const int reach[3] = {tolerance_.bytes[0], tolerance_.bytes[1], tolerance_.bytes[2]};
        u32 outliers = 0;
        u32 beyond = 0;
        for (u64 offset = chunk; offset < chunk_end; offset += kBytesPerPixel) {
            const u8* p = baseline + baseline_row + offset;
            const u8* q = current + current_row + offset;
            const u32 opaque = static_cast<u32>((p[3] & q[3]) == 255);
            const int red = std::abs(p[0] - q[0]);
            const int green = std::abs(p[1] - q[1]);
            const int blue = std::abs(p[2] - q[2]);
            outliers |= (opaque ^ 1) | static_cast<u32>(red > close) | static_cast<u32>(green > close) |
                        static_cast<u32>(blue > close);
            beyond |= opaque & (static_cast<u32>(red > reach[0]) | static_cast<u32>(green > reach[1]) |
                                static_cast<u32>(blue > reach[2]));
        }
        if (beyond != 0) return false;
        if (outliers == 0) continue;
        for (u64 offset = chunk; offset < chunk_end; offset += kBytesPerPixel) {
            const u64 k = baseline_row + offset;
            const u64 m = current_row + offset;
            if (word_at(baseline + k) == word_at(current + m)) continue;
            if (std::fabs(color_delta(baseline, current, k, m, false)) > max_delta_) return false;
        }
    }
    return true;
}

}  // namespace quorvane
