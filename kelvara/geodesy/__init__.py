"""Geodesy over NumPy arrays with pymap3d's functions: ECEF, geodetic, ENU and AER coordinates.

The twelve functions take pymap3d's arguments in pymap3d's order, with angles in degrees by
default (``deg=False`` for radians), lengths in metres and azimuths in [0, 360). ``ell`` is an
:class:`~kelvara.mathtools.ellipsoid.ellipsoid.Ellipsoid` (or a pymap3d ``Ellipsoid``), a name
("wgs84", "grs80", "wgs72") or None for WGS 84.

Arguments are Python numbers, lists or arrays of any real dtype (computed in float64), and
broadcast against one another, the observer's included. ``out=`` takes a tuple of three arrays
to write into. xarray DataArrays come back as DataArrays and Dask arrays stay lazy. A NaN or
infinite element, or a latitude (``lat`` or the observer's ``lat0``) beyond +-90 degrees (+-pi/2
with ``deg=False``), gives NaN in its own point only: no point lies there, and a latitude is not
wrapped over the pole. The loops run on kelvara's thread pool
(``kelvara._threads.set_num_threads``) without the interpreter lock.
"""

from __future__ import annotations

import inspect
import math
from numbers import Real
from typing import Any, Callable

import numpy as np

from .. import _ellipsoid_arg
from . import ufuncs

__all__ = [
    "ecef2geodetic", "geodetic2ecef", "ecef2enu", "enu2ecef", "geodetic2enu", "enu2geodetic",
    "ecef2aer", "aer2ecef", "geodetic2aer", "aer2geodetic", "enu2aer", "aer2enu",
    "geodesic_inverse", "geodesic_direct", "geodesic_points", "geodesic_area", "vdist", "vreckon",
]

_NAMED = _ellipsoid_arg.NAMED
_WGS84 = _ellipsoid_arg.WGS84
_A84, _F84 = _WGS84
_point = ufuncs._point
_REAL = "biuf"


_ellipsoid = _ellipsoid_arg.resolve


def _checked(name: str, value: Any) -> Any:
    """`value` ready for the ufunc, or TypeError/ValueError naming the argument."""
    if type(value) in (float, int):
        return value
    if hasattr(value, "__array_ufunc__") and not isinstance(value, np.ndarray | np.generic):
        dtype = getattr(value, "dtype", None)      # xarray, Dask and the like: left lazy
        if dtype is not None and np.dtype(dtype).kind not in _REAL:
            raise TypeError(f"{name} must hold real numbers, not {np.dtype(dtype)}")
        return value
    if isinstance(value, (str, bytes)):
        raise TypeError(f"{name} must be a real number or an array of them, not {type(value).__name__}")
    try:
        array = np.asarray(value)
    except (TypeError, ValueError) as exc:
        raise ValueError(f"{name} is not an array of numbers: {exc}") from None
    if array.dtype.kind == "O":
        for item in array.flat:
            if not isinstance(item, Real):
                raise TypeError(f"{name} must hold real numbers, not {type(item).__name__}")
        return array.astype(np.float64)
    if array.dtype.kind not in _REAL:
        raise TypeError(f"{name} must hold real numbers, not {array.dtype}")
    if array.dtype.itemsize > 8 and array.dtype.kind == "f":
        return array.astype(np.float64)     # long double: computed in float64 like the rest
    return array


def _broadcast_error(names: tuple[str, ...], args: list[Any], out: Any) -> None:
    """Raise ValueError naming the first argument whose shape does not broadcast."""
    shape: tuple[int, ...] = ()
    before: list[str] = []
    for name, value in zip(names, args):
        this = tuple(np.shape(value))
        try:
            shape = np.broadcast_shapes(shape, this)
        except ValueError:
            raise ValueError(f"{name} of shape {this} does not broadcast with {', '.join(before)} "
                             f"of shape {shape}") from None
        before.append(name)
    if out is not None:
        for i, o in enumerate(out if isinstance(out, tuple) else (out,)):
            if o is not None and tuple(np.shape(o)) != shape:
                raise ValueError(f"out[{i}] has shape {np.shape(o)}, the inputs broadcast to {shape}")


def _lazy(args: list[Any]) -> str:
    """'xarray' when an argument is an xarray object over Dask, 'dask' when one is a Dask array."""
    kind = ""
    for v in args:
        module = type(v).__module__
        if module.startswith("xarray.") and getattr(v, "chunks", None) is not None:
            return "xarray"
        if module.startswith("dask.") and hasattr(v, "__dask_graph__"):
            kind = "dask"
    return kind


def _call(ufunc: np.ufunc, names: tuple[str, ...], args: tuple[Any, ...], extra: tuple[float, ...],
          out: Any) -> tuple[Any, Any, Any]:
    if out is None:
        result = _point(ufunc, *args, *extra)
        if result is not None:
            return result
    checked = [_checked(name, value) for name, value in zip(names, args)]
    lazy = _lazy(checked)
    if lazy == "xarray":
        import xarray

        return tuple(xarray.apply_ufunc(
            ufunc, *checked, *extra, output_core_dims=[[]] * ufunc.nout, dask="parallelized",
            output_dtypes=[np.float64] * ufunc.nout, keep_attrs=True))
    if lazy == "dask":
        import dask.array

        # block by block, each block one call of the ufunc (pickled by name for worker processes)
        # (NumPy arrays among the arguments are cut into the same chunks as the Dask ones)
        signature = ",".join(["()"] * ufunc.nin) + "->" + ",".join(["()"] * ufunc.nout)
        where = [i for i, v in enumerate(checked) if np.ndim(v) > 0]
        for i, v in zip(where, dask.array.broadcast_arrays(*(checked[i] for i in where))):
            checked[i] = v
        return tuple(dask.array.apply_gufunc(ufunc, signature, *checked, *extra,
                                             output_dtypes=(np.float64,) * ufunc.nout))
    try:
        if out is None:
            return ufunc(*checked, *extra)
        return ufunc(*checked, *extra, out=out)
    except ValueError:
        _broadcast_error(names, checked, out)
        raise


def _ell_deg(ell: Any, deg: Any) -> tuple[float, float, float]:
    a, f = _ellipsoid(ell)
    return a, f, 1.0 if deg else 0.0


def _run(ufunc: np.ufunc, names: tuple[str, ...], args: tuple[Any, ...], ell: Any, deg: Any,
         out: Any) -> tuple[Any, Any, Any]:
    """`ufunc` over the arguments and the ellipsoid: one WGS 84 point goes straight to the C
    loop (no ellipsoid to read), everything else through _call."""
    if ell is None and out is None:
        result = _point(ufunc, *args, _A84, _F84, 1.0 if deg else 0.0)
        if result is not None:
            return result
    return _call(ufunc, names, args, _ell_deg(ell, deg), out)


def ecef2geodetic(x: Any, y: Any, z: Any, ell: Any = None, deg: bool = True, *,
                  out: Any = None) -> tuple[Any, Any, Any]:
    """Geodetic latitude, longitude and altitude of ECEF positions.

    Parameters
    ----------
    x, y, z : array_like
        ECEF coordinates (m).
    ell : Ellipsoid, str or None
        The ellipsoid (default WGS 84).
    deg : bool
        Angles in degrees (True) or radians.
    out : tuple of 3 ndarrays, optional
        Arrays to write lat, lon, alt into.

    Returns
    -------
    lat, lon, alt : ndarray or float
        Latitude and longitude in degrees (or radians), altitude above the ellipsoid (m).
        On the polar axis the latitude is +-90 and the longitude atan2(y, x); the centre gives
        latitude 90 with the sign of z and altitude minus the polar radius.

    Examples
    --------
    >>> from kelvara.geodesy import ecef2geodetic
    >>> lat, lon, alt = ecef2geodetic(3906625.0, 303789.0, 5015620.0)
    >>> print(f"{lat:.6f} {lon:.6f} {alt:.3f}")
    52.188065 4.446516 -50.003
    """
    return _run(ufuncs.ecef2geodetic, ("x", "y", "z"), (x, y, z), ell, deg, out)


def geodetic2ecef(lat: Any, lon: Any, alt: Any, ell: Any = None, deg: bool = True, *,
                  out: Any = None) -> tuple[Any, Any, Any]:
    """ECEF positions of geodetic latitude, longitude and altitude.

    Parameters
    ----------
    lat, lon : array_like
        Geodetic latitude and longitude, degrees (or radians with ``deg=False``).
    alt : array_like
        Altitude above the ellipsoid (m).
    ell : Ellipsoid, str or None
        The ellipsoid (default WGS 84).
    deg : bool
        Angles in degrees (True) or radians.
    out : tuple of 3 ndarrays, optional
        Arrays to write x, y, z into.

    Returns
    -------
    x, y, z : ndarray or float
        ECEF coordinates (m).

    Examples
    --------
    >>> from kelvara.geodesy import geodetic2ecef
    >>> x, y, z = geodetic2ecef([0.0, 90.0], 0.0, 0.0)
    >>> print(x.round(3), z.round(3))
    [6378137.       0.] [      0.    6356752.314]
    """
    return _run(ufuncs.geodetic2ecef, ("lat", "lon", "alt"), (lat, lon, alt), ell, deg, out)


_OBS = ("lat0", "lon0", "h0")
_SEE = """
    Parameters
    ----------
    {p} : array_like
        {what}
    lat0, lon0, h0 : array_like
        The observer's geodetic latitude, longitude (degrees, or radians with ``deg=False``)
        and altitude (m); they broadcast with the other arguments.
    ell : Ellipsoid, str or None
        The ellipsoid (default WGS 84).
    deg : bool
        Angles in degrees (True) or radians.
    out : tuple of 3 ndarrays, optional
        Arrays to write the results into.

    Returns
    -------
    {r}
"""


def ecef2enu(x: Any, y: Any, z: Any, lat0: Any, lon0: Any, h0: Any, ell: Any = None, deg: bool = True, *,
             out: Any = None) -> tuple[Any, Any, Any]:
    return _run(ufuncs.ecef2enu, ("x", "y", "z", *_OBS), (x, y, z, lat0, lon0, h0), ell, deg, out)


def enu2ecef(e1: Any, n1: Any, u1: Any, lat0: Any, lon0: Any, h0: Any, ell: Any = None, deg: bool = True, *,
             out: Any = None) -> tuple[Any, Any, Any]:
    return _run(ufuncs.enu2ecef, ("e1", "n1", "u1", *_OBS), (e1, n1, u1, lat0, lon0, h0), ell, deg, out)


def geodetic2enu(lat: Any, lon: Any, h: Any, lat0: Any, lon0: Any, h0: Any, ell: Any = None, deg: bool = True,
                 *, out: Any = None) -> tuple[Any, Any, Any]:
    return _run(ufuncs.geodetic2enu, ("lat", "lon", "h", *_OBS), (lat, lon, h, lat0, lon0, h0), ell, deg, out)


def enu2geodetic(e: Any, n: Any, u: Any, lat0: Any, lon0: Any, h0: Any, ell: Any = None, deg: bool = True, *,
                 out: Any = None) -> tuple[Any, Any, Any]:
    return _run(ufuncs.enu2geodetic, ("e", "n", "u", *_OBS), (e, n, u, lat0, lon0, h0), ell, deg, out)


def ecef2aer(x: Any, y: Any, z: Any, lat0: Any, lon0: Any, h0: Any, ell: Any = None, deg: bool = True, *,
             out: Any = None) -> tuple[Any, Any, Any]:
    return _run(ufuncs.ecef2aer, ("x", "y", "z", *_OBS), (x, y, z, lat0, lon0, h0), ell, deg, out)


def aer2ecef(az: Any, el: Any, srange: Any, lat0: Any, lon0: Any, alt0: Any, ell: Any = None, deg: bool = True,
             *, out: Any = None) -> tuple[Any, Any, Any]:
    return _run(ufuncs.aer2ecef, ("az", "el", "srange", "lat0", "lon0", "alt0"), (az, el, srange, lat0, lon0, alt0),
                ell, deg, out)


def geodetic2aer(lat: Any, lon: Any, h: Any, lat0: Any, lon0: Any, h0: Any, ell: Any = None, deg: bool = True,
                 *, out: Any = None) -> tuple[Any, Any, Any]:
    return _run(ufuncs.geodetic2aer, ("lat", "lon", "h", *_OBS), (lat, lon, h, lat0, lon0, h0), ell, deg, out)


def aer2geodetic(az: Any, el: Any, srange: Any, lat0: Any, lon0: Any, h0: Any, ell: Any = None, deg: bool = True,
                 *, out: Any = None) -> tuple[Any, Any, Any]:
    return _run(ufuncs.aer2geodetic, ("az", "el", "srange", *_OBS), (az, el, srange, lat0, lon0, h0), ell, deg,
                out)


def enu2aer(e: Any, n: Any, u: Any, deg: bool = True, *, out: Any = None) -> tuple[Any, Any, Any]:
    return _call(ufuncs.enu2aer, ("e", "n", "u"), (e, n, u), (1.0 if deg else 0.0,), out)


def aer2enu(az: Any, el: Any, srange: Any, deg: bool = True, *, out: Any = None) -> tuple[Any, Any, Any]:
    return _call(ufuncs.aer2enu, ("az", "el", "srange"), (az, el, srange), (1.0 if deg else 0.0,), out)


_GEODESIC_NOTES = """
    The geodesic is the shortest path on the ellipsoid, solved after Karney (J. Geodesy 87:43-55,
    2013) to about 15 nm for any pair of points, nearly antipodal ones included. Azimuths are
    clockwise from north in [0, 360). At a pole the azimuth is the limit taken along the meridian
    of the given longitude: from the north pole with longitude ``lon1``, the azimuth towards the
    meridian ``lon1 + x`` is ``180 - x``; at the south pole it is ``x``. A latitude beyond +-90, a
    NaN or an infinity gives NaN in that point's results only."""


def geodesic_inverse(lat1: Any, lon1: Any, lat2: Any, lon2: Any, ell: Any = None, deg: bool = True, *,
                     out: Any = None) -> tuple[Any, Any, Any]:
    """Distance and azimuths of the geodesic between two points (the inverse geodesic problem).

    Parameters
    ----------
    lat1, lon1, lat2, lon2 : array_like
        Geodetic latitudes and longitudes of the two points, degrees (or radians with
        ``deg=False``).
    ell : Ellipsoid, str or None
        The ellipsoid (default WGS 84), with ``|f| <= 1/50``.
    deg : bool
        Angles in degrees (True) or radians.
    out : tuple of 3 ndarrays, optional
        Arrays to write s12, azi1, azi2 into.

    Returns
    -------
    s12 : ndarray or float
        Length of the geodesic (m).
    azi1, azi2 : ndarray or float
        Azimuth of the geodesic at the first point and, continuing forward, at the second.

    Notes
    -----{notes}
    Coincident points give distance 0 and azimuths 0 south of the equator, 180 on and north of it.

    Examples
    --------
    >>> from kelvara.geodesy import geodesic_inverse
    >>> s12, azi1, azi2 = geodesic_inverse(48.8566, 2.3522, 40.7128, -74.0060)  # Paris - New York
    >>> print(f"{{s12 / 1000:.3f}} km {{azi1:.4f}} {{azi2:.4f}}")
    5852.935 km 291.8261 233.7240
    """
    return _run(ufuncs.geodesic_inverse, ("lat1", "lon1", "lat2", "lon2"), (lat1, lon1, lat2, lon2), ell, deg, out)


def geodesic_direct(lat1: Any, lon1: Any, azimuth: Any, distance: Any, ell: Any = None, deg: bool = True, *,
                    out: Any = None) -> tuple[Any, Any, Any]:
    """End point of the geodesic from a point along an azimuth (the direct geodesic problem).

    Parameters
    ----------
    lat1, lon1 : array_like
        Geodetic latitude and longitude of the start, degrees (or radians with ``deg=False``).
    azimuth : array_like
        Azimuth at the start, clockwise from north.
    distance : array_like
        Length along the geodesic (m); negative goes backwards.
    ell : Ellipsoid, str or None
        The ellipsoid (default WGS 84), with ``|f| <= 1/50``.
    deg : bool
        Angles in degrees (True) or radians.
    out : tuple of 3 ndarrays, optional
        Arrays to write lat2, lon2, azi2 into.

    Returns
    -------
    lat2, lon2 : ndarray or float
        The end point; the longitude in [-180, 180).
    azi2 : ndarray or float
        Azimuth of the geodesic there, in [0, 360).

    Notes
    -----{notes}

    Examples
    --------
    >>> from kelvara.geodesy import geodesic_direct
    >>> lat2, lon2, azi2 = geodesic_direct(48.8566, 2.3522, 291.826083, 5852935.292)
    >>> print(f"{{lat2:.4f}} {{lon2:.4f}} {{azi2:.4f}}")
    40.7128 -74.0060 233.7240
    """
    return _run(ufuncs.geodesic_direct, ("lat1", "lon1", "azimuth", "distance"), (lat1, lon1, azimuth, distance),
                ell, deg, out)


def vdist(Lat1: Any, Lon1: Any, Lat2: Any, Lon2: Any, ell: Any = None, deg: bool = True) -> tuple[Any, Any]:
    """pymap3d's ``vincenty.vdist``: distance (m) and azimuth at the first point in [0, 360).

    The arguments and results are pymap3d's, computed by :func:`geodesic_inverse`, which
    converges for every pair (Vincenty's iteration does not near the antipode).

    Examples
    --------
    >>> from kelvara.geodesy import vdist
    >>> dist, az = vdist(0.0, 0.0, 0.0, 1.0)
    >>> print(f"{dist:.3f} {az:.1f}")
    111319.491 90.0
    """
    s12, azi1, _ = geodesic_inverse(Lat1, Lon1, Lat2, Lon2, ell, deg)
    return s12, azi1


def vreckon(Lat1: Any, Lon1: Any, Rng: Any, Azim: Any, ell: Any = None, deg: bool = True) -> tuple[Any, Any]:
    """pymap3d's ``vincenty.vreckon``: the end point (lat2, lon2) with the longitude in [0, 360).

    The arguments (note: distance before azimuth) and results are pymap3d's, computed by
    :func:`geodesic_direct`.

    Examples
    --------
    >>> from kelvara.geodesy import vreckon
    >>> lat2, lon2 = vreckon(0.0, 0.0, 111319.49079327357, 270.0)
    >>> print(f"{lat2:.6f} {lon2:.6f}")
    0.000000 359.000000
    """
    lat2, lon2, _ = geodesic_direct(Lat1, Lon1, Azim, Rng, ell, deg)
    full = 360.0 if deg else 2 * np.pi
    lon2 = np.mod(lon2, full)
    return lat2, lon2 - full * (lon2 >= full)


def _vertices(name: str, value: Any) -> np.ndarray:
    checked = _checked(name, value)
    if _lazy([checked]):
        raise TypeError(f"{name} must be an in-memory array (Dask and xarray arrays are not taken here)")
    return np.asarray(checked, dtype=np.float64)


def geodesic_points(lat1: Any, lon1: Any, lat2: Any, lon2: Any, n: int, ell: Any = None,
                    deg: bool = True) -> tuple[np.ndarray, np.ndarray]:
    """``n`` points evenly spaced along the geodesic between two points, both ends included.

    Parameters
    ----------
    lat1, lon1, lat2, lon2 : array_like
        The two points, degrees (or radians with ``deg=False``); they broadcast.
    n : int
        Number of points, at least 2. (pyproj's ``Geod.npts`` gives the n points *between* the
        ends; ``geodesic_points(..., n + 2)[:, 1:-1]`` is that.)
    ell : Ellipsoid, str or None
        The ellipsoid (default WGS 84).
    deg : bool
        Angles in degrees (True) or radians.

    Returns
    -------
    lats, lons : ndarray
        Of shape ``broadcast shape + (n,)``; longitudes in [-180, 180).

    Examples
    --------
    >>> from kelvara.geodesy import geodesic_points
    >>> lats, lons = geodesic_points(0.0, 0.0, 0.0, 90.0, 4)
    >>> print(lats.round(9) + 0.0, lons.round(9) + 0.0)
    [0. 0. 0. 0.] [ 0. 30. 60. 90.]
    """
    if isinstance(n, bool) or not isinstance(n, (int, np.integer)):
        raise TypeError(f"n must be an int, not {type(n).__name__}")
    if n < 2:
        raise ValueError(f"n must be at least 2, not {n}")
    names = ("lat1", "lon1", "lat2", "lon2")
    p1, q1, p2, q2 = (_vertices(k, v) for k, v in zip(names, (lat1, lon1, lat2, lon2)))
    try:
        shape = np.broadcast_shapes(p1.shape, q1.shape, p2.shape, q2.shape)
    except ValueError:
        _broadcast_error(names, [p1, q1, p2, q2], None)
        raise
    s12, azi1, _ = geodesic_inverse(p1, q1, p2, q2, ell, deg)
    t = np.linspace(0.0, 1.0, int(n))
    lats, lons, _ = geodesic_direct(p1[..., None], q1[..., None], np.asarray(azi1)[..., None],
                                    np.asarray(s12)[..., None] * t, ell, deg)
    lats = np.array(np.broadcast_to(lats, shape + (int(n),)))
    lons = np.array(np.broadcast_to(lons, shape + (int(n),)))
    # both ends as given (the direct problem reaches them only to within nanometres), the
    # longitudes reduced to [-180, 180)
    half = 180.0 if deg else np.pi
    for k, la, lo in ((0, p1, q1), (-1, p2, q2)):
        bad = np.isnan(lats[..., k])
        lats[..., k] = np.where(bad, np.nan, np.broadcast_to(la, shape))
        lo = np.broadcast_to(lo, shape)
        lo = np.where((lo >= -half) & (lo < half), lo, np.mod(lo + half, 2 * half) - half)
        lons[..., k] = np.where(bad, np.nan, lo)
    return lats, lons


def geodesic_area(lats: Any, lons: Any, ell: Any = None, deg: bool = True) -> tuple[float, float]:
    """Area and perimeter of a polygon whose sides are geodesics.

    Parameters
    ----------
    lats, lons : array_like
        The vertices in order, 1-D of the same length (the last joins back to the first).
    ell : Ellipsoid, str or None
        The ellipsoid (default WGS 84).
    deg : bool
        Angles in degrees (True) or radians.

    Returns
    -------
    area : float
        The area (m^2), positive for vertices counter-clockwise, negative clockwise (as pyproj's
        ``Geod.polygon_area_perimeter``); of the two regions a polygon bounds, the one it
        encircles in its own sense, reduced to at most half the ellipsoid's area in magnitude.
    perimeter : float
        Sum of the sides' lengths (m).

    A NaN, an infinity or a latitude beyond +-90 gives NaN for both.

    Examples
    --------
    >>> from kelvara.geodesy import geodesic_area
    >>> area, perimeter = geodesic_area([0.0, 0.0, 1.0, 1.0], [0.0, 1.0, 1.0, 0.0])
    >>> print(f"{area / 1e6:.3f} km2 {perimeter / 1e3:.3f} km")
    12308.778 km2 443.771 km
    """
    la, lo = _vertices("lats", lats), _vertices("lons", lons)
    if la.ndim != 1 or lo.shape != la.shape:
        raise ValueError(f"lats and lons must be 1-D of the same length, not of shapes {la.shape} and {lo.shape}")
    if la.size == 0:
        return 0.0, 0.0
    a, f = _ellipsoid(ell)
    s12, S12, cross = ufuncs._geodesic_edge(la, lo, np.roll(la, -1), np.roll(lo, -1), a, f, 1.0 if deg else 0.0)
    perimeter = math.fsum(s12)
    if math.isnan(perimeter):
        return math.nan, math.nan
    e2 = f * (2 - f)
    b = a * (1 - f)
    e = math.sqrt(abs(e2))
    ratio = 1.0 if e2 == 0 else (math.atanh(e) if e2 > 0 else math.atan(e)) / e
    area0 = 4 * math.pi * (a * a + b * b * ratio) / 2
    # the edges' areas add up clockwise-positive, within a multiple of the ellipsoid's area
    area = math.remainder(math.fsum(S12), area0)
    if int(np.sum(cross)) % 2:
        area += (-1.0 if area >= 0 else 1.0) * area0 / 2   # the polygon encircles a pole
    area = -area
    if area > area0 / 2:
        area -= area0
    elif area <= -area0 / 2:
        area += area0
    return area + 0.0, perimeter


_ENU = "e, n, u : array_like\n        East, north, up of the target from the observer (m)."
_ECEF = "x, y, z : array_like\n        ECEF coordinates (m)."
_GEO = ("lat, lon, h : array_like\n        Geodetic latitude, longitude (degrees, or radians with ``deg=False``) and "
        "altitude (m).")
_AER = ("az, el, srange : array_like\n        Azimuth clockwise from north in [0, 360), elevation (degrees, or "
        "radians with ``deg=False``) and slant range (m).")
_DOCS: dict[Callable[..., Any], tuple[str, str, str, str, str, str]] = {
    ecef2enu: ("East, north, up of ECEF positions seen from an observer.", "x, y, z", _ECEF, _ENU,
               "e, n, u = ecef2enu(6378237.0, 0.0, 100.0, 0.0, 0.0, 0.0)", "(0.0, 100.0, 100.0)"),
    enu2ecef: ("ECEF positions of east, north, up offsets from an observer.", "e1, n1, u1", _ENU, _ECEF,
               "x, y, z = enu2ecef(0.0, 100.0, 100.0, 0.0, 0.0, 0.0)", "(6378237.0, 0.0, 100.0)"),
    geodetic2enu: ("East, north, up of geodetic points seen from an observer.", "lat, lon, h", _GEO, _ENU,
                   "e, n, u = geodetic2enu(0.0, 0.0, 100.0, 0.0, 0.0, 0.0)", "(0.0, 0.0, 100.0)"),
    enu2geodetic: ("Geodetic coordinates of east, north, up offsets from an observer.", "e, n, u", _ENU, _GEO,
                   "lat, lon, h = enu2geodetic(0.0, 0.0, 100.0, 0.0, 0.0, 0.0)", "(0.0, 0.0, 100.0)"),
    ecef2aer: ("Azimuth, elevation and slant range of ECEF positions seen from an observer.", "x, y, z", _ECEF,
               _AER, "az, el, srange = ecef2aer(6378237.0, 0.0, 100.0, 0.0, 0.0, 0.0)", "(0.0, 45.0, 141.421)"),
    aer2ecef: ("ECEF positions at azimuth, elevation and slant range from an observer.", "az, el, srange", _AER,
               _ECEF, "x, y, z = aer2ecef(0.0, 90.0, 100.0, 0.0, 0.0, 0.0)", "(6378237.0, 0.0, 0.0)"),
    geodetic2aer: ("Azimuth, elevation and slant range of geodetic points seen from an observer.", "lat, lon, h",
                   _GEO, _AER, "az, el, srange = geodetic2aer(0.0, 0.0, 100.0, 0.0, 0.0, 0.0)", "(0.0, 90.0, 100.0)"),
    aer2geodetic: ("Geodetic coordinates at azimuth, elevation and slant range from an observer.",
                   "az, el, srange", _AER, _GEO,
                   "lat, lon, h = aer2geodetic(0.0, 90.0, 100.0, 0.0, 0.0, 0.0)", "(0.0, 0.0, 100.0)"),
}
for _fn, (_summary, _p, _what, _ret, _code, _shown) in _DOCS.items():
    _fn.__doc__ = (f"{_summary}\n" + _SEE.format(p=_p, what=_what.split("\n", 1)[1].strip(), r=_ret)
                   + f"\n    Examples\n    --------\n    >>> from kelvara.geodesy import {_fn.__name__}\n"
                   f"    >>> {_code}\n    >>> tuple(round(float(v), 3) + 0.0 for v in ({_code.split(' =')[0]}))\n"
                   f"    {_shown}\n")

enu2aer.__doc__ = """Azimuth, elevation and slant range of east, north, up offsets.

    Parameters
    ----------
    e, n, u : array_like
        East, north, up (m).
    deg : bool
        Angles in degrees (True) or radians.
    out : tuple of 3 ndarrays, optional
        Arrays to write az, el, srange into.

    Returns
    -------
    az, el, srange : ndarray or float
        Azimuth clockwise from north in [0, 360) (or [0, 2 pi)), elevation, slant range (m).

    Examples
    --------
    >>> from kelvara.geodesy import enu2aer
    >>> az, el, srange = enu2aer([-1.0, 0.0], [0.0, 1.0], [0.0, 1.0])
    >>> print(az, el, srange.round(6))
    [270.   0.] [ 0. 45.] [1.       1.414214]
    """

aer2enu.__doc__ = """East, north, up offsets of azimuth, elevation and slant range.

    Parameters
    ----------
    az, el : array_like
        Azimuth clockwise from north and elevation (degrees, or radians with ``deg=False``).
    srange : array_like
        Slant range (m).
    deg : bool
        Angles in degrees (True) or radians.
    out : tuple of 3 ndarrays, optional
        Arrays to write e, n, u into.

    Returns
    -------
    e, n, u : ndarray or float
        East, north, up (m).

    Examples
    --------
    >>> from kelvara.geodesy import aer2enu
    >>> e, n, u = aer2enu(90.0, 0.0, 1000.0)
    >>> print(round(float(e), 9), round(float(n), 9), float(u))
    1000.0 0.0 0.0
    """

for _fn in (geodesic_inverse, geodesic_direct):
    _fn.__doc__ = (_fn.__doc__ or "").format(notes=_GEODESIC_NOTES)

# numpydoc sections start at the margin (Python 3.11 keeps a docstring's indentation)
_all: tuple[Callable[..., Any], ...] = (ecef2geodetic, geodetic2ecef, *_DOCS, enu2aer, aer2enu, geodesic_inverse,
                                        geodesic_direct, vdist, vreckon, geodesic_points, geodesic_area)
for _each in _all:
    _each.__doc__ = inspect.cleandoc(_each.__doc__ or "")

del _all, _each, _fn, _summary, _p, _what, _ret, _code, _shown
