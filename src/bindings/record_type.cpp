#include "bindings/record_type.hpp"

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

PyTypeObject* create_record_type(PyObject* module, const char* qualified_name, int basicsize, destructor dealloc,
                                 PyGetSetDef* attributes, reprfunc repr) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(repr)},
        {Py_tp_getset, attributes},
        {0, nullptr},
    };
    // The interpreter keeps pointers to the qualified name for the type's life.
    PyType_Spec spec{qualified_name, basicsize, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    PyRef type = PyRef::steal(PyType_FromModuleAndSpec(module, &spec, nullptr));
    if (!type || PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type.get())) < 0) return nullptr;
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace quorvane::py
