// The Comparison class: one decoded image pair, immutable once built.
#pragma once

#include "bindings/python.hpp"
#include "core/image_pair.hpp"

namespace quorvane::py {

struct ComparisonObject {
    PyObject_HEAD ImagePair* pair;  // owned; freed with the object
};

PyTypeObject* comparison_type();

// A new Comparison that takes over the pair; nullptr with a Python error set
// when the object cannot be made.
PyObject* new_comparison(ImagePair pair);

bool register_comparison(PyObject* module);

}  // namespace quorvane::py
