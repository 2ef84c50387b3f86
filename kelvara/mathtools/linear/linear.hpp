// C-level interface of kelvara.mathtools.linear.linear for client extension modules: the
// function types of the published entries, their signature texts, and a binder that checks
// both when a client module loads. Include from a client's translation unit and bind in exec:
//
//     auto* dot = kelvara::linear::dot.bind();   // double (*)(double*, double*)
//
// Error protocol: a `double` entry that returns exactly -1.0 may have left a Python exception
// pending (check PyErr_Occurred under the interpreter lock); after a `void` entry check
// PyErr_Occurred. The array entries return a slice with a null `data` on failure; their argument
// is borrowed and their result is owned by the caller (release it with frame::release).
#pragma once

#include "../../frame/buffer.hpp"
#include "../../frame/capi.hpp"

namespace kelvara::linear {

inline constexpr const char* module_name = "kelvara.mathtools.linear.linear";

using scale_fn = void(double, double*, double*);
using add_fn = void(double*, double*, double*);
using sub_fn = void(double*, double*, double*);
using dot_fn = double(double*, double*);
using cross_fn = void(double*, double*, double*);
using norm_fn = double(double*);
using norm_array_fn = frame::Slice(frame::Slice);
using angle_fn = double(double*, double*);
using normalize_fn = void(double*, double*);
using normalize_array_fn = frame::Slice(frame::Slice);
using mat_x_vec_fn = void(double (*)[3], double*, double*);

/// One published entry: its name, its signature text and its function type.
template <class Fn>
struct Entry {
    using type = Fn;
    const char* name;
    const char* signature;

    /// Bind the entry from the loaded module; ImportError/TypeError when missing or mismatched.
    Fn* bind() const { return frame::import_function<Fn>(module_name, name, signature); }
};

inline constexpr Entry<scale_fn> scale{"scale", "void (double const , double *, double *)"};
inline constexpr Entry<add_fn> add{"add", "void (double *, double *, double *)"};
inline constexpr Entry<sub_fn> sub{"sub", "void (double *, double *, double *)"};
inline constexpr Entry<dot_fn> dot{"dot", "double (double *, double *)"};
inline constexpr Entry<cross_fn> cross{"cross", "void (double *, double *, double *)"};
inline constexpr Entry<norm_fn> norm{"norm", "double (double *)"};
inline constexpr Entry<norm_array_fn> norm_array{"norm_array", "__Pyx_memviewslice (__Pyx_memviewslice)"};
inline constexpr Entry<angle_fn> angle{"angle", "double (double *, double *)"};
inline constexpr Entry<normalize_fn> normalize{"normalize", "void (double *, double *)"};
inline constexpr Entry<normalize_array_fn> normalize_array{"normalize_array", "__Pyx_memviewslice (__Pyx_memviewslice)"};
inline constexpr Entry<mat_x_vec_fn> mat_x_vec{"mat_x_vec", "void (double (*)[3], double *, double *)"};

}  // namespace kelvara::linear
