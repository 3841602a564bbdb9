// One-pass labelling of a mask's 8-connected components with a union-find.
#pragma once

#include <limits>
#include <vector>

#include "clusters/label_forest.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Leaves the labels of unmarked pixels unwritten: they are never read, since
// a neighbour's label is looked at only where the mask marks it. Pages of a
// sparse mask's empty areas are then never touched.
using LabelMap = std::vector<u32, DefaultInitAllocator<u32>>;

struct ComponentLabels {
    LabelMap labels;     // width * height, row-major; defined where the mask is 1
    LabelForest forest;  // every label's component is the root of its tree
};

inline constexpr u64 kMaxComponentLabel = std::numeric_limits<u32>::max();

// Rows top to bottom, columns left to right; a marked pixel (mask byte 1)
// meets its visited neighbours up-left, up, up-right and left in that order:
// it takes the first one's label and joins the others' to it; with none it
// gets a new label. Labels are 32-bit: a mask that needs a label above
// `label_limit` is refused with an error instead of wrapping around.
Result<ComponentLabels> label_components(ByteView mask, u64 width, u64 height, u64 label_limit = kMaxComponentLabel);

}  // namespace quorvane
