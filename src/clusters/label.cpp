#include "clusters/label.hpp"

#include <algorithm>
#include <string>

#include "clusters/mask_scan.hpp"

namespace quorvane {
namespace {

CompareError too_many_labels(u64 label_limit) {
    return CompareError::message("too many separate changed regions to cluster: more than " +
                                 std::to_string(label_limit) + " labels needed");
}

}  // namespace

Result<ComponentLabels> label_components(ByteView mask, u64 width, u64 height, u64 label_limit) {
    ComponentLabels result{LabelMap(width * height), LabelForest()};
    LabelForest& forest = result.forest;
    for (u64 y = 0; y < height; ++y) {
        const u8* row = mask.data() + y * width;
        u32* labels = result.labels.data() + y * width;
        const u8* above = y > 0 ? row - width : nullptr;
        const u32* labels_above = y > 0 ? labels - width : nullptr;

        for (u64 x = next_marked(row, 0, width); x < width; x = next_marked(row, x, width)) {
            do {
                // A marked pixel above is already joined with every other
                // visited neighbour (each of them touches it), so the other
                // three could only repeat unions that change nothing.
                if (above != nullptr && above[x] == 1) {
                    labels[x] = labels_above[x];
                    continue;
                }
                u32 current = 0;
                auto meet = [&](u32 label) {
                    if (current == 0) {
                        current = label;
                    } else if (label != current) {
                        forest.unite(current, label);
                        current = std::min(current, label);
                    }
                };
                if (above != nullptr) {
                    if (x > 0 && above[x - 1] == 1) meet(labels_above[x - 1]);
                    if (x + 1 < width && above[x + 1] == 1) meet(labels_above[x + 1]);
                }
                if (x > 0 && row[x - 1] == 1) meet(labels[x - 1]);
                if (current == 0) {
                    if (forest.size() > label_limit) return too_many_labels(label_limit);
                    current = forest.add();
                }
                labels[x] = current;
            } while (++x < width && row[x] == 1);
        }
    }
    return result;
}

}  // namespace quorvane
