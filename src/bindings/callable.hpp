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

// A module function or a static method: the body receives the arguments only.
struct Function {
    const char* name;
    const char* summary;
    std::span<const Param> params;
    PyObject* (*body)(Args& args);
};

template <const Method& M>
PyObject* method_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        auto bound = bind_arguments(M.name, M.params, args, kwargs);
        if (!bound) return nullptr;
        return M.body(*reinterpret_cast<ComparisonObject*>(self), *bound);
    });
}

template <const Function& F>
PyObject* function_entry(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        auto bound = bind_arguments(F.name, F.params, args, kwargs);
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
                      docstring(M.name, M.params, M.summary, true));
}

template <const Function& F>
PyMethodDef describe(int extra_flags = 0) {
    return method_def(F.name, function_entry<F>, METH_VARARGS | METH_KEYWORDS | extra_flags,
                      docstring(F.name, F.params, F.summary, false));
}

// Method tables handed to the interpreter are never freed.
PyMethodDef* leak_table(std::vector<PyMethodDef> rows);

}  // namespace quorvane::py
