#include "bindings/callable.hpp"

#include <deque>
#include <string>

namespace quorvane::py {

PyMethodDef method_def(const char* name, PyCFunctionWithKeywords entry, int flags, std::string docstring) {
    static auto* docstrings = new std::deque<std::string>;
    docstrings->push_back(std::move(docstring));
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)), flags,
            docstrings->back().c_str()};
}

PyMethodDef* leak_table(std::vector<PyMethodDef> rows) {
    rows.push_back({nullptr, nullptr, 0, nullptr});
    auto* table = new PyMethodDef[rows.size()];
    std::copy(rows.begin(), rows.end(), table);
    return table;
}

}  // namespace quorvane::py
