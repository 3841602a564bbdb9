// Byte storage and the decoded image shared by every computing unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace quorvane {

using u8 = std::uint8_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;

// The construct members of an allocator whose default construction leaves
// values uninitialised, so a buffer that is about to be written in full
// skips a pointless zero fill.
struct DefaultInitConstruct {
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// `Bytes(n)` is uninitialised; `Bytes(n, 0)` is zero-filled.
template <class T>
struct DefaultInitAllocator : std::allocator<T>, DefaultInitConstruct {
    using std::allocator<T>::allocator;
    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
};

using Bytes = std::vector<u8, DefaultInitAllocator<u8>>;
using ByteView = std::span<const u8>;

struct Size {
    u64 width = 0;
    u64 height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// 8-bit RGBA, straight alpha, row-major, no gap between rows:
// pixels.size() == width * height * 4.
struct Image {
    Bytes pixels;
    u64 width = 0;
    u64 height = 0;
};

inline constexpr u64 kBytesPerPixel = 4;

}  // namespace quorvane
