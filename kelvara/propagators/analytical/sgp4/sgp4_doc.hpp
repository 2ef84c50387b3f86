// Docstrings of kelvara.propagators.analytical.sgp4.sgp4 (generated from running examples).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>

namespace kelvara::sgp4doc {

/// The text of string literals one after another, as one constant array (its data() is the
/// docstring): the examples' opening lines are written once below and shared.
template <std::size_t... N>
constexpr std::array<char, (N + ...) - sizeof...(N) + 1> join(const char (&... parts)[N]) {
    std::array<char, (N + ...) - sizeof...(N) + 1> out{};
    std::size_t at = 0;
    ((std::copy_n(parts, N - 1, out.begin() + at), at += N - 1), ...);
    return out;
}

/// The opening of the examples: the ISS element set of December 2019, as an Elements `e` ...
inline constexpr char elements_example[] = R"doc(Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
)doc";

/// ... and as an EarthSatellite `sat`.
inline constexpr char satellite_example[] = R"doc(Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
)doc";

}  // namespace kelvara::sgp4doc

using kelvara::sgp4doc::join;
using kelvara::sgp4doc::elements_example;
using kelvara::sgp4doc::satellite_example;

inline constexpr auto doc_satnum_text = join(R"doc(Elements.satnum: int

The catalogue number; Alpha-5 numbers (a letter in column 3) decode to integers
(A = 10 ... Z = 33, without I and O).

)doc", elements_example, R"doc(>>> e.satnum
25544
)doc");
inline constexpr const char* doc_satnum = doc_satnum_text.data();

inline constexpr auto doc_classification_text = join(R"doc(Elements.classification: str

The classification letter of line 1 (U unclassified; a blank reads as U).

)doc", elements_example, R"doc(>>> e.classification
'U'
)doc");
inline constexpr const char* doc_classification = doc_classification_text.data();

inline constexpr auto doc_intldesg_text = join(R"doc(Elements.intldesg: str

The international designator (launch year, number and piece), columns 10-17.

)doc", elements_example, R"doc(>>> e.intldesg
'98067A'
)doc");
inline constexpr const char* doc_intldesg = doc_intldesg_text.data();

inline constexpr auto doc_epoch_text = join(R"doc(Elements.epoch: Time

The epoch of the element set, UTC, kept as a two-part Julian date (day and fraction)
so that every digit of the epoch field survives. The fraction is of a day of 86400 s, also on
a day that ends in a leap second.

)doc", elements_example, R"doc(>>> e.epoch
Time('2019-12-09T16:38:29.363424', scale='utc')
)doc");
inline constexpr const char* doc_epoch = doc_epoch_text.data();

inline constexpr auto doc_epoch_year_text = join(R"doc(Elements.epoch_year: int

The four-digit year of the epoch (two-digit years 57-99 are 1957-1999, 00-56 are 2000-2056).

)doc", elements_example, R"doc(>>> e.epoch_year
2019
)doc");
inline constexpr const char* doc_epoch_year = doc_epoch_year_text.data();

inline constexpr auto doc_epoch_days_text = join(R"doc(Elements.epoch_days: float

The epoch's day of the year with its fraction, as the element set gives it (1.0 is
January 1, 0h UTC).

)doc", elements_example, R"doc(>>> e.epoch_days
343.69339541
)doc");
inline constexpr const char* doc_epoch_days = doc_epoch_days_text.data();

inline constexpr auto doc_inclination_text = join(R"doc(Elements.inclination: float

Mean inclination, rad.

)doc", elements_example, R"doc(>>> round(e.inclination, 9)
0.901356094
)doc");
inline constexpr const char* doc_inclination = doc_inclination_text.data();

inline constexpr auto doc_raan_text = join(R"doc(Elements.raan: float

Mean right ascension of the ascending node, rad.

)doc", elements_example, R"doc(>>> round(e.raan, 9)
3.686137126
)doc");
inline constexpr const char* doc_raan = doc_raan_text.data();

inline constexpr auto doc_eccentricity_text = join(R"doc(Elements.eccentricity: float

Mean eccentricity.

)doc", elements_example, R"doc(>>> e.eccentricity
0.0007417
)doc");
inline constexpr const char* doc_eccentricity = doc_eccentricity_text.data();

inline constexpr auto doc_argp_text = join(R"doc(Elements.argp: float

Mean argument of perigee, rad.

)doc", elements_example, R"doc(>>> round(e.argp, 9)
0.308342083
)doc");
inline constexpr const char* doc_argp = doc_argp_text.data();

inline constexpr auto doc_mean_anomaly_text = join(R"doc(Elements.mean_anomaly: float

Mean anomaly at epoch, rad.

)doc", elements_example, R"doc(>>> round(e.mean_anomaly, 9)
1.494696481
)doc");
inline constexpr const char* doc_mean_anomaly = doc_mean_anomaly_text.data();

inline constexpr auto doc_mean_motion_text = join(R"doc(Elements.mean_motion: float

Mean motion as the element set gives it (Kozai's mean motion), rad/s.

)doc", elements_example, R"doc(>>> round(e.mean_motion, 12)
0.001127267056
)doc");
inline constexpr const char* doc_mean_motion = doc_mean_motion_text.data();

inline constexpr auto doc_ndot_text = join(R"doc(Elements.ndot: float

The element set's first-derivative field: half the rate of change of the mean motion,
rad/s^2. SGP4 does not use it.

)doc", elements_example, R"doc(>>> e.ndot
1.484741898397954e-14
)doc");
inline constexpr const char* doc_ndot = doc_ndot_text.data();

inline constexpr auto doc_nddot_text = join(R"doc(Elements.nddot: float

The element set's second-derivative field: a sixth of the second derivative of the
mean motion, rad/s^3. SGP4 does not use it.

)doc", elements_example, R"doc(>>> e.nddot
0.0
)doc");
inline constexpr const char* doc_nddot = doc_nddot_text.data();

inline constexpr auto doc_bstar_text = join(R"doc(Elements.bstar: float

The drag term B*, in inverse earth radii.

)doc", elements_example, R"doc(>>> e.bstar
3.8792e-05
)doc");
inline constexpr const char* doc_bstar = doc_bstar_text.data();

inline constexpr auto doc_ephemeris_type_text = join(R"doc(Elements.ephemeris_type: int

The ephemeris type of line 1, column 63 (0 when blank).

)doc", elements_example, R"doc(>>> e.ephemeris_type
0
)doc");
inline constexpr const char* doc_ephemeris_type = doc_ephemeris_type_text.data();

inline constexpr auto doc_element_number_text = join(R"doc(Elements.element_number: int

The element set number, line 1, columns 65-68.

)doc", elements_example, R"doc(>>> e.element_number
999
)doc");
inline constexpr const char* doc_element_number = doc_element_number_text.data();

inline constexpr auto doc_rev_number_text = join(R"doc(Elements.rev_number: int

The revolution number at epoch, line 2, columns 64-68.

)doc", elements_example, R"doc(>>> e.rev_number
20248
)doc");
inline constexpr const char* doc_rev_number = doc_rev_number_text.data();

inline constexpr auto doc_line1_text = join(R"doc(Elements.line1: str

Line 1 as decoded (surrounding whitespace removed).

)doc", elements_example, R"doc(>>> e.line1[:18]
'1 25544U 98067A   '
)doc");
inline constexpr const char* doc_line1 = doc_line1_text.data();

inline constexpr auto doc_line2_text = join(R"doc(Elements.line2: str

Line 2 as decoded (surrounding whitespace removed).

)doc", elements_example, R"doc(>>> e.line2[:18]
'2 25544  51.6439 2'
)doc");
inline constexpr const char* doc_line2 = doc_line2_text.data();

inline constexpr auto doc_gravity_text = join(R"doc(Elements.gravity: str

The gravity model the satellite was initialised with: 'wgs72' (the default, as the
element sets are fitted), 'wgs72old' or 'wgs84'.

)doc", elements_example, R"doc(>>> e.gravity
'wgs72'
)doc");
inline constexpr const char* doc_gravity = doc_gravity_text.data();

inline constexpr auto doc_mode_text = join(R"doc(Elements.mode: str

The mode of operation: 'improved' (the default) or 'afspc', which reproduces the
sidereal angle and node wraps of the AFSPC operational code.

)doc", elements_example, R"doc(>>> e.mode
'improved'
)doc");
inline constexpr const char* doc_mode = doc_mode_text.data();

inline constexpr auto doc_mean_motion_brouwer_text = join(R"doc(Elements.mean_motion_brouwer: float

Brouwer's mean motion, recovered from the element set's (Kozai) mean motion; rad/s.

)doc", elements_example, R"doc(>>> round(e.mean_motion_brouwer, 12)
0.001127141856
)doc");
inline constexpr const char* doc_mean_motion_brouwer = doc_mean_motion_brouwer_text.data();

inline constexpr auto doc_semi_major_axis_text = join(R"doc(Elements.semi_major_axis: float

Mean semi-major axis from Brouwer's mean motion, m.

)doc", elements_example, R"doc(>>> round(e.semi_major_axis)
6795066
)doc");
inline constexpr const char* doc_semi_major_axis = doc_semi_major_axis_text.data();

inline constexpr auto doc_perigee_altitude_text = join(R"doc(Elements.perigee_altitude: float

Mean perigee height above the gravity model's equatorial radius, m.

)doc", elements_example, R"doc(>>> round(e.perigee_altitude)
411891
)doc");
inline constexpr const char* doc_perigee_altitude = doc_perigee_altitude_text.data();

inline constexpr auto doc_apogee_altitude_text = join(R"doc(Elements.apogee_altitude: float

Mean apogee height above the gravity model's equatorial radius, m.

)doc", elements_example, R"doc(>>> round(e.apogee_altitude)
421971
)doc");
inline constexpr const char* doc_apogee_altitude = doc_apogee_altitude_text.data();

inline constexpr auto doc_period_text = join(R"doc(Elements.period: float

The anomalistic period from Brouwer's mean motion, s.

)doc", elements_example, R"doc(>>> round(e.period, 3)
5574.441
)doc");
inline constexpr const char* doc_period = doc_period_text.data();

inline constexpr auto doc_deep_space_text = join(R"doc(Elements.deep_space: bool

True when the period is 225 minutes or longer: the deep-space theory (SDP4) with lunar
and solar perturbations applies.

)doc", elements_example, R"doc(>>> e.deep_space
False
)doc");
inline constexpr const char* doc_deep_space = doc_deep_space_text.data();

inline constexpr auto doc_resonance_text = join(R"doc(Elements.resonance: str

The resonance the deep-space theory integrates: 'none', 'one-day' (geosynchronous)
or 'half-day' (12-hour, eccentric orbits such as Molniya).

)doc", elements_example, R"doc(>>> e.resonance
'none'
)doc");
inline constexpr const char* doc_resonance = doc_resonance_text.data();

inline constexpr auto doc_epoch_error_text = join(R"doc(Elements.epoch_error: int

The error code of the state at the epoch (0 when it is sound); see ERROR_MESSAGES.

)doc", elements_example, R"doc(>>> e.epoch_error
0
)doc");
inline constexpr const char* doc_epoch_error = doc_epoch_error_text.data();

inline constexpr const char* doc_from_tle = R"doc(from_tle($type, tle, *, verify_checksum=True, gravity='wgs72', mode='improved')
--

Elements.from_tle(tle, *, verify_checksum=True, gravity='wgs72', mode='improved') -> Elements

The element set of a TLE record, with every field decoded.

Parameters
----------
tle : TLE
    The record; its two lines are decoded again in full.
verify_checksum, gravity, mode
    As for ``Elements``.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.tle import TLE
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> tle = TLE("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...           "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> Elements.from_tle(tle).satnum
25544
)doc";

inline constexpr auto doc_from_elements_text = join(R"doc(from_elements($type, epoch, *, inclination, raan, eccentricity, argp, mean_anomaly, mean_motion, bstar=0.0, ndot=0.0, nddot=0.0, satnum=0, gravity='wgs72', mode='improved')
--

Elements.from_elements(epoch, *, inclination, raan, eccentricity, argp, mean_anomaly, mean_motion, ...) -> Elements

An element set from mean elements given as numbers (an OMM, or a fit of your own), as
the theory's initialisation takes them; ``line1`` and ``line2`` are then None.

Parameters
----------
epoch : Time or anything Time accepts
    One time (converted to UTC).
inclination, raan, argp, mean_anomaly : float
    Mean angles, rad.
eccentricity : float
    In [0, 1).
mean_motion : float
    Kozai mean motion as element sets give it, rad/s.
bstar : float, default 0
    Drag term, 1 / earth radii.
ndot, nddot : float, default 0
    The first-derivative field (rad/s^2) and the second-derivative field (rad/s^3); unused by SGP4.
satnum : int, default 0
gravity, mode
    As for ``Elements``.

)doc", elements_example, R"doc(>>> import numpy as np
>>> same = Elements.from_elements(e.epoch, inclination=e.inclination, raan=e.raan,
...     eccentricity=e.eccentricity, argp=e.argp, mean_anomaly=e.mean_anomaly,
...     mean_motion=e.mean_motion, bstar=e.bstar, satnum=e.satnum)
>>> bool((same.propagate(minutes=90.0)[0] == e.propagate(minutes=90.0)[0]).all())
True
>>> same.line1 is None
True
)doc");
inline constexpr const char* doc_from_elements = doc_from_elements_text.data();

inline constexpr auto doc_elements_propagate_text = join(R"doc(propagate($self, /, t=None, *, minutes=None)
--

Elements.propagate(t=None, *, minutes=None) -> (r, v, error)

Position and velocity in TEME at times given as a Time or in minutes since the epoch.

Parameters
----------
t : Time or anything Time accepts, optional
    The times (converted to UTC). Minutes since the epoch are counted in UTC days of 86400 s
    (as datetime64 and the epoch field count them); a time inside a leap second counts as the
    first second of the next day.
minutes : array_like, optional
    Minutes since the epoch, any shape. Give ``t`` or ``minutes``.

Returns
-------
r, v : ndarray
    TEME position (m) and velocity (m/s), shape ``times.shape + (3,)``.
error : ndarray of uint8
    Error code of each time, 0 when sound (see ``ERROR_MESSAGES``). Codes 1-5 leave NaN
    in r and v; code 6 (decayed) keeps the computed state.

)doc", elements_example, R"doc(>>> import numpy as np
>>> r, v, error = e.propagate(minutes=[0.0, 90.0])
>>> r.shape, v.shape, error.tolist()
((2, 3), (2, 3), [0, 0])
>>> np.round(r[0] / 1000, 6)
array([ 3469.947984, -2690.38843 ,  5175.831925])
)doc");
inline constexpr const char* doc_elements_propagate = doc_elements_propagate_text.data();

inline constexpr auto doc_elements_text = join(R"doc(Elements(line1, line2, *, verify_checksum=True, gravity='wgs72', mode='improved')
--

A two-line element set, decoded field by field and initialised for SGP4/SDP4.

Parameters
----------
line1, line2 : str
    The two lines (surrounding whitespace is ignored, as is text after column 69).
verify_checksum : bool, default True
    Check the mod-10 checksum in column 69 of each line; many archives carry bad ones.
gravity : {'wgs72', 'wgs72old', 'wgs84'}, default 'wgs72'
    Earth gravity model.
mode : {'improved', 'afspc'}, default 'improved'
    Mode of operation.

Raises
------
ValueError
    A field that does not read as the format defines it, naming the line, the columns and
    the text found.

)doc", elements_example, R"doc(>>> e
<kelvara.propagators.analytical.sgp4.sgp4.Elements 25544 at 2019-12-09T16:38:29.363424 (wgs72, improved)>
>>> Elements("1 25544U", "2 25544")
Traceback (most recent call last):
    ...
ValueError: line 1, columns 1-8: expected 69 columns, found '1 25544U'
)doc");
inline constexpr const char* doc_elements = doc_elements_text.data();

inline constexpr const char* doc_propagate = R"doc(propagate(elements, t=None, *, minutes=None, pairwise=False)
--

propagate(elements, t=None, *, minutes=None, pairwise=False) -> (r, v, error)

TEME states of many satellites at many times, computed without the interpreter lock on
kelvara's thread pool.

Parameters
----------
elements : Elements, TLE or sequence of them
    A kelvara ``TLE`` is taken as ``Elements.from_tle`` makes it (WGS 72, improved mode).
t : Time or anything Time accepts, optional
    Times (converted to UTC; minutes since each epoch counted in UTC days of 86400 s).
minutes : array_like, optional
    Minutes since each satellite's own epoch. Give ``t`` or ``minutes``.
pairwise : bool, default False
    False: every satellite at every time, shape (n_sat, n_t, 3). True: satellite i at
    time i (or all at one time), shape (n_sat, 3).

Returns
-------
r, v : ndarray
    TEME position (m) and velocity (m/s).
error : ndarray of uint8
    Error codes, 0 when sound (see ``ERROR_MESSAGES``); codes 1-5 leave NaN in r and v.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements, propagate
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> r, v, error = propagate([e, e], minutes=[0.0, 30.0, 60.0])
>>> r.shape, error.shape
((2, 3, 3), (2, 3))
>>> r, v, error = propagate([e, e], minutes=[0.0, 60.0], pairwise=True)
>>> r.shape
(2, 3)
)doc";

inline constexpr auto doc_earth_satellite_text = join(R"doc(EarthSatellite(tle, line2=None, *, verify_checksum=True, gravity='wgs72', mode='improved', name=None)
--

A Satellite that moves: assign ``time`` and read its TEME state.

Parameters
----------
tle : TLE, Elements or str
    A TLE record, an initialised Elements, or line 1 (then ``line2`` is line 2).
line2 : str, optional
verify_checksum, gravity, mode
    As for ``Elements`` (not with an Elements, which has its own).
name : str, optional
    A name to carry along.

)doc", satellite_example, R"doc(>>> import numpy as np
>>> sat.time = "2019-12-09T18:00:00"
>>> np.round(sat.r_TEME / 1000, 3)
array([-1100.061, -4885.144,  4578.384])
>>> int(sat.error)
0
)doc");
inline constexpr const char* doc_earth_satellite = doc_earth_satellite_text.data();

inline constexpr auto doc_earth_elements_text = join(R"doc(EarthSatellite.elements: Elements

The element set the satellite moves by.

)doc", satellite_example, R"doc(>>> sat.elements.satnum
25544
)doc");
inline constexpr const char* doc_earth_elements = doc_earth_elements_text.data();

inline constexpr auto doc_earth_satnum_text = join(R"doc(EarthSatellite.satnum: int

The catalogue number of its element set.

)doc", satellite_example, R"doc(>>> sat.satnum
25544
)doc");
inline constexpr const char* doc_earth_satnum = doc_earth_satnum_text.data();

inline constexpr const char* doc_earth_name = R"doc(EarthSatellite.name: str | None

A name for the satellite (the title line of a three-line entry, say); None unless given.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482", name="ISS (ZARYA)")
>>> sat.name
'ISS (ZARYA)'
>>> sat
<kelvara.propagators.analytical.sgp4.sgp4.EarthSatellite 'ISS (ZARYA)' (25544), time=None>
)doc";

inline constexpr auto doc_earth_epoch_text = join(R"doc(EarthSatellite.epoch: Time

The epoch of its element set.

)doc", satellite_example, R"doc(>>> sat.epoch
Time('2019-12-09T16:38:29.363424', scale='utc')
)doc");
inline constexpr const char* doc_earth_epoch = doc_earth_epoch_text.data();

inline constexpr auto doc_r_TEME_text = join(R"doc(EarthSatellite.r_TEME: ndarray

Position in TEME at ``time``, m: shape (3,) for one time, (N, 3) for N (read-only;
computed once per assigned time). NaN where the theory fails (see ``error``).

)doc", satellite_example, R"doc(>>> sat.time = ["2019-12-09T18:00:00", "2019-12-09T19:00:00"]
>>> sat.r_TEME.shape
(2, 3)
)doc");
inline constexpr const char* doc_r_TEME = doc_r_TEME_text.data();

inline constexpr auto doc_v_TEME_text = join(R"doc(EarthSatellite.v_TEME: ndarray

Velocity in TEME at ``time``, m/s, shaped as ``r_TEME``.

)doc", satellite_example, R"doc(>>> import numpy as np
>>> sat.time = "2019-12-09T18:00:00"
>>> round(float(np.linalg.norm(sat.v_TEME)), 1)
7668.7
)doc");
inline constexpr const char* doc_v_TEME = doc_v_TEME_text.data();

inline constexpr auto doc_earth_error_text = join(R"doc(EarthSatellite.error: numpy.uint8 or ndarray

Error code(s) of the state at ``time``: 0 when sound (see ``ERROR_MESSAGES``).

)doc", satellite_example, R"doc(>>> sat.time = "2019-12-09T18:00:00"
>>> int(sat.error)
0
)doc");
inline constexpr const char* doc_earth_error = doc_earth_error_text.data();

inline constexpr auto doc_earth_propagate_text = join(R"doc(propagate($self, /, t=None, *, minutes=None)
--

EarthSatellite.propagate(t=None, *, minutes=None) -> (r, v, error)

The states at other times, as ``Elements.propagate``; ``time`` is left alone.

)doc", satellite_example, R"doc(>>> r, v, error = sat.propagate(minutes=[0.0, 10.0])
>>> r.shape
(2, 3)
)doc");
inline constexpr const char* doc_earth_propagate = doc_earth_propagate_text.data();
