// C-level declarations of kelvara.bodies.bodies for client extension modules: the record of
// CelestialBody and the records and method tables of Sun and Moon.
//
// A client that receives a CelestialBody (or a Sun or Moon) from Python may read its fields
// directly. `_r_GCRF` and `_v_GCRF` are 2-D double views of shape (N, 3), any strides; a view
// whose `memview` is null is unset, and one whose `memview` is None was set from None.
#pragma once

#include "../frame/buffer.hpp"

namespace kelvara {

struct CelestialBodyObject {
    PyObject_HEAD
    PyObject* time;           // the Time the states belong to, or None
    frame::Slice _r_GCRF;     // positions, m, GCRF
    frame::Slice _v_GCRF;     // velocities, m/s, GCRF
};

struct SunObject;
struct MoonObject;

/// C-level methods of Sun: the positions for every epoch of `time` as a new (N, 3) view; an
/// empty view (data == nullptr) means failure with the exception set.
struct SunVTable {
    frame::Slice (*calculate_position)(SunObject* self, PyObject* time) noexcept;
};

/// C-level methods of Moon: fills `r` (m) and `v` (m/s) for every epoch of `time`; failure is
/// reported by a pending exception.
struct MoonVTable {
    void (*calculate_state_GCRF)(MoonObject* self, PyObject* time, frame::Slice r, frame::Slice v) noexcept;
};

struct SunObject {
    CelestialBodyObject base;
    SunVTable* vtab;
};

struct MoonObject {
    CelestialBodyObject base;
    MoonVTable* vtab;
};

}  // namespace kelvara
