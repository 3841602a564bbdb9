// Parameters declared as data. From one declaration come the binding of
// positional and keyword arguments, the conversion of each value, the
// "argument 'name': " error prefix and the docstring's text signature.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "batch/batch.hpp"
#include "bindings/module_state.hpp"
#include "bindings/python.hpp"
#include "core/memory_budget.hpp"
#include "core/options.hpp"
#include "core/regions.hpp"
#include "core/types.hpp"
#include "image_utils/webp_encode.hpp"

namespace quorvane::py {

enum class ParamKind : u8 {
    Png,            // bytes only, borrowed
    Rgba,           // bytes only, borrowed until copied
    Pairs,          // sequence of 2-tuples of byte sequences, copied
    Real,           // float or anything convertible to one
    OptionalReal,   // None or a real
    Flag,           // bool only
    Color,          // tuple of three ints 0..255
    OptionalColor,  // None or a colour
    Count,          // non-negative int fitting 64 bits
    OptionalCount,  // None or a count
    Object,         // an instance of the module's class `object_type`, borrowed
    Regions,        // sequence of (x, y, width, height) sequences of ints
    MaskColor,      // sequence of three ints 0..255
    Effort,         // None, an int 0..kMaxWebpEffort (a libwebp preset level) or "fast" (our own encoder)
};

// A parameter's default is the value in the core's options where it has
// one there: the tables below read it, and the signature shows it, so that
// no default is written twice.
struct Param {
    const char* name;
    ParamKind kind;
    bool required = true;
    // The default as the signature shows it where that is not its value:
    // "None", "()", and "..." for the diff colours. nullptr: the value.
    const char* shown = nullptr;
    double real = 0.0;
    bool flag = false;
    Rgb color{};
    u64 count = 0;
    // For Object parameters: the expected class, in the module's state.
    PyTypeObject* ModuleState::*object_type = nullptr;
    bool keyword_only = false;
};

constexpr Param required(const char* name, ParamKind kind) { return {name, kind}; }
constexpr Param real_param(const char* name, double value) {
    return {.name = name, .kind = ParamKind::Real, .required = false, .real = value};
}
constexpr Param flag_param(const char* name, bool value) {
    return {.name = name, .kind = ParamKind::Flag, .required = false, .flag = value};
}
constexpr Param count_param(const char* name, u64 value) {
    return {.name = name, .kind = ParamKind::Count, .required = false, .count = value};
}
// Defaults to None: no limit, or the core's own choice.
constexpr Param optional_count_param(const char* name) {
    return {.name = name, .kind = ParamKind::OptionalCount, .required = false, .shown = "None"};
}
constexpr Param optional_real_param(const char* name) {
    return {.name = name, .kind = ParamKind::OptionalReal, .required = false, .shown = "None"};
}
constexpr Param object_param(const char* name, PyTypeObject* ModuleState::*type) {
    return {.name = name, .kind = ParamKind::Object, .object_type = type};
}
// The same parameter, taken by keyword only.
constexpr Param keyword_only(Param param) {
    param.keyword_only = true;
    return param;
}

// The parameters shared by many callables.
inline constexpr Param kThreshold = real_param("threshold", DiffOptions{}.threshold);
inline constexpr Param kAlpha = real_param("alpha", DiffOptions{}.alpha);
inline constexpr Param kIncludeAa = flag_param("include_aa", DiffOptions{}.include_aa);
inline constexpr Param kDiffColor{.name = "diff_color",
                                  .kind = ParamKind::Color,
                                  .required = false,
                                  .shown = "...",
                                  .color = DiffOptions{}.diff_color};
inline constexpr Param kAaColor{
    .name = "aa_color", .kind = ParamKind::Color, .required = false, .shown = "...", .color = DiffOptions{}.aa_color};
// Absent unless given.
inline constexpr Param kDiffColorAlt{
    .name = "diff_color_alt", .kind = ParamKind::OptionalColor, .required = false, .shown = "None"};
inline constexpr Param kPairs = required("pairs", ParamKind::Pairs);
// Keyword-only, last: the regions painted into both images of every pair;
// none unless given.
inline constexpr Param kIgnore{
    .name = "ignore", .kind = ParamKind::Regions, .required = false, .shown = "()", .keyword_only = true};
inline constexpr Param kMaskColorParam{
    .name = "mask_color", .kind = ParamKind::MaskColor, .required = false, .color = IgnoreRegions{}.color};
inline constexpr Param kMaskColor = keyword_only(kMaskColorParam);
// None: libwebp's default configuration.
// Keyword-only: the bytes a call on a pair may take, its canvas included.
inline constexpr Param kMemoryLimit = keyword_only(count_param("memory_limit", kDefaultMemoryLimit));
inline constexpr Param kEffort{
    .name = "effort", .kind = ParamKind::Effort, .required = false, .shown = "None", .keyword_only = true};

using Value = std::variant<std::monostate, ByteView, std::vector<PngFiles>, double, bool, Rgb, std::optional<Rgb>, u64,
                           std::optional<u64>, PyObject*, std::vector<Region>, std::optional<double>, WebpEffort>;

// The converted arguments of one call, looked up by parameter name, and the
// state of the module called. Byte views and objects are borrowed from the
// call's arguments, which outlive it.
class Args {
public:
    Args(const ModuleState& state, std::span<const Param> params, std::vector<Value> values)
        : state_(&state), params_(params), values_(std::move(values)) {}

    const ModuleState& state() const { return *state_; }

    ByteView bytes(std::string_view name) const { return std::get<ByteView>(at(name)); }
    double real(std::string_view name) const { return std::get<double>(at(name)); }
    std::optional<double> optional_real(std::string_view name) const {
        return std::get<std::optional<double>>(at(name));
    }
    bool flag(std::string_view name) const { return std::get<bool>(at(name)); }
    u64 count(std::string_view name) const { return std::get<u64>(at(name)); }
    std::optional<u64> optional_count(std::string_view name) const { return std::get<std::optional<u64>>(at(name)); }
    WebpEffort effort(std::string_view name) const { return std::get<WebpEffort>(at(name)); }
    Rgb color(std::string_view name) const { return std::get<Rgb>(at(name)); }
    std::optional<Rgb> optional_color(std::string_view name) const { return std::get<std::optional<Rgb>>(at(name)); }
    PyObject* object(std::string_view name) const { return std::get<PyObject*>(at(name)); }
    std::vector<PngFiles> take_pairs(std::string_view name) {
        return std::move(std::get<std::vector<PngFiles>>(at(name)));
    }
    bool has(std::string_view name) const;

    // The comparison options: the call's own values where it has the
    // parameter, the defaults for the rest.
    DiffOptions diff_options() const;
    // The ignore regions and their colour, for callables that have them.
    IgnoreRegions ignore_regions() const;
    MemoryBudget memory_budget() const { return MemoryBudget(count(kMemoryLimit.name)); }

private:
    const Value& at(std::string_view name) const;
    Value& at(std::string_view name);

    const ModuleState* state_;
    std::span<const Param> params_;
    std::vector<Value> values_;
};

// Binds, converts and range-checks (threshold, alpha, max_edit_ratio in that
// order); on failure the Python error is set and nothing is returned.
std::optional<Args> bind_arguments(const ModuleState& state, std::string_view callable, std::span<const Param> params,
                                   PyObject* args, PyObject* kwargs);

// "name(params)\n--\n\nsummary", with the bound argument ("$self" for a
// method, "$type" for a class method) first.
std::string docstring(std::string_view name, std::span<const Param> params, std::string_view summary,
                      std::string_view bound = {});

}  // namespace quorvane::py
