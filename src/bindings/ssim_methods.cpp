// Comparison.ssim: the structural-similarity score of the pair on its common
// canvas.
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/comparison.hpp"
#include "bindings/registry.hpp"
#include "operations/analyses.hpp"

namespace quorvane::py {
namespace {

PyObject* ssim(ComparisonObject& self, Args& args) {
    auto score = without_gil([&] { return pair_ssim(*self.pair); });
    return deliver(args.state(), std::move(score), [](double value) { return to_python(value); });
}

constexpr Method kSsim{"ssim", "Compute SSIM (structural similarity) score.", {}, ssim};

}  // namespace

void add_ssim_methods(std::vector<PyMethodDef>& methods) { methods.push_back(describe<kSsim>()); }

}  // namespace quorvane::py
