// The one thread pool of the process. It lives in the `kelvara._threads` module, which owns
// the worker threads; every other module binds its C table at exec time and hands it index
// ranges of pure C++ work (kernels only: no interpreter state, no exceptions).
//
//   frame::threads::bind();                                   // in the module's exec body
//   { frame::Unlocked nogil;                                  // release the lock around the loop
//     frame::threads::parallel_for(n, 4096, [&](Py_ssize_t b, Py_ssize_t e) { ... }); }
//
// The caller's thread takes part in the work. A call made while the pool is busy (another
// Python thread, or a nested call from inside a task) runs inline on the calling thread, so
// parallel_for never waits for another parallel_for and never deadlocks.
#pragma once

#include "capi.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <vector>
#include <new>
#include <type_traits>

namespace frame {

/// Releases the interpreter lock for the scope (Py_BEGIN/END_ALLOW_THREADS as an object).
class Unlocked {
public:
    Unlocked() noexcept : state_(PyEval_SaveThread()) {}
    ~Unlocked() { PyEval_RestoreThread(state_); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;
private:
    PyThreadState* state_;
};

namespace threads {

/// A task over the index range [begin, end); `ctx` is the caller's closure.
using Task = void (*)(void* ctx, Py_ssize_t begin, Py_ssize_t end) noexcept;

/// The C table published by `kelvara._threads` as `__pyx_capi__["table"]`.
struct Table {
    unsigned version;
    /// Run `task` over [0, n) in chunks of at least `grain` items; returns when all are done.
    void (*run)(Py_ssize_t n, Py_ssize_t grain, Task task, void* ctx) noexcept;
    /// The number of threads a large loop is spread over (the caller's included).
    int (*count)() noexcept;
};

inline constexpr const char* table_signature = "struct kelvara::threads::Table v1";

namespace detail {
inline const Table*& bound() noexcept {
    static const Table* t = nullptr;
    return t;
}
}  // namespace detail

/// Bind the pool's table (with the interpreter lock held; once per module, at exec).
inline void bind() {
    if (detail::bound()) return;
    detail::bound() = import_variable<const Table>("kelvara._threads", "table", table_signature);
}

/// Threads a large loop is spread over; 1 before `bind`.
inline int count() noexcept {
    const Table* t = detail::bound();
    return t ? t->count() : 1;
}

/// Run `fn(begin, end)` over [0, n) in chunks of at least `grain` items, spread over the pool
/// when n is large enough to pay for it. `fn` must be noexcept in spirit: it runs on worker
/// threads, without the interpreter lock, and must not throw.
template <class F>
inline void parallel_for(Py_ssize_t n, Py_ssize_t grain, F&& fn) noexcept {
    if (n <= 0) return;
    const Table* t = detail::bound();
    if (!t || n <= grain) {
        fn(Py_ssize_t(0), n);
        return;
    }
    using Fn = std::remove_reference_t<F>;
    t->run(n, grain, [](void* ctx, Py_ssize_t b, Py_ssize_t e) noexcept { (*static_cast<Fn*>(ctx))(b, e); },
           const_cast<void*>(static_cast<const void*>(&fn)));
}

/// parallel_for for work that allocates: a chunk that runs out of memory (on a worker thread,
/// where nothing may throw) is recorded and the others still run. False if any ran out.
template <class F>
[[nodiscard]] inline bool parallel_for_allocating(Py_ssize_t n, Py_ssize_t grain, F&& fn) noexcept {
    std::atomic<bool> out_of_memory{false};
    parallel_for(n, grain, [&](Py_ssize_t b, Py_ssize_t e) noexcept {
        try {
            fn(b, e);
        } catch (const std::bad_alloc&) {
            out_of_memory.store(true, std::memory_order_relaxed);
        }
    });
    return !out_of_memory.load(std::memory_order_relaxed);
}

/// `fn(begin, end)` over [0, n) in blocks of `block` items, each block run without the lock and
/// spread over the pool in chunks of at least `grain`; pending signals are looked at between
/// blocks, so that Ctrl-C ends a long loop (the exception propagates; blocks done stay done).
/// Called with the lock held. Running out of memory in `fn` throws std::bad_alloc here, with
/// the lock held again, for the boundary to turn into MemoryError.
template <class F>
inline void parallel_blocks(Py_ssize_t n, Py_ssize_t block, Py_ssize_t grain, F&& fn) {
    for (Py_ssize_t b = 0; b < n; b += block) {
        const Py_ssize_t e = n - b < block ? n : b + block;
        bool ok;
        {
            Unlocked nogil;
            ok = parallel_for_allocating(e - b, grain, [&](Py_ssize_t x, Py_ssize_t y) { fn(b + x, b + y); });
        }
        if (!ok) throw std::bad_alloc();
        if (e < n) check_signals();
    }
}

/// How long a stretch of work may run without the lock before pending signals are looked at:
/// short enough that Ctrl-C ends any loop well within half a second, long enough that the
/// handoffs between rounds cost nothing measurable.
inline constexpr std::chrono::steady_clock::duration slice = std::chrono::milliseconds(50);

/// The end of the current stretch of work: resumable work looks at `expired()` between its steps.
struct Deadline {
    std::chrono::steady_clock::time_point end;
    bool expired() const noexcept { return std::chrono::steady_clock::now() >= end; }
};

/// parallel_blocks with blocks sized by time instead of count: the first block is small (a
/// chunk of `grain` items for each thread), each next one is scaled so that a block takes about
/// `slice`, up to `max_block` items, so that signals are looked at a few times a second however
/// costly an item is.
template <class F>
inline void parallel_timed(Py_ssize_t n, Py_ssize_t grain, Py_ssize_t max_block, F&& fn) {
    using clock = std::chrono::steady_clock;
    grain = std::max<Py_ssize_t>(grain, 1);
    // at least a chunk for every thread, so that costly items still spread over the pool
    const Py_ssize_t least = grain * Py_ssize_t(std::max(1, count()));
    max_block = std::max(max_block, least);
    Py_ssize_t block = least;
    for (Py_ssize_t b = 0; b < n;) {
        const Py_ssize_t e = n - b < block ? n : b + block;
        bool ok;
        const clock::time_point start = clock::now();
        {
            Unlocked nogil;
            ok = parallel_for_allocating(e - b, grain, [&](Py_ssize_t x, Py_ssize_t y) { fn(b + x, b + y); });
        }
        if (!ok) throw std::bad_alloc();
        const double took = std::chrono::duration<double>(clock::now() - start).count();
        const double want = std::chrono::duration<double>(slice).count();
        // grow at most fourfold per block, shrink as far as the last block asks
        const double scale = took > 0.0 ? std::min(4.0, want / took) : 4.0;
        block = std::clamp(Py_ssize_t(double(e - b) * scale), least, max_block);
        b = e;
        if (b < n) check_signals();
    }
}

/// Resumable work on `n` items: `fn(i, deadline)` advances item i until it is done (returns
/// true) or the deadline has passed (returns false, to be called again for i later; it must
/// make some progress on every call). Rounds of at most about `slice` run without the lock over
/// the pool; pending signals are looked at between rounds, so that Ctrl-C ends the work even
/// when a single item takes minutes. Called with the lock held; std::bad_alloc as for
/// parallel_blocks.
template <class F>
inline void parallel_rounds(Py_ssize_t n, F&& fn) {
    std::vector<Py_ssize_t> pending(static_cast<std::size_t>(std::max<Py_ssize_t>(n, 0)));
    for (Py_ssize_t i = 0; i < n; ++i) pending[std::size_t(i)] = i;
    std::vector<char> done(pending.size(), 0);
    while (!pending.empty()) {
        bool ok;
        {
            Unlocked nogil;
            const Deadline deadline{std::chrono::steady_clock::now() + slice};
            ok = parallel_for_allocating(Py_ssize_t(pending.size()), 1, [&](Py_ssize_t x, Py_ssize_t y) {
                for (Py_ssize_t k = x; k < y; ++k) {
                    const Py_ssize_t i = pending[std::size_t(k)];
                    done[std::size_t(i)] = fn(i, deadline) ? 1 : 0;
                }
            });
        }
        if (!ok) throw std::bad_alloc();
        pending.erase(std::remove_if(pending.begin(), pending.end(), [&](Py_ssize_t i) { return done[std::size_t(i)] != 0; }),
                      pending.end());
        if (!pending.empty()) check_signals();
    }
}

}  // namespace threads
}  // namespace frame
