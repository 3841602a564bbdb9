// The anti-aliased edge test: whether a differing pixel sits between a
// brighter and a darker neighbour that both lie in flat areas of both images.
#pragma once

#include "core/types.hpp"

namespace quorvane {

// Whether pixel (x, y) of a word view has three or more neighbours of exactly
// its value, the image border counting as one.
bool has_many_siblings(const u32* words, u64 x, u64 y, u64 width, u64 height);

// Whether pixel (x, y) of `image` lies on an anti-aliased edge. own_words is
// the word view of `image`, other_words that of the other image of the pair.
bool antialiased(const u8* image, u64 x, u64 y, u64 width, u64 height, const u32* own_words, const u32* other_words);

}  // namespace quorvane
