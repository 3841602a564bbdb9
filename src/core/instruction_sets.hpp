// The vector instruction sets this processor runs, for the computations that
// have a path built for each and choose the fastest once.
#pragma once

namespace quorvane {

struct InstructionSets {
    bool sse41 = false;
    bool avx2 = false;
    bool avx512 = false;  // F, DQ, BW and VL
};

// Each set counts only when the system also saves its registers. None in a
// build with QUORVANE_SCALAR_ONLY, which has no vector paths.
const InstructionSets& instruction_sets();

}  // namespace quorvane
