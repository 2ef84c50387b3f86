// C-level record of kelvara.time.time.Time, for extension modules that bind the type with
// kelvara::import_time_type().
// No C-level field is meant to be read by clients: everything goes through Python attributes.
// The record is padded to a fixed 280 bytes so that it can grow without breaking importers.
#pragma once

#include "../frame/capi.hpp"

namespace kelvara {

struct TimeObject {
    PyObject_HEAD
    PyObject* jd12;          // owned read-only float64 array (N, 2), or nullptr for a scalar
    double* data;            // the (jd1, jd2) pairs, row-major: jd12's data or `pair`
    Py_ssize_t size;         // N (1 for a scalar)
    int scale;               // 0 utc, 1 tai, 2 tt, 3 tdb, 4 ut1
    int isscalar;            // 1 for a scalar epoch
    double pair[2];          // storage of a scalar epoch
    PyObject* converted[5];  // memo of this epoch set on each scale (owned Time or nullptr)
    PyObject* weakreflist;
    // The epochs this one was converted from (so that a round trip comes home bit for bit):
    PyObject* origin;        // their owned (N, 2) array, or nullptr for a scalar origin
    double origin_pair[2];   // a scalar origin
    int origin_scale;        // 1 + their scale, or 0 when there is none
    int spare;
    char reserved[280 - sizeof(PyObject) - 3 * sizeof(void*) - 2 * sizeof(int) - 2 * sizeof(double) -
                  6 * sizeof(void*) - sizeof(void*) - 2 * sizeof(double) - 2 * sizeof(int)];
};

static_assert(sizeof(TimeObject) == 280, "the Time record is 280 bytes");

/// Import kelvara.time.time.Time, checked against this record's size (a new reference).
inline PyTypeObject* import_time_type() {
    return frame::import_type("kelvara.time.time", "Time", sizeof(TimeObject));
}

}  // namespace kelvara
