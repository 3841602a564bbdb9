// Lifetime of the shared pool. oneTBB's worker threads do not survive fork(),
// so the pool is shut down before a fork and starts afresh on first use after.
#include "core/parallel.hpp"

#include <pthread.h>
#include <tbb/global_control.h>

#include <mutex>
#include <new>

namespace quorvane {
namespace {

enum class PoolState { Stopped, Running, Unusable };

struct PoolControl {
    std::mutex mutex;
    PoolState state = PoolState::Stopped;
    tbb::task_scheduler_handle handle;
    // Set by the pre-fork handler when the pool could not be stopped because
    // another thread was using it; the child then cannot trust it.
    bool fork_while_busy = false;
};

PoolControl& control() {
    // Never destroyed: workers may still be running at interpreter exit.
    static PoolControl* instance = new PoolControl;
    return *instance;
}

void before_fork() {
    PoolControl& pool = control();
    pool.mutex.lock();  // held across fork so no thread starts the pool meanwhile
    pool.fork_while_busy = false;
    if (pool.state == PoolState::Running) {
        pool.fork_while_busy = !tbb::finalize(pool.handle, std::nothrow);
        pool.state = PoolState::Stopped;
    }
}

void after_fork_in_parent() {
    PoolControl& pool = control();
    pool.fork_while_busy = false;
    pool.mutex.unlock();
}

void after_fork_in_child() {
    PoolControl& pool = control();
    if (pool.fork_while_busy) pool.state = PoolState::Unusable;
    pool.fork_while_busy = false;
    pool.mutex.unlock();
}

}  // namespace

bool pool_available() {
    PoolControl& pool = control();
    std::lock_guard lock(pool.mutex);
    if (pool.state == PoolState::Stopped) {
        static std::once_flag fork_handlers;
        std::call_once(fork_handlers, [] { pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child); });
        pool.handle = tbb::task_scheduler_handle(tbb::attach{});
        pool.state = PoolState::Running;
    }
    return pool.state == PoolState::Running;
}

}  // namespace quorvane
