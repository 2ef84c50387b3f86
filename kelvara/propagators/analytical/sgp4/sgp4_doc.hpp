// Docstrings of kelvara.propagators.analytical.sgp4.sgp4 (generated from running examples).
#pragma once

inline constexpr const char* doc_satnum = R"doc(Elements.satnum: int

The catalogue number; Alpha-5 numbers (a letter in column 3) decode to integers
(A = 10 ... Z = 33, without I and O).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.satnum
25544
)doc";

inline constexpr const char* doc_classification = R"doc(Elements.classification: str

The classification letter of line 1 (U unclassified; a blank reads as U).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.classification
'U'
)doc";

inline constexpr const char* doc_intldesg = R"doc(Elements.intldesg: str

The international designator (launch year, number and piece), columns 10-17.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.intldesg
'98067A'
)doc";

inline constexpr const char* doc_epoch = R"doc(Elements.epoch: Time

The epoch of the element set, UTC, kept as a two-part Julian date (day and fraction)
so that every digit of the epoch field survives.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.epoch
Time('2019-12-09T16:38:29.363424', scale='utc')
)doc";

inline constexpr const char* doc_epoch_year = R"doc(Elements.epoch_year: int

The four-digit year of the epoch (two-digit years 57-99 are 1957-1999, 00-56 are 2000-2056).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.epoch_year
2019
)doc";

inline constexpr const char* doc_epoch_days = R"doc(Elements.epoch_days: float

The epoch's day of the year with its fraction, as the element set gives it (1.0 is
January 1, 0h UTC).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.epoch_days
343.69339541
)doc";

inline constexpr const char* doc_inclination = R"doc(Elements.inclination: float

Mean inclination, rad.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.inclination, 9)
0.901356094
)doc";

inline constexpr const char* doc_raan = R"doc(Elements.raan: float

Mean right ascension of the ascending node, rad.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.raan, 9)
3.686137126
)doc";

inline constexpr const char* doc_eccentricity = R"doc(Elements.eccentricity: float

Mean eccentricity.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.eccentricity
0.0007417
)doc";

inline constexpr const char* doc_argp = R"doc(Elements.argp: float

Mean argument of perigee, rad.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.argp, 9)
0.308342083
)doc";

inline constexpr const char* doc_mean_anomaly = R"doc(Elements.mean_anomaly: float

Mean anomaly at epoch, rad.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.mean_anomaly, 9)
1.494696481
)doc";

inline constexpr const char* doc_mean_motion = R"doc(Elements.mean_motion: float

Mean motion as the element set gives it (Kozai's mean motion), rad/s.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.mean_motion, 12)
0.001127267056
)doc";

inline constexpr const char* doc_ndot = R"doc(Elements.ndot: float

The element set's first-derivative field: half the rate of change of the mean motion,
rad/s^2. SGP4 does not use it.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.ndot
1.484741898397954e-14
)doc";

inline constexpr const char* doc_nddot = R"doc(Elements.nddot: float

The element set's second-derivative field: a sixth of the second derivative of the
mean motion, rad/s^3. SGP4 does not use it.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.nddot
0.0
)doc";

inline constexpr const char* doc_bstar = R"doc(Elements.bstar: float

The drag term B*, in inverse earth radii.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.bstar
3.8792e-05
)doc";

inline constexpr const char* doc_ephemeris_type = R"doc(Elements.ephemeris_type: int

The ephemeris type of line 1, column 63 (0 when blank).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.ephemeris_type
0
)doc";

inline constexpr const char* doc_element_number = R"doc(Elements.element_number: int

The element set number, line 1, columns 65-68.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.element_number
999
)doc";

inline constexpr const char* doc_rev_number = R"doc(Elements.rev_number: int

The revolution number at epoch, line 2, columns 64-68.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.rev_number
20248
)doc";

inline constexpr const char* doc_line1 = R"doc(Elements.line1: str

Line 1 as decoded (surrounding whitespace removed).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.line1[:18]
'1 25544U 98067A   '
)doc";

inline constexpr const char* doc_line2 = R"doc(Elements.line2: str

Line 2 as decoded (surrounding whitespace removed).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.line2[:18]
'2 25544  51.6439 2'
)doc";

inline constexpr const char* doc_gravity = R"doc(Elements.gravity: str

The gravity model the satellite was initialised with: 'wgs72' (the default, as the
element sets are fitted), 'wgs72old' or 'wgs84'.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.gravity
'wgs72'
)doc";

inline constexpr const char* doc_mode = R"doc(Elements.mode: str

The mode of operation: 'improved' (the default) or 'afspc', which reproduces the
sidereal angle and node wraps of the AFSPC operational code.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.mode
'improved'
)doc";

inline constexpr const char* doc_mean_motion_brouwer = R"doc(Elements.mean_motion_brouwer: float

Brouwer's mean motion, recovered from the element set's (Kozai) mean motion; rad/s.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.mean_motion_brouwer, 12)
0.001127141856
)doc";

inline constexpr const char* doc_semi_major_axis = R"doc(Elements.semi_major_axis: float

Mean semi-major axis from Brouwer's mean motion, m.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.semi_major_axis)
6795066
)doc";

inline constexpr const char* doc_perigee_altitude = R"doc(Elements.perigee_altitude: float

Mean perigee height above the gravity model's equatorial radius, m.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.perigee_altitude)
411891
)doc";

inline constexpr const char* doc_apogee_altitude = R"doc(Elements.apogee_altitude: float

Mean apogee height above the gravity model's equatorial radius, m.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.apogee_altitude)
421971
)doc";

inline constexpr const char* doc_period = R"doc(Elements.period: float

The anomalistic period from Brouwer's mean motion, s.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> round(e.period, 3)
5574.441
)doc";

inline constexpr const char* doc_deep_space = R"doc(Elements.deep_space: bool

True when the period is 225 minutes or longer: the deep-space theory (SDP4) with lunar
and solar perturbations applies.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.deep_space
False
)doc";

inline constexpr const char* doc_resonance = R"doc(Elements.resonance: str

The resonance the deep-space theory integrates: 'none', 'one-day' (geosynchronous)
or 'half-day' (12-hour, eccentric orbits such as Molniya).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.resonance
'none'
)doc";

inline constexpr const char* doc_epoch_error = R"doc(Elements.epoch_error: int

The error code of the state at the epoch (0 when it is sound); see ERROR_MESSAGES.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e.epoch_error
0
)doc";

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

inline constexpr const char* doc_elements_propagate = R"doc(propagate($self, /, t=None, *, minutes=None)
--

Elements.propagate(t=None, *, minutes=None) -> (r, v, error)

Position and velocity in TEME at times given as a Time or in minutes since the epoch.

Parameters
----------
t : Time or anything Time accepts, optional
    The times (converted to UTC).
minutes : array_like, optional
    Minutes since the epoch, any shape. Give ``t`` or ``minutes``.

Returns
-------
r, v : ndarray
    TEME position (m) and velocity (m/s), shape ``times.shape + (3,)``.
error : ndarray of uint8
    Error code of each time, 0 when sound (see ``ERROR_MESSAGES``). Codes 1-5 leave NaN
    in r and v; code 6 (decayed) keeps the computed state.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> import numpy as np
>>> r, v, error = e.propagate(minutes=[0.0, 90.0])
>>> r.shape, v.shape, error.tolist()
((2, 3), (2, 3), [0, 0])
>>> np.round(r[0] / 1000, 6)
array([ 3469.947984, -2690.38843 ,  5175.831925])
)doc";

inline constexpr const char* doc_elements = R"doc(Elements(line1, line2, *, verify_checksum=True, gravity='wgs72', mode='improved')
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

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
>>> e = Elements("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...              "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> e
<kelvara.propagators.analytical.sgp4.sgp4.Elements 25544 at 2019-12-09T16:38:29.363424 (wgs72, improved)>
>>> Elements("1 25544U", "2 25544")
Traceback (most recent call last):
    ...
ValueError: line 1, columns 1-8: expected 69 columns, found '1 25544U'
)doc";

inline constexpr const char* doc_propagate = R"doc(propagate(elements, t=None, *, minutes=None, pairwise=False)
--

propagate(elements, t=None, *, minutes=None, pairwise=False) -> (r, v, error)

TEME states of many satellites at many times, computed without the interpreter lock on
kelvara's thread pool.

Parameters
----------
elements : Elements or sequence of Elements
t : Time or anything Time accepts, optional
    Times (converted to UTC).
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

inline constexpr const char* doc_earth_satellite = R"doc(EarthSatellite(tle, line2=None, *, verify_checksum=True, gravity='wgs72', mode='improved')
--

A Satellite that moves: assign ``time`` and read its TEME state.

Parameters
----------
tle : TLE, Elements or str
    A TLE record, an initialised Elements, or line 1 (then ``line2`` is line 2).
line2 : str, optional
verify_checksum, gravity, mode
    As for ``Elements`` (not with an Elements, which has its own).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> import numpy as np
>>> sat.time = "2019-12-09T18:00:00"
>>> np.round(sat.r_TEME / 1000, 3)
array([-1100.061, -4885.144,  4578.384])
>>> int(sat.error)
0
)doc";

inline constexpr const char* doc_earth_elements = R"doc(EarthSatellite.elements: Elements

The element set the satellite moves by.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> sat.elements.satnum
25544
)doc";

inline constexpr const char* doc_earth_satnum = R"doc(EarthSatellite.satnum: int

The catalogue number of its element set.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> sat.satnum
25544
)doc";

inline constexpr const char* doc_earth_epoch = R"doc(EarthSatellite.epoch: Time

The epoch of its element set.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> sat.epoch
Time('2019-12-09T16:38:29.363424', scale='utc')
)doc";

inline constexpr const char* doc_r_TEME = R"doc(EarthSatellite.r_TEME: ndarray

Position in TEME at ``time``, m: shape (3,) for one time, (N, 3) for N (read-only;
computed once per assigned time). NaN where the theory fails (see ``error``).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> sat.time = ["2019-12-09T18:00:00", "2019-12-09T19:00:00"]
>>> sat.r_TEME.shape
(2, 3)
)doc";

inline constexpr const char* doc_v_TEME = R"doc(EarthSatellite.v_TEME: ndarray

Velocity in TEME at ``time``, m/s, shaped as ``r_TEME``.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> import numpy as np
>>> sat.time = "2019-12-09T18:00:00"
>>> round(float(np.linalg.norm(sat.v_TEME)), 1)
7668.7
)doc";

inline constexpr const char* doc_earth_error = R"doc(EarthSatellite.error: numpy.uint8 or ndarray

Error code(s) of the state at ``time``: 0 when sound (see ``ERROR_MESSAGES``).

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> sat.time = "2019-12-09T18:00:00"
>>> int(sat.error)
0
)doc";

inline constexpr const char* doc_earth_propagate = R"doc(propagate($self, /, t=None, *, minutes=None)
--

EarthSatellite.propagate(t=None, *, minutes=None) -> (r, v, error)

The states at other times, as ``Elements.propagate``; ``time`` is left alone.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.sgp4 import EarthSatellite
>>> sat = EarthSatellite("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
...                      "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")
>>> r, v, error = sat.propagate(minutes=[0.0, 10.0])
>>> r.shape
(2, 3)
)doc";
