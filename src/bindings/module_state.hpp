// What one instance of the module holds: its classes and exception classes,
// made by its initialisation and found again from any of its objects, so
// that every interpreter that imports the module has its own.
#pragma once

#include "bindings/python.hpp"

namespace quorvane::py {

// PanicException, derived from BaseException, for a broken invariant; and
// the subclasses of ValueError that keep the kind of an error, so that no
// caller reads a message to learn what happened.
struct ErrorClasses {
    PyObject* panic = nullptr;
    PyObject* decode = nullptr;        // DecodeError: a PNG image that does not decode; .side names it
    PyObject* region = nullptr;        // RegionError: a bad ignore rectangle or mask colour; .reason
    PyObject* encode = nullptr;        // EncodeError: an image that cannot be written as PNG or WebP
    PyObject* alignment = nullptr;     // AlignmentError: an alignment that failed or belongs to another pair
    PyObject* memory_limit = nullptr;  // MemoryLimitError: a call that would take more than its memory_limit
};

// Strong references, dropped by the module's clear and free slots.
struct ModuleState {
    ErrorClasses errors;
    PyTypeObject* comparison = nullptr;
    PyTypeObject* row_alignment = nullptr;
    PyTypeObject* row_segment = nullptr;
    PyTypeObject* shift_band = nullptr;
    PyTypeObject* clusters_result = nullptr;
    PyTypeObject* cluster = nullptr;
    PyTypeObject* bounding_box = nullptr;
};

// The state of the module a module function or a class method of one of
// its classes was called through (`self` is then the module or the class),
// or of the module that made a class. nullptr, with a Python error set,
// when there is none, or when the module has been cleared.
ModuleState* state_of(PyObject* module_or_class);
ModuleState* state_of_class(PyTypeObject* type);

}  // namespace quorvane::py
