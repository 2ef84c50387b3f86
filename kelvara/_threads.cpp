// kelvara._threads: the process's one pool of worker threads, shared by every module through
// its C table (see frame/threads.hpp), and the Python functions that size it.
#include "frame/frame.hpp"
#include "frame/threads.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using frame::threads::Task;

/// The cores this process may run on (its affinity mask), at least 1.
int available_cores() noexcept {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

/// KELVARA_NUM_THREADS when it holds a positive integer, else the available cores.
int default_threads() noexcept {
    if (const char* s = std::getenv("KELVARA_NUM_THREADS")) {
        char* end = nullptr;
        long v = std::strtol(s, &end, 10);
        if (end != s && *end == '\0' && v > 0) return int(std::min<long>(v, 1024));
    }
    return available_cores();
}

/// Workers wait on one job at a time and take chunks of it from a shared counter; the calling
/// thread takes chunks too, then waits until the last chunk is finished.
class Pool {
public:
    explicit Pool(int threads) : wanted_(threads) {}

    // Workers are never joined: the pool lives as long as the process (and is replaced after
    // fork, where the child has none of the parent's threads).
    void run(Py_ssize_t n, Py_ssize_t grain, Task task, void* ctx) noexcept {
        std::unique_lock busy(run_mutex_, std::try_to_lock);
        int threads = wanted_.load();
        if (!busy.owns_lock() || threads <= 1 || n <= grain) {
            task(ctx, 0, n);  // pool busy (another caller, or nested): run here
            return;
        }
        if (!start(threads - 1)) {
            task(ctx, 0, n);
            return;
        }
        // About four chunks per thread evens out uneven work without many handoffs.
        Py_ssize_t chunk = std::max(grain, (n + 4 * threads - 1) / (4 * threads));
        {
            std::lock_guard lock(mutex_);
            task_ = task;
            ctx_ = ctx;
            n_ = n;
            chunk_ = chunk;
            next_.store(0);
            pending_ = Py_ssize_t((n + chunk - 1) / chunk);
            active_ = threads - 1;
            live_ = true;
            ++generation_;
        }
        wake_.notify_all();
        work();
        // The job ends when every chunk is done and no worker is still inside it, so the next
        // job's set-up never races a late worker.
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return pending_ == 0 && busy_ == 0; });
        live_ = false;
        task_ = nullptr;
        ctx_ = nullptr;
    }

    int count() const noexcept { return wanted_.load(); }
    void set_count(int n) noexcept { wanted_.store(n); }

private:
    /// Start workers up to `k` (never fewer than already run); false if none can be started.
    bool start(int k) noexcept {
        while (int(workers_) < k) {
            try {
                std::thread(&Pool::loop, this).detach();
            } catch (...) {
                return workers_ > 0;
            }
            ++workers_;
        }
        return true;
    }

    /// Take chunks until none are left; the thread that finishes the last one wakes the caller.
    void work() noexcept {
        for (;;) {
            Py_ssize_t b = next_.fetch_add(chunk_);
            if (b >= n_) return;
            task_(ctx_, b, std::min(n_, b + chunk_));
            std::lock_guard lock(mutex_);
            if (--pending_ == 0) done_.notify_one();
        }
    }

    void loop() noexcept {
        std::unique_lock lock(mutex_);
        unsigned seen = generation_;
        int index = started_++;
        for (;;) {
            wake_.wait(lock, [&] { return generation_ != seen; });
            seen = generation_;
            if (!live_ || index >= active_) continue;  // job over, or more workers than it wants
            ++busy_;
            lock.unlock();
            work();
            lock.lock();
            if (--busy_ == 0) done_.notify_one();
        }
    }

    std::atomic<int> wanted_;
    std::mutex run_mutex_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    unsigned generation_ = 0;
    int workers_ = 0, started_ = 0, active_ = 0, busy_ = 0;
    bool live_ = false;
    Task task_ = nullptr;
    void* ctx_ = nullptr;
    Py_ssize_t n_ = 0, chunk_ = 1, pending_ = 0;
    std::atomic<Py_ssize_t> next_{0};
};

// State of this module (docs/state.md lists every module's): the one pool of the process,
// made at import with default_threads() wanted, resized by set_num_threads, its workers started
// by the first loop large enough to share and never joined; replaced in a child after fork.
Pool* pool = nullptr;

void after_fork_in_child() noexcept {
    // The parent's workers do not exist here; a fresh pool (same size) starts its own. The old
    // one is left allocated: its mutexes may have been held at the fork.
    if (pool) pool = new (std::nothrow) Pool(pool->count());
}

void run(Py_ssize_t n, Py_ssize_t grain, Task task, void* ctx) noexcept {
    if (pool) pool->run(n, grain, task, ctx);
    else task(ctx, 0, n);
}
int count() noexcept { return pool ? pool->count() : 1; }

const frame::threads::Table table = {1, &run, &count};

PyObject* get_num_threads(PyObject*, PyObject*) noexcept { return PyLong_FromLong(count()); }

PyObject* set_num_threads(PyObject*, PyObject* arg) noexcept {
    long n = PyLong_AsLong(arg);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    if (n < 1 || n > 1024) {
        PyErr_Format(PyExc_ValueError, "set_num_threads: n must be between 1 and 1024, got %ld", n);
        return nullptr;
    }
    pool->set_count(int(n));
    Py_RETURN_NONE;
}

PyMethodDef methods[] = {
    {"get_num_threads", get_num_threads, METH_NOARGS,
     "get_num_threads()\n--\n\nThe number of threads kelvara spreads a large loop over (the caller's included)."},
    {"set_num_threads", set_num_threads, METH_O,
     "set_num_threads(n, /)\n--\n\nSpread large loops over n threads (1: run on the calling thread only).\n"
     "The default is KELVARA_NUM_THREADS, else the cores this process may use."},
    {nullptr, nullptr, 0, nullptr}};

void body(frame::Module&, PyObject* module) {
    if (!pool) {
        pool = new Pool(default_threads());
        pthread_atfork(nullptr, nullptr, after_fork_in_child);
    }
    frame::check_status(PyModule_AddFunctions(module, methods));
    frame::export_capi(module, "table", const_cast<frame::threads::Table*>(&table), frame::threads::table_signature);
}

frame::Module threads_module("kelvara._threads", "_threads", "The thread pool shared by kelvara's modules.",
                             "kelvara/_threads.cpp", {}, body);

}  // namespace

PyMODINIT_FUNC PyInit__threads() { return threads_module.init(); }
