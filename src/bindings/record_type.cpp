#include "bindings/record_type.hpp"

#include <string>

#include "bindings/py_ref.hpp"

namespace quorvane::py {
namespace {

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
    const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (text == nullptr) return nullptr;
    PyErr_Format(PyExc_TypeError, "No constructor defined for %s", text);
    return nullptr;
}

}  // namespace

PyTypeObject* create_record_type(PyObject* module, const char* name, int basicsize, destructor dealloc,
                                 PyGetSetDef* attributes, reprfunc repr) {
    // The interpreter keeps pointers to the qualified name for the type's life.
    auto* qualified = new std::string(std::string("quorvane.") + name);
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(repr)},
        {Py_tp_getset, attributes},
        {0, nullptr},
    };
    PyType_Spec spec{qualified->c_str(), basicsize, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    PyRef type = PyRef::steal(PyType_FromSpec(&spec));
    if (!type) return nullptr;
    PyRef added = PyRef::borrow(type.get());
    if (PyModule_AddObject(module, name, added.get()) < 0) return nullptr;
    added.release();  // the module took this reference
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace quorvane::py
