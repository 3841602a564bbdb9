#include "pixel_diff/pixel_words.hpp"

#include <cstring>

namespace quorvane {

PixelWords::PixelWords(ByteView pixels) : size_(pixels.size() / kBytesPerPixel) {
    const u8* start = pixels.data();
    if (reinterpret_cast<std::uintptr_t>(start) % alignof(u32) == 0) {
        // The storage of a pixel buffer holds nothing but bytes, so reading it
        // as words is a plain reinterpretation of the same memory.
        words_ = reinterpret_cast<const u32*>(start);
        return;
    }
    copy_ = std::make_unique_for_overwrite<u32[]>(size_);
    if (size_ != 0) std::memcpy(copy_.get(), start, size_ * kBytesPerPixel);
    words_ = copy_.get();
}

}  // namespace quorvane
