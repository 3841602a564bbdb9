// check_regions: ignore regions and their colour checked as every callable
// that takes them checks them, without a pair.
#include <vector>

#include "bindings/callable.hpp"
#include "bindings/params.hpp"
#include "bindings/registry.hpp"

namespace quorvane::py {
namespace {

constexpr Param kCheckRegionsParams[] = {required("ignore", ParamKind::Regions), kMaskColorParam};

// Converting the arguments is the check.
PyObject* check_regions(Args&) { Py_RETURN_NONE; }

constexpr Function kCheckRegions{"check_regions",
                                 "Check ignore regions and their mask colour as Comparison(...) checks them.\n\n"
                                 "Raises what Comparison(..., ignore=..., mask_color=...) raises for them:\n"
                                 "RegionError for a rectangle or colour that is not sound, TypeError when\n"
                                 "`ignore` is not a sequence. Returns None.",
                                 kCheckRegionsParams, check_regions};

}  // namespace

void add_region_functions(std::vector<PyMethodDef>& functions) { functions.push_back(describe<kCheckRegions>()); }

}  // namespace quorvane::py
