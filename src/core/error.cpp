#include "core/error.hpp"

namespace quorvane {

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
    }
    throw Panic("unknown CompareError kind");
}

}  // namespace quorvane
