// The decoded image pair that a Comparison owns, the borrowed view that the
// computing units take, and the write-once cells of what it computed.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "core/memory_budget.hpp"
#include "core/regions.hpp"
#include "core/types.hpp"

namespace quorvane {

// The borrowed view of an ImagePair: both buffers on the common canvas
// (width x height), plus each image's own size for the rules that look past
// the padding, and the regions painted into both.
struct CanvasView {
    ByteView baseline;
    ByteView current;
    u64 width = 0;
    u64 height = 0;
    Size baseline_size;
    Size current_size;
    std::span<const Region> ignore;  // painted into both buffers already
    Rgb mask_color = kDefaultMaskColor;
    bool same_pixels = false;  // both images are one: one size, one buffer
};

// Holds one value computed at most once, even when several threads ask at the
// same time: latecomers wait for the first computation and read its value.
template <class T>
class OnceCell {
public:
    OnceCell() = default;
    // Only moved while the owning record is still private to one thread.
    OnceCell(OnceCell&& other) noexcept
        : filled_(other.filled_.load(std::memory_order_acquire)), value_(other.value_) {}

    template <class Compute>
    T get_or_compute(Compute&& compute) {
        if (filled_.load(std::memory_order_acquire)) return value_;
        std::lock_guard lock(mutex_);
        if (!filled_.load(std::memory_order_relaxed)) {
            value_ = compute();  // a throwing computation leaves the cell empty
            filled_.store(true, std::memory_order_release);
        }
        return value_;
    }

    void store_if_empty(T value) {
        std::lock_guard lock(mutex_);
        if (filled_.load(std::memory_order_relaxed)) return;
        value_ = value;
        filled_.store(true, std::memory_order_release);
    }

    std::optional<T> peek() const {
        if (!filled_.load(std::memory_order_acquire)) return std::nullopt;
        return value_;
    }

private:
    std::mutex mutex_;
    std::atomic<bool> filled_{false};
    T value_{};
};

using FingerprintCell = OnceCell<u64>;

struct ChangeBlocks;

// The classified rows of the pair's last full count by the changed-pixel
// rule, for the mask and the diff image that follow it. Shared, so that a
// reader keeps the blocks it took while another call replaces them.
class ChangeBlocksCell {
public:
    ChangeBlocksCell() = default;
    // Only moved while the owning record is still private to one thread.
    ChangeBlocksCell(ChangeBlocksCell&& other) noexcept : blocks_(std::move(other.blocks_)) {}

    std::shared_ptr<const ChangeBlocks> load() const {
        std::lock_guard lock(mutex_);
        return blocks_;
    }
    void store(std::shared_ptr<const ChangeBlocks> blocks) {
        std::lock_guard lock(mutex_);
        blocks_ = std::move(blocks);
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const ChangeBlocks> blocks_;
};

// Both images padded to the common size and painted in the ignore regions
// once, at construction, so that no analysis has to handle two sizes or know
// of the regions.
struct ImagePair {
    Bytes baseline;
    // Empty when same_pixels: the baseline's pixels stand for both.
    Bytes current;
    std::optional<Bytes> current_unpadded;  // kept only when the current image was widened
    u64 width = 0;
    u64 height = 0;
    Size baseline_size;
    Size current_size;
    IgnoreRegions ignore;    // the regions as given and their colour
    u64 ignored_pixels = 0;  // canvas pixels inside any region
    FingerprintCell fingerprint;
    // Caches beside the pixels, not part of the pair's value: the rows the
    // last count classified, and the SSIM of the two canvases once scored.
    mutable ChangeBlocksCell change_blocks;
    mutable OnceCell<double> canvas_ssim;
    // The two images, painted, are equal: of one size, pixel for pixel. The
    // pair then holds one buffer, and its figures need no computing.
    bool same_pixels = false;
    MemoryBudget budget;  // the limit of every call on the pair

    ByteView current_pixels() const { return same_pixels ? baseline : current; }
    CanvasView view() const {
        return {baseline,     current_pixels(), width,        height,     baseline_size,
                current_size, ignore.regions,   ignore.color, same_pixels};
    }
    bool size_mismatch() const { return baseline_size != current_size; }
    PairSizes sizes() const { return {baseline_size, current_size}; }
    // The current image at its own size, without padding. Padded rows go
    // below it, so unless it was widened it is the first rows of the canvas.
    ByteView current_own_pixels() const {
        if (current_unpadded) return *current_unpadded;
        return current_pixels().first(current_size.width * current_size.height * kBytesPerPixel);
    }
};

}  // namespace quorvane
