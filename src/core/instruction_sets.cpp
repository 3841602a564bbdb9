#include "core/instruction_sets.hpp"

#if !defined(QUORVANE_SCALAR_ONLY)
#include <cpuid.h>
#endif

namespace quorvane {
namespace {

InstructionSets detect() {
    InstructionSets sets;
#if !defined(QUORVANE_SCALAR_ONLY)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return sets;
    sets.sse41 = (c & bit_SSE4_1) != 0;
    if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return sets;
    unsigned saved_low = 0, saved_high = 0;
    __asm__("xgetbv" : "=a"(saved_low), "=d"(saved_high) : "c"(0));
    constexpr unsigned kVectorState = 0x6, kWideVectorState = 0xe6;  // XMM and YMM; also opmask and ZMM
    if ((saved_low & kVectorState) != kVectorState || __get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return sets;
    sets.avx2 = sets.sse41 && (b & bit_AVX2) != 0;
    constexpr unsigned kAvx512 = bit_AVX512F | bit_AVX512DQ | bit_AVX512BW | bit_AVX512VL;
    sets.avx512 = sets.avx2 && (saved_low & kWideVectorState) == kWideVectorState && (b & kAvx512) == kAvx512;
#endif
    return sets;
}

}  // namespace

const InstructionSets& instruction_sets() {
    static const InstructionSets sets = detect();
    return sets;
}

}  // namespace quorvane
