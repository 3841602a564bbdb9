#include "bindings/boundary.hpp"

#include <string>
#include <utility>

#include "bindings/py_ref.hpp"

namespace quorvane::py {
namespace {

PyObject* class_of_kind(const ErrorClasses& classes, CompareError::Kind kind) {
    switch (kind) {
        case CompareError::Kind::PngEncode:
        case CompareError::Kind::WebpEncode:
        case CompareError::Kind::ImageTooLarge:
            return classes.encode;
        case CompareError::Kind::NotAligned:
        case CompareError::Kind::ForeignAlignment:
            return classes.alignment;
        case CompareError::Kind::MemoryLimit:
            return classes.memory_limit;
        case CompareError::Kind::PngDecode:
        case CompareError::Kind::InvalidBufferLength:
        case CompareError::Kind::DimensionsOverflow:
        case CompareError::Kind::Message:
        case CompareError::Kind::SourceLargerThanTarget:
        case CompareError::Kind::ResizeFailed:
            return PyExc_ValueError;
    }
    throw Panic("unknown CompareError kind");
}

// "baseline" or "current" for an image of a pair, None for a lone image.
PyRef side_of(InputImage image) {
    switch (image) {
        case InputImage::Lone:
            return PyRef::borrow(Py_None);
        case InputImage::Baseline:
            return PyRef::steal(PyUnicode_FromString("baseline"));
        case InputImage::Current:
            return PyRef::steal(PyUnicode_FromString("current"));
    }
    throw Panic("unknown input image");
}

// A ValueError subclass, added to the module, whose instances read
// `attribute` as `fallback` unless it is set on them; a new reference.
PyObject* new_value_error_class(PyObject* module, const char* name, const char* doc, const char* attribute = nullptr,
                                PyRef fallback = {}) {
    PyRef defaults = PyRef::steal(PyDict_New());
    if (!defaults) return nullptr;
    if (attribute != nullptr && (!fallback || PyDict_SetItemString(defaults.get(), attribute, fallback.get()) < 0)) {
        return nullptr;
    }
    const std::string qualified = std::string("quorvane.") + name;
    PyRef type = PyRef::steal(PyErr_NewExceptionWithDoc(qualified.c_str(), doc, PyExc_ValueError, defaults.get()));
    if (!type || PyModule_AddObjectRef(module, name, type.get()) < 0) return nullptr;
    return type.release();
}

// MemoryLimitError with its `needed` and `limit`.
PyObject* raise_memory_limit(const ErrorClasses& classes, const CompareError& error) {
    PyRef text = PyRef::steal(to_python_text(error.text()));
    if (!text) return nullptr;
    PyRef instance = PyRef::steal(PyObject_CallFunctionObjArgs(classes.memory_limit, text.get(), nullptr));
    if (!instance) return nullptr;
    for (const auto& [name, bytes] :
         {std::pair{"needed", error.needed_bytes()}, std::pair{"limit", error.limit_bytes()}}) {
        PyRef value = PyRef::steal(to_python(bytes));
        if (!value || PyObject_SetAttrString(instance.get(), name, value.get()) < 0) return nullptr;
    }
    PyErr_SetObject(classes.memory_limit, instance.get());
    return nullptr;
}

}  // namespace

bool create_error_classes(PyObject* module, ErrorClasses& classes) {
    classes.panic = PyErr_NewExceptionWithDoc(
        "quorvane.PanicException", "An internal invariant of quorvane was broken.", PyExc_BaseException, nullptr);
    if (classes.panic == nullptr) return false;
    classes.decode = new_value_error_class(module, "DecodeError",
                                           "A PNG image that could not be decoded.\n\n"
                                           "`side` is \"baseline\" or \"current\" for an image of a pair, None for a\n"
                                           "lone image.",
                                           "side", PyRef::borrow(Py_None));
    if (classes.decode == nullptr) return false;
    classes.region = new_value_error_class(module, "RegionError",
                                           "An ignore rectangle or mask colour that is not sound.\n\n"
                                           "`reason` is the message without its \"argument 'name': \" prefix.",
                                           "reason", PyRef::steal(PyUnicode_FromString("")));
    if (classes.region == nullptr) return false;
    classes.encode = new_value_error_class(
        module, "EncodeError",
        "An image that cannot be written as PNG or lossless WebP, such as one too large for WebP.");
    if (classes.encode == nullptr) return false;
    classes.alignment = new_value_error_class(module, "AlignmentError",
                                              "An alignment that failed, or that belongs to another image pair.");
    if (classes.alignment == nullptr) return false;
    classes.memory_limit =
        new_value_error_class(module, "MemoryLimitError",
                              "A call on an image pair that would take more memory than its memory_limit.\n\n"
                              "`needed` is the bytes the call needs, the pair's canvas included; `limit` the\n"
                              "memory_limit it had.",
                              "needed", PyRef::steal(PyLong_FromLong(0)));
    return classes.memory_limit != nullptr;
}

PyObject* raise(const ErrorClasses& classes, const CompareError& error) {
    if (auto image = error.undecodable_image()) {
        PyRef side = side_of(*image);
        if (!side) return nullptr;
        return raise_with_attribute(classes.decode, error.text(), "side", side.get());
    }
    if (error.kind() == CompareError::Kind::MemoryLimit) return raise_memory_limit(classes, error);
    return raise(class_of_kind(classes, error.kind()), error.text());
}

PyObject* raise(PyObject* type, std::string_view message) {
    PyErr_SetString(type, std::string(message).c_str());
    return nullptr;
}

PyObject* raise_with_attribute(PyObject* type, std::string_view message, const char* name, PyObject* value) {
    PyRef text = PyRef::steal(to_python_text(message));
    if (!text) return nullptr;
    PyRef error = PyRef::steal(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
    if (!error || PyObject_SetAttrString(error.get(), name, value) < 0) return nullptr;
    PyErr_SetObject(type, error.get());
    return nullptr;
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
