#include <cstdio>
#include <exception>

#include "check.hpp"

namespace check {

int failures = 0;

std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

void record_failure(const char* file, int line, const std::string& what) {
    ++failures;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
}

}  // namespace check

int main() {
    int failed_cases = 0;
    for (const check::Case& test : check::registry()) {
        const int before = check::failures;
        try {
            test.body();
        } catch (const check::Stop&) {
        } catch (const std::exception& error) {
            check::record_failure(__FILE__, __LINE__, std::string("exception: ") + error.what());
        }
        const bool passed = check::failures == before;
        failed_cases += passed ? 0 : 1;
        std::printf("%s %s\n", passed ? "ok  " : "FAIL", test.name);
    }
    std::printf("%zu cases, %d failed\n", check::registry().size(), failed_cases);
    return failed_cases == 0 ? 0 : 1;
}
