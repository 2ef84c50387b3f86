// kelvara.datamodel.structured: the NumPy record types in which results are returned.
#include "../frame/frame.hpp"
#include "records.hpp"

namespace {

struct FieldSpec {
    const char* name;
    const char* type;  // attribute of numpy
    int count;         // 0 for a scalar field, else a (count,) sub-array
};

/// numpy.dtype([(name, numpy.<type>[, (count,)]), ...]) — packed, no align.
frame::Ref make_dtype(PyObject* numpy, PyObject* dtype_cls, std::initializer_list<FieldSpec> fields) {
    frame::Ref list = frame::Ref::steal(PyList_New(0));
    for (const FieldSpec& f : fields) {
        frame::Ref type = frame::getattr(numpy, f.type);
        frame::Ref item = f.count ? frame::Ref::steal(Py_BuildValue("(sO(i))", f.name, type.get(), f.count))
                                  : frame::Ref::steal(Py_BuildValue("(sO)", f.name, type.get()));
        frame::check_status(PyList_Append(list.get(), item.get()));
    }
    return frame::call(dtype_cls, list.get());
}

void body(frame::Module&, PyObject* module) {
    frame::Ref numpy = frame::import("numpy");
    frame::check_status(PyModule_AddObjectRef(module, "numpy", numpy.get()));
    frame::Ref dtype = frame::getattr(numpy.get(), "dtype");
    frame::check_status(PyModule_AddObjectRef(module, "dtype", dtype.get()));
    auto add = [&](const char* name, std::initializer_list<FieldSpec> fields) {
        frame::Ref d = make_dtype(numpy.get(), dtype.get(), fields);
        frame::check_status(PyModule_AddObjectRef(module, name, d.get()));
    };
    add("SurfCoord_dtype", {{"lat", "double", 0}, {"lon", "double", 0}});
    add("LLA_dtype", {{"lat", "double", 0}, {"lon", "double", 0}, {"alt", "double", 0}});
    add("GeodeticState_dtype", {{"lat", "double", 0}, {"lon", "double", 0}, {"alt", "double", 0},
                                {"lat_dot", "double", 0}, {"lon_dot", "double", 0}, {"alt_dot", "double", 0}});
    add("ENU_dtype", {{"u_east", "double", 3}, {"u_north", "double", 3}, {"u_up", "double", 3}});
    add("AER_dtype", {{"azimuth", "double", 0}, {"elevation", "double", 0}, {"range", "double", 0}});
    add("DTF_dtype", {{"year", "uint16", 0}, {"month", "uint8", 0}, {"day", "uint8", 0}, {"hour", "uint8", 0},
                      {"minute", "uint8", 0}, {"second", "double", 0}});
}

frame::Module structured_module("kelvara.datamodel.structured", "structured",
                                "NumPy record types of kelvara and their packed C layouts.", "kelvara/datamodel/structured.cpp",
                                {}, body);

}  // namespace

PyMODINIT_FUNC PyInit_structured() { return structured_module.init(); }
