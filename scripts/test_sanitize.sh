#!/usr/bin/env bash
# The C++ unit tests and the whole pytest suite against a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, in build-sanitize/, which
# has only the scalar paths: `make test` runs the vector ones.
# The C++ tests also run LeakSanitizer; under Python leak detection is off,
# since the interpreter keeps its own allocations to the end (the leak tests
# of the suite measure the extension's growth instead).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${SANITIZE_BUILD:-build-sanitize}
PYTHON=${PYTHON:-python3}

# In CI (CI set in the environment) a compiler warning fails the build.
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVANE_TESTS=ON -DQUORVANE_SANITIZE=ON \
    -DQUORVANE_SCALAR_ONLY=ON -DQUORVANE_WERROR="$werror" \
    -DPython_EXECUTABLE="$(command -v "$PYTHON")" >/dev/null
cmake --build "$BUILD"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# An allocation the machine cannot give is std::bad_alloc (MemoryError), as
# without the sanitizer, rather than a sanitizer report.
export ASAN_OPTIONS=allocator_may_return_null=1
ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=1 ctest --test-dir "$BUILD" --output-on-failure

# The runtime must come first in the process, before the interpreter's own
# libraries, and the C++ runtime with it so that the sanitizer finds the real
# exception machinery (the interpreter itself is not C++). Python's allocator
# is bypassed so every object is checked too.
LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so.6)" ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 PYTHONMALLOC=malloc \
    QUORVANE_SANITIZED=1 QUORVANE_BUILD_DIR="$BUILD" "$PYTHON" -m pytest tests/python -q "$@"
