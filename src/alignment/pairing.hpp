// Pairing: an insert next to a delete is rows changed in place.
#pragma once

#include <span>
#include <vector>

#include "alignment/record.hpp"

namespace quorvane {

// An insert directly followed by a delete, or a delete by an insert, becomes
// a replace of the shorter length, followed by what is left of the longer
// edit; every other run is kept. This is the segments list that Python sees.
std::vector<RowSegment> pair_edits(std::span<const RowSegment> runs);

}  // namespace quorvane
