// Docstrings of kelvara.mathtools.ellipsoid.ellipsoid: the text signature CPython reads
// (name($self, ...)\n--\n\n), then numpydoc sections whose examples the test suite runs as doctests.
#pragma once

namespace kelvara::ellipsoid_doc {

constexpr const char* doc_reduced_lat_from_geodetic_lat = R"doc(reduced_lat_from_geodetic_lat($self, geodetic_lat)
--

Reduced (parametric) latitude of a geodetic latitude.

Parameters
----------
geodetic_lat : float or ndarray of float64, shape (N,)
    Geodetic latitude(s), radians.

Returns
-------
float or ndarray of float64, shape (N,)
    Reduced latitude(s) beta with tan(beta) = (1 - f) tan(phi), radians: a float for a
    number, a new array for an array.

Raises
------
ValueError
    An array that is not a one-dimensional float64 array.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> round(float(np.degrees(wgs84.reduced_lat_from_geodetic_lat(np.radians(45.0)))), 6)
44.903788
>>> np.degrees(wgs84.reduced_lat_from_geodetic_lat(np.radians([0.0, 45.0, 90.0])))
array([ 0.        , 44.90378785, 90.        ])
)doc";

constexpr const char* doc_geodetic_lat_from_reduced_lat = R"doc(geodetic_lat_from_reduced_lat($self, reduced_lat)
--

Geodetic latitude of a reduced (parametric) latitude.

The inverse of `reduced_lat_from_geodetic_lat`.

Parameters
----------
reduced_lat : float or ndarray of float64, shape (N,)
    Reduced latitude(s), radians.

Returns
-------
float or ndarray of float64, shape (N,)
    Geodetic latitude(s) phi with tan(phi) = tan(beta) / (1 - f), radians.

Raises
------
ValueError
    An array that is not a one-dimensional float64 array.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> beta = wgs84.reduced_lat_from_geodetic_lat(np.array([0.1, 0.2, 0.3]))
>>> wgs84.geodetic_lat_from_reduced_lat(beta)
array([0.1, 0.2, 0.3])
)doc";

constexpr const char* doc_enu = R"doc(enu($self, lat, lon)
--

Local East-North-Up unit vectors at geodetic coordinates.

Parameters
----------
lat, lon : float or ndarray, shape (N,)
    Geodetic latitude and longitude, radians: two numbers for one point, or two
    one-dimensional arrays of the same shape for a batch.

Returns
-------
ndarray of ENU_dtype, shape (1,) or (N,)
    Records with the fields ``u_east``, ``u_north`` and ``u_up`` (Earth-fixed unit vectors);
    ``u_up`` is the outward surface normal.

Raises
------
AssertionError
    Batch arrays that are not one-dimensional or differ in shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> frame = create("wgs84").enu(0.0, 0.0)
>>> frame["u_east"], frame["u_north"], frame["u_up"]
(array([[-0.,  1.,  0.]]), array([[-0., -0.,  1.]]), array([[1., 0., 0.]]))
>>> create("wgs84").enu(np.radians([0.0, 90.0]), np.radians([90.0, 0.0]))["u_up"].round(12)
array([[0., 1., 0.],
       [0., 0., 1.]])
)doc";

constexpr const char* doc_surf_pos_from_surf_coord = R"doc(surf_pos_from_surf_coord($self, lat, lon)
--

Earth-fixed position of the surface point at geodetic coordinates.

Parameters
----------
lat, lon : float or ndarray, shape (N,)
    Geodetic latitude and longitude, radians: two numbers, or two one-dimensional arrays
    of the same shape.

Returns
-------
ndarray of float64, shape (3,) or (N, 3)
    Position(s) [x, y, z] on the ellipsoid, metres.

Raises
------
AssertionError
    Batch arrays that are not one-dimensional or differ in shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> wgs84.surf_pos_from_surf_coord(0.0, np.radians(90.0)).round(3)
array([      0., 6378137.,       0.])
>>> wgs84.surf_pos_from_surf_coord(np.radians([0.0, 90.0]), np.zeros(2)).round(3)
array([[6378137.   ,       0.   ,       0.   ],
       [      0.   ,       0.   , 6356752.314]])
)doc";

constexpr const char* doc_surf_coord_from_surf_pos = R"doc(surf_coord_from_surf_pos($self, r_surf)
--

Geodetic coordinates of Earth-fixed position(s) on the surface.

Parameters
----------
r_surf : ndarray, shape (3,) or (N, 3)
    Surface position(s) [x, y, z], metres.

Returns
-------
ndarray of SurfCoord_dtype, shape (1,) or (N,)
    Records with the fields ``lat`` and ``lon``, radians.

Raises
------
AssertionError
    An array of another shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> coords = wgs84.surf_coord_from_surf_pos(np.array([[wgs84.Re, 0.0, 0.0], [0.0, 0.0, wgs84.Rp]]))
>>> np.degrees(coords["lat"]), np.degrees(coords["lon"])
(array([ 0., 90.]), array([0., 0.]))
)doc";

constexpr const char* doc_solve_reduced_lat_equation = R"doc(solve_reduced_lat_equation($self, r)
--

Reduced latitude of the surface point nearest to Earth-fixed position(s).

Solved by Newton iteration; the foot point is where the surface normal passes through `r`.

Parameters
----------
r : ndarray, shape (3,) or (N, 3)
    Position(s) [x, y, z], metres.

Returns
-------
float or ndarray of float64, shape (N,)
    Reduced latitude(s) of the foot point(s), radians: a float for one (3,) position.

Raises
------
AssertionError
    An array of another shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> wgs84.solve_reduced_lat_equation(np.array([0.0, 0.0, 7.0e6]))
1.5707963267948966
>>> wgs84.solve_reduced_lat_equation(np.array([[wgs84.Re, 0.0, 0.0], [0.0, 0.0, 7.0e6]]))
array([0.        , 1.57079633])
)doc";

constexpr const char* doc_lla_from_pos = R"doc(lla_from_pos($self, r)
--

Geodetic latitude, longitude and altitude of Earth-fixed position(s).

Parameters
----------
r : ndarray, shape (3,) or (N, 3)
    Position(s) [x, y, z], metres.

Returns
-------
ndarray of LLA_dtype, shape (1,) or (N,)
    Records with the fields ``lat``, ``lon`` (radians) and ``alt`` (metres above the
    ellipsoid along its normal).

Raises
------
AssertionError
    An array of another shape.

See Also
--------
pos_from_lla : the inverse conversion.

Notes
-----
On a sphere (f = 0) the latitude is atan2(z, sqrt(x**2 + y**2)) and the altitude |r| - Re.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> wgs84.lla_from_pos(np.array([[6478137.0, 0.0, 0.0], [0.0, 0.0, wgs84.Rp + 100e3]]))
array([(0.        , 0., 100000.), (1.57079633, 0., 100000.)],
      dtype=[('lat', '<f8'), ('lon', '<f8'), ('alt', '<f8')])
)doc";

constexpr const char* doc_pos_from_lla = R"doc(pos_from_lla($self, lat, lon, alt)
--

Earth-fixed position(s) of geodetic latitude, longitude and altitude.

Parameters
----------
lat, lon : float or ndarray, shape (N,)
    Geodetic latitude and longitude, radians.
alt : float or ndarray, shape (N,)
    Altitude above the ellipsoid along its normal, metres. Three numbers for one point,
    or three one-dimensional arrays of the same shape.

Returns
-------
ndarray of float64, shape (3,) or (N, 3)
    Position(s) [x, y, z], metres.

Raises
------
AssertionError
    Batch arrays that are not one-dimensional or differ in shape.

See Also
--------
lla_from_pos : the inverse conversion.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> r = wgs84.pos_from_lla(np.radians(45.0), np.radians(10.0), 1000.0)
>>> r.round(3)
array([4449654.887,  784594.211, 4488055.516])
>>> lla = wgs84.lla_from_pos(r)
>>> np.degrees(lla["lat"]), np.degrees(lla["lon"]), lla["alt"]
(array([45.]), array([10.]), array([1000.]))
)doc";

constexpr const char* doc_geodetic_state_from_state_vector = R"doc(geodetic_state_from_state_vector($self, r, v)
--

Geodetic position and its rates from Earth-fixed position(s) and velocity(ies).

Parameters
----------
r : ndarray, shape (3,) or (N, 3)
    Position(s) [x, y, z], metres.
v : ndarray, shape (3,) or (N, 3)
    Velocity(ies) [vx, vy, vz] in the Earth-fixed frame, metres per second.

Returns
-------
ndarray of GeodeticState_dtype, shape (1,) or (N,)
    Records with the fields ``lat``, ``lon``, ``alt`` and their rates ``lat_dot``,
    ``lon_dot`` (radians per second) and ``alt_dot`` (metres per second).

Raises
------
AssertionError
    Arrays of another shape, or batches of different lengths.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> state = wgs84.geodetic_state_from_state_vector(np.array([6478137.0, 0.0, 0.0]),
...                                                 np.array([0.0, 0.0, 7000.0]))
>>> state["alt"], state["lat_dot"], state["alt_dot"]
(array([100000.]), array([0.00108773]), array([0.]))
)doc";

constexpr const char* doc_state_vector_from_geodetic_state = R"doc(state_vector_from_geodetic_state($self, geostate)
--

Earth-fixed position and velocity of geodetic states.

The inverse of `geodetic_state_from_state_vector`.

Parameters
----------
geostate : ndarray of GeodeticState_dtype, shape (N,)
    One-dimensional array of geodetic state records.

Returns
-------
r, v : ndarray of float64, shape (N, 3)
    Positions (metres) and velocities (metres per second), one row per record.

Raises
------
ValueError
    A buffer that is not one-dimensional or whose records are not GeodeticState_dtype.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> state = wgs84.geodetic_state_from_state_vector(np.array([6478137.0, 0.0, 0.0]),
...                                                 np.array([0.0, 0.0, 7000.0]))
>>> r, v = wgs84.state_vector_from_geodetic_state(state)
>>> r, v
(array([[6478137.,       0.,       0.]]), array([[   0.,    0., 7000.]]))
)doc";

constexpr const char* doc_surf_pos_of_ray_first_intersection = R"doc(surf_pos_of_ray_first_intersection($self, r_source, u_ray)
--

Nearest point where ray(s) from one origin meet the surface.

Parameters
----------
r_source : ndarray, shape (3,)
    Origin of the rays [x, y, z], metres.
u_ray : ndarray, shape (3,) or (N, 3)
    Direction(s) of the ray(s); one ray per row.

Returns
-------
ndarray of float64, shape (3,) or (N, 3)
    Intersection point(s), metres; NaN for a ray that misses the ellipsoid.

Raises
------
AssertionError
    Arrays of another shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("wgs84")
>>> wgs84.surf_pos_of_ray_first_intersection(np.array([7.0e6, 0.0, 0.0]),
...                                          np.array([[-1.0, 0.0, 0.0], [0.0, 0.0, 1.0]]))
array([[6378137.,       0.,       0.],
       [     nan,      nan,      nan]])
)doc";

constexpr const char* doc_aer_coords = R"doc(aer_coords($self, r_target, lat_obs, lon_obs, alt_obs)
--

Azimuth, elevation and range of target(s) seen from one geodetic observer.

Parameters
----------
r_target : ndarray, shape (3,) or (N, 3)
    Earth-fixed position(s) of the target(s), metres.
lat_obs, lon_obs : float
    Geodetic latitude and longitude of the observer, radians.
alt_obs : float
    Altitude of the observer above the ellipsoid, metres.

Returns
-------
ndarray of AER_dtype, shape (1,) or (N,)
    Records with the fields ``azimuth`` (radians, clockwise from north), ``elevation``
    (radians above the local horizon) and ``range`` (metres).

Raises
------
TypeError
    An observer coordinate that is not a number.
AssertionError
    A target array of another shape.

Examples
--------
>>> import numpy as np
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> targets = np.array([[6478137.0, 0.0, 0.0], [6378137.0, 100e3, 0.0]])
>>> seen = create("wgs84").aer_coords(targets, 0.0, 0.0, 0.0)
>>> np.degrees(seen["azimuth"]), np.degrees(seen["elevation"]), seen["range"]
(array([ 0., 90.]), array([90.,  0.]), array([100000., 100000.]))
)doc";

constexpr const char* doc_Re = R"doc(Equatorial radius (semi-major axis), metres.

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> create("wgs72").Re
6378135.0
)doc";

constexpr const char* doc_f = R"doc(Flattening (Re - Rp) / Re, dimensionless.

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> create("grs80").f
0.003352810681182319
)doc";

constexpr const char* doc_Rp = R"doc(Polar radius (semi-minor axis) (1 - f) * Re, metres.

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import Ellipsoid
>>> Ellipsoid(6378137.0, 0.0).Rp
6378137.0
)doc";

constexpr const char* doc_Ellipsoid = R"doc(Ellipsoid(Re, f)
--

Oblate ellipsoid of revolution, with geodetic conversions over NumPy arrays.

Angles are radians, lengths metres, rates per second. Every method takes one point
(Python numbers, or a (3,) array) or a batch (one-dimensional arrays of N values, or an
(N, 3) array) and returns NumPy values.

Parameters
----------
Re : float
    Equatorial radius (semi-major axis), metres; greater than 0.
f : float
    Flattening, in [0, 1).

Attributes
----------
Re : float
    Equatorial radius, metres.
f : float
    Flattening.
Rp : float
    Polar radius (1 - f) * Re, metres.

Raises
------
TypeError
    A parameter that does not convert to float.
AssertionError
    Re <= 0 or f outside [0, 1) (not checked under ``python -O``).

See Also
--------
create : the WGS 84, GRS 80 and WGS 72 ellipsoids by name.

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import Ellipsoid
>>> sphere = Ellipsoid(6371000.0, 0.0)
>>> sphere.Re, sphere.f, sphere.Rp
(6371000.0, 0.0, 6371000.0)
>>> Ellipsoid(Re=6378137.0, f=1 / 298.257223563).Rp
6356752.314245179
)doc";

constexpr const char* doc_create = R"doc(create(name)
--

A new Ellipsoid with the parameters of a predefined geodetic system.

Parameters
----------
name : str
    ``"wgs84"``, ``"grs80"`` or ``"wgs72"``, in any letter case.

Returns
-------
Ellipsoid
    A new object on every call.

Raises
------
TypeError
    A name that is not exactly a ``str``.
KeyError
    Any other name (the lower-cased name is the key).

Examples
--------
>>> from kelvara.mathtools.ellipsoid.ellipsoid import create
>>> wgs84 = create("WGS84")
>>> wgs84.Re, wgs84.f
(6378137.0, 0.0033528106647474805)
>>> create("WGS-84")
Traceback (most recent call last):
    ...
KeyError: 'wgs-84'
)doc";

}  // namespace kelvara::ellipsoid_doc
