// Lifetime of the shared pool. oneTBB's worker threads do not survive fork(),
// so the pool is shut down before a fork and starts afresh on first use after.
// A pool that is busy, or that another live thread still holds, cannot be shut
// down; a child forked then runs every parallel call in place.
#include "core/parallel.hpp"

#include <pthread.h>
#include <tbb/global_control.h>
#include <tbb/info.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>

namespace quorvane {
namespace {

enum class PoolState { Stopped, Running, Unusable };

struct PoolControl {
    // Held while a use starts, and across fork so that none starts meanwhile.
    std::mutex mutex;
    PoolState state = PoolState::Stopped;
    tbb::task_scheduler_handle handle;
    // Uses begun and not yet ended: a fork while this is not zero copies a
    // pool in the middle of its work.
    std::atomic<u64> uses{0};
    // Set by the pre-fork handler when the pool could not be stopped; the
    // child then cannot trust the copy it inherits.
    bool fork_while_busy = false;
};

PoolControl& control() {
    // Never destroyed: workers may still be running at interpreter exit.
    static PoolControl* instance = new PoolControl;
    return *instance;
}

// Callers computing now; see CallerWork.
std::atomic<u64>& computing_callers() {
    static std::atomic<u64> count{0};
    return count;
}

void before_fork() {
    PoolControl& pool = control();
    pool.mutex.lock();
    pool.fork_while_busy = false;
    if (pool.state != PoolState::Running) return;
    if (pool.uses.load(std::memory_order_acquire) != 0) {
        // Stopping would have to wait for the work; the parent keeps its pool.
        pool.fork_while_busy = true;
        return;
    }
    // Fails when another live thread has used the pool: its workers go on in
    // the parent, so the child must not use its copy.
    pool.fork_while_busy = !tbb::finalize(pool.handle, std::nothrow);
    pool.state = PoolState::Stopped;
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
    pool.uses.store(0, std::memory_order_relaxed);            // the users were other threads, gone here
    computing_callers().store(0, std::memory_order_relaxed);  // and so were the callers
    pool.mutex.unlock();
}

}  // namespace

bool callers_fill_the_processors() {
    static const u64 processors = static_cast<u64>(std::max(1, tbb::info::default_concurrency()));
    return computing_callers().load(std::memory_order_relaxed) >= processors;
}

CallerWork::CallerWork() { computing_callers().fetch_add(1, std::memory_order_relaxed); }

CallerWork::~CallerWork() { computing_callers().fetch_sub(1, std::memory_order_relaxed); }

PoolUse::PoolUse() {
    if (callers_fill_the_processors()) {
        usable_ = false;
        return;
    }
    PoolControl& pool = control();
    std::lock_guard lock(pool.mutex);
    if (pool.state == PoolState::Stopped) {
        static std::once_flag fork_handlers;
        std::call_once(fork_handlers, [] { pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child); });
        pool.handle = tbb::task_scheduler_handle(tbb::attach{});
        pool.state = PoolState::Running;
    }
    usable_ = pool.state == PoolState::Running;
    if (usable_) pool.uses.fetch_add(1, std::memory_order_relaxed);
}

PoolUse::~PoolUse() {
    if (usable_) control().uses.fetch_sub(1, std::memory_order_release);
}

}  // namespace quorvane
