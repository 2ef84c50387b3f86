"""Satellite passes, and Sun and Moon rise, transit and set, for a station on the ellipsoid.

The searches run in C++ (:mod:`kelvara.events.events`) without the interpreter lock, many
satellites at once over kelvara's thread pool. This layer turns the window into a time axis
(UTC, TT, UT1 and the pole at every UTC midnight) and the results into NumPy structured arrays.
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np

from kelvara import _ellipsoid_arg
from kelvara.events import events as _ext
from kelvara.time import iers
from kelvara.time.time import Time

__all__ = ["find_passes", "find_rise_set", "PASS_DTYPE", "EVENT_DTYPE", "HORIZONS"]

#: One record per pass (see :func:`find_passes`).
PASS_DTYPE = np.dtype([
    ("satellite", np.int64),
    ("rise", "datetime64[us]"),
    ("culmination", "datetime64[us]"),
    ("set", "datetime64[us]"),
    ("rise_az", np.float64),
    ("culmination_az", np.float64),
    ("culmination_el", np.float64),
    ("set_az", np.float64),
    ("status", "U4"),
])

#: One record per event (see :func:`find_rise_set`).
EVENT_DTYPE = np.dtype([
    ("kind", "U7"),
    ("time", "datetime64[us]"),
    ("azimuth", np.float64),
    ("elevation", np.float64),
])

#: Named horizons, degrees: the elevation of the Sun's centre that each twilight ends at.
HORIZONS = {"civil": -6.0, "nautical": -12.0, "astronomical": -18.0}

_NODE_SPACING = 86400  # seconds between the time axis' nodes
_SUN_HORIZON = -0.8333  # degrees: upper limb (16') on the horizon with standard refraction (34')
_REFRACTION = 34.0 / 60.0  # degrees, standard refraction at the horizon
_STATUS = np.array(["pass", "up", "down"])
_KINDS = np.array(["rise", "maximum", "set", "transit"])


def _as_time(value: Any, name: str) -> Time:
    try:
        t = value if isinstance(value, Time) else Time(value)
    except (TypeError, ValueError) as e:
        raise type(e)(f"{name}: {e}") from None
    if not t.isscalar:
        raise ValueError(f"{name} must be a single time, got {t.size} of them")
    return t


def _window(t0: Any, t1: Any) -> tuple[Any, float]:
    a = _as_time(t0, "t0").utc.datetime64.astype("datetime64[us]")
    b = _as_time(t1, "t1").utc.datetime64.astype("datetime64[us]")
    if b < a:
        raise ValueError(f"t1 must not be before t0 (t0 = {a}, t1 = {b})")
    return a, float((b - a) / np.timedelta64(1, "us")) * 1e-6


def _eop(t: Time) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """UT1 - UTC (s) and the pole (rad) at the nodes, from the Earth orientation data in force."""
    dut1, xp, yp = iers.eop(t)
    return (np.asarray(dut1, np.float64).reshape(-1), np.asarray(xp, np.float64).reshape(-1),
            np.asarray(yp, np.float64).reshape(-1))


def _axis(start: np.datetime64, T: float) -> tuple[Any, ...]:
    """The window's time axis: a node at every UTC midnight from the day before the start to two
    days after the end. TT - UTC is held between nodes (a leap second falls on a midnight, so on
    a node), UT1 - TT (smooth through leap seconds) and the pole are interpolated linearly: over
    a day UT1 - UTC departs from a straight line by some 10 microseconds (2 cm of the Earth's
    turn at the equator) and the pole by well under a milliarcsecond."""
    day = start.astype("datetime64[D]")
    first = day - np.timedelta64(1, "D")
    end = start + np.timedelta64(int(math.ceil(T)), "s")
    last = end.astype("datetime64[D]") + np.timedelta64(2, "D")
    n = int((last - first) / np.timedelta64(_NODE_SPACING, "s")) + 1
    nodes = first.astype("datetime64[us]") + np.arange(n) * np.timedelta64(_NODE_SPACING, "s")
    t = Time(nodes)
    utc = t.jd12
    tt = t.tt.jd12
    tt_utc = np.round(((tt[:, 0] - utc[:, 0]) + (tt[:, 1] - utc[:, 1])) * 86400.0, 6)
    dut1, xp, yp = _eop(t)
    day0 = 2440587.5 + float(day.astype(np.int64))
    sec0 = float((start - day.astype("datetime64[us]")) / np.timedelta64(1, "us")) * 1e-6
    node0 = float((first.astype("datetime64[us]") - start) / np.timedelta64(1, "us")) * 1e-6
    return (day0, sec0, node0, float(_NODE_SPACING), np.ascontiguousarray(tt_utc),
            np.ascontiguousarray(dut1 - tt_utc), np.ascontiguousarray(xp), np.ascontiguousarray(yp))


def _ell(ell: Any, ellipsoid: Any) -> tuple[Any, str]:
    """The ellipsoid argument and the keyword it came by (`ellipsoid` is the older name)."""
    if ellipsoid is None:
        return ell, "ell"
    if ell is not None:
        raise TypeError("give the ellipsoid as ell or as ellipsoid, not both")
    return ellipsoid, "ellipsoid"


def _station(lat: Any, lon: Any, alt: Any, deg: bool, ell: Any, ell_name: str = "ell") -> tuple[float, ...]:
    vals = []
    for name, v in (("lat", lat), ("lon", lon), ("alt", alt)):
        try:
            x = float(v)
        except (TypeError, ValueError):
            raise TypeError(f"{name} must be a number, not {type(v).__name__}") from None
        if not math.isfinite(x):
            raise ValueError(f"{name} must be finite, got {x}")
        vals.append(x)
    la, lo, h = vals
    if deg:
        la, lo = math.radians(la), math.radians(lo)
    if abs(la) > math.pi / 2:
        raise ValueError(f"lat must lie within [-90, 90] degrees ([-pi/2, pi/2] with deg=False), got {lat!r}")
    a, f = _ellipsoid_arg.resolve_solid(ell, ell_name)
    return la, lo, h, a, f


def _angle(value: Any, name: str, deg: bool) -> float:
    try:
        x = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}") from None
    if not math.isfinite(x):
        raise ValueError(f"{name} must be finite, got {x}")
    x = math.radians(x) if deg else x
    if abs(x) > math.pi / 2:
        raise ValueError(f"{name} must lie within [-90, 90] degrees ([-pi/2, pi/2] with deg=False), got {value!r}")
    return x


def _stamp(start: np.datetime64, seconds: np.ndarray) -> np.ndarray:
    """Seconds from the start as datetime64[us], NaN becoming NaT."""
    out = np.full(seconds.shape, np.datetime64("NaT", "us"))
    ok = np.isfinite(seconds)
    out[ok] = start + np.round(seconds[ok] * 1e6).astype(np.int64).astype("timedelta64[us]")
    return out


@iers._one_warning_each
def find_passes(elements: Any, lat: float, lon: float, alt: float, t0: Any, t1: Any, *,
                min_elevation: float = 0.0, deg: bool = True, ell: Any = None,
                ellipsoid: Any = None) -> np.ndarray:
    """Passes of one or many satellites over a station between t0 and t1.

    Parameters
    ----------
    elements : Elements or sequence of Elements
        The satellites (SGP4 element sets; a kelvara ``TLE`` is taken too). A satellite whose
        propagation fails (decayed, or elements out of range) counts as below the threshold
        there; it never fails the others.
    lat, lon : float
        The station's geodetic latitude and longitude, degrees (radians with ``deg=False``).
    alt : float
        The station's height above the ellipsoid, m.
    t0, t1 : Time or anything Time accepts
        The window (UTC unless the Time says otherwise).
    min_elevation : float, optional
        The elevation a pass must exceed, degrees (radians with ``deg=False``); any value in
        [-90, 90].
    deg : bool, optional
        Angles in and out in degrees (default) or radians.
    ell : Ellipsoid, str or None, optional
        The station's ellipsoid, as geodesy's functions take it: None (WGS 84), a name
        ('wgs84', 'grs80', 'wgs72'), a kelvara ``Ellipsoid`` or a pymap3d ``Ellipsoid``
        (``ellipsoid=`` is the older name of this argument). One whose ``Re`` is not a finite positive
        length, or whose ``f`` is not finite and below 1, raises ValueError.

    Returns
    -------
    numpy.ndarray
        Structured array of :data:`PASS_DTYPE`, sorted by rise time: ``satellite`` (index into
        `elements`), ``rise``, ``culmination``, ``set`` (UTC ``datetime64[us]``, NaT where that
        side falls outside the window), ``rise_az``, ``culmination_az``, ``culmination_el``,
        ``set_az`` and ``status``: "pass", "up" (above `min_elevation` throughout the window)
        or "down" (never above it; every other field NaT or NaN). A pass under way at t0 has no
        rise, one still under way at t1 no set; they sort at t0 and by satellite.

    Notes
    -----
    The elevation is sampled at a step of 1/16 of the time the orbit takes to sweep a full turn
    at its current angular rate (short near perigee) and at most 1/16 of a sidereal day. Below
    `min_elevation` the search jumps ahead by the least time the satellite needs to come within
    reach: its central angle from the station closing to the largest at which the threshold can
    be seen, and its line of sight turning up to it, each at the orbit's largest speed over the
    ground; so no pass starts inside a jump. Every maximum of the elevation changes the sign of its rate between two
    samples and is refined there; rises and sets are refined to 1 ms on the monotonic stretches
    either side. A pass is missed only if the elevation rises and falls again within one step.

    Examples
    --------
    >>> from kelvara.events import find_passes
    >>> from kelvara.propagators.analytical.sgp4.sgp4 import Elements
    >>> iss = Elements("1 25544U 98067A   26341.50000000  .00016717  00000-0  30221-3 0  9990",
    ...                "2 25544  51.6400 208.9163 0006317  69.9862  25.2906 15.49560532 12345",
    ...                verify_checksum=False)
    >>> p = find_passes(iss, 48.85, 2.35, 35.0, "2026-12-08", "2026-12-09", min_elevation=10.0)
    >>> bool((p["culmination_el"] > 10.0).all())
    True
    """
    start, T = _window(t0, t1)
    la, lo, h, a, f = _station(lat, lon, alt, deg, *_ell(ell, ellipsoid))
    thr = _angle(min_elevation, "min_elevation", deg)
    seq = list(elements) if isinstance(elements, (list, tuple)) else (
        [elements] if not hasattr(elements, "__len__") or isinstance(elements, (str, bytes)) else list(elements))
    seq = [_elements(e) for e in seq]
    if not seq:
        return np.zeros(0, dtype=PASS_DTYPE)
    raw = _ext._passes(seq, la, lo, h, a, f, _axis(start, T), T, thr, 1.0 / 16.0)
    return _pass_records(start, raw, deg)


def _elements(e: Any) -> Any:
    """An Elements as it is; a kelvara TLE made into one (other objects are refused in C++)."""
    from kelvara.propagators.analytical.sgp4.tle import TLE
    if isinstance(e, TLE):
        from kelvara.propagators.analytical.sgp4.sgp4 import Elements
        return Elements.from_tle(e)
    return e


def _pass_records(start: np.datetime64, raw: tuple[np.ndarray, ...], deg: bool) -> np.ndarray:
    sat, rise, culm, set_, rise_az, culm_az, culm_el, set_az, status = raw
    out = np.zeros(sat.size, dtype=PASS_DTYPE)
    out["satellite"] = sat
    out["rise"] = _stamp(start, rise)
    out["culmination"] = _stamp(start, culm)
    out["set"] = _stamp(start, set_)
    conv = np.degrees if deg else (lambda x: x)
    out["rise_az"] = conv(rise_az)
    out["culmination_az"] = conv(culm_az)
    out["culmination_el"] = conv(culm_el)
    out["set_az"] = conv(set_az)
    out["status"] = _STATUS[status]
    key = np.where(np.isfinite(rise), rise, 0.0)
    return out[np.lexsort((sat, key))]


@iers._one_warning_each
def find_rise_set(body: str, lat: float, lon: float, alt: float, t0: Any, t1: Any, *,
                  horizon: Any = None, deg: bool = True, ell: Any = None,
                ellipsoid: Any = None) -> np.ndarray:
    """Rise, meridian transit and set of the Sun or the Moon at a station between t0 and t1.

    Parameters
    ----------
    body : {"sun", "moon"}
    lat, lon : float
        The station's geodetic latitude and longitude, degrees (radians with ``deg=False``).
    alt : float
        The station's height above the ellipsoid, m.
    t0, t1 : Time or anything Time accepts
        The window.
    horizon : None, float or {"civil", "nautical", "astronomical"}, optional
        None: the Sun's upper limb on the horizon with standard refraction (the centre at
        -0.8333 degrees); the Moon's upper limb likewise, its centre at -34' less its
        topocentric semi-diameter at that moment (about -0.83 to -0.86 degrees). A number: the
        elevation of the body's centre, degrees (radians with ``deg=False``). A name: the Sun's
        centre at -6, -12 or -18 degrees (twilight).
    deg : bool, optional
        Angles in and out in degrees (default) or radians.
    ell : Ellipsoid, str or None, optional
        The station's ellipsoid, as geodesy's functions take it: None (WGS 84), a name
        ('wgs84', 'grs80', 'wgs72'), a kelvara ``Ellipsoid`` or a pymap3d ``Ellipsoid``
        (``ellipsoid=`` is the older name of this argument). One whose ``Re`` is not a finite positive
        length, or whose ``f`` is not finite and below 1, raises ValueError.

    Returns
    -------
    numpy.ndarray
        Structured array of :data:`EVENT_DTYPE` in time order: ``kind`` ("rise", "transit",
        "set"), ``time`` (UTC ``datetime64[us]``), ``azimuth`` and ``elevation`` of the body's
        centre (geometric, without refraction). Transits are upper meridian crossings, listed
        whether the body is up or not. When the body neither rises nor sets in the window (polar
        day or night) the array starts with one record of kind "up" or "down" at t0.

    Examples
    --------
    >>> from kelvara.events import find_rise_set
    >>> ev = find_rise_set("sun", 48.85, 2.35, 35.0, "2026-06-21", "2026-06-22")
    >>> [str(k) for k in ev["kind"]]
    ['rise', 'transit', 'set']
    >>> find_rise_set("sun", 78.2, 15.6, 0.0, "2026-06-21", "2026-06-22")["kind"][0]
    np.str_('up')
    """
    name = body.lower() if isinstance(body, str) else body
    if name not in ("sun", "moon"):
        raise ValueError(f"body must be 'sun' or 'moon', got {body!r}")
    start, T = _window(t0, t1)
    la, lo, h, a, f = _station(lat, lon, alt, deg, *_ell(ell, ellipsoid))
    limb = False
    if horizon is None:
        if name == "sun":
            hz = math.radians(_SUN_HORIZON)
        else:
            hz, limb = -math.radians(_REFRACTION), True
    elif isinstance(horizon, str):
        if horizon.lower() not in HORIZONS:
            raise ValueError(f"horizon must be a number or one of {sorted(HORIZONS)}, got {horizon!r}")
        if name != "sun":
            raise ValueError(f"horizon {horizon!r} (twilight) applies to the Sun only")
        hz = math.radians(HORIZONS[horizon.lower()])
    else:
        hz = _angle(horizon, "horizon", deg)
    kind, t, az, el, up0, az0, el0 = _ext._rise_set(0 if name == "sun" else 1, la, lo, h, a, f,
                                                    _axis(start, T), T, hz, limb)
    crossings = bool(((kind == 0) | (kind == 2)).any())
    n0 = 0 if crossings else 1
    out = np.zeros(kind.size + n0, dtype=EVENT_DTYPE)
    conv = np.degrees if deg else (lambda x: x)
    if n0:
        out[0] = ("up" if up0 else "down", start, conv(az0), conv(el0))
    out["kind"][n0:] = _KINDS[kind]
    out["time"][n0:] = _stamp(start, t)
    out["azimuth"][n0:] = conv(az)
    out["elevation"][n0:] = conv(el)
    return out
