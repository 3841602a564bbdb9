// Test images whose rows are solid colours, one distinct colour a letter, so
// that an alignment case reads as two strings.
#pragma once

#include <cstring>
#include <string>

#include "core/types.hpp"

inline quorvane::Image letter_rows(const std::string& letters, quorvane::u64 width) {
    using quorvane::u8;
    quorvane::Image image{quorvane::Bytes(width * letters.size() * 4), width, letters.size()};
    for (quorvane::u64 i = 0; i < image.pixels.size(); i += 4) {
        const auto code = static_cast<u8>(letters[i / 4 / width]);
        const u8 pixel[4] = {static_cast<u8>(code * 7), static_cast<u8>(code * 13), static_cast<u8>(code * 29), 255};
        std::memcpy(&image.pixels[i], pixel, 4);
    }
    return image;
}
