// Docstrings of kelvara.bodies.bodies.
#pragma once

namespace kelvara::bodies_doc {

inline constexpr char celestial_doc[] =
    "CelestialBody(Time time) -> None\n\nRepresent a celestial body with position and velocity in the Geocentric "
    "Celestial Reference Frame (GCRF) at a given epoch.\n\nParameters\n----------\ntime : Time\n    Epoch at which to "
    "evaluate or load the body's state vectors.\n\nAttributes\n----------\nr_GCRF : ndarray\n    Cartesian position "
    "vector [x, y, z] in meters (GCRF frame) at the stored epoch.\nv_GCRF : ndarray\n    Cartesian velocity vector "
    "[vx, vy, vz] in meters per second (GCRF frame) at the stored epoch.\nur_GCRF : ndarray\n    Unit vector along "
    "the position direction in GCRF, i.e., r_GCRF / \u2016r_GCRF\u2016.";

inline constexpr char sun_doc[] =
    "Sun(Time time) -> None\n\nRepresent the Sun as a :class:`CelestialBody` with standard gravitational parameters "
    "and radius constants.\n\nParameters\n----------\ntime : Time\n   Epoch at which to evaluate or load the body's "
    "state vectors.\n\nClass Attributes\n----------------\nGM_JPL2021 : double\n    Gravitational parameter (\u03bc = "
    "GM) from JPL 2021 ephemerides, in m\u00b3/s\u00b2.\nGM_IAU2015 : double\n    Gravitational parameter from IAU "
    "2015 constants, in m\u00b3/s\u00b2.\nGM_SEI1992 : double\n    Gravitational parameter from SEI 1992 constants, "
    "in m\u00b3/s\u00b2.\nGM : double\n    Selected default gravitational parameter (set to GM_IAU2015), in "
    "m\u00b3/s\u00b2.\n\nRe_IAU2015 : double\n    Equatorial radius from IAU 2015 conventions, in metres.\nRe_SEI1992 "
    ": double\n    Equatorial radius from SEI 1992 conventions, in metres.\nRe : double\n    Selected default "
    "equatorial radius (set to Re_IAU2015), in metres.";

inline constexpr char moon_doc[] =
    "Moon(Time time) -> None\n\nRepresent the Moon as :class:`CelestialBody` with standard gravitational parameters "
    "and radius.\n\nParameters\n----------\ntime : Time\n   Epoch at which to evaluate or load the body's state "
    "vectors.\n\nClass Attributes\n----------------\nGM_JPL2021 : double\n    Gravitational parameter (\u03bc = GM) "
    "from JPL 2021 ephemerides, in m\u00b3/s\u00b2.\nGM_SEI1992 : double\n    Gravitational parameter from SEI 1992 "
    "constants, in m\u00b3/s\u00b2.\nGM : double\n    Selected default gravitational parameter (set to GM_JPL2021), "
    "in m\u00b3/s\u00b2.\n\nRe_SEI1992 : double\n    Mean radius from SEI 1992 conventions, in metres.\nRe : "
    "double\n    Selected default radius (set to Re_SEI1992), in metres.";

inline constexpr char doc_r_GCRF[] =
    "CelestialBody.r_GCRF: ndarray[double]\n\nPosition vector in GCRF coordinates (meters).\n\nReturns\n-------\n"
     "ndarray shape (N,3)\n    Cartesian position [x, y, z] in meters (GCRF frame) at the stored epoch.";

inline constexpr char doc_v_GCRF[] =
    "CelestialBody.v_GCRF: ndarray[double]\n\nVelocity vector in GCRF coordinates (meters per second).\n\nReturns\n"
     "-------\nndarray shape (N,3)\n    Cartesian velocity [vx, vy, vz] in meters per second (GCRF frame) at the "
     "stored epoch.";

inline constexpr char doc_ur_GCRF[] =
    "CelestialBody.ur_GCRF: ndarray[double]\n\nUnit position direction vector in GCRF.\n\nReturns\n-------\n"
     "ndarray shape (N,3)\n    Unit vector parallel to r_GCRF, i.e., r_GCRF / \u2016r_GCRF\u2016.";

}  // namespace kelvara::bodies_doc
