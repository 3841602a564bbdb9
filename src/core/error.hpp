// CompareError, the one error value of every computing unit, and Panic, the
// exception for a broken internal invariant.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace quorvane {

// An input image of a call: one side of a pair, or a lone image (the PNG
// file of a thumbnail).
enum class InputImage : u8 { Lone, Baseline, Current };

class CompareError {
public:
    enum class Kind : u8 {
        PngDecode,
        PngEncode,
        InvalidBufferLength,
        DimensionsOverflow,
        Message,
        SourceLargerThanTarget,
        ImageTooLarge,
        ResizeFailed,
        NotAligned,
        ForeignAlignment,
        WebpEncode,
        MemoryLimit,
    };

    static CompareError png_decode(std::string detail) { return {Kind::PngDecode, std::move(detail)}; }
    static CompareError png_encode(std::string detail) { return {Kind::PngEncode, std::move(detail)}; }
    static CompareError invalid_buffer_length(u64 expected, u64 actual, u64 width, u64 height) {
        CompareError error{Kind::InvalidBufferLength, {}};
        error.expected_ = expected;
        error.actual_ = actual;
        error.width_ = width;
        error.height_ = height;
        return error;
    }
    static CompareError dimensions_overflow() { return {Kind::DimensionsOverflow, {}}; }
    // A fixed text shown unchanged (range checks, thumbnail size messages).
    static CompareError message(std::string text) { return {Kind::Message, std::move(text)}; }
    static CompareError source_larger_than_target() { return {Kind::SourceLargerThanTarget, {}}; }
    // `dimension` is "width" or "height".
    static CompareError image_too_large(std::string dimension) { return {Kind::ImageTooLarge, std::move(dimension)}; }
    static CompareError resize_failed(std::string detail) { return {Kind::ResizeFailed, std::move(detail)}; }
    static CompareError not_aligned() { return {Kind::NotAligned, {}}; }
    static CompareError foreign_alignment() { return {Kind::ForeignAlignment, {}}; }
    static CompareError webp_encode(std::string detail) { return {Kind::WebpEncode, std::move(detail)}; }
    // `pair` names the images and their canvas, as the text shows them.
    static CompareError memory_limit(u64 needed, u64 limit, std::string pair) {
        CompareError error{Kind::MemoryLimit, std::move(pair)};
        error.expected_ = needed;
        error.actual_ = limit;
        return error;
    }

    Kind kind() const { return kind_; }
    std::string text() const;
    // Of a MemoryLimit error: the bytes the call needed, and its limit.
    u64 needed_bytes() const { return expected_; }
    u64 limit_bytes() const { return actual_; }

    // The same error, as the failure to decode the given input image; the
    // text stays as it is.
    CompareError undecodable(InputImage image) && {
        undecodable_ = image;
        return std::move(*this);
    }
    // The input image whose decoding failed, when that is what this error is.
    std::optional<InputImage> undecodable_image() const { return undecodable_; }

private:
    CompareError(Kind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}

    Kind kind_;
    std::string detail_;
    u64 expected_ = 0;
    u64 actual_ = 0;
    u64 width_ = 0;
    u64 height_ = 0;
    std::optional<InputImage> undecodable_;
};

// The range texts that both the binding layer and the computing units check.
inline constexpr std::string_view kThresholdRangeText = "threshold must be in the range [0.0, 1.0]";
inline constexpr std::string_view kAlphaRangeText = "alpha must be in the range [0.0, 1.0]";
inline constexpr std::string_view kMaxEditRatioRangeText = "max_edit_ratio must be in the range [0.0, 1.0]";

// Thrown only for a broken internal invariant; the binding layer raises it as
// PanicException so that it is never mistaken for an ordinary failure.
class Panic : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

}  // namespace quorvane
