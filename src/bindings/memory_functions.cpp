// memory_needed: the memory a Comparison of two images of given sizes needs,
// so that callers running pairs side by side can share one budget.
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/params.hpp"
#include "bindings/registry.hpp"
#include "operations/memory_needs.hpp"

namespace quorvane::py {
namespace {

constexpr Param kMemoryNeededParams[] = {
    required("baseline_width", ParamKind::Count),
    required("baseline_height", ParamKind::Count),
    required("current_width", ParamKind::Count),
    required("current_height", ParamKind::Count),
};

PyObject* memory_needed(Args& args) {
    const PairSizes sizes{{args.count("baseline_width"), args.count("baseline_height")},
                          {args.count("current_width"), args.count("current_height")}};
    return to_python(pair_memory_needed(sizes));
}

constexpr Function kMemoryNeeded{"memory_needed",
                                 "Bytes a Comparison of images of these sizes needs at its peak.\n\n"
                                 "The most that building the pair, then any one of its analyses with\n"
                                 "the default options, takes: both images padded to the common canvas\n"
                                 "and the working buffers of the costliest analysis. Comparison(...)\n"
                                 "refuses a pair whose need exceeds its `memory_limit` with\n"
                                 "MemoryLimitError, before decoding.",
                                 kMemoryNeededParams, memory_needed};

}  // namespace

void add_memory_functions(std::vector<PyMethodDef>& functions) { functions.push_back(describe<kMemoryNeeded>()); }

}  // namespace quorvane::py
