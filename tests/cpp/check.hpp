// A minimal unit-test harness: TEST cases register themselves, CHECK records
// a failure with its location and goes on, REQUIRE stops the case. Also the
// few helpers every test file needs.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
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

// Bytes that end where an inaccessible page begins: reading or writing one
// byte past them stops the test with a fault.
class GuardedBytes {
public:
    explicit GuardedBytes(quorvane::u64 length) : length_(length) {
        const quorvane::u64 page = static_cast<quorvane::u64>(sysconf(_SC_PAGESIZE));
        mapped_length_ = (length + page - 1) / page * page + page;
        void* mapped = mmap(nullptr, mapped_length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        mapped_ = static_cast<quorvane::u8*>(mapped);
        mprotect(mapped_ + mapped_length_ - page, page, PROT_NONE);
    }
    ~GuardedBytes() { munmap(mapped_, mapped_length_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    quorvane::u8* data() {
        return mapped_ + mapped_length_ - static_cast<quorvane::u64>(sysconf(_SC_PAGESIZE)) - length_;
    }

private:
    quorvane::u64 length_;
    quorvane::u64 mapped_length_ = 0;
    quorvane::u8* mapped_ = nullptr;
};

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
