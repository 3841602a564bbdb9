// The module initialiser: __version__, then the classes, then the functions.
#include <vector>

#include "bindings/alignment_records.hpp"
#include "bindings/boundary.hpp"
#include "bindings/cluster_records.hpp"
#include "bindings/comparison.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/python.hpp"
#include "bindings/registry.hpp"

namespace quorvane::py {
namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "quorvane",
    "Visual regression comparison of screenshots: perceptual pixel differences, diff images, SSIM,\n"
    "change clusters, row alignment and thumbnails.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Module functions are added after the classes, so they are made here rather
// than through the module definition's method table.
bool add_functions(PyObject* module, std::vector<PyMethodDef> functions) {
    auto* kept = new std::vector<PyMethodDef>(std::move(functions));  // the interpreter keeps pointers into it
    PyRef module_name = PyRef::steal(PyUnicode_FromString("quorvane"));
    if (!module_name) return false;
    for (PyMethodDef& def : *kept) {
        PyRef function = PyRef::steal(PyCFunction_NewEx(&def, nullptr, module_name.get()));
        if (!function || PyModule_AddObject(module, def.ml_name, function.get()) < 0) return false;
        function.release();  // the module took it
    }
    return true;
}

PyObject* create_module() {
    PyRef module = PyRef::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    if (PyModule_AddStringConstant(module.get(), "__version__", QUORVANE_VERSION) < 0) return nullptr;
    if (!create_panic_exception_type()) return nullptr;
    if (!register_comparison(module.get())) return nullptr;
    if (!register_alignment_records(module.get())) return nullptr;
    if (!register_cluster_records(module.get())) return nullptr;

    std::vector<PyMethodDef> functions;
    add_thumbnail_functions(functions);
    add_batch_functions(functions);
    if (!add_functions(module.get(), std::move(functions))) return nullptr;
    return module.release();
}

}  // namespace
}  // namespace quorvane::py

PyMODINIT_FUNC PyInit_quorvane(void) {
    return quorvane::py::guarded([] { return quorvane::py::create_module(); });
}
