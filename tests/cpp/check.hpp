// A minimal unit-test harness: TEST cases register themselves, CHECK records
// a failure with its location and goes on, REQUIRE stops the case. Also the
// few helpers every test file needs.
#pragma once

#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/types.hpp"

namespace check {

struct Case {
    const char* name;
    std::function<void()> body;
};

std::vector<Case>& registry();
void record_failure(const char* file, int line, const std::string& what);

struct Registrar {
    Registrar(const char* name, std::function<void()> body) { registry().push_back({name, std::move(body)}); }
};

struct Stop {};

template <class A, class B>
std::string describe(const char* expression, const A& a, const B& b) {
    std::ostringstream out;
    out.precision(17);
    out << expression << "  [" << a << " vs " << b << "]";
    return out.str();
}

}  // namespace check

// "ok", or the error text of a failed Result or Status.
template <class R>
std::string outcome(const R& result) {
    return result ? std::string("ok") : result.error().text();
}

// Whether the call throws an E.
template <class E, class F>
bool throws(F&& call) {
    try {
        call();
    } catch (const E&) {
        return true;
    }
    return false;
}

// Uniformly random bytes, the same for the same seed.
inline quorvane::Bytes random_bytes(quorvane::u64 length, unsigned seed) {
    std::mt19937 generator(seed);
    quorvane::Bytes bytes(length);
    for (quorvane::u8& byte : bytes) byte = static_cast<quorvane::u8>(generator());
    return bytes;
}

#define CHECK_CONCAT_(a, b) a##b
#define CHECK_CONCAT(a, b) CHECK_CONCAT_(a, b)
#define TEST(name)                                                               \
    static void CHECK_CONCAT(test_body_, __LINE__)();                            \
    static check::Registrar CHECK_CONCAT(test_registrar_, __LINE__)(             \
        name, CHECK_CONCAT(test_body_, __LINE__));                               \
    static void CHECK_CONCAT(test_body_, __LINE__)()

#define CHECK(condition) \
    ((condition) ? void() : check::record_failure(__FILE__, __LINE__, #condition))
#define CHECK_EQ(a, b)                                                                   \
    do {                                                                                 \
        const auto& check_a_ = (a);                                                      \
        const auto& check_b_ = (b);                                                      \
        if (!(check_a_ == check_b_))                                                     \
            check::record_failure(__FILE__, __LINE__, check::describe(#a " == " #b, check_a_, check_b_)); \
    } while (0)
#define REQUIRE(condition)                                                     \
    do {                                                                       \
        if (!(condition)) {                                                    \
            check::record_failure(__FILE__, __LINE__, #condition);             \
            throw check::Stop{};                                               \
        }                                                                      \
    } while (0)
