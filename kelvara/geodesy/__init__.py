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
from numbers import Real
from typing import Any, Callable

import numpy as np

from ..mathtools.ellipsoid.ellipsoid import create as _create
from . import ufuncs

__all__ = [
    "ecef2geodetic", "geodetic2ecef", "ecef2enu", "enu2ecef", "geodetic2enu", "enu2geodetic",
    "ecef2aer", "aer2ecef", "geodetic2aer", "aer2geodetic", "enu2aer", "aer2enu",
]

_NAMED = {name: (e.Re, e.f) for name in ("wgs84", "grs80", "wgs72") for e in (_create(name),)}
_WGS84 = _NAMED["wgs84"]
_A84, _F84 = _WGS84
_point = ufuncs._point
_REAL = "biuf"


def _ellipsoid(ell: Any) -> tuple[float, float]:
    """(a, f) of `ell`: None, a name, or an object with Re and f (kelvara) or semimajor_axis and
    flattening (pymap3d)."""
    if ell is None:
        return _WGS84
    if isinstance(ell, str):
        try:
            return _NAMED[ell.lower()]
        except KeyError:
            raise ValueError(f"ell must be an Ellipsoid, None or one of 'wgs84', 'grs80', 'wgs72', "
                             f"not {ell!r}") from None
    for a_name, f_name in (("Re", "f"), ("semimajor_axis", "flattening")):
        a, f = getattr(ell, a_name, None), getattr(ell, f_name, None)
        if a is not None and f is not None:
            return float(a), float(f)
    raise TypeError(f"ell must be an Ellipsoid, a name or None, not {type(ell).__name__}")


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

# numpydoc sections start at the margin (Python 3.11 keeps a docstring's indentation)
_all: tuple[Callable[..., Any], ...] = (ecef2geodetic, geodetic2ecef, *_DOCS, enu2aer, aer2enu)
for _each in _all:
    _each.__doc__ = inspect.cleandoc(_each.__doc__ or "")

del _all, _each, _fn, _summary, _p, _what, _ret, _code, _shown
