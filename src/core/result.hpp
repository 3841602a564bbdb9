// Result<T>: a value or one CompareError, so that call sites stay flat.
#pragma once

#include <utility>
#include <variant>

#include "core/error.hpp"

namespace quorvane {

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(CompareError error) : state_(std::in_place_index<1>, std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    bool ok() const { return state_.index() == 0; }

    T& operator*() & { return std::get<0>(state_); }
    const T& operator*() const& { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const T* operator->() const { return &std::get<0>(state_); }
    T take() { return std::move(std::get<0>(state_)); }

    const CompareError& error() const& { return std::get<1>(state_); }
    CompareError&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, CompareError> state_;
};

// A check that either passes or names its error.
using Status = Result<std::monostate>;
inline Status ok_status() { return std::monostate{}; }

}  // namespace quorvane
