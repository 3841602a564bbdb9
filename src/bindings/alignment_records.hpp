// The Python classes of a row alignment: RowAlignment, RowSegment and
// ShiftBand, immutable records made only by Comparison.row_alignment.
#pragma once

#include "alignment/record.hpp"
#include "bindings/module_state.hpp"
#include "bindings/python.hpp"

namespace quorvane::py {

// The full record inside a RowAlignment, including what Python does not see
// (refined segments, sizes, fingerprint). It never changes, so it may be read
// with the interpreter lock released while a reference to the object is held.
const AlignmentRecord& alignment_record(PyObject* alignment);

// A new RowAlignment holding the record, with its RowSegment and ShiftBand
// objects made once; nullptr with a Python error set on failure.
PyObject* new_row_alignment(const ModuleState& state, AlignmentRecord record);

// Adds RowAlignment, RowSegment and ShiftBand to the module, in that order,
// and keeps them in its state.
bool register_alignment_records(PyObject* module, ModuleState& state);

}  // namespace quorvane::py
