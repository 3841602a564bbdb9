#include "bindings/params.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>

#include "bindings/boundary.hpp"
#include "bindings/py_ref.hpp"
#include "core/error.hpp"
#include "image_utils/webp_encode.hpp"

namespace quorvane::py {
namespace {

std::string type_name(PyObject* object) {
    PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
    const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (text == nullptr) {
        PyErr_Clear();
        return "object";
    }
    return text;
}

std::string prefixed(const Param& param, std::string_view reason) {
    std::string message = "argument '";
    message += param.name;
    message += "': ";
    message += reason;
    return message;
}

void fail(PyObject* type, const Param& param, std::string_view reason) {
    PyErr_SetString(type, prefixed(param, reason).c_str());
}

// A RegionError that names the argument, the reason alone as its `reason`.
void fail_region(const ModuleState& state, const Param& param, const std::string& reason) {
    PyRef text = PyRef::steal(to_python_text(reason));
    if (text) raise_with_attribute(state.errors.region, prefixed(param, reason), "reason", text.get());
}

void fail_expected(const Param& param, std::string_view expected, PyObject* got) {
    std::string reason(expected);
    reason += ", got ";
    reason += type_name(got);
    fail(PyExc_TypeError, param, reason);
}

// Re-raises the pending error with the parameter's name in front.
void prefix_pending_error(const Param& param) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_value = PyRef::steal(value);
    PyRef owned_traceback = PyRef::steal(traceback);
    PyRef text = PyRef::steal(value ? PyObject_Str(value) : nullptr);
    const char* reason = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    if (reason == nullptr) PyErr_Clear();
    fail(type ? type : PyExc_TypeError, param, reason ? reason : "invalid value");
}

std::optional<u64> to_count(PyObject* object, const Param& param) {
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    return static_cast<u64>(value);
}

// An int (or __index__ object) in 0..255.
std::optional<u8> to_byte(PyObject* object, const Param& param, const char* what) {
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    int overflow = 0;
    const long value = PyLong_AsLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    if (overflow != 0 || value < 0 || value > 255) {
        fail(PyExc_OverflowError, param, std::string(what) + " must be in the range 0 to 255");
        return std::nullopt;
    }
    return static_cast<u8>(value);
}

std::optional<Rgb> to_color(PyObject* object, const Param& param) {
    if (!PyTuple_Check(object)) {
        fail_expected(param, "expected a tuple of three integers", object);
        return std::nullopt;
    }
    if (PyTuple_Size(object) != 3) {
        fail(PyExc_TypeError, param,
             "expected a tuple of three integers, got a tuple of " + std::to_string(PyTuple_Size(object)));
        return std::nullopt;
    }
    u8 channels[3];
    for (Py_ssize_t i = 0; i < 3; ++i) {
        auto channel = to_byte(PyTuple_GetItem(object, i), param, "colour component");
        if (!channel) return std::nullopt;
        channels[i] = *channel;
    }
    return Rgb{channels[0], channels[1], channels[2]};
}

std::optional<ByteView> to_bytes_view(PyObject* object, const Param& param) {
    if (!PyBytes_Check(object)) {
        fail_expected(param, "expected bytes", object);
        return std::nullopt;
    }
    char* data = nullptr;
    Py_ssize_t length = 0;
    if (PyBytes_AsStringAndSize(object, &data, &length) < 0) return std::nullopt;
    return ByteView(reinterpret_cast<const u8*>(data), static_cast<std::size_t>(length));
}

// One image of a pair: bytes, bytearray or any non-str sequence of ints
// 0..255, copied.
std::optional<Bytes> to_owned_bytes(PyObject* object, const Param& param) {
    if (PyBytes_Check(object)) {
        char* data = nullptr;
        Py_ssize_t length = 0;
        if (PyBytes_AsStringAndSize(object, &data, &length) < 0) return std::nullopt;
        return Bytes(data, data + length);
    }
    if (PyByteArray_Check(object)) {
        const char* data = PyByteArray_AsString(object);
        return Bytes(data, data + PyByteArray_Size(object));
    }
    if (PyUnicode_Check(object) || !PySequence_Check(object)) {
        fail_expected(param, "expected a byte sequence", object);
        return std::nullopt;
    }
    const Py_ssize_t length = PySequence_Size(object);
    if (length < 0) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    Bytes bytes(static_cast<std::size_t>(length));
    for (Py_ssize_t i = 0; i < length; ++i) {
        PyRef item = PyRef::steal(PySequence_GetItem(object, i));
        if (!item) {
            prefix_pending_error(param);
            return std::nullopt;
        }
        auto byte = to_byte(item.get(), param, "byte");
        if (!byte) return std::nullopt;
        bytes[static_cast<std::size_t>(i)] = *byte;
    }
    return bytes;
}

std::optional<std::vector<PngFiles>> to_pairs(PyObject* object, const Param& param) {
    if (PyUnicode_Check(object) || !PySequence_Check(object)) {
        fail_expected(param, "expected a sequence of (baseline, current) tuples", object);
        return std::nullopt;
    }
    const Py_ssize_t length = PySequence_Size(object);
    if (length < 0) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    std::vector<PngFiles> pairs;
    pairs.reserve(static_cast<std::size_t>(length));
    for (Py_ssize_t i = 0; i < length; ++i) {
        PyRef item = PyRef::steal(PySequence_GetItem(object, i));
        if (!item) {
            prefix_pending_error(param);
            return std::nullopt;
        }
        if (!PyTuple_Check(item.get())) {
            fail_expected(param, "expected each item to be a tuple of two byte sequences", item.get());
            return std::nullopt;
        }
        if (PyTuple_Size(item.get()) != 2) {
            fail(PyExc_TypeError, param,
                 "expected each item to be a tuple of two byte sequences, got a tuple of " +
                     std::to_string(PyTuple_Size(item.get())));
            return std::nullopt;
        }
        auto baseline = to_owned_bytes(PyTuple_GetItem(item.get(), 0), param);
        if (!baseline) return std::nullopt;
        auto current = to_owned_bytes(PyTuple_GetItem(item.get(), 1), param);
        if (!current) return std::nullopt;
        pairs.push_back({std::move(*baseline), std::move(*current)});
    }
    return pairs;
}

// The object's repr, cut short, to name it in a message.
std::string repr_of(PyObject* object) {
    constexpr std::size_t kLongest = 80;
    PyRef text = PyRef::steal(PyObject_Repr(object));
    Py_ssize_t length = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &length) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "object";
    }
    std::string shown(utf8, static_cast<std::size_t>(length));
    if (shown.size() > kLongest) shown = shown.substr(0, kLongest) + "...";
    return shown;
}

// The items of a non-str sequence of exactly N integers (bools excluded), as
// Python ints; nothing when the object is anything else.
template <std::size_t N>
std::optional<std::array<PyRef, N>> integer_items(PyObject* object) {
    if (PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object) || !PySequence_Check(object)) {
        return std::nullopt;
    }
    const Py_ssize_t length = PySequence_Size(object);
    if (length != static_cast<Py_ssize_t>(N)) {
        PyErr_Clear();
        return std::nullopt;
    }
    std::array<PyRef, N> items;
    for (std::size_t i = 0; i < N; ++i) {
        PyRef item = PyRef::steal(PySequence_GetItem(object, static_cast<Py_ssize_t>(i)));
        if (!item || PyBool_Check(item.get()) || !PyIndex_Check(item.get())) {
            PyErr_Clear();
            return std::nullopt;
        }
        items[i] = PyRef::steal(PyNumber_Index(item.get()));
        if (!items[i]) {
            PyErr_Clear();
            return std::nullopt;
        }
    }
    return items;
}

enum class Magnitude : u8 { Negative, Fits, TooLarge };

// Where a Python int falls against the unsigned 64-bit range.
Magnitude magnitude(PyObject* integer, u64& value) {
    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(integer, &overflow);
    if (overflow < 0 || (overflow == 0 && small < 0)) return Magnitude::Negative;
    if (overflow == 0) {
        value = static_cast<u64>(small);
        return Magnitude::Fits;
    }
    const unsigned long long large = PyLong_AsUnsignedLongLong(integer);
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return Magnitude::TooLarge;
    }
    value = static_cast<u64>(large);
    return Magnitude::Fits;
}

// One rectangle of `ignore`, checked in the order x, y, width, height.
std::optional<Region> to_region(const ModuleState& state, PyObject* object, const Param& param) {
    const std::string named = "rectangle " + repr_of(object);
    auto items = integer_items<4>(object);
    if (!items) {
        fail_region(state, param, named + " is not four integers (x, y, width, height)");
        return std::nullopt;
    }
    struct Field {
        const char* name;
        const char* with_article;
        bool extent;  // a width or height: at least 1, where a position may be 0
    };
    constexpr Field kFields[] = {
        {"x", "an x", false}, {"y", "a y", false}, {"width", "a width", true}, {"height", "a height", true}};
    u64 values[4] = {};
    for (std::size_t i = 0; i < 4; ++i) {
        const Field& field = kFields[i];
        const Magnitude found = magnitude((*items)[i].get(), values[i]);
        std::string problem;
        if (found == Magnitude::TooLarge) {
            problem = std::string(" has ") + field.with_article + " beyond 64 bits";
        } else if (field.extent && (found == Magnitude::Negative || values[i] == 0)) {
            problem = std::string(" has ") + field.with_article + " below 1";
        } else if (found == Magnitude::Negative) {
            problem = std::string(" has a negative ") + field.name;
        }
        if (!problem.empty()) {
            fail_region(state, param, named + problem);
            return std::nullopt;
        }
    }
    return Region{values[0], values[1], values[2], values[3]};
}

std::optional<std::vector<Region>> to_regions(const ModuleState& state, PyObject* object, const Param& param) {
    if (PyUnicode_Check(object) || PyBytes_Check(object) || !PySequence_Check(object)) {
        fail_expected(param, "expected a sequence of (x, y, width, height) rectangles", object);
        return std::nullopt;
    }
    const Py_ssize_t length = PySequence_Size(object);
    if (length < 0) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    std::vector<Region> regions;
    regions.reserve(static_cast<std::size_t>(length));
    for (Py_ssize_t i = 0; i < length; ++i) {
        PyRef item = PyRef::steal(PySequence_GetItem(object, i));
        if (!item) {
            prefix_pending_error(param);
            return std::nullopt;
        }
        auto region = to_region(state, item.get(), param);
        if (!region) return std::nullopt;
        regions.push_back(*region);
    }
    return regions;
}

std::optional<Rgb> to_mask_color(const ModuleState& state, PyObject* object, const Param& param) {
    auto items = integer_items<3>(object);
    u64 channels[3] = {};
    bool valid = items.has_value();
    for (std::size_t i = 0; valid && i < 3; ++i) {
        valid = magnitude((*items)[i].get(), channels[i]) == Magnitude::Fits && channels[i] <= 255;
    }
    if (!valid) {
        fail_region(state, param, "colour " + repr_of(object) + " is not three integers 0 to 255 (R, G, B)");
        return std::nullopt;
    }
    return Rgb{static_cast<u8>(channels[0]), static_cast<u8>(channels[1]), static_cast<u8>(channels[2])};
}

// None (libwebp's defaults), "fast" (our own encoder), or an integer (an
// int or anything with __index__, not a bool) from 0 to the highest preset
// level; anything else is a ValueError that names what is accepted.
std::optional<WebpEffort> to_effort(PyObject* object, const Param& param) {
    if (object == Py_None) return WebpEffort{};
    const std::string range =
        "expected None, 'fast' or an integer from 0 to " + std::to_string(kMaxWebpEffort) + ", got ";
    if (PyUnicode_Check(object)) {
        const char* text = PyUnicode_AsUTF8AndSize(object, nullptr);
        if (text == nullptr) {
            prefix_pending_error(param);
            return std::nullopt;
        }
        if (std::string_view(text) == "fast") return WebpEffort::own();
        fail(PyExc_ValueError, param, range + repr_of(object));
        return std::nullopt;
    }
    if (PyBool_Check(object) || !PyIndex_Check(object)) {
        fail(PyExc_ValueError, param, range + type_name(object));
        return std::nullopt;
    }
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    int overflow = 0;
    const long level = PyLong_AsLongAndOverflow(index.get(), &overflow);
    if (level == -1 && PyErr_Occurred()) {
        prefix_pending_error(param);
        return std::nullopt;
    }
    if (overflow != 0 || level < 0 || level > kMaxWebpEffort) {
        PyRef text = PyRef::steal(PyObject_Str(index.get()));
        const char* shown = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
        if (shown == nullptr) PyErr_Clear();
        fail(PyExc_ValueError, param, range + (shown ? shown : "an integer out of range"));
        return std::nullopt;
    }
    return WebpEffort::libwebp_preset(static_cast<int>(level));
}

std::optional<Value> convert(const ModuleState& state, PyObject* object, const Param& param) {
    switch (param.kind) {
        case ParamKind::Png:
        case ParamKind::Rgba:
            if (auto view = to_bytes_view(object, param)) return Value(*view);
            return std::nullopt;
        case ParamKind::Pairs:
            if (auto pairs = to_pairs(object, param)) return Value(std::move(*pairs));
            return std::nullopt;
        case ParamKind::Real:
        case ParamKind::OptionalReal: {
            if (param.kind == ParamKind::OptionalReal && object == Py_None) return Value(std::optional<double>());
            const double value = PyFloat_AsDouble(object);
            if (value == -1.0 && PyErr_Occurred()) {
                prefix_pending_error(param);
                return std::nullopt;
            }
            if (param.kind == ParamKind::OptionalReal) return Value(std::optional<double>(value));
            return Value(value);
        }
        case ParamKind::Flag:
            if (!PyBool_Check(object)) {
                fail_expected(param, "expected bool", object);
                return std::nullopt;
            }
            return Value(object == Py_True);
        case ParamKind::Color:
            if (auto color = to_color(object, param)) return Value(*color);
            return std::nullopt;
        case ParamKind::OptionalColor:
            if (object == Py_None) return Value(std::optional<Rgb>());
            if (auto color = to_color(object, param)) return Value(std::optional<Rgb>(*color));
            return std::nullopt;
        case ParamKind::Count:
            if (auto count = to_count(object, param)) return Value(*count);
            return std::nullopt;
        case ParamKind::OptionalCount:
            if (object == Py_None) return Value(std::optional<u64>());
            if (auto count = to_count(object, param)) return Value(std::optional<u64>(*count));
            return std::nullopt;
        case ParamKind::Effort:
            if (auto level = to_effort(object, param)) return Value(*level);
            return std::nullopt;
        case ParamKind::Object:
            if (!PyObject_TypeCheck(object, state.*param.object_type)) {
                PyRef name = PyRef::steal(
                    PyObject_GetAttrString(reinterpret_cast<PyObject*>(state.*param.object_type), "__name__"));
                const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
                if (text == nullptr) PyErr_Clear();
                fail_expected(param, std::string("expected ") + (text ? text : "object"), object);
                return std::nullopt;
            }
            return Value(object);
        case ParamKind::Regions:
            if (auto regions = to_regions(state, object, param)) return Value(std::move(*regions));
            return std::nullopt;
        case ParamKind::MaskColor:
            if (auto color = to_mask_color(state, object, param)) return Value(*color);
            return std::nullopt;
    }
    throw Panic("unknown parameter kind");
}

Value default_value(const Param& param) {
    switch (param.kind) {
        case ParamKind::Real:
            return param.real;
        case ParamKind::Flag:
            return param.flag;
        case ParamKind::Color:
        case ParamKind::MaskColor:
            return param.color;
        case ParamKind::Regions:
            return std::vector<Region>();
        case ParamKind::OptionalColor:
            return std::optional<Rgb>();
        case ParamKind::Count:
            return param.count;
        case ParamKind::OptionalCount:
            return std::optional<u64>();
        case ParamKind::Effort:
            return WebpEffort{};
        case ParamKind::OptionalReal:
            return std::optional<double>();
        default:
            throw Panic(std::string("parameter without a default: ") + param.name);
    }
}

std::optional<std::size_t> find_param(std::span<const Param> params, std::string_view name) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (name == params[i].name) return i;
    }
    return std::nullopt;
}

// Keyword-only parameters come last.
std::size_t positional_count(std::span<const Param> params) {
    std::size_t count = 0;
    while (count < params.size() && !params[count].keyword_only) ++count;
    return count;
}

// Collects the argument object of every parameter, positional then keyword.
bool collect(std::string_view callable, std::span<const Param> params, PyObject* args, PyObject* kwargs,
             std::vector<PyObject*>& slots) {
    const std::string name(callable);
    const Py_ssize_t given = args ? PyTuple_Size(args) : 0;
    const auto positional = static_cast<Py_ssize_t>(positional_count(params));
    if (given > positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd positional argument%s (%zd given)", name.c_str(),
                     positional, positional == 1 ? "" : "s", given);
        return false;
    }
    for (Py_ssize_t i = 0; i < given; ++i) slots[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);

    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            if (!PyUnicode_Check(key)) {
                PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", name.c_str());
                return false;
            }
            Py_ssize_t length = 0;
            const char* text = PyUnicode_AsUTF8AndSize(key, &length);
            if (text == nullptr) return false;
            auto index = find_param(params, std::string_view(text, static_cast<std::size_t>(length)));
            if (!index) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%s'", name.c_str(), text);
                return false;
            }
            if (slots[*index] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", name.c_str(), text);
                return false;
            }
            slots[*index] = value;
        }
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (slots[i] == nullptr && params[i].required) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", name.c_str(), params[i].name,
                         i + 1);
            return false;
        }
    }
    return true;
}

// A default as Python writes its value: a float as the shortest text that
// reads back as it, always with a point or an exponent.
std::string default_text(const Param& param) {
    if (param.shown != nullptr) return param.shown;
    switch (param.kind) {
        case ParamKind::Real: {
            char digits[32];
            std::string text(digits, std::to_chars(digits, digits + sizeof digits, param.real).ptr);
            if (text.find_first_of(".en") == std::string::npos) text += ".0";
            return text;
        }
        case ParamKind::Flag:
            return param.flag ? "True" : "False";
        case ParamKind::Count:
            return std::to_string(param.count);
        case ParamKind::MaskColor: {
            std::string text = "(";
            for (const u8 channel : {param.color.r, param.color.g, param.color.b}) {
                if (text.size() > 1) text += ", ";
                text += std::to_string(channel);
            }
            return text + ")";
        }
        default:
            throw Panic(std::string("no text for the default of ") + param.name);
    }
}

// Range checks run after every conversion, in this fixed order.
constexpr std::pair<const char*, std::string_view> kRangeChecked[] = {
    {"threshold", kThresholdRangeText},
    {"alpha", kAlphaRangeText},
    {"max_edit_ratio", kMaxEditRatioRangeText},
};

}  // namespace

bool Args::has(std::string_view name) const { return find_param(params_, name).has_value(); }

const Value& Args::at(std::string_view name) const {
    auto index = find_param(params_, name);
    if (!index) throw Panic("no parameter named " + std::string(name));
    return values_[*index];
}

Value& Args::at(std::string_view name) { return const_cast<Value&>(std::as_const(*this).at(name)); }

DiffOptions Args::diff_options() const {
    DiffOptions options;
    if (has("threshold")) options.threshold = real("threshold");
    if (has("alpha")) options.alpha = real("alpha");
    if (has("include_aa")) options.include_aa = flag("include_aa");
    if (has("diff_color")) options.diff_color = color("diff_color");
    if (has("aa_color")) options.aa_color = color("aa_color");
    if (has("diff_color_alt")) options.diff_color_alt = optional_color("diff_color_alt");
    return options;
}

IgnoreRegions Args::ignore_regions() const {
    return {std::get<std::vector<Region>>(at("ignore")), color("mask_color")};
}

std::optional<Args> bind_arguments(const ModuleState& state, std::string_view callable, std::span<const Param> params,
                                   PyObject* args, PyObject* kwargs) {
    std::vector<PyObject*> slots(params.size(), nullptr);
    if (!collect(callable, params, args, kwargs, slots)) return std::nullopt;

    std::vector<Value> values;
    values.reserve(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (slots[i] == nullptr) {
            values.push_back(default_value(params[i]));
            continue;
        }
        auto value = convert(state, slots[i], params[i]);
        if (!value) return std::nullopt;
        values.push_back(std::move(*value));
    }

    Args bound(state, params, std::move(values));
    for (const auto& [name, text] : kRangeChecked) {
        if (bound.has(name) && !in_unit_range(bound.real(name))) {
            PyErr_SetString(PyExc_ValueError, std::string(text).c_str());
            return std::nullopt;
        }
    }
    return bound;
}

std::string docstring(std::string_view name, std::span<const Param> params, std::string_view summary,
                      std::string_view bound) {
    std::string text(name);
    text += '(';
    text += bound;
    bool first = bound.empty();
    const std::size_t positional = positional_count(params);
    for (std::size_t i = 0; i < params.size(); ++i) {
        const Param& param = params[i];
        if (!first) text += ", ";
        first = false;
        if (i == positional) text += "*, ";
        text += param.name;
        if (!param.required) {
            text += '=';
            text += default_text(param);
        }
    }
    text += ")\n--\n\n";
    text += summary;
    return text;
}

}  // namespace quorvane::py
