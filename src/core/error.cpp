#include "core/error.hpp"

namespace quorvane {
namespace {

// Bytes in GiB with one decimal, for people: "2.0 GiB".
std::string gib(u64 bytes) {
    const u64 tenths = bytes / (u64{1} << 30) * 10 + bytes % (u64{1} << 30) * 10 / (u64{1} << 30);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " GiB";
}

}  // namespace

std::string CompareError::text() const {
    switch (kind_) {
        case Kind::PngDecode:
            return "failed to decode PNG: " + detail_;
        case Kind::PngEncode:
            return "failed to encode PNG: " + detail_;
        case Kind::InvalidBufferLength:
            return "invalid RGBA buffer length: expected " + std::to_string(expected_) + " bytes for " +
                   std::to_string(width_) + "x" + std::to_string(height_) + ", got " + std::to_string(actual_);
        case Kind::DimensionsOverflow:
            return "image dimensions overflowed";
        case Kind::Message:
            return detail_;
        case Kind::SourceLargerThanTarget:
            return "source image is larger than target size";
        case Kind::ImageTooLarge:
            return "image " + detail_ + " is too large";
        case Kind::ResizeFailed:
            return "failed to resize image: " + detail_;
        case Kind::NotAligned:
            return "images could not be row-aligned";
        case Kind::ForeignAlignment:
            return "alignment does not belong to this image pair";
        case Kind::WebpEncode:
            return "failed to encode WebP: " + detail_;
        case Kind::MemoryLimit:
            return "memory limit exceeded: " + detail_ + " need " + std::to_string(expected_) + " bytes (" +
                   gib(expected_) + "), more than memory_limit=" + std::to_string(actual_) + " (" + gib(actual_) + ")";
    }
    throw Panic("unknown CompareError kind");
}

}  // namespace quorvane
