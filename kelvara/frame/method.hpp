// Entry points written once: a method is a plain C++ function taking its record and its
// arguments and returning a Ref; the template below gives it the fast-call boundary (profile
// site, argument parsing with the interpreter's messages, C++ exceptions turned into a null
// return). The names come from the template arguments, so the site, the messages and the
// method table cannot disagree.
//
//     frame::Ref lla_from_pos(EllipsoidObject* self, PyObject* r) { ... }
//     PyMethodDef methods[] = {frame::Method<"lla_from_pos", "r">::def<lla_from_pos>(doc), ...};
#pragma once

#include "args.hpp"
#include "profile.hpp"

#include <cstddef>
#include <utility>

namespace frame {

/// A string literal usable as a template argument.
template <std::size_t N>
struct Text {
    char value[N];
    constexpr Text(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i) value[i] = s[i];
    }
};

namespace detail {
template <class F>
struct EntryTraits;
template <class Self, class... P>
struct EntryTraits<Ref (*)(Self*, P...)> {
    using self = Self;
    static constexpr std::size_t arity = sizeof...(P);
};
}  // namespace detail

/// The METH_FASTCALL | METH_KEYWORDS method `Name(self, Params...)` (or module function: self is
/// the module) whose first `Positional` parameters may be given by position and the others by
/// keyword only; the last parameters from `Required` on may be left out (the implementation then
/// gets nullptr for them). Too many positional arguments are refused before any is parsed, with
/// "f() takes <Positional> positional arguments but n were given".
template <std::size_t Positional, std::size_t Required, Text Name, Text... Params>
struct MethodWithKeywordOnly {
    static constexpr std::size_t N = sizeof...(Params);
    static_assert(Required <= N && Positional <= N);

    /// The entry point of `Impl`, a `Ref Impl(Self*, PyObject*...)` with one argument per parameter.
    template <auto Impl>
    static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
        using Traits = detail::EntryTraits<decltype(Impl)>;
        static_assert(Traits::arity == N, "one argument per declared parameter");
        static Site site{Name.value};
        static const Signature<N> sig{Name.value, {Params.value...}, Required};
        return guarded(site, [&]() -> Ref {
            if constexpr (Positional < N)
                positional_at_most(Name.value, PyVectorcall_NARGS(nargsf), Py_ssize_t(Positional),
                                   Py_ssize_t(Positional));
            Args<N> a = parse(sig, args, nargsf, kwnames);
            auto* s = reinterpret_cast<typename Traits::self*>(self);
            return [&]<std::size_t... I>(std::index_sequence<I...>) { return Impl(s, a[I]...); }(
                std::make_index_sequence<N>{});
        });
    }

    /// The method-table entry of `Impl`.
    template <auto Impl>
    static PyMethodDef def(const char* doc) noexcept {
        return {Name.value, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call<Impl>)),
                METH_FASTCALL | METH_KEYWORDS, doc};
    }
};

/// The METH_FASTCALL | METH_KEYWORDS method `Name(self, Params...)`; the last parameters from
/// `Required` on may be left out (the implementation then gets nullptr for them).
template <std::size_t Required, Text Name, Text... Params>
struct MethodWithDefaults : MethodWithKeywordOnly<sizeof...(Params), Required, Name, Params...> {};

/// A method whose parameters are all required.
template <Text Name, Text... Params>
using Method = MethodWithDefaults<sizeof...(Params), Name, Params...>;

/// `entry` (a method-table entry made above) as a classmethod: its implementation gets the class.
inline PyMethodDef class_method(PyMethodDef entry) noexcept {
    entry.ml_flags |= METH_CLASS;
    return entry;
}

/// A property getter `Ref Impl(Self*)` with its profile site ("__get__").
template <auto Impl>
PyObject* getter(PyObject* self, void*) noexcept {
    using Self = typename detail::EntryTraits<decltype(Impl)>::self;
    static Site site{"__get__"};
    return guarded(site, [&] { return Impl(reinterpret_cast<Self*>(self)); });
}

}  // namespace frame
