// The rows an alignment leaves to be measured as changed in place.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "alignment/record.hpp"
#include "core/image_pair.hpp"

namespace quorvane {

// Every replace segment and, in an alignment whose equal segments matched
// rows within `row_threshold`, each run of matched rows whose pixels are not
// identical, as a replace segment of its own; in list order. These are what
// the aligned figures draw, mask and count pixel by pixel. For a mask at
// `mask_threshold`, matched rows that cannot hold a changed pixel by it are
// left out: opaque rows within a row threshold no larger than it.
// `identical(x, y)` tells whether baseline row x and current row y are the
// same; by default their bytes are compared.
using IdenticalRows = std::function<bool(u64, u64)>;
std::vector<RowSegment> rows_changed_in_place(const CanvasView& pair, std::span<const RowSegment> segments,
                                              std::optional<double> row_threshold,
                                              std::optional<double> mask_threshold = std::nullopt,
                                              const IdenticalRows& identical = {});

}  // namespace quorvane
