#include "bindings/boundary.hpp"

#include <string>

namespace quorvane::py {
namespace {
PyObject* panic_type = nullptr;
}

PyObject* raise(const CompareError& error) {
    PyErr_SetString(PyExc_ValueError, error.text().c_str());
    return nullptr;
}

PyObject* raise(PyObject* type, std::string_view message) {
    PyErr_SetString(type, std::string(message).c_str());
    return nullptr;
}

PyObject* panic_exception_type() { return panic_type; }

bool create_panic_exception_type() {
    if (panic_type == nullptr) {
        panic_type = PyErr_NewExceptionWithDoc(
            "quorvane.PanicException", "An internal invariant of quorvane was broken.", PyExc_BaseException, nullptr);
    }
    return panic_type != nullptr;
}

PyObject* to_python(u64 value) { return PyLong_FromUnsignedLongLong(value); }
PyObject* to_python(double value) { return PyFloat_FromDouble(value); }
PyObject* to_python_bytes(ByteView bytes) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<Py_ssize_t>(bytes.size()));
}

PyObject* to_python_text(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace quorvane::py
