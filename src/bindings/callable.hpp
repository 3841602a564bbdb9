// Declaring a Python callable: a name, a summary, its parameters and one body
// that calls the core. The trampolines bind the arguments, run the body and
// turn any exception into a Python one.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/params.hpp"
#include "bindings/python.hpp"

namespace quorvane::py {

struct ComparisonObject;

// A method of Comparison: the body receives the instance and the arguments.
struct Method {
    const char* name;
    const char* summary;
    std::span<const Param> params;
    PyObject* (*body)(ComparisonObject& self, Args& args);
};

// A module function or a class method: the body receives the arguments only.
struct Function {
    const char* name;
    const char* summary;
    std::span<const Param> params;
    PyObject* (*body)(Args& args);
};

// The method descriptor has checked that `self` is a Comparison.
template <const Method& M>
PyObject* method_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
    const ModuleState* state = state_of_class(Py_TYPE(self));
    if (state == nullptr) return nullptr;
    return guarded(state->errors, [&]() -> PyObject* {
        auto bound = bind_arguments(*state, M.name, M.params, args, kwargs);
        if (!bound) return nullptr;
        return M.body(*reinterpret_cast<ComparisonObject*>(self), *bound);
    });
}

// `self` is the module, or the class of a class method.
template <const Function& F>
PyObject* function_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
    const ModuleState* state = state_of(self);
    if (state == nullptr) return nullptr;
    return guarded(state->errors, [&]() -> PyObject* {
        auto bound = bind_arguments(*state, F.name, F.params, args, kwargs);
        if (!bound) return nullptr;
        return F.body(*bound);
    });
}

// One row of a method table, with its docstring built from the declaration.
// Docstrings live as long as the process, as the interpreter expects.
PyMethodDef method_def(const char* name, PyCFunctionWithKeywords entry, int flags, std::string docstring);

template <const Method& M>
PyMethodDef describe() {
    return method_def(M.name, method_entry<M>, METH_VARARGS | METH_KEYWORDS,
                      docstring(M.name, M.params, M.summary, "$self"));
}

// With METH_CLASS, a class method: called through the class, which leads
// to the module's state as a static method could not.
template <const Function& F>
PyMethodDef describe(int extra_flags = 0) {
    return method_def(F.name, function_entry<F>, METH_VARARGS | METH_KEYWORDS | extra_flags,
                      docstring(F.name, F.params, F.summary, (extra_flags & METH_CLASS) != 0 ? "$type" : ""));
}

// Method tables handed to the interpreter are made once, shared by every
// instance of the module, and never freed.
PyMethodDef* leak_table(std::vector<PyMethodDef> rows);

}  // namespace quorvane::py
