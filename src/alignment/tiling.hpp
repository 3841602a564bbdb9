// The promise a shift-aware method relies on before it reads rows through an
// alignment: its segments tile both images' rows exactly.
#pragma once

#include <span>

#include "alignment/record.hpp"

namespace quorvane {

// Throws Panic unless `segments` run top to bottom from (0, 0) to
// (baseline_rows, current_rows), each starting where the previous one ended,
// with no empty segment; a width of 0 has no rows and so no segments. Every
// record that row alignment makes passes, so a failure is a broken invariant.
void require_tiling(std::span<const RowSegment> segments, u64 width, u64 baseline_rows, u64 current_rows);

}  // namespace quorvane
