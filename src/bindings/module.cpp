// The module: its definition, its state, and its initialisation in two
// phases, so that each interpreter that imports it gets an instance of its
// own. The execution slot adds __version__, then the exception classes, the
// classes and the functions.
#include <exception>
#include <new>
#include <vector>

#include "bindings/alignment_records.hpp"
#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/cluster_records.hpp"
#include "bindings/comparison.hpp"
#include "bindings/module_state.hpp"
#include "bindings/python.hpp"
#include "bindings/registry.hpp"
#include "core/memory_budget.hpp"

namespace quorvane::py {
namespace {

ModuleState& state_of_module(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

// Every reference the state holds, in one list for traverse and clear.
template <class Visit>
void each_reference(ModuleState& state, Visit&& visit) {
    for (PyObject** error : {&state.errors.panic, &state.errors.decode, &state.errors.region, &state.errors.encode,
                             &state.errors.alignment, &state.errors.memory_limit}) {
        visit(*error);
    }
    for (PyTypeObject** type : {&state.comparison, &state.row_alignment, &state.row_segment, &state.shift_band,
                                &state.clusters_result, &state.cluster, &state.bounding_box}) {
        visit(reinterpret_cast<PyObject*&>(*type));
    }
}

// The classes hold the module in turn: the collector finds that cycle here.
int traverse_module(PyObject* module, visitproc visit, void* arg) {
    int status = 0;
    each_reference(state_of_module(module), [&](PyObject* object) {
        if (status == 0 && object != nullptr) status = visit(object, arg);
    });
    return status;
}

int clear_module(PyObject* module) {
    each_reference(state_of_module(module), [](PyObject*& object) { Py_CLEAR(object); });
    return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

// Made once for every instance of the module; each binds them to itself.
PyMethodDef* module_functions() {
    static PyMethodDef* const functions = [] {
        std::vector<PyMethodDef> rows;
        add_thumbnail_functions(rows);
        add_batch_functions(rows);
        add_region_functions(rows);
        add_memory_functions(rows);
        return leak_table(std::move(rows));
    }();
    return functions;
}

int execute_module(PyObject* module) noexcept {
    ModuleState& state = state_of_module(module);
    try {
        const bool complete =
            PyModule_AddStringConstant(module, "__version__", QUORVANE_VERSION) == 0 &&
            PyModule_AddIntConstant(module, "DEFAULT_MEMORY_LIMIT", static_cast<long>(kDefaultMemoryLimit)) == 0 &&
            create_error_classes(module, state.errors) && register_comparison(module, state) &&
            register_alignment_records(module, state) && register_cluster_records(module, state) &&
            PyModule_AddFunctions(module, module_functions()) == 0;
        return complete ? 0 : -1;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& fault) {  // before PanicException exists
        PyErr_SetString(PyExc_SystemError, fault.what());
    }
    return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "quorvane",
    "Visual regression comparison of screenshots: perceptual pixel differences, diff images, SSIM,\n"
    "change clusters, row alignment and thumbnails.",
    sizeof(ModuleState),
    nullptr,
    module_slots,
    traverse_module,
    clear_module,
    free_module,
};

}  // namespace

namespace {

// A state whose module was cleared (only ever while the interpreter shuts
// down) has no classes left to make results or errors of.
ModuleState* usable(void* state) {
    auto* found = static_cast<ModuleState*>(state);
    if (found != nullptr && found->errors.panic == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "the quorvane module has been cleared");
        return nullptr;
    }
    return found;
}

}  // namespace

ModuleState* state_of_class(PyTypeObject* type) { return usable(PyType_GetModuleState(type)); }

ModuleState* state_of(PyObject* module_or_class) {
    if (PyType_Check(module_or_class)) return state_of_class(reinterpret_cast<PyTypeObject*>(module_or_class));
    return usable(PyModule_GetState(module_or_class));
}

}  // namespace quorvane::py

PyMODINIT_FUNC PyInit_quorvane(void) { return PyModuleDef_Init(&quorvane::py::module_def); }
