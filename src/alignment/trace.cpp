#include "alignment/trace.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>

namespace quorvane {
namespace {

u64 page_bytes() {
    static const u64 size = static_cast<u64>(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

SearchTrace::SearchTrace(u64 budget, u64 max_entries) : max_entries_(max_entries) {
    // No round past the budget is ever stored, so no capacity beyond it.
    const u64 rounds = budget + 1;
    needed_at_most_ = rounds <= max_entries / rounds ? rounds * rounds : max_entries;
}

SearchTrace::~SearchTrace() {
    if (entries_ != nullptr) munmap(entries_, mapped_bytes_);
}

void SearchTrace::append_round(u64 d, const std::int64_t* from_minus_d) {
    const u64 total = (d + 1) * (d + 1);
    if (total > max_entries_) throw std::bad_alloc();
    if (total > capacity_) grow(std::min(std::max(total, 2 * capacity_), needed_at_most_));
    std::copy(from_minus_d, from_minus_d + 2 * d + 1, entries_ + d * d);
}

void SearchTrace::grow(u64 entries) {
    const u64 page = page_bytes();
    const u64 bytes = (entries * sizeof(std::int64_t) + page - 1) / page * page;
    void* block = entries_ == nullptr ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                      : mremap(entries_, mapped_bytes_, bytes, MREMAP_MAYMOVE);
    if (block == MAP_FAILED) throw std::bad_alloc();  // the old block, if any, is still ours
    entries_ = static_cast<std::int64_t*>(block);
    mapped_bytes_ = bytes;
    capacity_ = bytes / sizeof(std::int64_t);
}

}  // namespace quorvane
