// kelvara.frames.frames: positions and velocities between GCRF, ITRF and TEME at the epochs of a
// Time, and the Sun, the Moon or any position in a geodetic station's sky.
//
// Every call gathers its epochs once (TT and UT1 two-part dates, polar motion) into a plain
// vector, then runs the kernels over the rows without the interpreter lock, spread over the
// frame's thread pool when the batch is large.
#include "../frame/frame.hpp"
#include "../frame/arrays.hpp"
#include "../frame/threads.hpp"
#include "../time/time.hpp"
#include "../bodies/ephemeris_kernels.hpp"
#include "frames_doc.hpp"
#include "frames_kernels.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace {

using frame::Ref;
namespace kf = kelvara::frames;

constexpr const char* source_file = "kelvara/frames/frames.cpp";
constexpr double deg_to_rad = M_PI / 180.0;

// State of this module (docs/state.md lists every module's):
// - the X, Y, s grid (frames_kernels.hpp, xys_grid): chunks built on demand, published whole,
//   kept; it depends on no loadable table.
// - time_type below. Leap seconds and EOP are read from the time module at every call, each
//   read its own snapshot (a reload landing mid-call can give one call parts of both tables).
PyTypeObject* time_type = nullptr;  // bound during exec, kept for the life of the process

/// Batches below this size stay on the calling thread with the lock held: releasing it and
/// waking the pool costs more than the work.
constexpr Py_ssize_t unlocked_from = 256;
constexpr Py_ssize_t grain = 1024;

// Looked up at call time.
const frame::Name name_lower{"lower"};
const frame::Name name_jd12{"jd12"};
const frame::Name name_isscalar{"isscalar"};
const frame::Name name_size{"size"};
const frame::Name name_from_jd12{"from_jd12"};
const frame::Name name_eop{"eop"};
const frame::Name scale_tt{"tt"};
const frame::Name scale_tai{"tai"};
const frame::Name scale_utc{"utc"};
const frame::KeyNames kw_scale{"scale"};

// ---------------------------------------------------------------------------------------------
// Frames by name.

enum class Frame { gcrf, itrf, teme };

Frame parse_frame(PyObject* name, const char* arg) {
    if (!PyUnicode_Check(name))
        frame::raise(PyExc_TypeError, "%s must be a frame name ('gcrf', 'itrf' or 'teme'), not %.200s", arg,
                     Py_TYPE(name)->tp_name);
    static const char* const known[3] = {"gcrf", "itrf", "teme"};
    for (int k = 0; k < 3; ++k)  // the usual spelling, without making a lower-case copy
        if (PyUnicode_CompareWithASCIIString(name, known[k]) == 0) return Frame(k);
    Ref lower = frame::call(frame::getattr(name, name_lower).get());
    const char* s = frame::c_text(lower.get(), arg);
    if (!std::strcmp(s, "gcrf")) return Frame::gcrf;
    if (!std::strcmp(s, "itrf")) return Frame::itrf;
    if (!std::strcmp(s, "teme")) return Frame::teme;
    frame::raise(PyExc_ValueError, "unknown %s frame %R; known frames: 'gcrf', 'itrf', 'teme'", arg, name);
}

// ---------------------------------------------------------------------------------------------
// Arrays in.

/// `obj` as a C-contiguous float64 array of `mindim` to `maxdim` dimensions (0: any).
Ref as_doubles(PyObject* obj, const char* name, int mindim, int maxdim) {
    return frame::as_real_array(obj, name, mindim, maxdim);
}

using frame::array_of;
using frame::data_of;
using frame::new_array;

/// A (3,) or (N, 3) array of vectors.
struct Vectors {
    Ref array;
    const double* data = nullptr;
    Py_ssize_t rows = 0;
    bool single = false;  // given as (3,)
};

std::string shape_text(PyArrayObject* a) {
    std::string s = "(";
    char number[32];
    for (int i = 0; i < PyArray_NDIM(a); ++i) {
        PyOS_snprintf(number, sizeof number, "%s%zd", i ? ", " : "", Py_ssize_t(PyArray_DIM(a, i)));
        s += number;
    }
    return s + (PyArray_NDIM(a) == 1 ? ",)" : ")");
}

Vectors vectors(PyObject* obj, const char* name) {
    Vectors v;
    v.array = as_doubles(obj, name, 0, 0);
    PyArrayObject* a = array_of(v.array);
    const int nd = PyArray_NDIM(a);
    if (!((nd == 1 || nd == 2) && PyArray_DIM(a, nd - 1) == 3))
        frame::raise(PyExc_ValueError, "%s must have shape (3,) or (N, 3), got %s", name, shape_text(a).c_str());
    v.single = nd == 1;
    v.rows = nd == 1 ? 1 : PyArray_DIM(a, 0);
    v.data = data_of<const double>(v.array);
    return v;
}

/// A scalar or a 1-D array of numbers (a station coordinate, an EOP value).
struct Values {
    Ref array;
    const double* data = nullptr;  // the array's elements; unused for a Python number
    double number = 0.0;
    Py_ssize_t size = 1;
    bool scalar = true;
    double operator[](Py_ssize_t i) const noexcept { return array ? data[size == 1 ? 0 : i] : number; }
};

Values values(PyObject* obj, const char* name) {
    Values v;
    if (PyFloat_CheckExact(obj) || PyLong_CheckExact(obj)) {  // one number: no array needed
        v.number = frame::to_double(obj);
        return v;
    }
    v.array = as_doubles(obj, name, 0, 0);
    PyArrayObject* a = array_of(v.array);
    if (PyArray_NDIM(a) > 1)
        frame::raise(PyExc_ValueError, "%s must be a number or a 1-D array, got shape %s", name, shape_text(a).c_str());
    v.scalar = PyArray_NDIM(a) == 0;
    v.size = v.scalar ? 1 : PyArray_DIM(a, 0);
    v.data = data_of<const double>(v.array);
    return v;
}

/// The common length of batches of sizes a and b (1 broadcasts); ValueError otherwise.
Py_ssize_t broadcast(Py_ssize_t a, Py_ssize_t b, const char* what_a, const char* what_b) {
    if (a == b || b == 1) return a;
    if (a == 1) return b;
    frame::raise(PyExc_ValueError, "shapes do not match: %s has %zd rows, %s has %zd", what_a, a, what_b, b);
}

// ---------------------------------------------------------------------------------------------
// Epochs.

struct Epoch {
    double tt1, tt2, ut1a, ut1b, xp, yp;
};

struct Epochs {
    std::vector<Epoch> e;
    bool scalar = true;
    Py_ssize_t size() const noexcept { return Py_ssize_t(e.size()); }
    const Epoch& operator[](Py_ssize_t i) const noexcept { return e[e.size() == 1 ? 0 : std::size_t(i)]; }
};

Ref as_time(PyObject* t) {
    if (PyObject_TypeCheck(t, time_type)) return Ref::borrow(t);
    return frame::call(reinterpret_cast<PyObject*>(time_type), t);
}

/// `time.<scale>.jd12` as a C-contiguous (N, 2) float64 array.
Ref jd12(PyObject* time, PyObject* scale) {
    Ref on = frame::getattr(time, scale);
    Ref jd = frame::getattr(on.get(), name_jd12);
    Ref a = as_doubles(jd.get(), "Time.jd12", 2, 2);
    if (PyArray_DIM(array_of(a), 1) != 2) frame::raise(PyExc_ValueError, "Time.jd12 must have two columns");
    return a;
}

/// The three parts of an EOP triple, each a number or an array broadcast against n epochs.
std::array<Values, 3> eop_parts(PyObject* eop, Py_ssize_t n) {
    Ref seq = Ref::steal_or_null(PySequence_Fast(eop, ""));
    if (!seq || PySequence_Fast_GET_SIZE(seq.get()) != 3) {
        PyErr_Clear();
        frame::raise(PyExc_TypeError, "eop must be a (dut1 [s], xp [rad], yp [rad]) triple, not %.200s",
                     Py_TYPE(eop)->tp_name);
    }
    static const char* names[3] = {"eop dut1", "eop xp", "eop yp"};
    std::array<Values, 3> out;
    for (int k = 0; k < 3; ++k) {
        out[k] = values(PySequence_Fast_GET_ITEM(seq.get(), k), names[k]);
        broadcast(n, out[k].size, "t", names[k]);
        if (out[k].size != n && out[k].size != 1)
            frame::raise(PyExc_ValueError, "%s has %zd values for %zd epochs", names[k], out[k].size, n);
    }
    return out;
}

/// Start of 1972, when TAI-UTC became a whole number of seconds, as a UTC Julian date.
constexpr double utc_1972 = 2441317.5;
constexpr double utc_1960 = 2436934.5;

/// The Julian date of 0h of the UTC day holding utc1 + utc2, summed so that no epoch within a
/// rounding step of midnight lands on the wrong day.
inline double day_start(double utc1, double utc2) noexcept {
    const double k1 = std::floor(utc1), k2 = std::floor(utc2);
    const double frac = (utc1 - k1) + (utc2 - k2);
    return (k1 + k2) + (std::floor(frac - 0.5) + 0.5);
}

/// TAI-UTC (s) at 0h of each epoch's UTC day, the offset ERFA's eraUtcut1 turns UT1-UTC into
/// UT1-TAI with. `d` holds each epoch's own TAI-UTC read off the Time's two-part dates. From
/// 1972 it is a whole number of seconds, except on a day that ends with a leap second, where
/// the stretched UTC day makes it creep up by up to one second: the day's value is the whole
/// second below. From 1960 to 1972 UTC drifted against TAI and stepped by fractions of a
/// second, so those days' starts (and that of the last day of 1959, which ERFA stretches to
/// reach 1960's offset) are converted by the Time type itself. Before that TAI-UTC is zero.
std::vector<double> tai_utc_at_day_start(const double* utc, std::vector<double> d) {
    std::vector<Py_ssize_t> early;
    const Py_ssize_t n = Py_ssize_t(d.size());
    for (Py_ssize_t i = 0; i < n; ++i) {
        const double jd = utc[2 * i] + utc[2 * i + 1];
        if (jd >= utc_1972) d[std::size_t(i)] = std::floor(d[std::size_t(i)] + 1e-6);
        else if (jd >= utc_1960 - 1.0) early.push_back(i);  // 1959-12-31 is stretched into 1960's offset
    }
    if (early.empty()) return d;
    npy_intp dims[2] = {npy_intp(early.size()), 2};
    Ref starts = frame::new_array(2, dims);
    double* p = data_of(starts);
    for (std::size_t k = 0; k < early.size(); ++k) {
        p[2 * k] = day_start(utc[2 * early[k]], utc[2 * early[k] + 1]);
        p[2 * k + 1] = 0.0;
    }
    Ref from_jd12 = frame::getattr(reinterpret_cast<PyObject*>(time_type), name_from_jd12);
    PyObject* argv[] = {nullptr, starts.get(), scale_utc};
    Ref days = Ref::steal(PyObject_Vectorcall(from_jd12.get(), argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, kw_scale));
    Ref tai = jd12(days.get(), scale_tai);
    if (PyArray_DIM(array_of(tai), 0) != npy_intp(early.size()))
        frame::raise(PyExc_ValueError, "Time scales disagree on the number of epochs");
    const double* q = data_of<const double>(tai);
    for (std::size_t k = 0; k < early.size(); ++k)
        d[std::size_t(early[k])] = ((q[2 * k] - p[2 * k]) + q[2 * k + 1]) * kf::seconds_per_day;
    return d;
}

/// TT and UT1 dates and polar motion of every epoch of `t` (anything Time accepts). dut1 and
/// polar motion are the loaded EOP (kelvara.time.iers.eop) or the explicit `eop`. UT1 is
/// TAI + dut1 - (TAI-UTC at 0h of the UTC day), as ERFA's eraUtcut1 forms it (and Time.ut1
/// with it): UTC + dut1 on ordinary days, and right on a day that ends with a leap second,
/// where adding dut1 to the UTC date would drift by up to a second.
Epochs gather(PyObject* t_in, PyObject* eop) {
    Ref t = as_time(t_in);
    Epochs out;
    out.scalar = frame::truth(frame::getattr(t.get(), name_isscalar));
    Ref tt = jd12(t.get(), scale_tt);
    const Py_ssize_t n = PyArray_DIM(array_of(tt), 0);
    std::array<Values, 3> parts;
    if (!eop || eop == Py_None) {
        Ref iers = frame::import("kelvara.time.iers");
        Ref fn = frame::getattr(iers.get(), name_eop);
        Ref triple = frame::call(fn.get(), t.get());
        parts = eop_parts(triple.get(), n);
    } else {
        parts = eop_parts(eop, n);
    }
    Ref tai = jd12(t.get(), scale_tai);
    Ref utc = jd12(t.get(), scale_utc);
    if (PyArray_DIM(array_of(tai), 0) != n || PyArray_DIM(array_of(utc), 0) != n)
        frame::raise(PyExc_ValueError, "Time scales disagree on the number of epochs");
    const double* a = data_of<const double>(tt);
    const double* b = data_of<const double>(tai);
    const double* c = data_of<const double>(utc);
    std::vector<double> d(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i)
        d[std::size_t(i)] = ((b[2 * i] - c[2 * i]) + (b[2 * i + 1] - c[2 * i + 1])) * kf::seconds_per_day;
    const std::vector<double> dat = tai_utc_at_day_start(c, std::move(d));
    out.e.resize(std::size_t(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Epoch& e = out.e[std::size_t(i)];
        e.tt1 = a[2 * i];
        e.tt2 = a[2 * i + 1];
        e.ut1a = b[2 * i];
        e.ut1b = b[2 * i + 1] + (parts[0][i] - dat[std::size_t(i)]) / kf::seconds_per_day;
        e.xp = parts[1][i];
        e.yp = parts[2][i];
    }
    return out;
}

/// The epochs of `t` without their dates (zeros): only their number and scalar-ness count.
Epochs shape_only(PyObject* t_in) {
    Ref t = as_time(t_in);
    Ref size = frame::getattr(t.get(), name_size);
    const Py_ssize_t n = PyLong_AsSsize_t(size.get());
    if (n == -1 && PyErr_Occurred()) throw frame::PyErrorSet{};
    if (n < 0) frame::raise(PyExc_ValueError, "Time.size must not be negative");
    Epochs ep;
    ep.scalar = frame::truth(frame::getattr(t.get(), name_isscalar));
    ep.e.resize(std::size_t(n));
    return ep;
}

// ---------------------------------------------------------------------------------------------
// Orientation of every epoch.

/// Where each epoch's X, Y, s come from: a grid chunk, or the full series (nullptr). Epochs in
/// chunks already built read them; a chunk not yet built is built once the epochs met in it,
/// over this call and earlier ones, reach its node count (37), so that sparse epochs never pay
/// for a grid while dense ones, in one call or one at a time, soon read it.
std::vector<const kf::XysChunk*> plan_grid(const Epochs& ep, bool precise) {
    std::vector<const kf::XysChunk*> chunks(ep.e.size(), nullptr);
    if (precise) return chunks;
    kf::XysGrid& g = kf::xys_grid();
    // (chunk, epochs) of every run of epochs in one unbuilt chunk, merged per chunk after sorting
    std::vector<std::pair<std::int64_t, Py_ssize_t>> runs;
    for (std::size_t i = 0; i < ep.e.size(); ++i) {
        const kf::GridPoint p = kf::grid_point(ep.e[i].tt1, ep.e[i].tt2);
        chunks[i] = g.find(p.chunk);
        if (chunks[i] || !kf::XysGrid::covers(p.chunk)) continue;
        if (runs.empty() || runs.back().first != p.chunk) runs.emplace_back(p.chunk, 0);
        ++runs.back().second;
    }
    std::sort(runs.begin(), runs.end());
    std::vector<std::int64_t> build;
    for (std::size_t i = 0; i < runs.size();) {
        std::size_t j = i;
        Py_ssize_t count = 0;
        for (; j < runs.size() && runs[j].first == runs[i].first; ++j) count += runs[j].second;
        if (kf::XysGrid::demand(runs[i].first, count)) build.push_back(runs[i].first);
        i = j;
    }
    if (build.empty()) return chunks;
    // a chunk costs milliseconds: signals are looked at every 64 of them
    frame::threads::parallel_blocks(Py_ssize_t(build.size()), 64, 1, [&](Py_ssize_t x, Py_ssize_t y) {
        for (Py_ssize_t k = x; k < y; ++k) g.build(build[std::size_t(k)]);
    });
    for (std::size_t i = 0; i < ep.e.size(); ++i)
        if (!chunks[i]) chunks[i] = g.find(kf::grid_point(ep.e[i].tt1, ep.e[i].tt2).chunk);
    return chunks;
}

/// Celestial -> ITRF orientation of epoch `e` for frame `f` (GCRF or TEME).
inline void orient(Frame f, const Epoch& e, const kf::XysChunk* chunk, kf::Orientation& o) noexcept {
    if (f == Frame::teme) {
        kf::teme_to_itrf(e.ut1a, e.ut1b, e.xp, e.yp, o);
        return;
    }
    double xys[3];
    if (chunk) kf::XysGrid::interpolate(*chunk, kf::grid_point(e.tt1, e.tt2), xys);
    else kf::xys_series(e.tt1, e.tt2, xys);
    kf::gcrf_to_itrf_at(xys, e.tt1, e.tt2, e.ut1a, e.ut1b, e.xp, e.yp, o);
}

/// Everything a loop needs to turn vectors from `src` to `dst` at the epochs.
struct Path {
    Frame src, dst;
    const Epochs* ep;
    std::vector<const kf::XysChunk*> chunks;
    bool needs(Frame f) const noexcept { return f != Frame::itrf && (src == f || dst == f); }

    void orientations(Py_ssize_t j, kf::Orientation& os, kf::Orientation& od) const noexcept {
        const Epoch& e = (*ep)[j];
        const kf::XysChunk* c = chunks.empty() ? nullptr : chunks[chunks.size() == 1 ? 0 : std::size_t(j)];
        if (src != Frame::itrf) orient(src, e, c, os);
        if (dst != Frame::itrf) orient(dst, e, c, od);
    }

    /// r (and v when given) from src to dst with the orientations of one epoch.
    void apply(const kf::Orientation& os, const kf::Orientation& od, const double* r, const double* v, double* ro,
               double* vo) const noexcept {
        double ri[3], vi[3];
        if (src == Frame::itrf) {
            for (int k = 0; k < 3; ++k) ri[k] = r[k];
            if (v) for (int k = 0; k < 3; ++k) vi[k] = v[k];
        } else if (v) {
            kf::to_itrf(os, r, v, ri, vi);
        } else {
            kf::to_itrf(os, r, ri);
        }
        if (dst == Frame::itrf) {
            for (int k = 0; k < 3; ++k) ro[k] = ri[k];
            if (v) for (int k = 0; k < 3; ++k) vo[k] = vi[k];
        } else if (v) {
            kf::from_itrf(od, ri, vi, ro, vo);
        } else {
            kf::from_itrf(od, ri, ro);
        }
    }
};

Path make_path(Frame src, Frame dst, const Epochs& ep, bool precise) {
    Path p{src, dst, &ep, {}};
    if (p.needs(Frame::gcrf)) p.chunks = plan_grid(ep, precise);
    return p;
}

/// Run fn(begin, end) over [0, n): without the lock and over the pool for large n, in blocks
/// between which a pending Ctrl-C (or a signal handler's exception) ends the call.
template <class F>
void run_rows(Py_ssize_t n, F&& fn, Py_ssize_t block = 65536) {
    if (n < unlocked_from) {
        fn(Py_ssize_t(0), n);
        return;
    }
    frame::threads::parallel_blocks(n, block, grain, fn);
}

/// An optional flag: its truth when given, `dflt` when left out.
bool truth(PyObject* o, bool dflt) { return o ? frame::truth(o) : dflt; }

// ---------------------------------------------------------------------------------------------
// transform and rotation

/// transform(r, t, src, dst, *, v=None, eop=None, precise=False)
Ref transform(PyObject*, PyObject* r_obj, PyObject* t_obj, PyObject* src_obj, PyObject* dst_obj, PyObject* v_obj,
              PyObject* eop, PyObject* precise_obj) {
    const Frame src = parse_frame(src_obj, "src");
    const Frame dst = parse_frame(dst_obj, "dst");
    const bool precise = truth(precise_obj, false);
    Vectors r = vectors(r_obj, "r");
    std::optional<Vectors> v;
    if (v_obj && v_obj != Py_None) v = vectors(v_obj, "v");
    // no rotation between a frame and itself, but the epochs still set the shape
    Epochs ep = (src == dst) ? shape_only(t_obj) : gather(t_obj, eop);
    Py_ssize_t k = broadcast(r.rows, ep.size(), "r", "t");
    if (v) k = broadcast(k, v->rows, "r and t", "v");
    const bool single = r.single && (!v || v->single) && ep.scalar;
    npy_intp dims[2] = {k, 3};
    Ref ro = single ? new_array(1, dims + 1) : new_array(2, dims);
    Ref vo = v ? (single ? new_array(1, dims + 1) : new_array(2, dims)) : Ref();
    Path path = make_path(src, dst, ep, precise);
    double* rp = data_of(ro);
    double* vp = v ? data_of(vo) : nullptr;
    const double* rin = r.data;
    const double* vin = v ? v->data : nullptr;
    const Py_ssize_t rr = r.rows, vr = v ? v->rows : 0, ne = ep.size();
    run_rows(k, [&](Py_ssize_t b, Py_ssize_t e) {
        kf::Orientation os, od;
        Py_ssize_t last = -1;
        for (Py_ssize_t i = b; i < e; ++i) {
            const Py_ssize_t j = ne == 1 ? 0 : i;
            if (src != dst && j != last) { path.orientations(j, os, od); last = j; }
            const double* ri = rin + 3 * (rr == 1 ? 0 : i);
            const double* vi = vin ? vin + 3 * (vr == 1 ? 0 : i) : nullptr;
            if (src == dst) {
                for (int c = 0; c < 3; ++c) rp[3 * i + c] = ri[c];
                if (vi) for (int c = 0; c < 3; ++c) vp[3 * i + c] = vi[c];
            } else {
                path.apply(os, od, ri, vi, rp + 3 * i, vp ? vp + 3 * i : nullptr);
            }
        }
    }, precise ? 4096 : 65536);
    if (!v) return ro;
    return Ref::steal(PyTuple_Pack(2, ro.get(), vo.get()));
}

/// rotation(src, dst, t, *, eop=None, precise=False)
Ref rotation(PyObject*, PyObject* src_obj, PyObject* dst_obj, PyObject* t_obj, PyObject* eop, PyObject* precise_obj) {
    const Frame src = parse_frame(src_obj, "src");
    const Frame dst = parse_frame(dst_obj, "dst");
    const bool precise = truth(precise_obj, false);
    Epochs ep = gather(t_obj, eop);
    const Py_ssize_t n = ep.size();
    npy_intp dims[3] = {n, 3, 3};
    Ref out = ep.scalar ? new_array(2, dims + 1) : new_array(3, dims);
    Path path = make_path(src, dst, ep, precise);
    double* m = data_of(out);
    run_rows(n, [&](Py_ssize_t b, Py_ssize_t e) {
        kf::Orientation os, od;
        for (Py_ssize_t i = b; i < e; ++i) {
            path.orientations(i, os, od);
            // dst <- ITRF <- src: m = od.m^T os.m, with identity for ITRF
            double* mi = m + 9 * i;
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 3; ++col) {
                    double s;
                    if (src == dst) s = row == col ? 1.0 : 0.0;
                    else if (dst == Frame::itrf) s = os.m[row][col];
                    else if (src == Frame::itrf) s = od.m[col][row];
                    else s = (od.m[0][row] * os.m[0][col] + od.m[1][row] * os.m[1][col]) + od.m[2][row] * os.m[2][col];
                    mi[3 * row + col] = s;
                }
        }
    }, precise ? 4096 : 65536);
    return out;
}

// ---------------------------------------------------------------------------------------------
// A station's sky.

enum class Target { sun, moon, vectors };

struct SkyOptions {
    bool deg = true;
    bool refract = false;
    double pressure = 1010.0;
    double temperature = 10.0;
};

/// Azimuth, elevation and range of the target seen from geodetic stations at the epochs; the
/// common body of sun_aer, moon_aer and aer.
Ref sky(Target target, const Vectors* r, Frame src, PyObject* t_obj, PyObject* lat_obj, PyObject* lon_obj,
        PyObject* alt_obj, PyObject* eop, const SkyOptions& opt) {
    Values lat = values(lat_obj, "lat"), lon = values(lon_obj, "lon");
    Values alt = alt_obj ? values(alt_obj, "alt") : Values{};
    // ITRF positions need no Earth orientation: the epochs only set the shape
    Epochs ep = (target == Target::vectors && src == Frame::itrf) ? shape_only(t_obj) : gather(t_obj, eop);
    Py_ssize_t k = ep.size();
    if (r) k = broadcast(r->rows, k, "r", "t");
    k = broadcast(k, lat.size, "t", "lat");
    k = broadcast(k, lon.size, "t and lat", "lon");
    k = broadcast(k, alt.size, "t, lat and lon", "alt");
    const bool single = ep.scalar && lat.scalar && lon.scalar && alt.scalar && (!r || r->single);
    npy_intp dims[1] = {k};
    Ref az = new_array(1, dims), el = new_array(1, dims), rg = new_array(1, dims);
    const Frame body_frame = target == Target::vectors ? src : Frame::gcrf;
    Path path = make_path(body_frame, Frame::itrf, ep, false);
    double *pa = data_of(az), *pe = data_of(el), *pr = data_of(rg);
    const double angle = opt.deg ? deg_to_rad : 1.0;
    const double max_lat = opt.deg ? 90.0 : M_PI / 2;
    const Py_ssize_t ne = ep.size();
    run_rows(k, [&](Py_ssize_t b, Py_ssize_t e) {
        kf::Orientation os, od;
        Py_ssize_t last = -1;
        double p[3]{}, q[3]{}, sun[3]{};  // the body at epoch `last` (GCRF; the Sun already in ITRF)
        for (Py_ssize_t i = b; i < e; ++i) {
            const Py_ssize_t j = ne == 1 ? 0 : i;
            if (body_frame != Frame::itrf && j != last) {
                // one epoch seen from many stations: orientation and ephemeris once
                path.orientations(j, os, od);
                last = j;
                if (target == Target::sun) {
                    kelvara::ephemeris::sun_position(ep[j].tt1, ep[j].tt2, p);
                    kf::to_itrf(os, p, sun);
                } else if (target == Target::moon) {
                    kelvara::ephemeris::moon_state(ep[j].tt1, ep[j].tt2, p, q);
                }
            }
            const double phi = lat[i] * angle, lam = lon[i] * angle;
            double rs[3], rb[3], d[3], out[3];
            if (!(std::fabs(lat[i]) <= max_lat)) {  // no station lies beyond a pole
                pa[i] = pe[i] = pr[i] = NAN;
                continue;
            }
            kf::geodetic_to_itrf(phi, lam, alt[i], rs);
            if (target == Target::sun) {
                kf::topocentric(sun, rs, d);
            } else if (target == Target::moon) {
                // light time: the Moon where it was when the light left it, from its geocentric motion
                double retarded[3];
                kf::to_itrf(os, p, rb);
                const double tau = std::sqrt(((rb[0] - rs[0]) * (rb[0] - rs[0]) + (rb[1] - rs[1]) * (rb[1] - rs[1])) +
                                             (rb[2] - rs[2]) * (rb[2] - rs[2])) / kf::speed_of_light;
                for (int c = 0; c < 3; ++c) retarded[c] = p[c] - q[c] * tau;
                kf::to_itrf(os, retarded, rb);
                kf::topocentric(rb, rs, d);
            } else {
                const double* ri = r->data + 3 * (r->rows == 1 ? 0 : i);
                if (body_frame == Frame::itrf) for (int c = 0; c < 3; ++c) rb[c] = ri[c];
                else kf::to_itrf(os, ri, rb);
                for (int c = 0; c < 3; ++c) d[c] = rb[c] - rs[c];
            }
            kf::aer_of(d, phi, lam, out);
            if (opt.refract) out[1] += kf::refraction(out[1], opt.pressure, opt.temperature);
            pa[i] = out[0] / angle;
            pe[i] = out[1] / angle;
            pr[i] = out[2];
        }
    }, 8192);
    if (single && k == 1)
        return Ref::steal(Py_BuildValue("(ddd)", pa[0], pe[0], pr[0]));
    return Ref::steal(PyTuple_Pack(3, az.get(), el.get(), rg.get()));
}

SkyOptions sky_options(PyObject* deg, PyObject* refraction, PyObject* pressure, PyObject* temperature) {
    SkyOptions o;
    o.deg = truth(deg, true);
    o.refract = truth(refraction, false);
    if (pressure) o.pressure = frame::to_double(pressure);
    if (temperature) o.temperature = frame::to_double(temperature);
    // The refraction scale is pressure / (273 + temperature): no atmosphere has a negative
    // pressure, and at the formula's absolute zero the scale has no meaning.
    if (!(o.pressure >= 0.0 && o.pressure <= DBL_MAX))
        frame::raise(PyExc_ValueError, "pressure must be a finite number of hPa >= 0, got %R", pressure);
    if (!(o.temperature > -273.0 && o.temperature <= DBL_MAX))
        frame::raise(PyExc_ValueError, "temperature must be finite and above absolute zero (-273 C), got %R",
                     temperature);
    return o;
}

/// sun_aer(t, lat, lon, alt=0, *, deg, refraction, pressure, temperature, eop) and moon_aer alike.
template <Target target>
Ref body_aer(PyObject*, PyObject* t, PyObject* lat, PyObject* lon, PyObject* alt, PyObject* deg, PyObject* refraction,
             PyObject* pressure, PyObject* temperature, PyObject* eop) {
    return sky(target, nullptr, Frame::gcrf, t, lat, lon, alt, eop, sky_options(deg, refraction, pressure, temperature));
}

/// aer(r, t, src, lat, lon, alt=0, *, deg, refraction, pressure, temperature, eop)
Ref aer(PyObject*, PyObject* r_obj, PyObject* t, PyObject* src_obj, PyObject* lat, PyObject* lon, PyObject* alt,
        PyObject* deg, PyObject* refraction, PyObject* pressure, PyObject* temperature, PyObject* eop) {
    const Frame src = parse_frame(src_obj, "src");
    Vectors r = vectors(r_obj, "r");
    return sky(Target::vectors, &r, src, t, lat, lon, alt, eop, sky_options(deg, refraction, pressure, temperature));
}

// The arguments after the first few are keyword-only; the optional ones arrive as nullptr.
template <frame::Text Name>
using SkyFunction = frame::MethodWithKeywordOnly<4, 3, Name, "t", "lat", "lon", "alt", "deg", "refraction", "pressure",
                                                 "temperature", "eop">;

PyMethodDef module_functions[] = {
    frame::MethodWithKeywordOnly<4, 4, "transform", "r", "t", "src", "dst", "v", "eop", "precise">::def<transform>(
        doc_transform),
    frame::MethodWithKeywordOnly<3, 3, "rotation", "src", "dst", "t", "eop", "precise">::def<rotation>(doc_rotation),
    SkyFunction<"sun_aer">::def<body_aer<Target::sun>>(doc_sun_aer),
    SkyFunction<"moon_aer">::def<body_aer<Target::moon>>(doc_moon_aer),
    frame::MethodWithKeywordOnly<6, 5, "aer", "r", "t", "src", "lat", "lon", "alt", "deg", "refraction", "pressure",
                                 "temperature", "eop">::def<aer>(doc_aer),
    {},
};

void body(frame::Module&, PyObject* module) {
    time_type = kelvara::import_time_type();
    frame::threads::bind();
    frame::check_status(PyModule_AddFunctions(module, module_functions));
    Ref frames = Ref::steal(Py_BuildValue("(sss)", "gcrf", "itrf", "teme"));
    frame::check_status(PyModule_AddObjectRef(module, "FRAMES", frames.get()));
    frame::check_status(PyModule_AddObjectRef(module, "OMEGA_EARTH", frame::as_float(kf::omega_earth).get()));
}

frame::Module frames_module("kelvara.frames.frames", "frames", doc_module, source_file, {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_frames() { return frames_module.init(); }
