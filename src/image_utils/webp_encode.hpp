// RGBA pixels to a lossless WebP file; alpha is dropped, never blended.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// The highest lossless preset level of libwebp: 0 is the fastest, 9 makes
// the smallest files.
inline constexpr int kMaxWebpEffort = 9;

// Who writes a WebP file: libwebp with its default configuration, libwebp
// with its lossless preset of a level (0 to kMaxWebpEffort), or our own
// encoder, several times faster than libwebp's fast presets and about the
// size of its default files on screenshots.
struct WebpEffort {
    enum class Encoder : u8 { LibwebpDefault, LibwebpPreset, Own };
    Encoder encoder = Encoder::LibwebpDefault;
    int preset = 0;

    static WebpEffort libwebp_preset(int level) { return {Encoder::LibwebpPreset, level}; }
    static WebpEffort own() { return {Encoder::Own, 0}; }
    bool operator==(const WebpEffort&) const = default;
};

// Lossless, no metadata, with the encoder `effort` names. A side of 0 or
// beyond what WebP can hold is the encoder's failure, reported as WebpEncode.
Result<Bytes> encode_webp(ByteView rgba, u64 width, u64 height, WebpEffort effort = {});

}  // namespace quorvane
