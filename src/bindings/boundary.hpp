// Where computations meet the interpreter: releasing the interpreter lock,
// and turning errors and exceptions into Python exceptions in one place.
#pragma once

#include <string_view>
#include <utility>

#include "bindings/module_state.hpp"
#include "bindings/python.hpp"
#include "core/caller_work.hpp"
#include "core/error.hpp"
#include "core/result.hpp"

namespace quorvane::py {

// Releases the interpreter lock for exactly the lifetime of the guard; it is
// taken back even when the computation throws.
class GilRelease {
public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    ~GilRelease() { PyEval_RestoreThread(state_); }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* state_;
};

// Runs a computation with the interpreter lock released, counted among the
// callers computing at once. The callable must not touch any Python object.
template <class Compute>
auto without_gil(Compute&& compute) {
    GilRelease release;
    const CallerWork caller;
    return compute();
}

// Creates the exception classes and adds the ValueError subclasses to the
// module.
bool create_error_classes(PyObject* module, ErrorClasses& classes);

// Sets the exception of the error's kind with the error's text; returns
// nullptr for the caller to return. The kinds meet their classes here only.
PyObject* raise(const ErrorClasses& classes, const CompareError& error);
PyObject* raise(PyObject* type, std::string_view message);
// Raises type(message) with one attribute set on it.
PyObject* raise_with_attribute(PyObject* type, std::string_view message, const char* name, PyObject* value);

// Runs a binding body, turning C++ exceptions into Python ones:
// std::bad_alloc into MemoryError, anything else into PanicException.
template <class Body>
PyObject* guarded(const ErrorClasses& classes, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& fault) {
        return raise(classes.panic, fault.what());
    }
}

// A Result turned into a Python value by `convert`, or into the exception of
// its error.
template <class T, class Convert>
PyObject* deliver(const ModuleState& state, Result<T>&& result, Convert&& convert) {
    if (!result) return raise(state.errors, result.error());
    return convert(result.take());
}

PyObject* to_python(u64 value);
PyObject* to_python(double value);
PyObject* to_python_bytes(ByteView bytes);
PyObject* to_python_text(std::string_view text);

}  // namespace quorvane::py
