// Per-component statistics of a labelled mask: pixel count, coordinate sums,
// the bounding box, and the changed pixels of the mask before dilation.
#pragma once

#include <limits>
#include <vector>

#include "clusters/label.hpp"
#include "core/types.hpp"

namespace quorvane {

struct ComponentStats {
    u64 count = 0;
    u64 sum_x = 0;
    u64 sum_y = 0;
    u64 min_x = std::numeric_limits<u64>::max();
    u64 max_x = 0;
    u64 min_y = std::numeric_limits<u64>::max();
    u64 max_y = 0;
    u64 changed = 0;  // pixels of the undilated mask in the component
};

// One entry per component, in increasing order of the component's root
// label, over every marked pixel of `mask` (the mask that was labelled);
// `changed` counts the marked pixels of `changed_mask`, the mask before it
// was dilated (the same mask when it was not). Flattens the forest on the way.
std::vector<ComponentStats> component_statistics(ByteView mask, ByteView changed_mask, ComponentLabels& labels,
                                                 u64 width, u64 height);

}  // namespace quorvane
