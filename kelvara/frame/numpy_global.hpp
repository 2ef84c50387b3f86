// NumPy as a module's Python code reaches it: through a module global ("np" or "numpy"), looked
// up at every call so that rebinding it is honoured. Python-level calls only, so modules that do
// not use NumPy's C interface can allocate with it too.
#pragma once

#include "globals.hpp"
#include "names.hpp"

namespace frame {

namespace numpy_names {
inline const Name zeros{"zeros"};
inline const Name zeros_like{"zeros_like"};
inline const Name asarray{"asarray"};
inline const Name double_{"double"};
inline const Name shape{"shape"};
inline const Name ndim{"ndim"};
inline const KeyNames kw_shape_dtype{"shape", "dtype"};
inline const KeyNames kw_dtype{"dtype"};
}  // namespace numpy_names

/// NumPy reached through the module global `global` of this library's module.
class NumpyGlobal {
public:
    explicit NumpyGlobal(const Name& global) noexcept : global_(global) {}

    Ref module() const { return module_global(global_); }
    Ref attr(PyObject* name) const { return getattr(module().get(), name); }
    /// numpy.double
    Ref double_() const { return attr(numpy_names::double_); }

    /// numpy.zeros(shape=shape, dtype=dtype); a null dtype means numpy.double (read after zeros).
    Ref zeros(PyObject* shape, PyObject* dtype = nullptr) const {
        Ref np = module();
        Ref fn = getattr(np.get(), numpy_names::zeros);
        Ref dbl;
        if (!dtype) {
            dbl = getattr(np.get(), numpy_names::double_);
            dtype = dbl.get();
        }
        PyObject* argv[] = {nullptr, shape, dtype};
        return Ref::steal(PyObject_Vectorcall(fn.get(), argv + 1, PY_VECTORCALL_ARGUMENTS_OFFSET,
                                              numpy_names::kw_shape_dtype));
    }

    /// numpy.zeros_like(x)
    Ref zeros_like(PyObject* x) const {
        Ref fn = attr(numpy_names::zeros_like);
        return call(fn.get(), x);
    }

    /// numpy.asarray(obj, dtype=dtype), or numpy.asarray(obj) when dtype is null.
    Ref asarray(PyObject* obj, PyObject* dtype = nullptr) const {
        Ref fn = attr(numpy_names::asarray);
        PyObject* argv[] = {nullptr, obj, dtype};
        return Ref::steal(PyObject_Vectorcall(fn.get(), argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                              dtype ? numpy_names::kw_dtype.get() : nullptr));
    }

private:
    const Name& global_;
};

}  // namespace frame
