// The Comparison class: one decoded image pair, immutable once built.
#pragma once

#include "bindings/module_state.hpp"
#include "bindings/python.hpp"
#include "core/image_pair.hpp"

namespace quorvane::py {

struct ComparisonObject {
    PyObject_HEAD ImagePair* pair;  // owned; freed with the object
};

// A new Comparison that takes over the pair; nullptr with a Python error set
// when the object cannot be made.
PyObject* new_comparison(const ModuleState& state, ImagePair pair);

// Adds Comparison to the module and keeps it in its state.
bool register_comparison(PyObject* module, ModuleState& state);

}  // namespace quorvane::py
