// The propagation loop of kelvara.propagators.analytical.sgp4.sgp4: times read from a Time or
// as minutes, satellites x times run without the lock on the frame's thread pool, and the
// output arrays. Included only by sgp4.cpp.
#pragma once

#include "../../../frame/frame.hpp"
#include "../../../frame/numpy.hpp"
#include "../../../frame/threads.hpp"
#include "sgp4_common.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace kelvara::sgp4mod {

// ---------------------------------------------------------------------------------------------
// Times: a Time (its UTC two-part Julian dates of 86400-second days) or minutes since each
// satellite's epoch.

struct Times {
    Ref array;                  // C-contiguous float64: minutes (any shape) or jd12 (N, 2)
    const double* minutes = nullptr;
    const double* jd = nullptr;
    Py_ssize_t n = 0;
    int ndim = 0;               // dimensions of the time axis (0 for one time)
    npy_intp dims[NPY_MAXDIMS] = {};
};

/// Replace a pending TypeError or ValueError by one naming the argument, chained to it.
[[noreturn]] inline void rename_error(const char* fname, const char* arg, const char* expected) {
    if (PyErr_ExceptionMatches(PyExc_TypeError))
        frame::cpython::format_from_cause(PyExc_TypeError, "%s() argument '%s' must be %s", fname, arg, expected);
    else if (PyErr_ExceptionMatches(PyExc_ValueError))
        frame::cpython::format_from_cause(PyExc_ValueError, "%s() argument '%s' must be %s", fname, arg, expected);
    throw frame::PyErrorSet{};
}

inline Times read_times(const char* fname, PyObject* t, PyObject* minutes) {
    if (t == Py_None) t = nullptr;
    if (minutes == Py_None) minutes = nullptr;
    if (t && minutes) frame::raise(PyExc_TypeError, "%s() takes t or minutes, not both", fname);
    if (!t && !minutes) frame::raise(PyExc_TypeError, "%s() needs t (a Time) or minutes (since the epoch)", fname);
    Times out;
    if (minutes) {
        out.array = Ref::steal_or_null(PyArray_FROM_OTF(minutes, NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
        if (!out.array) rename_error(fname, "minutes", "real numbers (minutes since the epoch)");
        auto* a = reinterpret_cast<PyArrayObject*>(out.array.get());
        out.minutes = static_cast<const double*>(PyArray_DATA(a));
        out.n = PyArray_SIZE(a);
        out.ndim = PyArray_NDIM(a);
        std::copy(PyArray_DIMS(a), PyArray_DIMS(a) + out.ndim, out.dims);
        return out;
    }
    Ref time;
    if (PyObject_TypeCheck(t, time_type)) {
        time = Ref::borrow(t);
    } else {
        time = Ref::steal_or_null(PyObject_CallOneArg(reinterpret_cast<PyObject*>(time_type), t));
        if (!time) rename_error(fname, "t", "a Time or a value Time accepts");
    }
    // UTC days of 86400 s, the count the epochs use (see utc_days)
    Ref jd12 = utc_days(time.get());
    out.array = Ref::steal(PyArray_FROM_OTF(jd12.get(), NPY_DOUBLE, NPY_ARRAY_IN_ARRAY));
    auto* a = reinterpret_cast<PyArrayObject*>(out.array.get());
    if (PyArray_NDIM(a) != 2 || PyArray_DIM(a, 1) != 2)
        frame::raise(PyExc_ValueError, "%s() argument 't' has Julian dates of an unexpected shape", fname);
    out.jd = static_cast<const double*>(PyArray_DATA(a));
    out.n = PyArray_DIM(a, 0);
    bool scalar = truthy(frame::getattr(time.get(), names::isscalar).get());
    if (scalar && out.n != 1) frame::raise(PyExc_ValueError, "%s() argument 't' is a scalar Time of %zd epochs", fname, out.n);
    out.ndim = scalar ? 0 : 1;
    out.dims[0] = out.n;
    return out;
}

// ---------------------------------------------------------------------------------------------
// The loop: satellites x times (grid) or satellite i at time i (pairwise), without the lock.

/// A resonance integrator and its checkpoints, kept for the length of one call: a chunk of work
/// takes a free one and, going on with the same satellite, finds its states still there.
struct IntegratorSlot {
    std::atomic<bool> busy{false};
    const k::Satrec* sat = nullptr;  // whose states these are
    k::Integrator resume;
    std::unique_ptr<k::ResonanceTable> table;
};

/// One slot per thread that can work on a call at once (the caller's included).
struct IntegratorSlots {
    std::unique_ptr<IntegratorSlot[]> slots;
    int n = 0;

    explicit IntegratorSlots(int count) : slots(new IntegratorSlot[std::size_t(count)]), n(count) {}

    /// A free slot, or nullptr when every one is taken (work then restarts from the epoch).
    IntegratorSlot* take() noexcept {
        for (int i = 0; i < n; ++i)
            if (!slots[std::size_t(i)].busy.exchange(true, std::memory_order_acquire)) return &slots[std::size_t(i)];
        return nullptr;
    }
    void give(IntegratorSlot* s) noexcept {
        if (s) s->busy.store(false, std::memory_order_release);
    }
};

struct Job {
    const k::Satrec* const* sats;
    Py_ssize_t nsat;
    const Times* times;
    bool pairwise;
    double* r;
    double* v;
    std::uint8_t* code;
    IntegratorSlots* slots = nullptr;  // for resonant satellites with several times
};

inline double minutes_since(const k::Satrec& s, const Times& t, Py_ssize_t j) noexcept {
    if (t.minutes) return t.minutes[j];
    // Differences of the two parts first: each is exact or nearly so for nearby dates.
    return ((t.jd[2 * j] - s.jd_epoch1) + (t.jd[2 * j + 1] - s.jd_epoch2)) * 1440.0;
}

/// Points [b, e) of the flattened output.
inline void run_points(const Job& job, Py_ssize_t b, Py_ssize_t e) noexcept {
    const Times& t = *job.times;
    if (job.pairwise) {
        const bool broadcast = t.n == 1;
        for (Py_ssize_t i = b; i < e; ++i)
            job.code[i] = std::uint8_t(k::propagate(*job.sats[i], minutes_since(*job.sats[i], t, broadcast ? 0 : i),
                                                    job.r + 3 * i, job.v + 3 * i));
        return;
    }
    // A run of times of one satellite resumes the resonance integrator from time to time; a
    // resonant satellite with several times also keeps checkpoints of it, so that times in any
    // order restart near where they are, not from the epoch. Both outlive this chunk in a slot.
    const Py_ssize_t nt = t.n;
    if (nt <= 0 || b >= e) return;
    Py_ssize_t i = b / nt, j = b % nt;
    k::Integrator plain;
    IntegratorSlot* slot = nullptr;
    k::Integrator* resume = &plain;
    auto begin_satellite = [&]() noexcept {
        const k::Satrec* s = job.sats[i];
        const bool resonant = job.slots && s->deep && s->irez != 0 && nt > 1;
        if (resonant && !slot) slot = job.slots->take();
        if (resonant && slot && slot->sat == s && slot->table) {
            resume = &slot->resume;  // its states are still there, from this chunk or an earlier one
            return;
        }
        if (resonant && slot && !slot->table) slot->table.reset(new (std::nothrow) k::ResonanceTable);
        if (resonant && slot && slot->table) {
            slot->sat = s;
            slot->resume.table = slot->table.get();
            slot->resume.reset();
            resume = &slot->resume;
        } else {
            plain = k::Integrator{};
            resume = &plain;
        }
    };
    begin_satellite();
    for (Py_ssize_t p = b; p < e; ++p) {
        const k::Satrec& s = *job.sats[i];
        job.code[p] = std::uint8_t(k::propagate(s, minutes_since(s, t, j), job.r + 3 * p, job.v + 3 * p, resume));
        if (++j == nt) {
            j = 0;
            ++i;
            if (p + 1 < e) begin_satellite();
        }
    }
    if (job.slots) job.slots->give(slot);
}

/// Run every point: blocks of work without the lock, spread over the pool, sized to take a few
/// hundredths of a second each, with a check for Ctrl-C between blocks.
inline void run(const Job& job, Py_ssize_t npoints) {
    // The first block is small (a far deep-space time without a kept state costs milliseconds);
    // later ones grow to take about frame::threads::slice each.
    constexpr Py_ssize_t block = Py_ssize_t(1) << 18;
    constexpr Py_ssize_t grain = 1;
    if (npoints <= 0) return;
    if (npoints < 64) {  // a few points: releasing the lock would cost more than the work
        run_points(job, 0, npoints);
        return;
    }
    // resonant satellites keep their integrators across the blocks of the call
    std::unique_ptr<IntegratorSlots> slots;
    Job with = job;
    if (!job.pairwise && job.times->n > 1)
        for (Py_ssize_t i = 0; i < job.nsat; ++i)
            if (job.sats[i]->deep && job.sats[i]->irez != 0) {
                slots = std::make_unique<IntegratorSlots>(frame::threads::count() + 1);
                with.slots = slots.get();
                break;
            }
    frame::threads::parallel_timed(npoints, grain, block, [&](Py_ssize_t lo, Py_ssize_t hi) { run_points(with, lo, hi); });
}

struct Outputs {
    Ref r, v, code;
};

/// Arrays of shape lead + (3,) for r and v, lead for the codes.
inline Outputs allocate(int nlead, const npy_intp* lead) {
    npy_intp dims[NPY_MAXDIMS + 2];
    std::copy(lead, lead + nlead, dims);
    dims[nlead] = 3;
    Outputs o;
    o.r = Ref::steal(PyArray_SimpleNew(nlead + 1, dims, NPY_DOUBLE));
    o.v = Ref::steal(PyArray_SimpleNew(nlead + 1, dims, NPY_DOUBLE));
    o.code = Ref::steal(PyArray_SimpleNew(nlead, dims, NPY_UINT8));
    return o;
}

template <class T>
inline T* data_of(const Ref& a) noexcept {
    return static_cast<T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(a.get())));
}

inline Ref result_tuple(Outputs& o, bool scalar_code) {
    Ref code = scalar_code ? Ref::steal(PyArray_Return(reinterpret_cast<PyArrayObject*>(o.code.release()))) : o.code;
    return Ref::steal(PyTuple_Pack(3, o.r.get(), o.v.get(), code.get()));
}

/// One satellite at every time: shapes t + (3,), t.
inline Ref propagate_one(const k::Satrec& sat, const Times& times) {
    Outputs o = allocate(times.ndim, times.dims);
    const k::Satrec* one = &sat;
    Job job{&one, 1, &times, false, data_of<double>(o.r), data_of<double>(o.v), data_of<std::uint8_t>(o.code)};
    run(job, times.n);
    return result_tuple(o, times.ndim == 0);
}

/// The satellites of a sequence of Elements (or TLEs, made into Elements), each held by a reference for the length of the call
/// (the sequence itself may change once the lock is released; the records never do).
struct Satellites {
    std::vector<Ref> owners;
    std::vector<const k::Satrec*> sats;
};

inline Satellites collect(PyObject* elements) {
    Ref seq = Ref::steal_or_null(PySequence_Fast(elements, ""));
    if (!seq) {
        PyErr_Clear();
        frame::raise(PyExc_TypeError, "propagate() argument 'elements' must be an Elements or a sequence of them, not %.200s",
                     Py_TYPE(elements)->tp_name);
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    Satellites out;
    out.owners.reserve(std::size_t(n));
    out.sats.reserve(std::size_t(n));
    PyObject** items = PySequence_Fast_ITEMS(seq.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref e = elements_or_tle(items[i], "propagate");
        if (!e)
            frame::raise(PyExc_TypeError, "propagate() argument 'elements' must hold Elements or TLEs; item %zd is %.200s", i,
                         Py_TYPE(items[i])->tp_name);
        out.sats.push_back(&as_elements(e.get())->sat);
        out.owners.push_back(std::move(e));
    }
    return out;
}

/// Elements.propagate and EarthSatellite.propagate: (t=None, *, minutes=None).
using PropagateMethod = frame::MethodWithKeywordOnly<1, 0, "propagate", "t", "minutes">;

}  // namespace kelvara::sgp4mod
