#include "bindings/alignment_records.hpp"

#include <span>
#include <string>

#include "bindings/boundary.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/record_type.hpp"

namespace quorvane::py {
namespace {

// What a RowAlignment holds: the record, and the Python objects of its
// segments and bands, made once so that every read hands out the same ones.
struct RowAlignmentValue {
    AlignmentRecord record;
    PyRef segments;  // tuple of RowSegment
    PyRef bands;     // tuple of ShiftBand
};

const char* kind_text(SegmentKind kind) {
    switch (kind) {
        case SegmentKind::Equal:
            return "equal";
        case SegmentKind::Replace:
            return "replace";
        case SegmentKind::Insert:
            return "insert";
        case SegmentKind::Delete:
            return "delete";
    }
    throw Panic("unknown segment kind");
}

const char* kind_text(BandKind kind) { return kind == BandKind::Inserted ? "inserted" : "deleted"; }

// RowSegment

PyObject* segment_kind(PyObject* self, void*) {
    return PyUnicode_FromString(kind_text(record_value<RowSegment>(self).kind));
}

PyObject* segment_repr(PyObject* self) {
    const RowSegment& segment = record_value<RowSegment>(self);
    return to_python_text(std::string("RowSegment(kind=") + kind_text(segment.kind) +
                          ", baseline_start=" + std::to_string(segment.baseline_start) + ", current_start=" +
                          std::to_string(segment.current_start) + ", len=" + std::to_string(segment.len) + ")");
}

PyGetSetDef segment_attributes[] = {
    {"kind", segment_kind, nullptr, nullptr, nullptr},
    {"baseline_start", record_field<RowSegment, &RowSegment::baseline_start>, nullptr, nullptr, nullptr},
    {"current_start", record_field<RowSegment, &RowSegment::current_start>, nullptr, nullptr, nullptr},
    {"len", record_field<RowSegment, &RowSegment::len>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ShiftBand

PyObject* band_kind(PyObject* self, void*) {
    return PyUnicode_FromString(kind_text(record_value<ShiftBand>(self).kind));
}

PyObject* band_repr(PyObject* self) {
    const ShiftBand& band = record_value<ShiftBand>(self);
    return to_python_text(std::string("ShiftBand(kind=") + kind_text(band.kind) + ", y=" + std::to_string(band.y) +
                          ", rows=" + std::to_string(band.rows) + ")");
}

PyGetSetDef band_attributes[] = {
    {"kind", band_kind, nullptr, nullptr, nullptr},
    {"y", record_field<ShiftBand, &ShiftBand::y>, nullptr, nullptr, nullptr},
    {"rows", record_field<ShiftBand, &ShiftBand::rows>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// RowAlignment

const RowAlignmentValue& alignment_value(PyObject* self) { return record_value<RowAlignmentValue>(self); }

template <u64 AlignmentRecord::*Field>
PyObject* alignment_counter(PyObject* self, void*) {
    return to_python(alignment_value(self).record.*Field);
}

PyObject* alignment_aligned(PyObject* self, void*) { return PyBool_FromLong(alignment_value(self).record.aligned); }

// A new list on every read, holding the same objects.
PyObject* alignment_segments(PyObject* self, void*) { return PySequence_List(alignment_value(self).segments.get()); }
PyObject* alignment_bands(PyObject* self, void*) { return PySequence_List(alignment_value(self).bands.get()); }

PyObject* alignment_repr(PyObject* self) {
    const AlignmentRecord& record = alignment_value(self).record;
    if (!record.aligned) return PyUnicode_FromString("RowAlignment(aligned=False)");
    return to_python_text("RowAlignment(edit_distance=" + std::to_string(record.edit_distance) +
                          ", inserted_rows=" + std::to_string(record.inserted_rows) +
                          ", deleted_rows=" + std::to_string(record.deleted_rows) +
                          ", changed_rows=" + std::to_string(record.changed_rows) +
                          ", residual_count=" + std::to_string(record.residual_count) + ")");
}

PyGetSetDef alignment_attributes[] = {
    {"aligned", alignment_aligned, nullptr, nullptr, nullptr},
    {"edit_distance", alignment_counter<&AlignmentRecord::edit_distance>, nullptr, nullptr, nullptr},
    {"inserted_rows", alignment_counter<&AlignmentRecord::inserted_rows>, nullptr, nullptr, nullptr},
    {"deleted_rows", alignment_counter<&AlignmentRecord::deleted_rows>, nullptr, nullptr, nullptr},
    {"changed_rows", alignment_counter<&AlignmentRecord::changed_rows>, nullptr, nullptr, nullptr},
    {"residual_count", alignment_counter<&AlignmentRecord::residual_count>, nullptr, nullptr, nullptr},
    {"segments", alignment_segments, nullptr, nullptr, nullptr},
    {"bands", alignment_bands, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// A tuple of new records of `type`, one for each item.
template <class T>
PyRef record_tuple(PyTypeObject* type, std::span<const T> items) {
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    if (!tuple) return tuple;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = new_record<T>(type, items[i]);
        if (item == nullptr) return PyRef();
        PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), item);  // steals the item
    }
    return tuple;
}

}  // namespace

const AlignmentRecord& alignment_record(PyObject* alignment) { return alignment_value(alignment).record; }

PyObject* new_row_alignment(const ModuleState& state, AlignmentRecord record) {
    PyRef segments = record_tuple<RowSegment>(state.row_segment, record.segments);
    if (!segments) return nullptr;
    PyRef bands = record_tuple<ShiftBand>(state.shift_band, record.bands);
    if (!bands) return nullptr;
    return new_record<RowAlignmentValue>(state.row_alignment,
                                         RowAlignmentValue{std::move(record), std::move(segments), std::move(bands)});
}

bool register_alignment_records(PyObject* module, ModuleState& state) {
    state.row_alignment =
        create_record_type<RowAlignmentValue>(module, "quorvane.RowAlignment", alignment_attributes, alignment_repr);
    if (state.row_alignment == nullptr) return false;
    state.row_segment = create_record_type<RowSegment>(module, "quorvane.RowSegment", segment_attributes, segment_repr);
    if (state.row_segment == nullptr) return false;
    state.shift_band = create_record_type<ShiftBand>(module, "quorvane.ShiftBand", band_attributes, band_repr);
    return state.shift_band != nullptr;
}

}  // namespace quorvane::py
