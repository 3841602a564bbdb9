// The changed-pixel rule over a run of one row, sixteen pixels to a block,
// with one path per instruction set: the scalar path, which applies
// classify_pixel pixel by pixel and is the reference, and vector paths that
// give the same classes to every pixel (the same arithmetic in the same
// order), of which the fastest this processor runs is chosen once.
#pragma once

#include <span>

#include "core/types.hpp"

namespace quorvane {

inline constexpr u64 kBlockPixels = 16;

// Both images of a pair as bytes and as pixel words, and the rule's options.
struct PairPixels {
    const u8* baseline;
    const u8* current;
    const u32* baseline_words;
    const u32* current_words;
    u64 width;
    u64 height;
    double max_delta;
    bool include_aa;
};

// The classes of the pixels x .. x + 15 of a row, bit j for pixel x + j.
// A pixel in neither mask is Unchanged; `darker` marks the Changed pixels
// whose colour delta is negative (the current image darker there).
struct ClassifiedBlock {
    u64 x;
    u32 changed;
    u32 anti_aliased;
    u32 darker;
};

// Classifies the pixels [begin, end) of row y and writes the blocks that hold
// a Changed or AntiAliased pixel, left to right, each pixel in one block
// only; returns how many. `out` has room for (end - begin) / 16 + 1 blocks.
using RowRule = u64 (*)(const PairPixels& pair, u64 y, u64 begin, u64 end, ClassifiedBlock* out);

// Draws pixels [begin, end) of `source` as gray_pixel does, into the same
// places of `out`.
using GrayRun = void (*)(const u8* source, u8* out, u64 begin, u64 end, double alpha);

struct RowRulePath {
    const char* name;
    RowRule classify;
    GrayRun draw_gray;  // the grey of the pixels that did not change
};

// Every path this processor can run, the scalar reference first and the
// fastest last. A build with QUORVANE_SCALAR_ONLY has the scalar path only.
std::span<const RowRulePath> row_rule_paths();

// The fastest path of row_rule_paths(), chosen on first use.
const RowRulePath& fastest_row_rule_path();

// The reference: classify_pixel for every pixel whose words differ.
u64 classify_row_scalar(const PairPixels& pair, u64 y, u64 begin, u64 end, ClassifiedBlock* out);

}  // namespace quorvane
