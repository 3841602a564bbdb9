// PixelWords: an RGBA buffer seen as one 32-bit word a pixel, for exact
// pixel equality. Borrows a 4-byte aligned buffer, copies any other.
#pragma once

#include <memory>

#include "core/types.hpp"

namespace quorvane {

class PixelWords {
public:
    // `pixels` holds a whole number of pixels.
    explicit PixelWords(ByteView pixels);

    PixelWords(const PixelWords&) = delete;
    PixelWords& operator=(const PixelWords&) = delete;

    const u32* data() const { return words_; }
    u64 size() const { return size_; }
    bool borrowed() const { return copy_ == nullptr; }

private:
    std::unique_ptr<u32[]> copy_;
    const u32* words_ = nullptr;
    u64 size_ = 0;
};

}  // namespace quorvane
