// A minimal unit-test harness: TEST cases register themselves, CHECK records
// a failure with its location and goes on, REQUIRE stops the case. Also the
// few helpers every test file needs.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/types.hpp"
#include "image_utils/png_decode.hpp"

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

inline void require(bool condition, const char* file, int line, const char* what) {
    if (condition) return;
    record_failure(file, line, what);
    throw Stop{};
}

template <class A, class B>
void check_equal(const char* file, int line, const char* expression, const A& a, const B& b) {
    if (a == b) return;
    std::ostringstream out;
    out.precision(17);
    out << expression << "  [" << a << " vs " << b << "]";
    record_failure(file, line, out.str());
}

}  // namespace check

#define CHECK_CONCAT_(a, b) a##b
#define CHECK_CONCAT(a, b) CHECK_CONCAT_(a, b)
#define TEST(name)                                                                                             \
    static void CHECK_CONCAT(test_body_, __LINE__)();                                                          \
    static check::Registrar CHECK_CONCAT(test_registrar_, __LINE__)(name, CHECK_CONCAT(test_body_, __LINE__)); \
    static void CHECK_CONCAT(test_body_, __LINE__)()
#define CHECK(condition) ((condition) ? void() : check::record_failure(__FILE__, __LINE__, #condition))
#define CHECK_EQ(a, b) check::check_equal(__FILE__, __LINE__, #a " == " #b, (a), (b))
#define REQUIRE(condition) check::require(static_cast<bool>(condition), __FILE__, __LINE__, #condition)

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

// A real screenshot of the project's examples, decoded; none when the file
// cannot be read (a copy of the tests without the examples).
inline std::optional<quorvane::Image> example_screen(const char* name) {
    const auto path = std::filesystem::path(__FILE__).parent_path() / "../../examples/screens" / name;
    std::ifstream file(path, std::ios::binary);
    const quorvane::Bytes png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto image = quorvane::decode_png(png);
    if (!image) return std::nullopt;
    return image.take();
}
