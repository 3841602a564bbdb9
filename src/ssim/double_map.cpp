// Map storage: small blocks from the heap, large ones mapped directly on a
// 2 MiB boundary and marked for transparent huge pages.
#include "ssim/double_map.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace quorvane {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Whole huge pages; allocate_map has checked that this cannot overflow.
std::size_t mapped_length(std::size_t bytes) noexcept { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* allocate_map(std::size_t bytes) {
    if (bytes < kLargeMapBytes) return ::operator new(bytes);
    if (bytes > static_cast<std::size_t>(-1) - 2 * kHugePage) throw std::bad_alloc();
    const std::size_t length = mapped_length(bytes);
    // Map one huge page more than needed, then give back the unaligned ends.
    void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) munmap(mapped, aligned - start);
    if (const std::uintptr_t tail = start + kHugePage - aligned; tail > 0) {
        munmap(reinterpret_cast<void*>(aligned + length), tail);
    }
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);  // advice only: failure is harmless
#endif
    return reinterpret_cast<void*>(aligned);
}

void free_map(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes < kLargeMapBytes) {
        ::operator delete(block);
        return;
    }
    munmap(block, mapped_length(bytes));
}

}  // namespace quorvane
