// Typed views over buffer exporters: 2-D double views of any strides, 1-D record views checked
// against a packed C twin, and the memory-view object that carries a view back to Python.
#pragma once

#include "core.hpp"
#include "pickle.hpp"

#include <cstdint>
#include <string>

namespace frame {

/// A typed view passed by value between modules (layout shared with C clients). `memview` is
/// an owned reference to the memory-view object that keeps the exporter alive; a view with a
/// null `data` is empty (unset, or the failure result of a C-level function).
struct Slice {
    PyObject* memview;
    char* data;
    Py_ssize_t shape[8];
    Py_ssize_t strides[8];
    Py_ssize_t suboffsets[8];
};

inline Slice empty_slice() noexcept { return Slice{nullptr, nullptr, {}, {}, {-1, -1, -1, -1, -1, -1, -1, -1}}; }

/// Drop the reference a slice holds and leave it empty.
inline void release(Slice& s) noexcept {
    Py_CLEAR(s.memview);
    s = empty_slice();
}

// ---------------------------------------------------------------------------------------------
// The memory-view object: owns one acquired Py_buffer and re-exports it unchanged.

struct MemoryViewObject {
    PyObject_HEAD
    Py_buffer view;
};

namespace detail {
inline void memview_dealloc(PyObject* self) {
    auto* mv = reinterpret_cast<MemoryViewObject*>(self);
    PyTypeObject* tp = Py_TYPE(self);
    if (mv->view.obj) PyBuffer_Release(&mv->view);
    tp->tp_free(self);
    Py_DECREF(tp);
}

inline int memview_getbuffer(PyObject* self, Py_buffer* out, int flags) {
    auto* mv = reinterpret_cast<MemoryViewObject*>(self);
    const Py_buffer& v = mv->view;
    if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE && v.readonly) {
        PyErr_SetString(PyExc_BufferError, "memory view is read-only");
        return -1;
    }
    if ((flags & PyBUF_STRIDES) != PyBUF_STRIDES && !PyBuffer_IsContiguous(&v, 'C')) {
        PyErr_SetString(PyExc_BufferError, "memory view is not C-contiguous");
        return -1;
    }
    *out = v;
    out->obj = Py_NewRef(self);
    out->internal = nullptr;
    if (!(flags & PyBUF_FORMAT)) out->format = nullptr;
    if ((flags & PyBUF_ND) != PyBUF_ND) out->shape = nullptr;
    if ((flags & PyBUF_STRIDES) != PyBUF_STRIDES) out->strides = nullptr;
    out->suboffsets = nullptr;
    return 0;
}

inline PyObject* memview_len_shape(PyObject* self, void*) {
    auto* mv = reinterpret_cast<MemoryViewObject*>(self);
    PyObject* t = PyTuple_New(mv->view.ndim);
    if (!t) return nullptr;
    for (int i = 0; i < mv->view.ndim; ++i) {
        PyObject* n = PyLong_FromSsize_t(mv->view.shape[i]);
        if (!n) { Py_DECREF(t); return nullptr; }
        PyTuple_SET_ITEM(t, i, n);
    }
    return t;
}
}  // namespace detail

/// The memory-view type of this shared library, created on first use.
inline PyTypeObject* memview_type() {
    static PyTypeObject* type = nullptr;
    if (type) return type;
    static PyGetSetDef getset[] = {{"shape", detail::memview_len_shape, nullptr, nullptr, nullptr}, {}};
    static PyMethodDef methods[] = {REFUSING_PICKLE_METHODS("memoryview"), {}};
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(detail::memview_dealloc)},
        {Py_tp_getset, getset},
        {Py_tp_methods, methods},
        {Py_bf_getbuffer, reinterpret_cast<void*>(detail::memview_getbuffer)},
        {0, nullptr},
    };
    static PyType_Spec spec{"kelvara.memoryview", sizeof(MemoryViewObject), 0, Py_TPFLAGS_DEFAULT, slots};
    PyObject* t = check(PyType_FromSpec(&spec));
    install_pickle_hooks(reinterpret_cast<PyTypeObject*>(t));
    type = reinterpret_cast<PyTypeObject*>(t);
    return type;
}

/// Wrap an acquired buffer (ownership passes to the new object) as a memory-view object.
inline Ref wrap_buffer(Py_buffer& view) {
    PyTypeObject* tp = memview_type();
    auto* mv = PyObject_New(MemoryViewObject, tp);
    if (!mv) {
        PyBuffer_Release(&view);
        throw PyErrorSet{};
    }
    mv->view = view;
    view.obj = nullptr;
    return Ref::steal(reinterpret_cast<PyObject*>(mv));
}

// ---------------------------------------------------------------------------------------------
// Validation with the buffer layer's messages.

namespace detail {
inline const char* c_type_name(char code) {
    switch (code) {
        case 'b': return "'signed char'";
        case 'B': return "'unsigned char'";
        case 'h': return "'short'";
        case 'H': return "'unsigned short'";
        case 'i': return "'int'";
        case 'I': return "'unsigned int'";
        case 'l': return "'long'";
        case 'L': return "'unsigned long'";
        case 'q': return "'long long'";
        case 'Q': return "'unsigned long long'";
        case 'e': return "'half'";
        case 'f': return "'float'";
        case 'd': return "'double'";
        case 'g': return "'long double'";
        case '?': return "'bool'";
        case 'O': return "'Python object'";
        case 'T': return "a struct";
        default: return "an unknown type";
    }
}

/// The format with native byte-order marks removed; big-endian data is refused.
inline std::string native_format(const char* fmt) {
    std::string out;
    for (const char* c = fmt ? fmt : "B"; *c; ++c) {
        if (*c == '>' || *c == '!') raise(PyExc_ValueError, "Big-endian buffer not supported on little-endian compiler");
        if (*c == '<' || *c == '=' || *c == '@') continue;
        out += *c;
    }
    return out;
}

inline void check_ndim(const Py_buffer& v, int ndim) {
    if (v.ndim != ndim)
        raise(PyExc_ValueError, "Buffer has wrong number of dimensions (expected %d, got %d)", ndim, v.ndim);
}

inline void check_itemsize(const Py_buffer& v, std::size_t size, const char* name) {
    if (std::size_t(v.itemsize) != size)
        raise(PyExc_ValueError, "Item size of buffer (%zu byte%s) does not match size of '%s' (%zu byte%s)",
              std::size_t(v.itemsize), v.itemsize == 1 ? "" : "s", name, size, size == 1 ? "" : "s");
}

/// Acquire a strided buffer with its format; `writable` asks for write access.
inline void acquire(PyObject* obj, Py_buffer& v, bool writable) {
    if (PyObject_GetBuffer(obj, &v, writable ? PyBUF_RECORDS : PyBUF_RECORDS_RO) < 0) throw PyErrorSet{};
}

/// True when every element of a non-empty buffer starts on an `align`-byte boundary.
inline bool aligned(const Py_buffer& v, std::size_t align) noexcept {
    for (int i = 0; i < v.ndim; ++i)
        if (v.shape[i] == 0) return true;  // no element is ever touched
    if (reinterpret_cast<std::uintptr_t>(v.buf) % align) return false;
    for (int i = 0; v.strides && i < v.ndim; ++i)
        if (v.shape[i] > 1 && std::size_t(v.strides[i] < 0 ? -v.strides[i] : v.strides[i]) % align) return false;
    return true;
}

struct BufferGuard {
    Py_buffer& v;
    bool armed = true;
    ~BufferGuard() { if (armed && v.obj) PyBuffer_Release(&v); }
};
}  // namespace detail

/// Fill `s` from an acquired buffer, moving the buffer into a memory-view object.
inline Slice slice_from_buffer(Py_buffer& v) {
    Slice s = empty_slice();
    char* data = static_cast<char*>(v.buf);
    int ndim = v.ndim;
    for (int i = 0; i < ndim && i < 8; ++i) {
        s.shape[i] = v.shape[i];
        s.strides[i] = v.strides ? v.strides[i] : 0;
    }
    if (!v.strides && ndim > 0) {  // C-contiguous exporter without strides
        Py_ssize_t stride = v.itemsize;
        for (int i = ndim - 1; i >= 0; --i) { s.strides[i] = stride; stride *= v.shape[i]; }
    }
    s.memview = wrap_buffer(v).release();
    s.data = data;
    return s;
}

/// An `ndim`-dimensional view of doubles over `obj` with any strides; raises the buffer layer's
/// ValueError when the exporter is not such a buffer of native doubles.
inline Slice view_doubles(PyObject* obj, int ndim, bool writable = true) {
    Py_buffer v{};
    detail::acquire(obj, v, writable);
    detail::BufferGuard guard{v};
    detail::check_ndim(v, ndim);
    std::string fmt = detail::native_format(v.format);
    if (fmt != "d") {
        if (fmt.size() == 1 && v.itemsize == 8)
            raise(PyExc_ValueError, "Buffer dtype mismatch, expected %s%s%s but got %s", "'double'", "", "",
                  detail::c_type_name(fmt[0]));
        detail::check_itemsize(v, sizeof(double), "double");
        raise(PyExc_ValueError, "Buffer dtype mismatch, expected %s%s%s but got %s", "'double'", "", "",
              detail::c_type_name(fmt.empty() ? '\0' : fmt[0]));
    }
    if (v.suboffsets) raise(PyExc_ValueError, "Buffer with indirect dimensions is not supported");
    // Elements are read and written as double lvalues (at(), View), so the start and every step
    // must keep double alignment; only a view built over an offset byte buffer lacks it.
    if (!detail::aligned(v, alignof(double)))
        raise(PyExc_ValueError, "Buffer is not aligned for 'double' (%zu bytes)", alignof(double));
    guard.armed = false;
    return slice_from_buffer(v);
}

/// A 2-D view of doubles over `obj` with any strides.
inline Slice view2d(PyObject* obj, bool writable = true) { return view_doubles(obj, 2, writable); }

/// A 1-D view of doubles over `obj` with any stride.
inline Slice view1d(PyObject* obj, bool writable = true) { return view_doubles(obj, 1, writable); }

/// Element (i, j) of a 2-D double slice.
inline double& at(const Slice& s, Py_ssize_t i, Py_ssize_t j) noexcept {
    return *reinterpret_cast<double*>(s.data + i * s.strides[0] + j * s.strides[1]);
}

/// Owning wrapper of a Slice for module code: releases its reference when it goes.
class View {
public:
    View() noexcept : s_(empty_slice()) {}
    explicit View(Slice s) noexcept : s_(s) {}
    View(View&& o) noexcept : s_(o.s_) { o.s_ = empty_slice(); }
    View& operator=(View&& o) noexcept { std::swap(s_, o.s_); return *this; }
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    ~View() { release(s_); }

    bool empty() const noexcept { return !s_.memview; }
    Py_ssize_t rows() const noexcept { return s_.shape[0]; }
    Py_ssize_t cols() const noexcept { return s_.shape[1]; }
    double& operator()(Py_ssize_t i, Py_ssize_t j) const noexcept { return at(s_, i, j); }
    double& operator[](Py_ssize_t i) const noexcept { return *reinterpret_cast<double*>(s_.data + i * s_.strides[0]); }
    const Slice& slice() const noexcept { return s_; }
    /// A new reference to the memory-view object (None-free: raises when the view is unset).
    Ref memview() const {
        if (empty()) raise(PyExc_AttributeError, "Memoryview is not initialized");
        return Ref::borrow(s_.memview);
    }
    /// Hand the slice over to a by-value C interface (the caller now owns its reference).
    Slice release_slice() noexcept { Slice s = s_; s_ = empty_slice(); return s; }

private:
    Slice s_;
};

// ---------------------------------------------------------------------------------------------
// 1-D record views checked against a packed C twin. A twin T declares
//   static constexpr const char* type_name;     e.g. "LLA"
//   static constexpr const char* buffer_format; e.g. "T{d:lat:d:lon:d:alt:}"

template <class T>
class RecordView {
public:
    explicit RecordView(PyObject* obj, bool writable = false) {
        detail::acquire(obj, v_, writable);
        detail::BufferGuard guard{v_};
        detail::check_ndim(v_, 1);
        detail::check_itemsize(v_, sizeof(T), T::type_name);
        if (detail::native_format(v_.format) != T::buffer_format)
            raise(PyExc_ValueError, "Buffer dtype mismatch, expected %s%s%s but got %s", "'", T::type_name, "'",
                  ("'" + std::string(v_.format ? v_.format : "") + "'").c_str());
        if (v_.suboffsets) raise(PyExc_ValueError, "Buffer with indirect dimensions is not supported");
        guard.armed = false;
        stride_ = v_.strides ? v_.strides[0] : Py_ssize_t(sizeof(T));
    }
    ~RecordView() { if (v_.obj) PyBuffer_Release(&v_); }
    RecordView(const RecordView&) = delete;
    RecordView& operator=(const RecordView&) = delete;

    Py_ssize_t size() const noexcept { return v_.shape[0]; }
    T& operator[](Py_ssize_t i) const noexcept { return *reinterpret_cast<T*>(static_cast<char*>(v_.buf) + i * stride_); }

private:
    Py_buffer v_{};
    Py_ssize_t stride_ = 0;
};

}  // namespace frame
