// The Comparison type: construction from PNG bytes or RGBA buffers, the size
// properties and the repr. Analysis methods come from the subsystem files.
#include "bindings/comparison.hpp"

#include <memory>
#include <string>
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/params.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/registry.hpp"
#include "image_utils/pair.hpp"

namespace quorvane::py {
namespace {

const ImagePair& pair_of(PyObject* self) { return *reinterpret_cast<ComparisonObject*>(self)->pair; }

constexpr Param kConstructorParams[] = {
    required("baseline_png", ParamKind::Png),
    required("current_png", ParamKind::Png),
    kIgnore,
    kMaskColor,
    kMemoryLimit,
};

PyObject* comparison_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const ModuleState* state = state_of_class(type);
    if (state == nullptr) return nullptr;
    return guarded(state->errors, [&]() -> PyObject* {
        auto bound = bind_arguments(*state, "Comparison", kConstructorParams, args, kwargs);
        if (!bound) return nullptr;
        const ByteView baseline = bound->bytes("baseline_png");
        const ByteView current = bound->bytes("current_png");
        const IgnoreRegions ignore = bound->ignore_regions();
        const MemoryBudget budget = bound->memory_budget();
        auto pair = without_gil([&] { return decode_image_pair(baseline, current, ignore, budget); });
        return deliver(*state, std::move(pair),
                       [&](ImagePair record) { return new_comparison(*state, std::move(record)); });
    });
}

void comparison_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<ComparisonObject*>(self)->pair;
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

// "(x, y, width, height)" for each region, as given.
std::string regions_text(const std::vector<Region>& regions) {
    std::string text = "[";
    for (const Region& region : regions) {
        if (text.size() > 1) text += ", ";
        text += '(';
        for (const u64 value : {region.x, region.y, region.width, region.height}) {
            if (text.back() != '(') text += ", ";
            text += std::to_string(value);
        }
        text += ')';
    }
    text += ']';
    return text;
}

PyObject* comparison_repr(PyObject* self) {
    const ImagePair& pair = pair_of(self);
    std::string text = "Comparison(" + std::to_string(pair.width) + "x" + std::to_string(pair.height) + ", " +
                       std::to_string(pair.width * pair.height) + " pixels";
    if (!pair.ignore.empty()) text += ", ignore=" + regions_text(pair.ignore.regions);
    return to_python_text(text + ")");
}

PyObject* size_tuple(Size size) { return Py_BuildValue("(KK)", size.width, size.height); }

PyObject* get_width(PyObject* self, void*) { return to_python(pair_of(self).width); }
PyObject* get_height(PyObject* self, void*) { return to_python(pair_of(self).height); }
PyObject* get_size_mismatch(PyObject* self, void*) { return PyBool_FromLong(pair_of(self).size_mismatch()); }
PyObject* get_baseline_size(PyObject* self, void*) { return size_tuple(pair_of(self).baseline_size); }
PyObject* get_current_size(PyObject* self, void*) { return size_tuple(pair_of(self).current_size); }
PyObject* get_ignored_pixels(PyObject* self, void*) { return to_python(pair_of(self).ignored_pixels); }
PyObject* get_memory_limit(PyObject* self, void*) { return to_python(pair_of(self).budget.limit()); }

PyGetSetDef properties[] = {
    {"width", get_width, nullptr, nullptr, nullptr},
    {"height", get_height, nullptr, nullptr, nullptr},
    {"size_mismatch", get_size_mismatch, nullptr, nullptr, nullptr},
    {"baseline_size", get_baseline_size, nullptr, nullptr, nullptr},
    {"current_size", get_current_size, nullptr, nullptr, nullptr},
    {"ignored_pixels", get_ignored_pixels, nullptr, nullptr, nullptr},
    {"memory_limit", get_memory_limit, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr Param kFromRgbaParams[] = {
    required("baseline_rgba", ParamKind::Rgba),
    required("baseline_width", ParamKind::Count),
    required("baseline_height", ParamKind::Count),
    required("current_rgba", ParamKind::Rgba),
    required("current_width", ParamKind::Count),
    required("current_height", ParamKind::Count),
    kIgnore,
    kMaskColor,
    kMemoryLimit,
};

PyObject* from_rgba(Args& args) {
    const ByteView baseline = args.bytes("baseline_rgba");
    const Size baseline_size{args.count("baseline_width"), args.count("baseline_height")};
    const ByteView current = args.bytes("current_rgba");
    const Size current_size{args.count("current_width"), args.count("current_height")};
    const IgnoreRegions ignore = args.ignore_regions();
    const MemoryBudget budget = args.memory_budget();
    auto pair =
        without_gil([&] { return copy_image_pair(baseline, baseline_size, current, current_size, ignore, budget); });
    return deliver(args.state(), std::move(pair),
                   [&](ImagePair record) { return new_comparison(args.state(), std::move(record)); });
}

constexpr Function kFromRgba{"from_rgba", "Create a Comparison from pre-decoded RGBA buffers.", kFromRgbaParams,
                             from_rgba};

}  // namespace

PyObject* new_comparison(const ModuleState& state, ImagePair pair) {
    auto owned = std::make_unique<ImagePair>(std::move(pair));
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(state.comparison, Py_tp_alloc));
    PyObject* object = alloc(state.comparison, 0);
    if (object == nullptr) return nullptr;
    reinterpret_cast<ComparisonObject*>(object)->pair = owned.release();
    return object;
}

void add_construction_methods(std::vector<PyMethodDef>& methods) { methods.push_back(describe<kFromRgba>(METH_CLASS)); }

bool register_comparison(PyObject* module, ModuleState& state) {
    static PyMethodDef* const methods = [] {
        std::vector<PyMethodDef> rows;
        add_construction_methods(rows);
        add_batch_methods(rows);
        add_thumbnail_methods(rows);
        add_ssim_methods(rows);
        add_pixel_diff_methods(rows);
        add_cluster_methods(rows);
        add_alignment_methods(rows);
        add_aligned_methods(rows);
        return leak_table(std::move(rows));
    }();
    // The interpreter keeps its own copy of the class docstring.
    const std::string doc = docstring("Comparison", kConstructorParams, "");
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(comparison_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(comparison_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(comparison_repr)},
        {Py_tp_getset, properties},
        {Py_tp_methods, methods},
        {Py_tp_doc, const_cast<char*>(doc.c_str())},
        {0, nullptr},
    };
    PyType_Spec spec{"quorvane.Comparison", sizeof(ComparisonObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
                     slots};
    state.comparison = reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &spec, nullptr));
    return state.comparison != nullptr && PyModule_AddType(module, state.comparison) == 0;
}

}  // namespace quorvane::py
