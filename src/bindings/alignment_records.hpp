// The Python classes of a row alignment: RowAlignment, RowSegment and
// ShiftBand, immutable records made only by Comparison.row_alignment.
#pragma once

#include "alignment/record.hpp"
#include "bindings/python.hpp"

namespace quorvane::py {

// The RowAlignment class once registered; its address serves
// `object_param("alignment", &row_alignment_class)`.
extern PyTypeObject* row_alignment_class;

PyTypeObject* row_alignment_type();

// The full record inside a RowAlignment, including what Python does not see
// (refined segments, sizes, fingerprint). It never changes, so it may be read
// with the interpreter lock released while a reference to the object is held.
const AlignmentRecord& alignment_record(PyObject* alignment);

// A new RowAlignment holding the record, with its RowSegment and ShiftBand
// objects made once; nullptr with a Python error set on failure.
PyObject* new_row_alignment(AlignmentRecord record);

// Adds RowAlignment, RowSegment and ShiftBand to the module, in that order.
bool register_alignment_records(PyObject* module);

}  // namespace quorvane::py
