// C-level interface of kelvara.mathtools.ellipsoid.ellipsoid for client extension modules: the
// instance record of `Ellipsoid`, its C-level method table (slot order fixed), and the names
// and signature texts of the module's published C entries.
//
// A client reaches the kernels through the object: `e->vtab->c_lla_from_pos(e, r, &out)`. The
// table of a type is stored in its dict as the unnamed capsule `__pyx_vtable__`; a derived type
// copies its base's table, replaces slots, and stores the copy in its instances' `vtab`, so the
// base's kernels reach the replacement too (they call one another through `self->vtab`).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "../../datamodel/records.hpp"

namespace kelvara {

struct EllipsoidObject;

/// The fourteen per-point kernels, in slot order. None raises or needs the interpreter lock.
struct EllipsoidVTable {
    double (*c_reduced_lat_from_geodetic_lat)(EllipsoidObject* self, double geodetic_lat);
    double (*c_geodetic_lat_from_reduced_lat)(EllipsoidObject* self, double reduced_lat);
    void (*surf_normal_vector)(EllipsoidObject* self, SurfCoord coord, double* u_normal);
    void (*surf_tangent_vector)(EllipsoidObject* self, SurfCoord coord, double* u_east, double* u_north);
    void (*c_enu)(EllipsoidObject* self, SurfCoord coord, ENU_Frame* out);
    void (*c_surf_pos_from_surf_coord)(EllipsoidObject* self, SurfCoord coord, double* r_surf);
    void (*c_surf_coord_from_surf_pos)(EllipsoidObject* self, const double* r_surf, SurfCoord* out);
    double (*c_solve_reduced_lat_equation)(EllipsoidObject* self, const double* r);
    void (*c_lla_from_pos)(EllipsoidObject* self, const double* r, LLA* out);
    void (*c_pos_from_lla)(EllipsoidObject* self, LLA lla, double* r);
    void (*c_geodetic_state_from_state_vector)(EllipsoidObject* self, const double* r, const double* v,
                                               GeodeticState* out);
    void (*c_state_vector_from_geodetic_state)(EllipsoidObject* self, GeodeticState gs, double* r, double* v);
    void (*c_surf_pos_of_ray_first_intersection)(EllipsoidObject* self, const double* r0, const double* u,
                                                 double* r_surf);
    void (*c_aer_coords)(EllipsoidObject* self, const double* r_target, LLA obs, AER* out);
};

/// Instance record of `Ellipsoid`: set once at construction, never changed.
struct EllipsoidObject {
    PyObject_HEAD
    EllipsoidVTable* vtab;
    double Re;  // equatorial radius a, metres
    double f;   // flattening
    double Rp;  // polar radius b = (1 - f) * Re, metres
};

namespace ellipsoid_capi {
inline constexpr const char* module_name = "kelvara.mathtools.ellipsoid.ellipsoid";
/// Variables WGS84, WGS72, GRS80: the address of a module variable holding the object.
inline constexpr const char* variable_signature = "struct EllipsoidObject *";
/// create(name, flag): new reference, or null with an exception set.
inline constexpr const char* create_signature = "struct EllipsoidObject *(PyObject *, int)";
using create_fn = EllipsoidObject*(PyObject*, int);
}  // namespace ellipsoid_capi

}  // namespace kelvara
