// Docstrings of kelvara.frames.frames (numpydoc, with a text signature for introspection).
#pragma once

namespace {

constexpr const char* doc_module = R"doc(Positions and velocities between GCRF, ITRF and TEME, and a station's view of the Sun and the Moon.

GCRF <-> ITRF follows IAU 2006/2000A, CIO based; TEME <-> ITRF follows the revised SGP4 theory
(GMST 1982 of UT1, then polar motion). UT1 and polar motion come from the loaded Earth
orientation data (kelvara.time.iers) unless ``eop=(dut1, xp, yp)`` is given.

Examples
--------
>>> from kelvara.frames import frames
>>> frames.FRAMES
('gcrf', 'itrf', 'teme')
)doc";

constexpr const char* doc_transform = R"doc(transform(r, t, src, dst, *, v=None, eop=None, precise=False)
--

Turn positions (and velocities) from one frame to another at the epochs of ``t``.

Parameters
----------
r : array_like, shape (3,) or (N, 3)
    Positions in ``src``, metres: real numbers (datetime64, timedelta64, complex or text
    arrays raise TypeError).
t : Time or anything Time accepts
    One epoch, or N epochs broadcast against the rows of ``r``.
src, dst : {"gcrf", "itrf", "teme"}
    Frames of the input and of the result (case does not matter).
v : array_like, shape (3,) or (N, 3), optional
    Velocities in ``src``, metres per second. The result then carries the Earth-rotation term.
eop : (dut1, xp, yp), optional
    UT1-UTC in seconds and polar motion in radians, numbers or arrays of N values, in place
    of the loaded Earth orientation data (UT1 from UTC and dut1 as ERFA's eraUtcut1 forms it).
precise : bool, optional
    Evaluate the IAU 2006/2000A series at every epoch instead of reading X, Y, s from the
    6-hour grid (which stays within 0.01 microarcsecond of the series).

Returns
-------
ndarray or (ndarray, ndarray)
    Positions in ``dst`` (shape (3,) for one vector at one epoch, else (N, 3)), or positions
    and velocities when ``v`` is given.

Raises
------
ValueError
    Unknown frame names (the message lists the known ones; a name holding a NUL character is
    one) or shapes that do not broadcast.
TypeError
    Positions or velocities that are not real numbers.

Examples
--------
The published TEME -> ITRF example of Vallado et al. (2006), with its Earth orientation:

>>> import numpy as np
>>> from kelvara.frames import transform
>>> from kelvara.time.time import Time
>>> t = Time("2004-04-06T07:51:28.386009")
>>> eop = (-0.4399619, np.radians(-0.140682 / 3600), np.radians(0.333309 / 3600))
>>> r = transform([5094180.1621, 6127644.6595, 6380344.5327], t, "teme", "itrf", eop=eop)
>>> np.round(r / 1000, 5)
array([-1033.47939,  7901.29527,  6380.3566 ])
)doc";

constexpr const char* doc_rotation = R"doc(rotation(src, dst, t, *, eop=None, precise=False)
--

The rotation matrices that turn positions from ``src`` to ``dst`` at the epochs of ``t``.

Parameters
----------
src, dst : {"gcrf", "itrf", "teme"}
    Frames of the input and of the result.
t : Time or anything Time accepts
    One epoch or N epochs.
eop : (dut1, xp, yp), optional
    UT1-UTC in seconds and polar motion in radians, in place of the loaded data.
precise : bool, optional
    The full IAU 2006/2000A series at every epoch instead of the grid.

Returns
-------
ndarray
    Shape (3, 3) for a scalar time, else (N, 3, 3): ``r_dst = m @ r_src``. Velocities also
    need the Earth-rotation term: use `transform` with ``v``.

Examples
--------
>>> import numpy as np
>>> from kelvara.frames import rotation
>>> m = rotation("gcrf", "itrf", "2024-03-20T03:06:00", eop=(0.0, 0.0, 0.0))
>>> m.shape, bool(np.allclose(m @ m.T, np.eye(3)))
((3, 3), True)
)doc";

#define KELVARA_SKY_PARAMETERS                                                                       \
    "lat, lon : array_like\n"                                                                        \
    "    Geodetic latitude and longitude of the station (WGS 84), degrees (radians with\n"           \
    "    ``deg=False``); numbers or arrays broadcast against the epochs. A latitude beyond\n"      \
    "    +-90 degrees gives NaN in its own element.\n"                                              \
    "alt : array_like, optional\n"                                                                   \
    "    Height above the ellipsoid, metres (0 by default).\n"                                       \
    "deg : bool, optional\n"                                                                         \
    "    Angles in and out in degrees (default) or radians.\n"                                       \
    "refraction : bool, optional\n"                                                                  \
    "    Add atmospheric refraction to the elevation (Saemundsson's formula, zero below -1\n"        \
    "    degree). Off by default.\n"                                                                 \
    "pressure, temperature : float, optional\n"                                                      \
    "    Scale the refraction: hPa (1010 by default) and degrees Celsius (10 by default). A\n"     \
    "    pressure below 0 or a temperature at or below the formula's absolute zero (-273 C),\n"    \
    "    or either not finite, raises ValueError.\n"                                                \
    "eop : (dut1, xp, yp), optional\n"                                                               \
    "    UT1-UTC in seconds and polar motion in radians, in place of the loaded data.\n"             \
    "\n"                                                                                             \
    "Returns\n"                                                                                      \
    "-------\n"                                                                                      \
    "az, el, srange : float or ndarray\n"                                                            \
    "    Azimuth from north through east in [0, 360), elevation above the ellipsoid's tangent\n"    \
    "    plane, and range in metres; floats for one epoch at one station.\n"

constexpr const char* doc_sun_aer = "sun_aer(t, lat, lon, alt=0.0, *, deg=True, refraction=False, pressure=1010.0, "
                                    "temperature=10.0, eop=None)\n--\n\n"
                                    "Azimuth, elevation and range of the Sun from a geodetic station.\n\n"
                                    "The apparent topocentric place: the Sun's annual aberration (which also stands "
                                    "for its light time), the station's diurnal aberration, no refraction unless "
                                    "asked.\n\n"
                                    "Parameters\n----------\n"
                                    "t : Time or anything Time accepts\n    One epoch or N epochs.\n" KELVARA_SKY_PARAMETERS
                                    "\nExamples\n--------\n"
                                    ">>> from kelvara.frames import sun_aer\n"
                                    ">>> az, el, srange = sun_aer(\"2024-06-21T12:00:00\", 48.8566, 2.3522, 35.0, eop=(0.0, 0.0, 0.0))\n"
                                    ">>> round(el, 1), round(srange / 1.495978707e11, 3)\n"
                                    "(64.5, 1.016)\n";

constexpr const char* doc_moon_aer = "moon_aer(t, lat, lon, alt=0.0, *, deg=True, refraction=False, pressure=1010.0, "
                                     "temperature=10.0, eop=None)\n--\n\n"
                                     "Azimuth, elevation and range of the Moon from a geodetic station.\n\n"
                                     "The apparent topocentric place: the Moon where it was when its light left it "
                                     "(light time from its geocentric motion), the station's diurnal aberration, no "
                                     "refraction unless asked.\n\n"
                                     "Parameters\n----------\n"
                                     "t : Time or anything Time accepts\n    One epoch or N epochs.\n" KELVARA_SKY_PARAMETERS
                                     "\nExamples\n--------\n"
                                     ">>> from kelvara.frames import moon_aer\n"
                                     ">>> az, el, srange = moon_aer([\"2024-01-01\", \"2024-01-02\"], 48.8566, 2.3522, "
                                     "eop=(0.0, 0.0, 0.0))\n"
                                     ">>> el.shape, bool(((srange > 3.5e8) & (srange < 4.1e8)).all())\n"
                                     "((2,), True)\n";

constexpr const char* doc_aer = "aer(r, t, src, lat, lon, alt=0.0, *, deg=True, refraction=False, pressure=1010.0, "
                                "temperature=10.0, eop=None)\n--\n\n"
                                "Azimuth, elevation and range of positions given in any frame, from a geodetic "
                                "station.\n\n"
                                "Geometric: no light time and no aberration (what satellite tracking wants: the "
                                "TEME state of SGP4 at the epoch goes in as it is).\n\n"
                                "Parameters\n----------\n"
                                "r : array_like, shape (3,) or (N, 3)\n    Positions in ``src``, metres.\n"
                                "t : Time or anything Time accepts\n    One epoch or N epochs.\n"
                                "src : {\"gcrf\", \"itrf\", \"teme\"}\n    Frame of ``r``.\n" KELVARA_SKY_PARAMETERS
                                "\nExamples\n--------\n"
                                ">>> from kelvara.frames import aer\n"
                                ">>> az, el, srange = aer([6378137.0 + 1000.0, 0.0, 0.0], \"2024-01-01\", \"itrf\", 0.0, 0.0)\n"
                                ">>> round(el, 6), round(srange, 6)\n"
                                "(90.0, 1000.0)\n";

#undef KELVARA_SKY_PARAMETERS

}  // namespace
