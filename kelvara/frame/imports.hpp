// Python-level `from <module> import <name>` with the interpreter's fallback: a name the module
// lacks is looked up in sys.modules as a submodule before the import fails.
#pragma once

#include "core.hpp"

namespace frame {

/// `from module_name import name`: the attribute, else sys.modules["module_name.name"], else
/// ImportError "cannot import name <name>".
inline Ref import_from(const char* module_name, const char* name) {
    Ref module = import(module_name);
    Ref value = getattr_optional(module.get(), name);
    if (value) return value;
    Ref full = Ref::steal(PyUnicode_FromFormat("%s.%s", module_name, name));
    PyObject* sub = PyDict_GetItemWithError(PyImport_GetModuleDict(), full.get());
    if (sub) return Ref::borrow(sub);
    if (PyErr_Occurred()) throw PyErrorSet{};
    Ref n = str(name);
    raise(PyExc_ImportError, "cannot import name %S", n.get());
}

}  // namespace frame
