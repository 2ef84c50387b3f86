// Argument parsing for positional and keyword arguments, with the interpreter's wording for
// wrong counts, unknown or repeated keywords and mistyped arguments.
#pragma once

#include "core.hpp"

#include <array>

namespace frame {

/// Parameters of one callable: its name as messages show it, the parameter names, and how
/// many of the leading parameters are required. Keyword names are interned on first use.
template <std::size_t N>
struct Signature {
    const char* name;
    std::array<const char*, N> params;
    std::size_t required = N;
    mutable std::array<PyObject*, N> keys{};
};

template <std::size_t N>
using Args = std::array<PyObject*, N>;  // borrowed; nullptr for an optional argument not given

/// "f() takes exactly 2 positional arguments (1 given)" and its "at least"/"at most" forms.
[[noreturn]] inline void raise_arg_count(const char* fname, bool exact, Py_ssize_t min, Py_ssize_t max,
                                         Py_ssize_t found) {
    const char* how;
    Py_ssize_t expected;
    if (found < min) { how = "at least"; expected = min; }
    else { how = "at most"; expected = max; }
    if (exact) how = "exactly";
    raise(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", fname, how, expected,
          expected == 1 ? "" : "s", found);
}

/// "f() takes 2 positional arguments but 3 were given" (or "takes from 1 to 2 ...") when more
/// than `max` positional arguments were given: the parameters after the first `max` are
/// keyword-only, and `min` of them are required.
inline void positional_at_most(const char* fname, Py_ssize_t given, Py_ssize_t max, Py_ssize_t min) {
    if (given <= max) return;
    const char* verb = given == 1 ? "was" : "were";
    if (min == max)
        raise(PyExc_TypeError, "%.200s() takes %zd positional argument%.1s but %zd %s given", fname, max,
              max == 1 ? "" : "s", given, verb);
    raise(PyExc_TypeError, "%.200s() takes from %zd to %zd positional arguments but %zd %s given", fname, min, max,
          given, verb);
}

/// "Argument 'x' has incorrect type (expected T, got U)" unless `o` is an instance of `t`
/// (exactly `t` when `exact`), or None where None is allowed.
inline void check_arg_type(PyObject* o, PyTypeObject* t, const char* name, bool none_ok = true, bool exact = false) {
    if (none_ok && o == Py_None) return;
    if (Py_IS_TYPE(o, t) || (!exact && PyObject_TypeCheck(o, t))) return;
    raise(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name, t->tp_name,
          Py_TYPE(o)->tp_name);
}

namespace detail {

/// Intern the parameter names on first use, all or nothing: a failure part-way drops the names
/// made so far, so no key is ever left null beside set ones.
template <std::size_t N>
inline void intern_keys(const Signature<N>& sig) {
    if constexpr (N == 0) return;
    else {
        if (sig.keys[N - 1]) return;  // the last key is set only once all are
        std::array<PyObject*, N> made{};
        for (std::size_t i = 0; i < N; ++i) {
            made[i] = PyUnicode_InternFromString(sig.params[i]);
            if (!made[i]) {
                for (PyObject* k : made) Py_XDECREF(k);
                throw PyErrorSet{};
            }
        }
        sig.keys = made;
    }
}

template <std::size_t N>
inline Py_ssize_t find_key(const Signature<N>& sig, PyObject* key) {
    for (std::size_t i = 0; i < N; ++i)
        if (sig.keys[i] == key) return Py_ssize_t(i);
    for (std::size_t i = 0; i < N; ++i) {
        int eq = PyUnicode_Compare(sig.keys[i], key);
        if (eq == 0) return Py_ssize_t(i);
        if (eq == -1 && PyErr_Occurred()) throw PyErrorSet{};
    }
    return -1;
}

/// Shared by the fast-call and the tuple/dict forms; `each_kw(fn)` calls fn(name, value).
template <std::size_t N, class KwWalk>
inline Args<N> parse(const Signature<N>& sig, PyObject* const* pos, Py_ssize_t npos, Py_ssize_t nkw, KwWalk each_kw) {
    const bool exact = sig.required == N;
    if (npos > Py_ssize_t(N) || (npos < Py_ssize_t(sig.required) && nkw == 0))
        raise_arg_count(sig.name, exact, Py_ssize_t(sig.required), Py_ssize_t(N), npos);
    Args<N> out{};
    for (Py_ssize_t i = 0; i < npos; ++i) out[i] = pos[i];
    if (nkw == 0) return out;
    intern_keys(sig);
    // Keywords that are not text are refused before anything is matched.
    each_kw([&](PyObject* key, PyObject*) {
        if (!PyUnicode_Check(key)) raise(PyExc_TypeError, "%.200s() keywords must be strings", sig.name);
    });
    // Required parameters first: the first one missing is reported as a positional count.
    for (std::size_t i = std::size_t(npos); i < N; ++i) {
        each_kw([&](PyObject* key, PyObject* value) {
            if (!out[i] && find_key(sig, key) == Py_ssize_t(i)) out[i] = value;
        });
        if (!out[i] && i < sig.required) raise_arg_count(sig.name, exact, Py_ssize_t(sig.required), Py_ssize_t(N), Py_ssize_t(i));
    }
    each_kw([&](PyObject* key, PyObject*) {
        Py_ssize_t at = find_key(sig, key);
        if (at < 0) raise(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, key);
        if (at < npos) raise(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", sig.name, key);
    });
    return out;
}

}  // namespace detail

/// Parse a METH_FASTCALL | METH_KEYWORDS call.
template <std::size_t N>
inline Args<N> parse(const Signature<N>& sig, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    Py_ssize_t npos = PyVectorcall_NARGS(nargsf);
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    return detail::parse(sig, args, npos, nkw, [&](auto&& fn) {
        for (Py_ssize_t j = 0; j < nkw; ++j) fn(PyTuple_GET_ITEM(kwnames, j), args[npos + j]);
    });
}

/// Parse a tuple-and-dict call (tp_new, tp_init).
template <std::size_t N>
inline Args<N> parse(const Signature<N>& sig, PyObject* args, PyObject* kwargs) {
    Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
    return detail::parse(sig, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), nkw, [&](auto&& fn) {
        Py_ssize_t pos = 0;
        PyObject *k, *v;
        while (kwargs && PyDict_Next(kwargs, &pos, &k, &v)) fn(k, v);
    });
}

/// Refuse any argument: "f() takes exactly 0 positional arguments (n given)", or the keyword
/// message for the first keyword.
inline void parse_none(const char* fname, PyObject* args, PyObject* kwargs) {
    Signature<0> s{fname, {}};
    detail::parse(s, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), kwargs ? PyDict_GET_SIZE(kwargs) : 0,
                  [&](auto&& fn) {
                      Py_ssize_t pos = 0;
                      PyObject *k, *v;
                      while (kwargs && PyDict_Next(kwargs, &pos, &k, &v)) fn(k, v);
                  });
}

}  // namespace frame
