// DoubleMap: one double per pixel, row-major, the storage of every SSIM map,
// and the allocator that gives large maps 2 MiB pages.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "core/types.hpp"

namespace quorvane {

// Blocks of at least this many bytes are mapped in 2 MiB pages where the
// system offers them: a fresh 16 MiB map then takes eight page faults instead
// of four thousand, which otherwise cost more than the arithmetic.
inline constexpr std::size_t kLargeMapBytes = std::size_t{2} << 20;

void* allocate_map(std::size_t bytes);
void free_map(void* block, std::size_t bytes) noexcept;

// Leaves values uninitialised on construction, like Bytes: every map is
// written in full right after it is made.
template <class T>
struct MapAllocator : DefaultInitConstruct {
    using value_type = T;

    MapAllocator() = default;
    template <class U>
    MapAllocator(const MapAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocate_map(n * sizeof(T)));
    }
    void deallocate(T* block, std::size_t n) noexcept { free_map(block, n * sizeof(T)); }

    template <class U>
    friend bool operator==(const MapAllocator&, const MapAllocator<U>&) noexcept {
        return true;
    }
};

using DoubleMap = std::vector<double, MapAllocator<double>>;

}  // namespace quorvane
