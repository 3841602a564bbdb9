// The computations callers run at once, each from its own thread outside the
// pool; the pool's helpers look at their number (core/parallel.hpp).
#pragma once

namespace quorvane {

// One caller's computation, for its lifetime: the bindings count each one
// they run without the interpreter lock.
class CallerWork {
public:
    CallerWork();
    ~CallerWork();
    CallerWork(const CallerWork&) = delete;
    CallerWork& operator=(const CallerWork&) = delete;
};

// Whether at least as many callers compute now as the pool has processors.
bool callers_fill_the_processors();

}  // namespace quorvane
