// kelvara.geodesy.ufuncs: the geodesy conversions as NumPy ufuncs.
//
// Each conversion is an element-wise ufunc with three outputs (xarray takes it through
// __array_ufunc__; kelvara.geodesy hands it to Dask's apply_gufunc, since Dask's __array_ufunc__
// only knows its own multi-output ufuncs). The loop computes fixed blocks of points with the vector kernels of
// geodesy_kernels.hpp, built four times (AVX-512, AVX2 with FMA, SSE4.2, baseline) and chosen at
// import from the running CPU. Every point goes through the vector code whatever the array layout, so a
// point gives the same bits alone, strided, in a tail or in the middle of a large array.
// Large inputs are split over the frame's thread pool; NumPy releases the lock around the loop.
#include "../frame/frame.hpp"
#include "../frame/numpy.hpp"
#include "../frame/threads.hpp"

#include <numpy/arrayscalars.h>
#include "geodesy_kernels.hpp"
#include "geodesic_kernels.hpp"

#include <atomic>
#include <cfenv>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

namespace kb = kelvara::geodesy::batch;
namespace kg = kelvara::geodesy::geodesic;

/// Points per vector block: one AVX-512 register of doubles, two AVX2, four SSE2.
constexpr int block = 8;

/// Points below which a loop stays on the calling thread (about 0.1-0.3 ms of work).
constexpr Py_ssize_t parallel_grain = 16384;

/// Runs `nblocks` blocks: input k is read from in[k], advancing by step[k] doubles (0 or `block`)
/// per block; outputs are written contiguously from out[k].
using BlockFn = void (*)(const double* const* in, const Py_ssize_t* step, double* const* out,
                         Py_ssize_t nblocks) noexcept;

/// F is the point kernel; FF the same built with fused multiply-add where it has the choice, for
/// the levels whose CPUs have it (AVX-512 and AVX2).
template <int NIN, int NOUT, auto F, auto FF = F>
struct Kernel {
    static constexpr int nin = NIN, nout = NOUT;

    template <auto G, std::size_t... I, std::size_t... J>
    [[gnu::always_inline]] static inline void run(const double* const* in, const Py_ssize_t* step,
                                                 double* const* out, Py_ssize_t nblocks, std::index_sequence<I...>,
                                                 std::index_sequence<J...>) noexcept {
        const double* ip[NIN] = {in[I]...};
        double* op[NOUT] = {out[J]...};
        for (Py_ssize_t b = 0; b < nblocks; ++b) {
            // A fixed trip count, a multiple of every vector width: no scalar remainder loop.
#pragma omp simd
            for (int i = 0; i < block; ++i) G(ip[I][i]..., op[J][i]...);
            ((ip[I] += step[I]), ...);
            ((op[J] += block), ...);
        }
    }

    template <auto G = F>
    [[gnu::always_inline]] static inline void blocks(const double* const* in, const Py_ssize_t* step,
                                                    double* const* out, Py_ssize_t nblocks) noexcept {
        run<G>(in, step, out, nblocks, std::make_index_sequence<NIN>{}, std::make_index_sequence<NOUT>{});
    }

    __attribute__((target("avx512f,fma"))) static void avx512(const double* const* in, const Py_ssize_t* step,
                                                              double* const* out, Py_ssize_t nblocks) noexcept {
        blocks<FF>(in, step, out, nblocks);
    }
    __attribute__((target("avx2,fma"))) static void avx2(const double* const* in, const Py_ssize_t* step,
                                                         double* const* out, Py_ssize_t nblocks) noexcept {
        blocks<FF>(in, step, out, nblocks);
    }
    __attribute__((target("sse4.2"))) static void sse42(const double* const* in, const Py_ssize_t* step,
                                                        double* const* out, Py_ssize_t nblocks) noexcept {
        blocks(in, step, out, nblocks);
    }
    static void baseline(const double* const* in, const Py_ssize_t* step, double* const* out,
                         Py_ssize_t nblocks) noexcept {
        blocks(in, step, out, nblocks);
    }
};

/// A scalar kernel F(cache, inputs..., outputs...) behind the block interface of Kernel: the
/// geodesic problems iterate a number of times that differs from point to point, so each lane
/// runs on its own. The levels with fused multiply-add build it with the instruction in place of
/// libm's fma (same bits: fma rounds once either way). A lane whose inputs are bit for bit those
/// of the lane before copies its results (a broadcast input, the padding of a last block).
template <int NIN, int NOUT, auto F>
struct ScalarKernel {
    static constexpr int nin = NIN, nout = NOUT;

    template <std::size_t... I, std::size_t... J>
    [[gnu::always_inline]] static inline void run(const double* const* in, const Py_ssize_t* step,
                                                 double* const* out, Py_ssize_t nblocks, std::index_sequence<I...>,
                                                 std::index_sequence<J...>) noexcept {
        const double* ip[NIN] = {in[I]...};
        double* op[NOUT] = {out[J]...};
        kg::Cache cache;
        std::uint64_t last[NIN] = {};
        bool have_last = false;
        double prev[NOUT] = {};
        for (Py_ssize_t b = 0; b < nblocks; ++b) {
            for (int i = 0; i < block; ++i) {
                std::uint64_t now[NIN] = {std::bit_cast<std::uint64_t>(ip[I][i])...};
                bool same = have_last;
                for (int k = 0; k < NIN; ++k) same = same && now[k] == last[k];
                if (!same) {
                    F(cache, ip[I][i]..., prev[J]...);
                    for (int k = 0; k < NIN; ++k) last[k] = now[k];
                    have_last = true;
                }
                ((op[J][i] = prev[J]), ...);
            }
            ((ip[I] += step[I]), ...);
            ((op[J] += block), ...);
        }
    }

    [[gnu::always_inline]] static inline void blocks(const double* const* in, const Py_ssize_t* step,
                                                    double* const* out, Py_ssize_t nblocks) noexcept {
        run(in, step, out, nblocks, std::make_index_sequence<NIN>{}, std::make_index_sequence<NOUT>{});
    }

    __attribute__((target("avx512f,fma"))) static void avx512(const double* const* in, const Py_ssize_t* step,
                                                              double* const* out, Py_ssize_t nblocks) noexcept {
        blocks(in, step, out, nblocks);
    }
    __attribute__((target("avx2,fma"))) static void avx2(const double* const* in, const Py_ssize_t* step,
                                                         double* const* out, Py_ssize_t nblocks) noexcept {
        blocks(in, step, out, nblocks);
    }
    static void sse42(const double* const* in, const Py_ssize_t* step, double* const* out,
                      Py_ssize_t nblocks) noexcept {
        blocks(in, step, out, nblocks);
    }
    static void baseline(const double* const* in, const Py_ssize_t* step, double* const* out,
                         Py_ssize_t nblocks) noexcept {
        blocks(in, step, out, nblocks);
    }
};

/// The direct geodesic problem, in vector registers: a block's lanes share the ellipsoid (they
/// do whenever a and f are broadcast), and a lane whose ellipsoid differs from its neighbours'
/// runs alone through the same code, with the same bits.
struct DirectKernel {
    static constexpr int nin = 7, nout = 3;
    using Lanes = void (*)(const kg::Ellipsoid&, const double*, const double*, const double*, const double*, double,
                           double*, double*, double*) noexcept;

    // The vector loop in a function of its own: with the ellipsoid a parameter, GCC vectorises it.
    template <int B>
    [[gnu::noinline]] __attribute__((target("avx512f,fma"))) static void lanes_avx512(
        const kg::Ellipsoid& E, const double* a, const double* b, const double* c, const double* d, double deg,
        double* o1, double* o2, double* o3) noexcept {
        kg::direct_lanes<B>(E, a, b, c, d, deg, o1, o2, o3);
    }
    template <int B>
    [[gnu::noinline]] __attribute__((target("avx2,fma"))) static void lanes_avx2(
        const kg::Ellipsoid& E, const double* a, const double* b, const double* c, const double* d, double deg,
        double* o1, double* o2, double* o3) noexcept {
        kg::direct_lanes<B>(E, a, b, c, d, deg, o1, o2, o3);
    }
    template <int B>
    [[gnu::noinline]] __attribute__((target("sse4.2"))) static void lanes_sse42(
        const kg::Ellipsoid& E, const double* a, const double* b, const double* c, const double* d, double deg,
        double* o1, double* o2, double* o3) noexcept {
        kg::direct_lanes<B>(E, a, b, c, d, deg, o1, o2, o3);
    }
    template <int B>
    [[gnu::noinline]] static void lanes_baseline(const kg::Ellipsoid& E, const double* a, const double* b,
                                                 const double* c, const double* d, double deg, double* o1,
                                                 double* o2, double* o3) noexcept {
        kg::direct_lanes<B>(E, a, b, c, d, deg, o1, o2, o3);
    }

    template <Lanes L8, Lanes L1>
    [[gnu::always_inline]] static inline void blocks(const double* const* in, const Py_ssize_t* step,
                                                    double* const* out, Py_ssize_t nblocks) noexcept {
        const double* ip[nin];
        double* op[nout];
        for (int k = 0; k < nin; ++k) ip[k] = in[k];
        for (int k = 0; k < nout; ++k) op[k] = out[k];
        kg::Cache cache;
        for (Py_ssize_t b = 0; b < nblocks; ++b) {
            const double *a = ip[4], *f = ip[5];
            bool shared = true;
            for (int i = 1; i < block; ++i)
                shared = shared && std::bit_cast<std::uint64_t>(a[i]) == std::bit_cast<std::uint64_t>(a[0]) &&
                         std::bit_cast<std::uint64_t>(f[i]) == std::bit_cast<std::uint64_t>(f[0]);
            if (shared) {
                L8(cache.get(a[0], f[0]), ip[0], ip[1], ip[2], ip[3], ip[6][0], op[0], op[1], op[2]);
            } else {
                for (int i = 0; i < block; ++i)
                    L1(cache.get(a[i], f[i]), ip[0] + i, ip[1] + i, ip[2] + i, ip[3] + i, ip[6][i], op[0] + i,
                       op[1] + i, op[2] + i);
            }
            for (int k = 0; k < nin; ++k) ip[k] += step[k];
            for (int k = 0; k < nout; ++k) op[k] += block;
        }
    }

    __attribute__((target("avx512f,fma"))) static void avx512(const double* const* in, const Py_ssize_t* step,
                                                              double* const* out, Py_ssize_t nblocks) noexcept {
        blocks<lanes_avx512<block>, lanes_avx512<1>>(in, step, out, nblocks);
    }
    __attribute__((target("avx2,fma"))) static void avx2(const double* const* in, const Py_ssize_t* step,
                                                         double* const* out, Py_ssize_t nblocks) noexcept {
        blocks<lanes_avx2<block>, lanes_avx2<1>>(in, step, out, nblocks);
    }
    __attribute__((target("sse4.2"))) static void sse42(const double* const* in, const Py_ssize_t* step,
                                                        double* const* out, Py_ssize_t nblocks) noexcept {
        blocks<lanes_sse42<block>, lanes_sse42<1>>(in, step, out, nblocks);
    }
    static void baseline(const double* const* in, const Py_ssize_t* step, double* const* out,
                         Py_ssize_t nblocks) noexcept {
        blocks<lanes_baseline<block>, lanes_baseline<1>>(in, step, out, nblocks);
    }
};

/// Vector levels, best first; `level` is the one in use. SSE4.2 (x86-64-v2) is the first level at
/// which every kernel vectorises (its selects need 64-bit compares); below it part of the work
/// runs on scalar libm.
enum Level { avx512 = 0, avx2 = 1, sse42 = 2, baseline = 3 };
constexpr int nlevels = 4;
constexpr const char* level_names[] = {"avx512f", "avx2", "sse4.2", "baseline"};

// State of this module (docs/state.md lists every module's):
// - best_level: the best vector level the CPU runs, detected once at exec.
// - level: the level the loops use, best_level unless _set_simd_level (tests, benchmarks)
//   chose another. Each run of the inner loop reads it once as it starts (NumPy may run the
//   loop several times for one call, over buffered pieces), so a change on another thread
//   takes effect from the next run; atomic, since loops read it without the interpreter lock.
// - the twelve ufunc objects, made at exec and owned by the module.
Level best_level = baseline;
std::atomic<Level> level{baseline};

inline Level level_in_use() noexcept { return level.load(std::memory_order_relaxed); }

Level detect_level() noexcept {
#if defined(__x86_64__) && KELVARA_LIBMVEC
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return avx2;
    if (__builtin_cpu_supports("sse4.2")) return sse42;
#endif
    return baseline;
}

/// One conversion: its names, arity and the block function of each level.
struct Conversion {
    const char* name;
    const char* doc;
    int nin, nout;
    BlockFn fns[nlevels];
    PyUFuncGenericFunction loop;
    PyObject* ufunc;   // borrowed from the module once created
};

/// Runs [begin, end) of a ufunc loop call. Contiguous (or constant) inputs and contiguous
/// outputs are handed to the vector code in place; anything else, and the last partial block,
/// goes through small buffers.
template <int NIN, int NOUT>
void run_range(BlockFn fn, char** args, const npy_intp* steps, npy_intp begin, npy_intp end) noexcept {
    alignas(64) double ibuf[NIN][block];
    alignas(64) double obuf[NOUT][block];
    const double* ip[NIN];
    Py_ssize_t ist[NIN];
    double* op[NOUT];
    bool in_place = true;
    for (int k = 0; k < NIN; ++k) {
        if (steps[k] == 0) {
            const double v = *reinterpret_cast<const double*>(args[k]);
            for (int i = 0; i < block; ++i) ibuf[k][i] = v;
        } else if (steps[k] != npy_intp(sizeof(double))) {
            in_place = false;
        }
    }
    for (int k = 0; k < NOUT; ++k)
        if (steps[NIN + k] != npy_intp(sizeof(double))) in_place = false;
    npy_intp i = begin;
    if (in_place) {
        const npy_intp nblocks = (end - begin) / block;
        for (int k = 0; k < NIN; ++k) {
            const bool constant = steps[k] == 0;
            ip[k] = constant ? ibuf[k] : reinterpret_cast<const double*>(args[k]) + begin;
            ist[k] = constant ? 0 : block;
        }
        for (int k = 0; k < NOUT; ++k) op[k] = reinterpret_cast<double*>(args[NIN + k]) + begin;
        if (nblocks) fn(ip, ist, op, nblocks);
        i += nblocks * block;
    }
    for (int k = 0; k < NIN; ++k) {
        ip[k] = ibuf[k];
        ist[k] = 0;
    }
    for (int k = 0; k < NOUT; ++k) op[k] = obuf[k];
    for (; i < end; i += block) {
        const int m = int(std::min<npy_intp>(block, end - i));
        for (int k = 0; k < NIN; ++k) {
            if (steps[k] == 0) continue;
            const char* src = args[k] + i * steps[k];
            for (int j = 0; j < m; ++j) ibuf[k][j] = *reinterpret_cast<const double*>(src + j * steps[k]);
            for (int j = m; j < block; ++j) ibuf[k][j] = ibuf[k][0];
        }
        fn(ip, ist, op, 1);
        for (int k = 0; k < NOUT; ++k) {
            char* dst = args[NIN + k] + i * steps[NIN + k];
            for (int j = 0; j < m; ++j) *reinterpret_cast<double*>(dst + j * steps[NIN + k]) = obuf[k][j];
        }
    }
}

/// The floating-point exception flags raised so far on this thread. The kernels use SSE/AVX
/// only, so on x86-64 the flags live in MXCSR, read and written far faster than through <fenv.h>
/// (which also saves and restores the x87 environment).
inline int fp_flags() noexcept {
#if defined(__x86_64__)
    return int(_mm_getcsr() & 0x3f);
#else
    return std::fetestexcept(FE_ALL_EXCEPT);
#endif
}

/// Clear the flags raised since `before` = fp_flags() was read, keeping those.
inline void restore_fp_flags(int before) noexcept {
#if defined(__x86_64__)
    const unsigned csr = _mm_getcsr();
    if ((csr & 0x3f) != unsigned(before)) _mm_setcsr((csr & ~0x3fu) | unsigned(before));
#else
    std::feclearexcept(FE_ALL_EXCEPT & ~before);
#endif
}

template <class K>
void ufunc_loop(char** args, const npy_intp* dims, const npy_intp* steps, void* data) noexcept {
    const Conversion& c = *static_cast<const Conversion*>(data);
    const BlockFn fn = c.fns[level_in_use()];
    const npy_intp n = dims[0];
    // NaN results are the documented answer for bad points: the flags raised on the way (0/0,
    // inf - inf) are not reported as warnings. Flags set before the loop are left as they were.
    const int before = fp_flags();
    frame::threads::parallel_for(n, parallel_grain, [&](Py_ssize_t b, Py_ssize_t e) {
        run_range<K::nin, K::nout>(fn, args, steps, b, e);
    });
    restore_fp_flags(before);
}

using Ecef2Geodetic = Kernel<6, 3, kb::ecef2geodetic<false>, kb::ecef2geodetic<true>>;
using Geodetic2Ecef = Kernel<6, 3, kb::geodetic2ecef<false>, kb::geodetic2ecef<true>>;
using Ecef2Enu = Kernel<9, 3, kb::ecef2enu>;
using Enu2Ecef = Kernel<9, 3, kb::enu2ecef>;
using Geodetic2Enu = Kernel<9, 3, kb::geodetic2enu>;
using Enu2Geodetic = Kernel<9, 3, kb::enu2geodetic<false>, kb::enu2geodetic<true>>;
using Ecef2Aer = Kernel<9, 3, kb::ecef2aer>;
using Aer2Ecef = Kernel<9, 3, kb::aer2ecef>;
using Geodetic2Aer = Kernel<9, 3, kb::geodetic2aer>;
using Aer2Geodetic = Kernel<9, 3, kb::aer2geodetic<false>, kb::aer2geodetic<true>>;
using Enu2Aer = Kernel<4, 3, kb::enu2aer>;
using Aer2Enu = Kernel<4, 3, kb::aer2enu>;
using GeodesicInverse = ScalarKernel<7, 3, kg::inverse_point>;
using GeodesicDirect = DirectKernel;
using GeodesicEdge = ScalarKernel<7, 3, kg::edge_point>;

#define KV_ENTRY(K, name, doc) {name, doc, K::nin, K::nout, {K::avx512, K::avx2, K::sse42, K::baseline}, ufunc_loop<K>, nullptr}

// The ellipsoid is given by its equatorial radius a (m) and flattening f; deg is 1 for degrees,
// 0 for radians. These are the arguments after the point's own.
Conversion conversions[] = {
    KV_ENTRY(Ecef2Geodetic, "ecef2geodetic",
             "ecef2geodetic(x, y, z, a, f, deg) -> (lat, lon, alt)\n\nGeodetic coordinates of ECEF positions (m)."),
    KV_ENTRY(Geodetic2Ecef, "geodetic2ecef",
             "geodetic2ecef(lat, lon, alt, a, f, deg) -> (x, y, z)\n\nECEF positions (m) of geodetic coordinates."),
    KV_ENTRY(Ecef2Enu, "ecef2enu",
             "ecef2enu(x, y, z, lat0, lon0, h0, a, f, deg) -> (e, n, u)\n\nEast, north, up of ECEF positions."),
    KV_ENTRY(Enu2Ecef, "enu2ecef",
             "enu2ecef(e, n, u, lat0, lon0, h0, a, f, deg) -> (x, y, z)\n\nECEF positions of east, north, up."),
    KV_ENTRY(Geodetic2Enu, "geodetic2enu",
             "geodetic2enu(lat, lon, h, lat0, lon0, h0, a, f, deg) -> (e, n, u)\n\nEast, north, up of geodetic points."),
    KV_ENTRY(Enu2Geodetic, "enu2geodetic",
             "enu2geodetic(e, n, u, lat0, lon0, h0, a, f, deg) -> (lat, lon, h)\n\nGeodetic coordinates of east, north, up."),
    KV_ENTRY(Ecef2Aer, "ecef2aer",
             "ecef2aer(x, y, z, lat0, lon0, h0, a, f, deg) -> (az, el, srange)\n\nAzimuth, elevation, range of ECEF positions."),
    KV_ENTRY(Aer2Ecef, "aer2ecef",
             "aer2ecef(az, el, srange, lat0, lon0, alt0, a, f, deg) -> (x, y, z)\n\nECEF positions of azimuth, elevation, range."),
    KV_ENTRY(Geodetic2Aer, "geodetic2aer",
             "geodetic2aer(lat, lon, h, lat0, lon0, h0, a, f, deg) -> (az, el, srange)\n\nAzimuth, elevation, range of geodetic points."),
    KV_ENTRY(Aer2Geodetic, "aer2geodetic",
             "aer2geodetic(az, el, srange, lat0, lon0, h0, a, f, deg) -> (lat, lon, alt)\n\nGeodetic coordinates of azimuth, elevation, range."),
    KV_ENTRY(Enu2Aer, "enu2aer",
             "enu2aer(e, n, u, deg) -> (az, el, srange)\n\nAzimuth, elevation, range of east, north, up."),
    KV_ENTRY(Aer2Enu, "aer2enu",
             "aer2enu(az, el, srange, deg) -> (e, n, u)\n\nEast, north, up of azimuth, elevation, range."),
    KV_ENTRY(GeodesicInverse, "geodesic_inverse",
             "geodesic_inverse(lat1, lon1, lat2, lon2, a, f, deg) -> (s12, azi1, azi2)\n\n"
             "Distance (m) and azimuths in [0, 360) of the geodesic between two points."),
    KV_ENTRY(GeodesicDirect, "geodesic_direct",
             "geodesic_direct(lat1, lon1, azi1, s12, a, f, deg) -> (lat2, lon2, azi2)\n\n"
             "End point and azimuth there of the geodesic from a point along an azimuth for s12 m."),
    KV_ENTRY(GeodesicEdge, "_geodesic_edge",
             "_geodesic_edge(lat1, lon1, lat2, lon2, a, f, deg) -> (s12, S12, cross)\n\n"
             "Length, area to the equator (m^2) and crossing of longitude 0 (+1, -1, 0) of a polygon edge."),
};

char double_types[16];
void* loop_data[std::size(conversions)];
PyUFuncGenericFunction loop_funcs[std::size(conversions)];

/// The conversion whose ufunc is `u`, or null.
const Conversion* find(PyObject* u) noexcept {
    for (const Conversion& c : conversions)
        if (c.ufunc == u) return &c;
    return nullptr;
}

/// Exact Python float or int (not bool) as a double; false when `o` is anything else.
bool plain_number(PyObject* o, double& v) noexcept {
    if (PyFloat_CheckExact(o)) {
        v = PyFloat_AS_DOUBLE(o);
        return true;
    }
    if (PyLong_CheckExact(o)) {
        v = PyLong_AsDouble(o);
        if (v == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();  // too large for a double: the ufunc path reports it
            return false;
        }
        return true;
    }
    return false;
}

/// _point(ufunc, *numbers): one point through the vector code, as a tuple of NumPy float64
/// scalars; None when an argument is not a plain Python float or int (the caller then calls
/// the ufunc). The block holds the point in every lane.
PyObject* point(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return frame::translate<PyObject*>(nullptr, [&]() -> PyObject* {
        const Conversion* c = nargs > 0 ? find(args[0]) : nullptr;
        if (!c) frame::raise(PyExc_TypeError, "_point: the first argument must be one of the module's ufuncs");
        if (nargs != 1 + c->nin)
            frame::raise(PyExc_TypeError, "_point: %s takes %d numbers, got %zd", c->name, c->nin, nargs - 1);
        alignas(64) double in[9][block];
        alignas(64) double out[3][block];
        const double* ip[9];
        double* op[3];
        Py_ssize_t st[9] = {};
        for (int k = 0; k < c->nin; ++k) {
            double v;
            if (!plain_number(args[1 + k], v)) Py_RETURN_NONE;
            for (int i = 0; i < block; ++i) in[k][i] = v;
            ip[k] = in[k];
        }
        for (int k = 0; k < c->nout; ++k) op[k] = out[k];
        const int before = fp_flags();
        c->fns[level_in_use()](ip, st, op, 1);
        restore_fp_flags(before);
        frame::Ref result = frame::Ref::steal(PyTuple_New(c->nout));
        for (int k = 0; k < c->nout; ++k) {
            PyObject* s = frame::check(PyArrayScalar_New(Double));
            PyArrayScalar_ASSIGN(s, Double, out[k][0]);
            PyTuple_SET_ITEM(result.get(), k, s);
        }
        return result.release();
    });
}

PyObject* simd_level(PyObject*, PyObject*) noexcept { return PyUnicode_FromString(level_names[level_in_use()]); }

/// _set_simd_level(name): use a vector level the CPU has (for tests and benchmarks); returns
/// the previous level's name.
PyObject* set_simd_level(PyObject*, PyObject* arg) noexcept {
    if (!PyUnicode_Check(arg)) {
        PyErr_SetString(PyExc_TypeError, "_set_simd_level: name must be a str");
        return nullptr;
    }
    const char* name = frame::translate<const char*>(nullptr, [&] { return frame::c_text(arg, "name"); });
    if (!name) return nullptr;
    for (int l = 0; l < nlevels; ++l) {
        if (std::strcmp(name, level_names[l]) != 0) continue;
        if (l < best_level) {
            PyErr_Format(PyExc_ValueError, "_set_simd_level: this CPU does not run %s", name);
            return nullptr;
        }
        PyObject* previous = PyUnicode_FromString(level_names[level_in_use()]);
        if (previous) level.store(Level(l), std::memory_order_relaxed);
        return previous;
    }
    PyErr_Format(PyExc_ValueError, "_set_simd_level: unknown level %R", arg);
    return nullptr;
}

PyMethodDef methods[] = {
    {"_point", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(point)), METH_FASTCALL,
     "_point(ufunc, /, *numbers)\n--\n\nOne point of `ufunc` given as Python numbers (None for anything else)."},
    {"simd_level", simd_level, METH_NOARGS,
     "simd_level()\n--\n\n"
     "The vector instruction set the loops run with: \"avx512f\", \"avx2\", \"sse4.2\" or \"baseline\".\n\n"
     "Examples\n--------\n>>> from kelvara.geodesy.ufuncs import simd_level\n"
     ">>> simd_level() in (\"avx512f\", \"avx2\", \"sse4.2\", \"baseline\")\nTrue\n"},
    {"_set_simd_level", set_simd_level, METH_O,
     "_set_simd_level(name, /)\n--\n\nRun the loops at another vector level the CPU has; returns the previous one."},
    {nullptr, nullptr, 0, nullptr}};

void body(frame::Module&, PyObject* module) {
    if (_import_umath() < 0) throw frame::PyErrorSet{};
    frame::threads::bind();
    best_level = detect_level();
    level.store(best_level, std::memory_order_relaxed);
    frame::check_status(PyModule_AddFunctions(module, methods));
    std::memset(double_types, NPY_DOUBLE, sizeof double_types);
    frame::Ref module_name = frame::str("kelvara.geodesy.ufuncs");
    for (std::size_t i = 0; i < std::size(conversions); ++i) {
        Conversion& c = conversions[i];
        loop_funcs[i] = c.loop;
        loop_data[i] = &c;
        // NumPy keeps the pointers to the loop, data and type arrays: all have static storage.
        frame::Ref u = frame::Ref::steal(PyUFunc_FromFuncAndData(&loop_funcs[i], &loop_data[i], double_types, 1,
                                                                 c.nin, c.nout, PyUFunc_None, c.name, c.doc, 0));
        // Pickled by name (Dask ships them to worker processes): they live in this module.
        frame::check_status(PyObject_SetAttrString(u.get(), "__module__", module_name.get()));
        c.ufunc = u.get();
        frame::check_status(PyModule_AddObjectRef(module, c.name, u.get()));
    }
}

frame::Module ufuncs_module(
    "kelvara.geodesy.ufuncs", "ufuncs",
    "The geodesy conversions as NumPy ufuncs.\n\n"
    "Each conversion takes the point's three coordinates, the observer's three where it has one,\n"
    "then the ellipsoid's equatorial radius a (m) and flattening f (except enu2aer and aer2enu),\n"
    "then deg (1 for degrees, 0 for radians); all broadcast. kelvara.geodesy wraps them with\n"
    "pymap3d's signatures, and maps them over Dask arrays.\n\n"
    "Examples\n--------\n"
    ">>> from kelvara.geodesy import ufuncs\n"
    ">>> lat, lon, alt = ufuncs.ecef2geodetic(6378137.0, 0.0, 0.0, 6378137.0, 1 / 298.257223563, 1)\n"
    ">>> float(lat), float(lon), float(alt)\n"
    "(0.0, 0.0, 0.0)\n",
    "kelvara/geodesy/ufuncs.cpp", {}, body, frame::import_numpy);

}  // namespace

PyMODINIT_FUNC PyInit_ufuncs() { return ufuncs_module.init(); }
