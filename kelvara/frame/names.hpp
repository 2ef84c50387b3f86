// Interned names and small constants a module keeps for the life of the process. Each is
// declared once, at namespace scope of the module's file:
//
//     const frame::Name np{"np"};                       // an interned str
//     const frame::KeyNames kw_shape_dtype{"shape", "dtype"};   // a tuple of interned str (kwnames)
//     const frame::Constant three{[] { return PyLong_FromLong(3); }};
//
// and used as a PyObject* after the module's exec step has run `intern_all()` (the frame's
// Module does so before the module body). Initialisation is all or nothing: when one object
// cannot be made, those made in the same pass are dropped and none is set, so a retried import
// starts from a clean state.
#pragma once

#include "core.hpp"

#include <initializer_list>
#include <vector>

namespace frame {

/// One process-lifetime object made by `intern_all()`; null before it.
class Interned {
public:
    Interned(const Interned&) = delete;
    Interned& operator=(const Interned&) = delete;

    PyObject* get() const noexcept { return obj_; }
    operator PyObject*() const noexcept { return obj_; }

protected:
    Interned() { registry().push_back(this); }
    ~Interned() = default;

private:
    friend void intern_all();
    friend void forget_interned() noexcept;
    /// A new reference, or null with an exception set.
    virtual PyObject* make() const noexcept = 0;

    static std::vector<Interned*>& registry() {
        static std::vector<Interned*> all;  // one per shared library (hidden visibility)
        return all;
    }

    mutable PyObject* obj_ = nullptr;
};

/// An interned str.
class Name final : public Interned {
public:
    explicit Name(const char* text) : text_(text) {}
    const char* text() const noexcept { return text_; }

private:
    PyObject* make() const noexcept override { return PyUnicode_InternFromString(text_); }
    const char* text_;
};

/// A tuple of interned str: the keyword names of a vectorcall.
class KeyNames final : public Interned {
public:
    KeyNames(std::initializer_list<const char*> texts) : texts_(texts) {}

private:
    PyObject* make() const noexcept override {
        PyObject* t = PyTuple_New(Py_ssize_t(texts_.size()));
        if (!t) return nullptr;
        for (std::size_t i = 0; i < texts_.size(); ++i) {
            PyObject* s = PyUnicode_InternFromString(texts_[i]);
            if (!s) { Py_DECREF(t); return nullptr; }
            PyTuple_SET_ITEM(t, Py_ssize_t(i), s);
        }
        return t;
    }
    std::vector<const char*> texts_;
};

/// Any other constant, made by a function returning a new reference (or null with an error).
class Constant final : public Interned {
public:
    explicit Constant(PyObject* (*maker)()) : maker_(maker) {}

private:
    PyObject* make() const noexcept override { return maker_(); }
    PyObject* (*maker_)();
};

/// Make every declared object not made yet; all or nothing (see the top of this file).
inline void intern_all() {
    auto& all = Interned::registry();
    std::vector<PyObject*> made(all.size(), nullptr);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i]->obj_) continue;
        made[i] = all[i]->make();
        if (!made[i]) {
            for (PyObject* o : made) Py_XDECREF(o);
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "a module constant could not be made");
            throw PyErrorSet{};
        }
    }
    for (std::size_t i = 0; i < all.size(); ++i)
        if (made[i]) all[i]->obj_ = made[i];
}

/// Drop every object made so far (tests of the all-or-nothing rule use it).
inline void forget_interned() noexcept {
    for (Interned* n : Interned::registry()) Py_CLEAR(n->obj_);
}

}  // namespace frame
