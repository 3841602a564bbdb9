// Immutable result classes: instances are made only by the module, hold a
// plain C++ value, expose read-only attributes and refuse construction from
// Python ("No constructor defined for ...").
#pragma once

#include <new>
#include <utility>

#include "bindings/boundary.hpp"
#include "bindings/python.hpp"

namespace quorvane::py {

template <class T>
struct RecordObject {
    PyObject_HEAD T value;
};

template <class T>
const T& record_value(PyObject* self) {
    return reinterpret_cast<RecordObject<T>*>(self)->value;
}

// A new instance holding `value`; nullptr with a Python error set on failure.
template <class T>
PyObject* new_record(PyTypeObject* type, T value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = alloc(type, 0);
    if (object == nullptr) return nullptr;
    new (&reinterpret_cast<RecordObject<T>*>(object)->value) T(std::move(value));
    return object;
}

// The getter of a number field of the record.
template <class T, auto Field>
PyObject* record_field(PyObject* self, void*) {
    return to_python(record_value<T>(self).*Field);
}

template <class T>
void record_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<RecordObject<T>*>(self)->value.~T();
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

// Creates the class named "quorvane.<name>", a string that lives as long as
// the process, and adds it to the module; a new reference, or nullptr with
// a Python error set. `attributes` and the repr read the record; there are
// no setters.
PyTypeObject* create_record_type(PyObject* module, const char* qualified_name, int basicsize, destructor dealloc,
                                 PyGetSetDef* attributes, reprfunc repr);

template <class T>
PyTypeObject* create_record_type(PyObject* module, const char* qualified_name, PyGetSetDef* attributes, reprfunc repr) {
    return create_record_type(module, qualified_name, static_cast<int>(sizeof(RecordObject<T>)), record_dealloc<T>,
                              attributes, repr);
}

}  // namespace quorvane::py
