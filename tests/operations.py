"""Every public operation of kelvara in one table, shared by the fuzz, leak and thread tests.

Each `Op` names one Python-level entry point (a constructor, function, method, property, or the
C-level tables through the test client extensions), says how to call it, which exceptions it
may raise, gives a hypothesis strategy for arbitrary calls and a few fixed calls (good and bad)
for the leak and thread tests.
"""

from __future__ import annotations

import contextlib
import ctypes
import datetime
import faulthandler
import inspect
import numbers
import os
import pickle
import re
import sys
import tempfile
import types
import warnings
from dataclasses import dataclass, field
from decimal import Decimal
from fractions import Fraction
from typing import Any, Callable

import numpy as np
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import kelvara.events as events_module
import kelvara.geodesy as geodesy_module
from kelvara.bodies import bodies
from kelvara.datamodel import structured
from kelvara.frames import frames as frames_module
from kelvara.geodesy import ufuncs as geodesy_ufuncs
from kelvara.mathtools.ellipsoid import ellipsoid
from kelvara.propagators.analytical.sgp4 import sgp4 as sgp4_module
from kelvara.propagators.analytical.sgp4 import tle as tle_module
from kelvara.satellite import satellite
from kelvara.time import iers as iers_module
from kelvara.time import time as time_module

import bodies_client
import ellipsoid_client
import frametest
import linear_client
import tle_client

Time = time_module.Time
Ellipsoid = ellipsoid.Ellipsoid
WGS84 = ellipsoid.create("wgs84")

# --- hypothesis profiles ---------------------------------------------------------------------
# "ci" keeps `make test` quick and reproducible; "fuzz" (KELVARA_FUZZ=1, `make fuzz`) digs deep.

settings.register_profile(
    "ci", max_examples=30, deadline=None, derandomize=True, database=None,
    suppress_health_check=list(HealthCheck),
)
settings.register_profile(
    "fuzz", max_examples=3000, deadline=None, database=None, suppress_health_check=list(HealthCheck),
)
PROFILE = settings.get_profile("fuzz" if os.environ.get("KELVARA_FUZZ") else "ci")

# A call that runs longer than this is a hang: dump every thread's stack and stop the process.
# The stacks go to a file (pytest captures stderr and would lose them when the process stops).
HANG_SECONDS = 60.0
HANG_LOG = os.environ.get("KELVARA_HANG_LOG") or os.path.join(tempfile.gettempdir(), "kelvara-hang.log")
_hang_file = None


@contextlib.contextmanager
def watchdog(seconds: float = HANG_SECONDS):
    global _hang_file
    if _hang_file is None:
        _hang_file = open(HANG_LOG, "w")
    faulthandler.dump_traceback_later(seconds, exit=True, file=_hang_file)
    try:
        yield
    finally:
        faulthandler.cancel_dump_traceback_later()


# The modules read the interpreter's optimisation flag at every call (as `python -O` sets it), so
# flipping it around a call runs that call with its shape assertions skipped.
_OPTIMIZE = ctypes.c_int.in_dll(ctypes.pythonapi, "Py_OptimizeFlag")


@contextlib.contextmanager
def assertions_disabled(disabled: bool = True):
    old = _OPTIMIZE.value
    _OPTIMIZE.value = 1 if disabled else old
    try:
        yield
    finally:
        _OPTIMIZE.value = old


# --- hostile objects ---------------------------------------------------------------------------

def quietly(fn, *args, **kwargs):
    """fn(*args, **kwargs) with warnings silenced (building inputs, not testing)."""
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore")
        return fn(*args, **kwargs)


class Boom(Exception):
    """Raised by the hostile objects below; it must come out of the call unchanged."""


class BadFloat:
    def __float__(self):
        raise Boom("float")

    def __index__(self):
        raise Boom("index")


class BadReal(BadFloat):
    """A Real (by registration) that refuses to become a float."""


numbers.Real.register(BadReal)


class BadBool:
    def __bool__(self):
        raise Boom("bool")


class BadStr(str):
    """A str subclass: refused where an exact str is required."""


class BadArray:
    """Looks like an array to attribute checks, but every access raises."""

    @property
    def ndim(self):
        raise Boom("ndim")

    @property
    def shape(self):
        raise Boom("shape")

    def __getitem__(self, i):
        raise Boom("getitem")


class FakeArray:
    """Claims a (2, 3) shape but holds fewer rows than it says."""

    ndim = 2
    shape = (2, 3)

    def __getitem__(self, i):
        if i >= 1:
            raise IndexError(i)
        return [1.0, 2.0, 3.0]


HOSTILE = [BadFloat(), BadReal(), Fraction(1, 3), Decimal("1.5"), BadBool(), BadStr("wgs84"), BadArray(), FakeArray(), object(), type, print]

# --- values ------------------------------------------------------------------------------------

any_float = st.floats(allow_nan=True, allow_infinity=True)
edge_float = st.sampled_from([0.0, -0.0, 1.0, -1.0, np.nan, np.inf, -np.inf, 1e-300, 1e308, -1e308,
                              5e-324, 6378137.0, 6356752.3, np.pi / 2, -np.pi / 2, np.pi, 1e-5, 2.0 ** 53])
floaty = st.one_of(edge_float, any_float)

scalars = st.one_of(
    st.none(), st.booleans(), st.integers(-(2 ** 70), 2 ** 70), floaty,
    st.text(max_size=8), st.binary(max_size=8), st.complex_numbers(max_magnitude=1e3),
    floaty.map(lambda x: quietly(np.float32, x)), floaty.map(np.float64), st.integers(-100, 100).map(np.int64),
    st.sampled_from(HOSTILE),
)

LLA_dtype = structured.LLA_dtype
GS_dtype = structured.GeodeticState_dtype
RECORD_DTYPES = [
    structured.SurfCoord_dtype, LLA_dtype, GS_dtype, structured.ENU_dtype, structured.AER_dtype,
    structured.DTF_dtype, np.dtype(LLA_dtype.descr, align=True), np.dtype([("lon", "f8"), ("lat", "f8"), ("alt", "f8")]),
    np.dtype([(n, ">f8") for n in GS_dtype.names]), np.dtype(GS_dtype.descr, align=True),
]
NUMERIC_DTYPES = [np.dtype(d) for d in ("f8", "f8", "f8", ">f8", "f4", "f2", "i8", "i4", "u1", "?", "c16", "f16")]

# Shapes near the ones the methods expect (points, batches of vectors) plus arbitrary ones.
shapes = st.one_of(
    st.just((3,)),
    st.tuples(st.integers(0, 5), st.sampled_from([3, 3, 3, 2, 4, 0, 1])),
    st.tuples(st.integers(0, 5)),
    hnp.array_shapes(min_dims=0, max_dims=4, min_side=0, max_side=4),
)


class Liar(np.ndarray):
    """An array whose `shape` claims ten times the rows it holds (its repr tells the truth)."""

    @property
    def shape(self):
        return (10 * len(self),) + np.asarray(self).shape[1:]

    def __repr__(self):
        return f"Liar({np.asarray(self)!r})"


def relayout(a: np.ndarray, how: str) -> Any:
    """The same values in another memory layout or container."""
    if how == "fortran":
        return np.asfortranarray(a)
    if how == "strided" and a.ndim:
        big = np.repeat(a, 2, axis=0)
        return big[::2]
    if how == "strided2" and a.ndim >= 2:
        big = np.repeat(a, 3, axis=1)
        return big[:, ::3]
    if how == "transposed" and a.ndim == 2:
        return np.ascontiguousarray(a.T).T
    if how == "readonly":
        b = a.copy()
        b.flags.writeable = False
        return b
    if how == "object":
        return a.astype(object)
    if how == "byteswapped" and a.dtype.kind == "f":
        return a.astype(a.dtype.newbyteorder())
    if how == "subclass":
        return a.view(type("Sub", (np.ndarray,), {}))
    if how == "list":
        return a.tolist()
    if how == "liar":  # an array subclass whose shape attributes claim ten times the rows
        return a.view(Liar if a.ndim else np.ndarray)
    if how == "memoryview" and a.dtype.isnative and a.dtype.kind in "fiub" and a.flags.c_contiguous:
        return memoryview(a)
    if how == "unaligned" and a.dtype == np.float64:
        raw = np.zeros(a.nbytes + 1, np.uint8)[1:]
        b = raw.view(np.float64).reshape(a.shape)
        b[...] = a
        return b
    return a


LAYOUTS = ["c", "c", "fortran", "strided", "strided2", "transposed", "readonly", "object",
           "byteswapped", "subclass", "list", "unaligned", "liar", "memoryview"]


@st.composite
def arrays(draw, shape=shapes, dtypes=None):
    dtype = draw(st.sampled_from(dtypes or NUMERIC_DTYPES))
    shp = draw(shape)
    try:
        a = draw(hnp.arrays(dtype, shp, elements=hnp.from_dtype(dtype)))
    except Exception:  # dtypes hypothesis cannot fill: zeros of that dtype
        a = np.zeros(shp, dtype)
    return relayout(a, draw(st.sampled_from(LAYOUTS)))


@st.composite
def float_arrays(draw, shape=shapes):
    """float64 arrays whose values come from `floaty`, in any layout."""
    a = draw(hnp.arrays(np.float64, draw(shape), elements=floaty))
    return relayout(a, draw(st.sampled_from(LAYOUTS)))


records = st.builds(
    lambda dt, n, layout: relayout(np.zeros(n, dt), layout),
    st.sampled_from(RECORD_DTYPES), st.one_of(st.integers(0, 4), st.tuples(st.integers(0, 3), st.integers(0, 3))),
    st.sampled_from(["c", "strided", "readonly", "object", "list"]),
)

values = st.one_of(scalars, float_arrays(), arrays(), records, st.lists(floaty, max_size=4))

# --- text --------------------------------------------------------------------------------------

iso_like = st.from_regex(
    r"\A\s?[+-]?\d{1,6}-\d{1,3}-\d{1,3}([T ]\d{1,3}(:\d{1,3}(:\d{1,3}(\.\d{0,22})?)?)?)?Z?\s?\Z")
long_iso = st.builds(lambda a, b, c: f"{a}-01-01T00:00:{b}.{c}", st.text("0123456789", min_size=1, max_size=40),
                     st.text("0123456789", max_size=40), st.text("0123456789", max_size=400))
texts = st.one_of(st.text(max_size=40), iso_like, st.text(alphabet="0123456789-:.TZ +e", max_size=40), long_iso,
                  st.text(max_size=400))

TLE_LINE1 = "1 25544U 98067A   20029.54791435  .00001264  00000-0  29621-4 0  9993"
TLE_LINE2 = "2 25544  51.6447 252.0454 0005093 179.9567 316.6012 15.49142888210868"


@st.composite
def tle_lines(draw):
    """Line 1 with random text dropped into the columns that are decoded, or arbitrary text."""
    kind = draw(st.sampled_from(["patched", "patched", "text", "cut"]))
    if kind == "text":
        return draw(st.text(max_size=300))
    line = TLE_LINE1
    if kind == "cut":
        return line[: draw(st.integers(0, 80))] + draw(st.text(max_size=3))
    for start, width in ((2, 5), (18, 2), (20, 12)):
        piece = draw(st.text(alphabet="0123456789 .+-eEinfaxXpP\x00", min_size=0, max_size=width + 2))
        line = line[:start] + piece + line[start + len(piece):]
    return line


# --- epochs ------------------------------------------------------------------------------------

datetime64s = st.builds(
    lambda v, unit: np.datetime64(v, unit),
    st.integers(-(2 ** 62), 2 ** 62) | st.integers(-10 ** 6, 10 ** 6),
    st.sampled_from(["Y", "M", "W", "D", "h", "m", "s", "ms", "us", "ns", "ps", "fs", "as"]),
)
tz_datetimes = st.datetimes(timezones=st.sampled_from([datetime.timezone.utc, datetime.timezone(datetime.timedelta(hours=-5))]))
time_values = st.one_of(
    texts, floaty, tz_datetimes, st.just(np.datetime64("NaT")), st.just(np.array(["NaT", "2000-01-01"], "M8[ns]")),
    st.lists(texts, max_size=3).map(lambda v: np.array(v, dtype="U")), st.lists(st.binary(max_size=12), max_size=3).map(np.array), st.integers(-(2 ** 65), 2 ** 65), st.none(), st.binary(max_size=6),
    st.datetimes(), st.dates(), datetime64s,
    st.lists(st.one_of(texts, datetime64s, floaty), max_size=3),
    st.lists(datetime64s, max_size=3).map(lambda v: np.array(v) if v else np.array([], "M8[s]")),
    float_arrays(), arrays(), st.sampled_from(HOSTILE),
)
formats = st.one_of(st.none(), st.sampled_from(["jd", "mjd", "unix", "JD", "iso"]), st.text(max_size=4), st.integers())
scales = st.one_of(st.none(), st.sampled_from(["utc", "tai", "tt", "tdb", "UTC", "ut1"]), st.text(max_size=4), st.integers())

good_times = st.one_of(
    st.floats(2300000.0, 2600000.0).map(lambda jd: quietly(Time, jd, format="jd")),
    st.lists(st.floats(2300000.0, 2600000.0), max_size=4).map(lambda v: quietly(Time, np.array(v, float), format="jd")),
    st.sampled_from(["2000-01-01T12:00:00", "1850-06-01", "2150-12-31T23:59:59.5"]).map(lambda v: quietly(Time, v)),
)


class RiggedTime(Time):
    """A Time whose TT epochs and size are whatever the test says, to feed the bodies
    inconsistent or malformed epoch tables."""

    @property
    def tt(self):
        return types.SimpleNamespace(jd12=self.__dict__["jd12"])

    @property
    def size(self):
        return self.__dict__["n"]


def rigged(jd12, n) -> RiggedTime:
    t = RiggedTime(2451545.0, format="jd")
    t.__dict__.update(jd12=jd12, n=n)
    return t


jd12_tables = st.one_of(
    st.tuples(st.integers(0, 5), st.sampled_from([2, 2, 1, 3, 0])).flatmap(
        lambda s: hnp.arrays(np.float64, s, elements=st.one_of(st.floats(2.0e6, 3.0e6), floaty))
    ).flatmap(lambda a: st.sampled_from(LAYOUTS).map(lambda how: relayout(a, how))),
    arrays(), scalars,
)
sizes = st.one_of(st.integers(-2, 6), st.sampled_from([None, 2.5, "3", np.int64(2), True, BadFloat()]))
body_times = st.one_of(st.none(), good_times, st.builds(rigged, jd12_tables, sizes), scalars)

# --- calling conventions -----------------------------------------------------------------------


@st.composite
def call_args(draw, names: tuple[str, ...], value) -> tuple[tuple, dict]:
    """Arguments for a function of parameters `names`: usually right, sometimes by keyword,
    one too many or too few, with an unknown or a duplicated keyword."""
    vals = [draw(value) for _ in names]
    mode = draw(st.sampled_from(["pos"] * 6 + ["kw", "mixed", "extra", "missing", "unknown", "dup"]))
    args, kwargs = list(vals), {}
    if mode == "kw":
        args, kwargs = [], dict(zip(names, vals))
    elif mode == "mixed" and names:
        k = draw(st.integers(0, len(names)))
        args, kwargs = vals[:k], dict(zip(names[k:], vals[k:]))
    elif mode == "extra":
        args.append(draw(value))
    elif mode == "missing" and args:
        args.pop()
    elif mode == "unknown":
        kwargs[draw(st.sampled_from(["x", "self", "format", names[0] + "_" if names else "q"]))] = draw(value)
    elif mode == "dup" and names:
        kwargs[names[0]] = draw(value)
    return tuple(args), kwargs


# --- the table ---------------------------------------------------------------------------------

PICKLE_REFUSAL = "no default __reduce__ due to non-trivial __cinit__"
# What the modules document, plus what an argument's own indexing or buffer export may raise and
# the module passes on unchanged (BufferError from a read-only exporter, NotImplementedError from
# indexing a multi-dimensional memoryview, Boom from the hostile objects).
BASIC = (TypeError, ValueError, AssertionError, AttributeError, IndexError, OverflowError, BufferError,
         NotImplementedError, Boom)


@dataclass
class Op:
    name: str
    fn: Callable[..., Any]
    strategy: Any                         # draws (args, kwargs)
    raises: tuple[type[BaseException], ...] = BASIC
    cases: list[tuple[tuple, dict]] = field(default_factory=list)  # fixed calls: leaks, threads
    check: Callable[..., None] | None = None  # invariant of a successful call: check(result, *args, **kw)

    def __repr__(self) -> str:
        return self.name

    @property
    def module(self) -> str:
        """The module under test, for grouping (an operation of no known module is an error in
        this table, not something to file under another module)."""
        head = self.name.replace("del ", "").split(".")[0].rstrip("=")
        try:
            return MODULE_OF[head]
        except KeyError:
            raise KeyError(f"operation {self.name!r}: no module is known for {head!r}; add it to MODULE_OF") from None


MODULE_OF = {
    "Ellipsoid": "ellipsoid", "create (C)": "ellipsoid", "create": "ellipsoid", "Time": "time", "TLE": "tle",
    "Satellite": "satellite", "linear": "linear", "frame": "frame", "Elements": "sgp4", "EarthSatellite": "sgp4",
    "sgp4": "sgp4", "frames": "frames", "CelestialBody": "bodies", "Sun": "bodies", "Moon": "bodies",
    "__pyx_unpickle_CelestialBody": "bodies", "geodesy": "geodesy", "events": "events", "iers": "iers",
}


ADDRESS = re.compile(r" at 0x[0-9a-fA-F]+")


def touch(result: Any) -> Any:
    """Read every byte a result exposes, so a bad pointer or a missing exporter shows up; the
    value returned compares equal for equal results (addresses removed)."""
    if isinstance(result, (tuple, list)):
        return type(result).__name__, tuple(touch(r) for r in result)
    if isinstance(result, Time):
        return ("Time", result.jd12.tobytes(), result.scale, result.isscalar)
    if isinstance(result, type):
        return result.__qualname__
    if isinstance(result, np.ndarray) and result.dtype.hasobject:
        # (not numpy's repr: formatting an object array's dtype name grows NumPy's own caches)
        return ("array", result.dtype.str, result.shape, ADDRESS.sub("", repr(result.tolist())))
    if not isinstance(result, (str, bytes, int, float)):
        try:
            a = np.asarray(memoryview(result))
        except (TypeError, ValueError, BufferError, NotImplementedError):
            pass
        else:
            return ("buffer", a.dtype.str, a.shape, a.tobytes())
    return ADDRESS.sub("", repr(result))


def method(name: str) -> Callable[..., Any]:
    return lambda ell, *a, **k: getattr(ell, name)(*a, **k)


class EllipsoidSub(Ellipsoid):
    pass


# Besides proper ellipsoids, ones only `python -O` lets through: the kernels must still end
# (the Newton iteration above all) and never raise.
with assertions_disabled():
    DEGENERATE = [Ellipsoid(a, f) for a, f in [(-1.0, 1.5), (1.0, 1.0), (1.0, 2.0), (np.nan, np.nan), (np.inf, 0.5),
                                               (1e-300, 0.3), (0.0, 0.0), (1.0, -0.5), (1e308, 0.9999999)]]
ELLIPSOIDS = [WGS84, ellipsoid.create("WGS72"), Ellipsoid(1.0, 0.0), Ellipsoid(6378137.0, 0.999),
              EllipsoidSub(6378137.0, 0.003)] + DEGENERATE

# Each ellipsoid method: its parameters, and the argument shapes of a good single and batch call.
ELLIPSOID_METHODS = {
    "reduced_lat_from_geodetic_lat": (("geodetic_lat",), [(0.5,), (np.linspace(-2, 2, 5),)]),
    "geodetic_lat_from_reduced_lat": (("reduced_lat",), [(0.5,), (np.linspace(-2, 2, 5),)]),
    "enu": (("lat", "lon"), [(0.3, 1.0), (np.linspace(-1, 1, 4), np.linspace(-3, 3, 4))]),
    "surf_pos_from_surf_coord": (("lat", "lon"), [(0.3, 1.0), (np.linspace(-1, 1, 4), np.linspace(-3, 3, 4))]),
    "surf_coord_from_surf_pos": (("r_surf",), [(np.array([6378137.0, 0, 0]),), (np.full((3, 3), 4e6),)]),
    "solve_reduced_lat_equation": (("r",), [(np.array([4e6, 3e6, 4e6]),), (np.full((3, 3), 4e6),)]),
    "lla_from_pos": (("r",), [(np.array([4e6, 3e6, 4e6]),), (np.arange(12.0).reshape(4, 3) * 1e6,)]),
    "pos_from_lla": (("lat", "lon", "alt"), [(0.3, 1.0, 100.0), (np.zeros(3), np.ones(3), np.full(3, 5.0))]),
    "geodetic_state_from_state_vector": (("r", "v"), [(np.array([4e6, 3e6, 4e6]), np.array([1.0, 2, 3])),
                                                      (np.full((2, 3), 7e6), np.full((2, 3), 7e3))]),
    "state_vector_from_geodetic_state": (("geostate",), [(np.ones(3, GS_dtype),), (np.zeros(0, GS_dtype),)]),
    "surf_pos_of_ray_first_intersection": (("r_source", "u_ray"), [(np.array([1e7, 0, 0]), np.array([-1.0, 0, 0])),
                                                                   (np.array([1e7, 0, 0]), -np.eye(3))]),
    "aer_coords": (("r_target", "lat_obs", "lon_obs", "alt_obs"), [(np.array([7e6, 0, 0]), 0.1, 0.2, 3.0),
                                                                   (np.full((2, 3), 7e6), 0.1, 0.2, 3.0)]),
}

ELLIPSOID_BAD_CASES = [(), (1.0, 2.0, 3.0, 4.0, 5.0), ([1.0, 2.0, 3.0],), (np.zeros((2, 2)),), (BadArray(),),
                       (np.zeros((2, 3), np.float32),), (np.zeros(3, LLA_dtype),), ("x",)]


def ellipsoid_ops() -> list[Op]:
    ops = []
    for name, (params, good) in ELLIPSOID_METHODS.items():
        value = records if name == "state_vector_from_geodetic_state" else values
        strategy = st.tuples(st.sampled_from(ELLIPSOIDS), call_args(params, value)).map(
            lambda p: ((p[0],) + p[1][0], p[1][1]))
        cases = [((WGS84,) + g, {}) for g in good] + [((WGS84,) + b, {}) for b in ELLIPSOID_BAD_CASES]
        ops.append(Op(f"Ellipsoid.{name}", method(name), strategy, cases=cases))
    return ops


def ellipsoid_setattr(ell, name, value):
    setattr(ell, name, value)


def pickle_dumps(obj):
    """Pickling a type with a non-trivial allocation step must be refused with the usual text."""
    try:
        return pickle.dumps(obj)
    except TypeError as e:
        assert str(e) == PICKLE_REFUSAL, str(e)
        raise


# Time read-outs, operators and lookups applied to a good Time and an arbitrary second operand.
TIME_READOUTS = ["jd", "mjd", "jd1", "jd2", "jd12", "iso", "datetime", "datetime64", "utc", "tai", "tt", "tdb",
                 "size", "shape", "isscalar", "scale"]


def time_readout(t, name):
    return getattr(t, name)


def time_binary(t, opname, other):
    import operator

    return getattr(operator, opname)(t, other)


def time_getitem(t, key):
    return t[key]


def time_iterate(t):
    return [x.jd for x in t]


def time_roundtrip(t):
    return pickle.loads(pickle.dumps(t))


def check_time_roundtrip(result, t):
    assert result.jd12.tobytes() == t.jd12.tobytes() and result.scale == t.scale


keys = st.one_of(st.integers(-6, 6), st.slices(6), st.none(), st.just(Ellipsis), st.text(max_size=2),
                 st.lists(st.integers(-4, 4), max_size=3).map(np.array), floaty,
                 st.lists(st.booleans(), max_size=4).map(np.array), st.tuples(st.integers(0, 2), st.integers(0, 2)))
offsets = st.one_of(floaty, st.integers(-(2 ** 65), 2 ** 65), st.timedeltas(), float_arrays(),
                    st.builds(np.timedelta64, st.integers(-(2 ** 40), 2 ** 40), st.sampled_from(["D", "s", "ns", "Y"])),
                    good_times, scalars)

T2 = Time(np.array([2451545.0, 2460000.25]), format="jd")
T1 = Time("2020-01-01T00:00:00")


def make_satellite_and_set(value):
    s = satellite.Satellite()
    s.time = T1
    before = s.time
    try:
        s.time = value
    except BaseException:
        assert s.time is before and s._time is before  # a refused value keeps the previous time
        raise
    assert s.time is s._time and isinstance(s.time, Time) and s.time is not value
    return s.time


def satellite_delete():
    s = satellite.Satellite()
    s.time = T1
    try:
        del s.time
    finally:
        assert s.time is not None
    return s


def make_satellite(*args, **kwargs):
    s = satellite.Satellite(*args, **kwargs)
    assert s.time is None and s._time is None
    return s


# SGP4: element sets, propagation and the moving satellite (line 1 with its checksum put right).
SGP4_LINE1 = TLE_LINE1[:68] + "8"


def make_elements(*args, **kwargs):
    e = sgp4_module.Elements(*args, **kwargs)
    return (e.satnum, e.epoch.jd12, e.mean_motion, e.line1, e.line2, e.gravity, e.mode)


def elements_propagate(*args, **kwargs):
    return sgp4_module.Elements(SGP4_LINE1, TLE_LINE2).propagate(*args, **kwargs)


def check_state(result, *args, **kwargs):
    r, v, code = result
    code = np.asarray(code)
    assert r.shape == v.shape == code.shape + (3,) and code.dtype == np.uint8
    bad = (code >= 1) & (code <= 5)
    assert np.isnan(r[bad]).all() and np.isnan(v[bad]).all()


def earth_satellite_at(value):
    sat = sgp4_module.EarthSatellite(SGP4_LINE1, TLE_LINE2)
    sat.time = value
    return sat.r_TEME, sat.v_TEME, sat.error


def elements_roundtrip(e):
    back = pickle.loads(pickle.dumps(e))
    return back.line1, back.line2, back.gravity, back.mode


def make_tle(*args, **kwargs):
    t = tle_module.TLE(*args, **kwargs)
    return (t.line1, t.line2, t.satno, t.epoch.jd12 if t.epoch is not None else None)


def expected_line(line: str) -> str:
    return line.strip().upper().split("\x00")[0][:69]


def check_tle(result, *args, **kwargs):
    l1 = args[0] if args else kwargs["line1"]
    l2 = args[1] if len(args) > 1 else kwargs["line2"]
    line1, line2, satno, _ = result
    assert line1 == expected_line(l1) and line2 == expected_line(l2)
    text = line1[2:7].strip()
    try:
        assert satno == int(text) and type(satno) is int
    except ValueError:
        assert satno == text


def make_body(kind, *args, **kwargs):
    b = kind(*args, **kwargs)
    return read_body(b)


def read_body(b):
    """(r_GCRF, v_GCRF, ur_GCRF, time) of a body, None for an unset state."""
    out = []
    for name in ("r_GCRF", "v_GCRF", "ur_GCRF"):
        try:
            out.append(getattr(b, name))
        except AttributeError as e:
            assert str(e) == "Memoryview is not initialized"
            out.append(None)
    out.append(b.time)
    return tuple(out)


def body_checker(kind):
    """What every successful construction of `kind` must give: (N, 3) states for N = time.size,
    rows past the epochs of the TT table left zero, zero velocities for the Sun."""

    def check(result, *args, **kwargs):
        t = args[0] if args else kwargs["time"]
        r, v, ur, stored = result
        assert stored is (None if kind is bodies.CelestialBody else t)
        if kind is bodies.CelestialBody:
            assert (r, v, ur) == (None, None, None)
            return
        n = t.size
        assert r.shape == v.shape == ur.shape == (n, 3) and r.dtype == v.dtype == np.float64
        rows = np.asarray(t.tt.jd12).shape[0]
        assert not r[rows:].any() and not v[rows:].any()
        if kind is bodies.Sun:
            assert not v.any()

    return check


def unpickle_body(*args, **kwargs):
    return read_body(bodies.__pyx_unpickle_CelestialBody(*args, **kwargs))


def setstate_body(state, kind=bodies.CelestialBody):
    b = kind(T2) if kind in (bodies.Sun, bodies.Moon) else kind(None)
    b.__setstate__(state)
    return read_body(b)


def reduce_body(b):
    return b.__reduce__()


class BodySub(bodies.CelestialBody):
    pass


body_states = st.one_of(
    st.none(), scalars,
    st.tuples(st.one_of(st.none(), jd12_tables, float_arrays()), st.one_of(st.none(), float_arrays()),
              st.one_of(st.none(), good_times, scalars)),
    st.tuples(st.one_of(st.none(), float_arrays()), st.one_of(st.none(), float_arrays()), st.none(),
              st.dictionaries(st.text(max_size=3), scalars, max_size=2)),
    st.lists(st.none(), max_size=4).map(tuple),
    st.tuples(st.none(), st.none(), st.none(), st.one_of(scalars, st.lists(st.tuples(st.text(max_size=2), scalars), max_size=2))),
)
checksums = st.one_of(st.sampled_from([0x428424D, 0x9F174BA, 0xB4612C8]), st.integers(-(2 ** 70), 2 ** 70), scalars)
body_types = st.sampled_from([bodies.CelestialBody, BodySub, bodies.Sun, bodies.Moon, int, Time, object()])

SUN2 = bodies.Sun(T2)
MOON2 = bodies.Moon(T2)
R2 = np.array([[3.0, 0, 4], [1, 2, 2]])


def reparse_tle(raw):
    """parse_line1 through the C-level method table over raw bytes written into line 1."""
    t = tle_module.TLE(TLE_LINE1, TLE_LINE2)
    tle_client.reparse(t, raw)
    return (t.satno, t.epoch.jd12)


def moon_state(time, r, v):
    bodies_client.moon_state(MOON2, time, r, v)
    return r, v


def linear_call(name):
    return lambda *a, **k: getattr(linear_client, name)(*a, **k)


# frames: names (right, in other cases, wrong), vectors, epochs and Earth orientation triples
frame_names = st.one_of(st.sampled_from(["gcrf", "itrf", "teme", "GCRF", "Teme", "ecef", ""]), scalars)
frame_vectors = st.one_of(float_arrays(), values, st.lists(floaty, min_size=3, max_size=3))
frame_times = st.one_of(good_times, time_values)
frame_eops = st.one_of(st.none(), st.tuples(*[st.one_of(floaty, float_arrays(), scalars)] * 3), values)
EOP = (0.1, 1e-6, -2e-6)
FRAMES_RAISE = BASIC + (time_module.ErfaDubiousYearWarning, time_module.EopRangeWarning)


# SGP4 beyond construction and propagation: the other constructors, the moving satellite's
# own calls, every read-out and the pickle restorers (reachable from any pickle).
ELEMENTS_READOUTS = ["satnum", "classification", "intldesg", "epoch", "epoch_year", "epoch_days", "inclination",
                     "raan", "eccentricity", "argp", "mean_anomaly", "mean_motion", "ndot", "nddot", "bstar",
                     "ephemeris_type", "element_number", "rev_number", "line1", "line2", "gravity", "mode",
                     "mean_motion_brouwer", "semi_major_axis", "perigee_altitude", "apogee_altitude", "period",
                     "deep_space", "resonance", "epoch_error"]
GOOD_TLE = tle_module.TLE(SGP4_LINE1, TLE_LINE2)
BAD_SUM_TLE = tle_module.TLE(TLE_LINE1, TLE_LINE2, False)   # its checksum is wrong
ELEMENTS = sgp4_module.Elements(SGP4_LINE1, TLE_LINE2)
elements_like = st.sampled_from([ELEMENTS, GOOD_TLE, BAD_SUM_TLE, sgp4_module.Elements(SGP4_LINE1, TLE_LINE2, mode="afspc")])


def elements_readout(e, name):
    return getattr(e, name)


def make_earth_satellite(*args, **kwargs):
    sat = sgp4_module.EarthSatellite(*args, **kwargs)
    return sat.satnum, sat.name, sat.epoch.jd12, sat.elements.line1


def earth_satellite_propagate(*args, **kwargs):
    return sgp4_module.EarthSatellite(ELEMENTS).propagate(*args, **kwargs)


def earth_satellite_rename(value):
    sat = sgp4_module.EarthSatellite(ELEMENTS, name="ISS")
    try:
        sat.name = value
    except BaseException:
        assert sat.name == "ISS"  # a refused name keeps the previous one
        raise
    return sat.name


def restored(e):
    return None if e is None else (type(e).__name__, e.satnum, e.line1, e.line2, e.gravity, e.mode, e.mean_motion)


def restore_elements(*args, **kwargs):
    return restored(sgp4_module._restore(*args, **kwargs))


def restore_numbers(*args, **kwargs):
    return restored(sgp4_module._restore_numbers(*args, **kwargs))


class ElementsSub(sgp4_module.Elements):
    pass


NUMBERS = (2458878.5, 0.04791435, 0.9, 1.0, 0.001, 0.3, 1.5, 0.0678, 1e-5, 1e-12, 0.0)
element_classes = st.sampled_from([sgp4_module.Elements, ElementsSub, int, Time, object()])
number_tuples = st.one_of(st.just(NUMBERS), st.lists(st.one_of(floaty, scalars), max_size=12).map(tuple), scalars)


# geodesy: the pymap3d-style functions, their ufuncs and the one-point path below them.
class Pymap3dEllipsoid:
    """What geodesy takes from a pymap3d Ellipsoid: semimajor_axis and flattening."""

    def __init__(self, a, f):
        self.semimajor_axis, self.flattening = a, f


ells = st.one_of(st.none(), st.sampled_from(
    ["wgs84", "GRS80", "wgs72", "nope", "", WGS84, Pymap3dEllipsoid(6378137.0, 1 / 298.257223563),
     Pymap3dEllipsoid("x", 0.1), Pymap3dEllipsoid(BadFloat(), 0.1)] + DEGENERATE[:3]), scalars)
outs = st.one_of(st.none(), st.tuples(float_arrays(), float_arrays(), float_arrays()),
                 st.integers(0, 3).map(lambda n: tuple(np.zeros(n) for _ in range(3))), scalars)
# the functions that are ufuncs over points (the twelve conversions and the two geodesic problems);
# paths and areas take sequences and counts, and the pymap3d aliases wrap the same ufuncs
GEODESY_NAMES = [name for name in geodesy_module.__all__
                 if isinstance(getattr(geodesy_ufuncs, name, None), np.ufunc)]
GEODESY = {name: tuple(inspect.signature(getattr(geodesy_module, name)).parameters)[:-3 if "ell" in
                                                                                     inspect.signature(getattr(geodesy_module, name)).parameters else -2]
           for name in GEODESY_NAMES}


def check_geodesy(result, *args, **kwargs):
    assert isinstance(result, tuple) and len(result) == 3
    shapes = {np.shape(r) for r in result}
    assert len(shapes) == 1, shapes


def geodesy_op(name: str) -> Op:
    params = GEODESY[name]
    fn = getattr(geodesy_module, name)
    observer = len(params) == 6
    strategy = st.tuples(call_args(params, st.one_of(values, floaty, floaty)), ells, st.one_of(st.booleans(), scalars),
                         outs).map(
        lambda a: (a[0][0], {**a[0][1], **({"ell": a[1]} if observer else {}), "deg": a[2], "out": a[3]}))
    point = (1.0, 2.0, 3.0, 10.0, 20.0, 30.0)[: len(params)] if observer else (1.0, 2.0, 3.0)
    arrays3 = tuple(np.linspace(0.0, 80.0, 3) + i for i in range(len(params)))
    cases = [(point,), (arrays3,), (point, {"deg": False}), (arrays3, {"out": tuple(np.empty(3) for _ in range(3))}),
             (point[:-1],), (("x",) + point[1:],), ((np.zeros(2),) + arrays3[1:],),
             (arrays3, {"out": (np.empty(2),) * 3}), ((np.array([1 + 1j]),) + point[1:],)]
    if observer:
        cases += [(point, {"ell": "grs80"}), (point, {"ell": "nope"}), (point, {"ell": 5}),
                  (arrays3, {"ell": Pymap3dEllipsoid(6378137.0, 0.003)})]
    return Op(f"geodesy.{name}", fn, strategy, cases=cases, check=check_geodesy)


GEODESY_UFUNCS = [getattr(geodesy_ufuncs, name) for name in GEODESY_NAMES]


def call_ufunc(index, *args, **kwargs):
    return GEODESY_UFUNCS[index % len(GEODESY_UFUNCS)](*args, **kwargs)


def ufunc_point(index, *numbers):
    return geodesy_ufuncs._point(GEODESY_UFUNCS[index % len(GEODESY_UFUNCS)], *numbers)


# events: short windows (hours), so that the searches stay cheap; the bad ones anything at all.
PASS_WINDOW = ("2020-01-29T12:00:00", "2020-01-29T16:00:00")
event_times = st.one_of(st.sampled_from(["2020-01-29T12:00:00", "2020-01-29T13:30:00", "2020-01-29T16:00:00",
                                         Time("2020-01-29T14:00:00", scale="tt"), T1, "bad", None,
                                         np.datetime64("2020-01-29T12:00"), np.datetime64("NaT")]),
                        st.sampled_from(HOSTILE), st.sampled_from([Time(["2020-01-29", "2020-01-30"])]))
station = st.one_of(st.sampled_from([48.85, 2.35, 35.0, 0.0, -90.0, 90.0, 91.0, 1e4]), floaty, scalars)
satellites = st.one_of(elements_like, st.lists(st.one_of(elements_like, scalars), max_size=3), scalars)
horizons = st.one_of(st.none(), st.sampled_from(["civil", "nautical", "astronomical", "Civil", "x", -6.0, 45.0, 100.0]),
                     floaty, scalars)
EVENTS_RAISE = BASIC + (time_module.ErfaDubiousYearWarning, time_module.EopRangeWarning)


def check_passes(result, *args, **kwargs):
    assert result.dtype == events_module.PASS_DTYPE and result.ndim == 1
    ok = result["status"] == "pass"
    assert (result["culmination_el"][ok] >= -np.pi / 2).all()


def check_rise_set(result, *args, **kwargs):
    assert result.dtype == events_module.EVENT_DTYPE and result.ndim == 1
    assert (np.diff(result["time"].astype(np.int64)) >= 0).all()


# time.iers: read-outs, EOP at epochs, UT1 with a given UT1-UTC, and the loaders. Good loads
# read the files already in force, so that calls on other threads see the same tables; a fuzzed
# file that happens to load is replaced at once by what was in force before it.
import astropy_iers_data  # noqa: E402

IERS_FILES = tempfile.mkdtemp(prefix="kelvara-ops-")
LEAP_FILE = astropy_iers_data.IERS_LEAP_SECOND_FILE
EOP_IN_FORCE = iers_module.eop_info()
# the default table is the C04 series continued by finals2000A: the patched files are finals ones
EOP_FILES = [astropy_iers_data.IERS_A_FILE.replace("finals2000A.all", name)
             for name in ("eopc04.1962-now", "finals2000A.all")]
EOP_FILE = EOP_FILES[-1]
with open(LEAP_FILE, "rb") as _f:
    LEAP_TEXT = _f.read()
with open(EOP_FILE, "rb") as _f:
    EOP_TEXT = _f.read()


def iers_state():
    return iers_module.leap_seconds(), iers_module.leap_seconds_expire(), iers_module.eop_info()


def load_text(kind, content, *args, **kwargs):
    """Load `content` (bytes: written to a file first) as a leap-second or EOP file. A refused
    file leaves the tables as they were (its message is given with the file's name replaced,
    as each thread writes its own file)."""
    import threading

    loader = iers_module.load_leap_seconds if kind == "leap" else iers_module.load_eop
    path = content
    if isinstance(content, bytes):
        path = os.path.join(IERS_FILES, f"{kind}-{threading.get_ident()}.txt")
        with open(path, "wb") as f:
            f.write(content)
    before = iers_state()
    try:
        loader(path, *args, **kwargs)
    except BaseException as e:
        assert iers_state() == before
        if isinstance(content, bytes) and isinstance(e, ValueError):
            raise ValueError(str(e).replace(path, "<file>")) from None
        raise
    if iers_state() != before or isinstance(content, bytes):
        iers_module.load_leap_seconds(LEAP_FILE)
        iers_module.load_eop(EOP_FILES, before[2]["interpolation"])
    return before[:2]


@st.composite
def file_texts(draw, text: bytes):
    """A real file with a few lines cut, patched or shuffled, or arbitrary bytes."""
    kind = draw(st.sampled_from(["patch", "patch", "cut", "bytes"]))
    if kind == "bytes":
        return draw(st.binary(max_size=400))
    lines = text.splitlines(keepends=True)
    if kind == "cut":
        return b"".join(lines[: draw(st.integers(0, len(lines)))])
    for _ in range(draw(st.integers(1, 3))):
        i = draw(st.integers(0, len(lines) - 1))
        j = draw(st.integers(0, max(0, len(lines[i]) - 1)))
        piece = draw(st.binary(min_size=1, max_size=8))
        lines[i] = lines[i][:j] + piece + lines[i][j + len(piece):]
    return b"".join(lines)


IERS_RAISE = BASIC + (time_module.ErfaDubiousYearWarning, time_module.EopRangeWarning)
LOAD_RAISE = (ValueError, TypeError, OSError, Boom)


def build_ops() -> list[Op]:
    ops = ellipsoid_ops()
    ops += [
        Op("Ellipsoid", Ellipsoid, call_args(("Re", "f"), st.one_of(floaty, scalars)),
           cases=[((6378137.0, 0.003),), ((-1.0, 0.1),), ((1.0, 1.0),), (("a", 0.1),), ((np.nan, np.nan),), ((1.0,),),
                  ((), {"Re": 2.0, "f": 0.5})]),
        Op("create", ellipsoid.create, call_args(("name",), st.one_of(texts, st.sampled_from(["wgs84", "GRS80", "Wgs72", "WGS-84"]), scalars)),
           raises=(TypeError, KeyError), cases=[(("wgs84",),), (("WGS-84",),), ((b"wgs84",),), ((None,),), ((BadStr("wgs84"),),)]),
        Op("Ellipsoid.pickle", pickle_dumps, st.tuples(st.sampled_from(ELLIPSOIDS)).map(lambda a: (a, {})),
           raises=(TypeError,), cases=[((WGS84,),)]),
        Op("Ellipsoid.__setattr__", ellipsoid_setattr,
           st.tuples(st.sampled_from(ELLIPSOIDS), st.sampled_from(["Re", "f", "Rp", "x"]), scalars).map(lambda a: (a, {})),
           raises=(AttributeError, TypeError), cases=[((WGS84, "Re", 1.0),)]),
        # Time
        Op("Time", Time, st.tuples(time_values, formats, scales).map(lambda a: ((a[0],), {"format": a[1], "scale": a[2]})),
           raises=(TypeError, ValueError, OverflowError, IndexError, Boom, time_module.ErfaDubiousYearWarning),
           cases=[(("2020-02-29T12:00:00.5",),), (("2020-02-30",),), (("",),), ((2451545.0,), {"format": "jd"}),
                  ((np.array(["2000-01-01", "2001-01-01"], "M8[s]"),),), (("1990-01-01",), {"scale": "bad"}),
                  ((None,),), ((datetime.datetime(2000, 1, 1),),), ((["2000-01-01", 5],),)]),
        Op("Time.from_jd12", Time.from_jd12, st.tuples(st.one_of(jd12_tables, float_arrays(), values), scales).map(
            lambda a: ((a[0],), {"scale": a[1]})),
           raises=(TypeError, ValueError, OverflowError, IndexError, Boom),
           cases=[((np.array([[2451545.0, 0.5]]),),), ((np.zeros(3),),), ((np.zeros((2, 3)),),), (("x",),)]),
        Op("Time._reconstruct", time_module._reconstruct,
           st.tuples(st.sampled_from([Time, RiggedTime, int]), st.one_of(jd12_tables, float_arrays()), scales, scalars).map(lambda a: (a, {})),
           raises=(TypeError, ValueError, OverflowError, IndexError, Boom),
           cases=[((Time, np.array([[2451545.0, 0.5]]), "tt", False),), ((Time, np.zeros(3), "tt", True),)]),
        Op("Time.readout", time_readout, st.tuples(good_times, st.sampled_from(TIME_READOUTS)).map(lambda a: (a, {})),
           raises=(ValueError, time_module.ErfaDubiousYearWarning),
           cases=[((T2, n),) for n in TIME_READOUTS]),
        Op("Time.binary", time_binary, st.tuples(good_times, st.sampled_from(["add", "sub", "lt", "le", "gt", "ge", "eq", "ne"]), offsets).map(
            lambda a: (a, {})), raises=(TypeError, ValueError, OverflowError, Boom),
           cases=[((T2, "add", 1.5),), ((T2, "sub", T1),), ((T2, "lt", T1),), ((T2, "add", "x"),), ((T2, "sub", np.zeros(5)),)]),
        Op("Time.__getitem__", time_getitem, st.tuples(good_times, keys).map(lambda a: (a, {})),
           raises=(TypeError, IndexError, ValueError),
           cases=[((T2, 1),), ((T2, -3),), ((T2, slice(None, None, -1)),), ((T1, 0),), ((T2, "a"),)]),
        Op("Time.__iter__", time_iterate, st.tuples(good_times).map(lambda a: (a, {})), raises=(TypeError,),
           cases=[((T2,),), ((T1,),)]),
        Op("Time.pickle", time_roundtrip, st.tuples(good_times).map(lambda a: (a, {})), raises=(),
           cases=[((T2,),), ((T1,),)], check=check_time_roundtrip),
        # TLE
        Op("TLE", make_tle, st.one_of(
            call_args(("line1", "line2", "strict_validation"), st.one_of(tle_lines(), scalars)),
            st.tuples(tle_lines(), st.text(max_size=80), st.one_of(st.booleans(), st.sampled_from([BadBool(), None, 0, "x"]))).map(
                lambda a: (a, {}))),
           raises=(TypeError, ValueError, OverflowError, UnicodeEncodeError, Boom, time_module.ErfaDubiousYearWarning),
           cases=[((TLE_LINE1, TLE_LINE2),), ((TLE_LINE1.lower() + "\n", TLE_LINE2, False),), (("1 A0001",), {"line2": ""}),
                  (("é", TLE_LINE2),), ((BadStr("x"), "y"),), ((None, "y"),), ((TLE_LINE1, TLE_LINE2, BadBool()),),
                  ((TLE_LINE1[:18] + "xx" + TLE_LINE1[20:], TLE_LINE2),), ((TLE_LINE1, TLE_LINE2, 1, 2),)],
           check=check_tle),
        Op("TLE.pickle", pickle_dumps, st.just(((tle_module.TLE(TLE_LINE1, TLE_LINE2),), {})), raises=(TypeError,),
           cases=[((tle_module.TLE(TLE_LINE1, TLE_LINE2),),)]),
        # Satellite
        Op("Satellite", make_satellite, call_args((), scalars), raises=(TypeError,),
           cases=[((),), ((1,),), ((), {"x": 1})]),
        Op("Satellite.time=", make_satellite_and_set, st.tuples(time_values).map(lambda a: (a, {})),
           raises=(TypeError, ValueError, OverflowError, IndexError, Boom, time_module.ErfaDubiousYearWarning),
           cases=[((T1,),), ((T2,),), (("2021-03-04T05:06:07",),), (("garbage",),), ((None,),), ((BadFloat(),),)]),
        Op("del Satellite.time", satellite_delete, st.just(((), {})), raises=(NotImplementedError,), cases=[((),)]),
        Op("Satellite.pickle", pickle_dumps, st.just(((satellite.Satellite(),), {})), raises=(TypeError,),
           cases=[((satellite.Satellite(),),)]),
        # SGP4
        Op("Elements", make_elements, st.one_of(
            call_args(("line1", "line2"), st.one_of(tle_lines(), scalars)),
            st.tuples(tle_lines(), st.sampled_from([TLE_LINE2, TLE_LINE2[:40], TLE_LINE2.replace("25544", "A5544")]),
                      st.one_of(st.booleans(), st.sampled_from([BadBool(), None])),
                      st.one_of(st.sampled_from(["wgs72", "wgs84", "wgs72old", "WGS84", None]), scalars),
                      st.one_of(st.sampled_from(["improved", "afspc", "a"]), scalars)).map(
                lambda a: ((a[0], a[1]), {"verify_checksum": a[2], "gravity": a[3], "mode": a[4]}))),
           raises=(TypeError, ValueError, OverflowError, UnicodeEncodeError, Boom, time_module.ErfaDubiousYearWarning),
           cases=[((SGP4_LINE1, TLE_LINE2),), ((SGP4_LINE1, TLE_LINE2), {"gravity": "wgs84", "mode": "afspc"}),
                  ((SGP4_LINE1[:68] + "0", TLE_LINE2),), ((SGP4_LINE1, TLE_LINE2), {"gravity": BadStr("wgs84")}),
                  ((None, TLE_LINE2),), ((SGP4_LINE1, TLE_LINE2, 1),), ((SGP4_LINE1, TLE_LINE2), {"verify_checksum": BadBool()})]),
        Op("Elements.propagate", elements_propagate, st.one_of(
            call_args(("t",), time_values),
            st.tuples(values).map(lambda a: ((), {"minutes": a[0]})),
            st.tuples(good_times, values).map(lambda a: ((a[0],), {"minutes": a[1]}))),
           raises=BASIC + (time_module.ErfaDubiousYearWarning,), check=check_state,
           cases=[((T2,),), ((T1,),), ((), {"minutes": R2}), ((), {"minutes": "soon"}), ((None,),), ((BadFloat(),),),
                  ((), {"minutes": BadArray()}), ((T1,), {"minutes": 1.0})]),
        Op("sgp4.propagate", sgp4_module.propagate, st.one_of(
            st.tuples(st.one_of(elements_like, st.lists(st.sampled_from([sgp4_module.Elements(SGP4_LINE1, TLE_LINE2), GOOD_TLE,
                                                                         BAD_SUM_TLE, 5, None]), max_size=4)),
                      st.one_of(good_times, values), st.booleans()).map(lambda a: ((a[0], a[1]), {"pairwise": a[2]})),
            st.tuples(st.lists(st.just(sgp4_module.Elements(SGP4_LINE1, TLE_LINE2)), max_size=3), values,
                      st.one_of(st.booleans(), st.sampled_from([BadBool()]))).map(lambda a: ((a[0],), {"minutes": a[1], "pairwise": a[2]}))),
           raises=BASIC + (time_module.ErfaDubiousYearWarning,), check=check_state,
           cases=[(([sgp4_module.Elements(SGP4_LINE1, TLE_LINE2)] * 3, T2),),
                  (([sgp4_module.Elements(SGP4_LINE1, TLE_LINE2)] * 2, T2), {"pairwise": True}),
                  (([sgp4_module.Elements(SGP4_LINE1, TLE_LINE2)] * 3, T2), {"pairwise": True}),
                  (([sgp4_module.Elements(SGP4_LINE1, TLE_LINE2), 5],), {"minutes": 1.0}), ((5, T1),),
                  ((GOOD_TLE, T2),), (([GOOD_TLE, ELEMENTS], T2), {"pairwise": True}), (([ELEMENTS, BAD_SUM_TLE], T2),)]),
        Op("EarthSatellite.time=", earth_satellite_at, st.tuples(time_values).map(lambda a: (a, {})),
           raises=BASIC + (time_module.ErfaDubiousYearWarning,),
           cases=[((T1,),), ((T2,),), (("2021-03-04T05:06:07",),), (("garbage",),), ((None,),), ((BadFloat(),),)]),
        Op("Elements.from_elements", sgp4_module.Elements.from_elements, st.tuples(
            st.one_of(good_times.filter(lambda t: t.size == 1), time_values),
            st.dictionaries(st.sampled_from(["inclination", "raan", "eccentricity", "argp", "mean_anomaly", "mean_motion",
                                             "bstar", "ndot", "nddot", "satnum", "gravity", "mode", "x"]),
                            st.one_of(floaty, scalars, st.sampled_from([0.5, 0.001, "wgs84", "afspc"])), max_size=13)).map(
                lambda a: ((a[0],), a[1])),
           raises=BASIC + (time_module.ErfaDubiousYearWarning,),
           cases=[((T1,), {"inclination": 0.9, "raan": 1.0, "eccentricity": 0.001, "argp": 0.3, "mean_anomaly": 1.5,
                           "mean_motion": 0.0011}),
                  ((T2,), {"inclination": 0.9, "raan": 1.0, "eccentricity": 0.001, "argp": 0.3, "mean_anomaly": 1.5,
                           "mean_motion": 0.0011}),
                  ((T1,), {"inclination": BadFloat()}), ((None,), {})]),
        Op("Elements.pickle", elements_roundtrip, st.just(((sgp4_module.Elements(SGP4_LINE1, TLE_LINE2, mode="afspc"),), {})),
           raises=(), cases=[((sgp4_module.Elements(SGP4_LINE1, TLE_LINE2, mode="afspc"),),)]),
        # bodies
        Op("CelestialBody", lambda *a, **k: make_body(bodies.CelestialBody, *a, **k), call_args(("time",), body_times),
           raises=(TypeError,), check=body_checker(bodies.CelestialBody), cases=[((T2,),), ((None,),), ((5,),), ((), {"time": T1}), ((T1, T1),)]),
        Op("Sun", lambda *a, **k: make_body(bodies.Sun, *a, **k), call_args(("time",), body_times), check=body_checker(bodies.Sun),
           cases=[((T2,),), ((T1,),), ((None,),), ((5,),), ((rigged(np.zeros((3, 2)), 2),),), ((rigged(np.zeros((1, 2)), 3),),),
                  ((rigged(np.zeros((2, 1)), 2),),), ((rigged(np.zeros(4), 2),),), ((rigged(np.zeros((2, 2)), -1),),),
                  ((rigged(np.zeros((2, 2), np.float32), 2),),)]),
        Op("Moon", lambda *a, **k: make_body(bodies.Moon, *a, **k), call_args(("time",), body_times), check=body_checker(bodies.Moon),
           cases=[((T2,),), ((T1,),), ((None,),), ((5,),), ((rigged(np.zeros((3, 2)), 2),),), ((rigged(np.zeros((1, 2)), 3),),),
                  ((rigged(np.zeros((2, 1)), 2),),), ((rigged(np.zeros((2, 2)), "2"),),)]),
        Op("__pyx_unpickle_CelestialBody", unpickle_body, st.one_of(
            st.tuples(body_types, checksums, body_states).map(lambda a: (a, {})),
            call_args(("__pyx_type", "__pyx_checksum", "__pyx_state"), st.one_of(body_types, checksums, body_states))),
           raises=BASIC + (pickle.PickleError,),
           cases=[((bodies.CelestialBody, 0x428424D, (R2, R2, None)),), ((bodies.CelestialBody, 1, None),),
                  ((BodySub, 0x428424D, (R2, R2, T2, {"a": 1})),), ((bodies.Sun, 0x428424D, None),),
                  ((bodies.CelestialBody, 0x428424D, (R2[:, :2], R2, None)),), ((bodies.CelestialBody, 0x428424D, [R2]),),
                  ((bodies.CelestialBody, 0x428424D, (R2, R2, 5)),), ((bodies.CelestialBody, 2 ** 80, None),)]),
        Op("CelestialBody.__setstate__", setstate_body,
           st.tuples(body_states, st.sampled_from([bodies.CelestialBody, BodySub, bodies.Sun, bodies.Moon])).map(lambda a: (a, {})),
           cases=[(((R2, R2, T2),),), (((R2, R2),),), ((None,),), (((np.zeros((2, 2), np.float32), None, None),),),
                  (((R2[:, :1], R2[:, :1], None),),)]),
        Op("CelestialBody.__reduce__", reduce_body, st.sampled_from([SUN2, MOON2, bodies.CelestialBody(None)]).map(lambda b: ((b,), {})),
           raises=(TypeError, AttributeError), cases=[((SUN2,),), ((bodies.CelestialBody(T2),),)]),
        Op("Sun.pickle", pickle_dumps, st.sampled_from([SUN2, MOON2]).map(lambda b: ((b,), {})), raises=(TypeError,),
           cases=[((SUN2,),), ((MOON2,),)]),
        # frames
        Op("frames.transform", frames_module.transform,
           st.tuples(frame_vectors, frame_times, frame_names, frame_names, st.one_of(st.none(), frame_vectors), frame_eops,
                     st.one_of(st.booleans(), scalars)).map(lambda a: (a[:4], {"v": a[4], "eop": a[5], "precise": a[6]})),
           raises=FRAMES_RAISE,
           cases=[((R2, T2, "gcrf", "itrf"), {"eop": EOP}), ((R2, T2, "teme", "gcrf"), {"v": R2, "eop": EOP}),
                  ((R2[0], T1, "itrf", "teme"),), ((R2, T1, "ecef", "itrf"), {"eop": EOP}),
                  ((np.zeros((3, 3)), T2, "gcrf", "itrf"), {"eop": EOP}), ((R2, T2, "gcrf", "itrf"), {"eop": (1.0, 2.0)}),
                  ((R2[:, :2], T1, "gcrf", "itrf"), {"eop": EOP}), ((R2, T2, "gcrf", "itrf", None),)]),
        Op("frames.rotation", frames_module.rotation,
           st.tuples(frame_names, frame_names, frame_times, frame_eops).map(lambda a: (a[:3], {"eop": a[3]})),
           raises=FRAMES_RAISE,
           cases=[(("gcrf", "itrf", T2), {"eop": EOP}), (("teme", "gcrf", T1),), (("gcrf", 5, T1),),
                  (("gcrf", "itrf", T2), {"eop": (np.zeros(3), 0.0, 0.0)})]),
        Op("frames.sun_aer", frames_module.sun_aer,
           st.tuples(frame_times, values, values, values, st.one_of(st.booleans(), scalars), frame_eops).map(
               lambda a: (a[:4], {"refraction": a[4], "eop": a[5]})),
           raises=FRAMES_RAISE,
           cases=[((T2, 48.8, 2.3, 35.0), {"eop": EOP}), ((T1, [1.0, 2.0], 0.0), {"refraction": True}),
                  ((T2, [1.0, 2.0, 3.0], 0.0), {"eop": EOP}), ((T1, "x", 0.0),)]),
        Op("frames.aer", frames_module.aer,
           st.tuples(frame_vectors, frame_times, frame_names, values, values).map(lambda a: (a, {"eop": EOP})),
           raises=FRAMES_RAISE,
           cases=[((R2, T2, "teme", 10.0, 20.0), {"eop": EOP}), ((R2, T1, "itrf", 0.0, 0.0),), ((R2, T1, "nope", 0.0, 0.0),)]),
        Op("frames.moon_aer", frames_module.moon_aer,
           st.tuples(frame_times, values, values, values, st.one_of(st.booleans(), scalars), frame_eops).map(
               lambda a: (a[:4], {"refraction": a[4], "eop": a[5]})),
           raises=FRAMES_RAISE,
           cases=[((T2, 48.8, 2.3, 35.0), {"eop": EOP}), ((T1, [1.0, 2.0], 0.0), {"refraction": True}),
                  ((T2, [1.0, 2.0, 3.0], 0.0), {"eop": EOP}), ((T1, "x", 0.0),), ((T1, 0.0, 0.0), {"deg": False})]),
        # SGP4: the other ways in and out
        Op("Elements.from_tle", sgp4_module.Elements.from_tle, st.one_of(
            st.tuples(st.one_of(elements_like, scalars), st.one_of(st.booleans(), st.sampled_from([BadBool()])),
                      st.one_of(st.sampled_from(["wgs72", "wgs84", "x"]), scalars)).map(
                lambda a: ((a[0],), {"verify_checksum": a[1], "gravity": a[2]})),
            call_args(("tle",), st.one_of(elements_like, scalars))),
           raises=BASIC + (time_module.ErfaDubiousYearWarning,),
           cases=[((GOOD_TLE,),), ((BAD_SUM_TLE,),), ((BAD_SUM_TLE,), {"verify_checksum": False, "mode": "afspc"}),
                  ((ELEMENTS,),), ((GOOD_TLE, 1),), ((GOOD_TLE,), {"gravity": "x"})]),
        Op("Elements.readout", elements_readout, st.tuples(elements_like.filter(lambda e: isinstance(e, sgp4_module.Elements)),
                                                           st.sampled_from(ELEMENTS_READOUTS)).map(lambda a: (a, {})),
           raises=(), cases=[((ELEMENTS, n),) for n in ELEMENTS_READOUTS]),
        Op("EarthSatellite", make_earth_satellite, st.one_of(
            call_args(("tle", "line2"), st.one_of(elements_like, tle_lines(), st.just(TLE_LINE2), scalars)),
            st.tuples(st.one_of(elements_like, st.just(SGP4_LINE1)), st.one_of(st.none(), st.just(TLE_LINE2), scalars),
                      st.one_of(st.none(), st.text(max_size=5), scalars), st.one_of(st.booleans(), st.just(BadBool()))).map(
                lambda a: ((a[0], a[1]), {"name": a[2], "verify_checksum": a[3]}))),
           raises=BASIC + (UnicodeEncodeError, time_module.ErfaDubiousYearWarning),
           cases=[((ELEMENTS,),), ((GOOD_TLE,), {"name": "ISS"}), ((SGP4_LINE1, TLE_LINE2), {"gravity": "wgs84"}),
                  ((ELEMENTS, TLE_LINE2),), ((ELEMENTS,), {"mode": "afspc"}), ((BAD_SUM_TLE,),), ((5,),),
                  ((GOOD_TLE,), {"name": 5}), ((SGP4_LINE1,),)]),
        Op("EarthSatellite.propagate", earth_satellite_propagate, st.one_of(
            call_args(("t",), time_values), st.tuples(values).map(lambda a: ((), {"minutes": a[0]}))),
           raises=BASIC + (time_module.ErfaDubiousYearWarning,), check=check_state,
           cases=[((T2,),), ((), {"minutes": R2}), ((None,),), ((), {"minutes": "x"}), ((T1,), {"minutes": 1.0})]),
        Op("EarthSatellite.name=", earth_satellite_rename, st.tuples(st.one_of(st.text(max_size=8), scalars)).map(lambda a: (a, {})),
           raises=(TypeError,), cases=[(("Zarya",),), ((None,),), ((5,),), ((BadStr("x"),),)]),
        Op("sgp4._restore", restore_elements, st.one_of(
            st.tuples(element_classes, st.one_of(st.just(SGP4_LINE1), tle_lines(), scalars),
                      st.one_of(st.just(TLE_LINE2), scalars), st.one_of(st.sampled_from(["wgs72", "wgs84"]), scalars),
                      st.one_of(st.sampled_from(["improved", "afspc"]), scalars)).map(lambda a: (a, {})),
            call_args(("cls", "line1", "line2", "gravity", "mode"), st.one_of(element_classes, scalars))),
           raises=BASIC + (UnicodeEncodeError, time_module.ErfaDubiousYearWarning),
           cases=[((sgp4_module.Elements, SGP4_LINE1, TLE_LINE2, "wgs72", "afspc"),),
                  ((ElementsSub, SGP4_LINE1, TLE_LINE2, "wgs84", "improved"),), ((int, SGP4_LINE1, TLE_LINE2, "wgs72", "afspc"),),
                  ((sgp4_module.Elements, SGP4_LINE1[:30], TLE_LINE2, "wgs72", "afspc"),),
                  ((sgp4_module.Elements, SGP4_LINE1, TLE_LINE2, "nope", "afspc"),)]),
        Op("sgp4._restore_numbers", restore_numbers, st.one_of(
            st.tuples(element_classes, st.one_of(st.integers(-5, 2 ** 40), scalars), number_tuples,
                      st.one_of(st.sampled_from(["wgs72", "wgs84"]), scalars),
                      st.one_of(st.sampled_from(["improved", "afspc"]), scalars)).map(lambda a: (a, {})),
            call_args(("cls", "satnum", "numbers", "gravity", "mode"), st.one_of(element_classes, number_tuples, scalars))),
           raises=BASIC + (time_module.ErfaDubiousYearWarning,),
           cases=[((sgp4_module.Elements, 5, NUMBERS, "wgs72", "improved"),), ((ElementsSub, 5, NUMBERS, "wgs84", "afspc"),),
                  ((sgp4_module.Elements, 5, NUMBERS[:10], "wgs72", "improved"),),
                  ((sgp4_module.Elements, 5, NUMBERS[:10] + ("x",), "wgs72", "improved"),),
                  ((sgp4_module.Elements, 5, (np.nan,) * 11, "wgs72", "improved"),), ((int, 5, NUMBERS, "wgs72", "improved"),),
                  ((sgp4_module.Elements, -1, NUMBERS, "wgs72", "improved"),),
                  ((sgp4_module.Elements, 5, (-9.2e18,) + NUMBERS[1:], "wgs72", "improved"),)]),
        # geodesy
        *[geodesy_op(name) for name in GEODESY_NAMES],
        Op("geodesy.ufunc", call_ufunc, st.tuples(st.integers(0, 11), st.lists(st.one_of(float_arrays(), arrays(), floaty, scalars),
                                                                              min_size=2, max_size=10)).map(lambda a: ((a[0], *a[1]), {})),
           raises=BASIC, cases=[((0, 1.0, 2.0, 3.0, 6378137.0, 0.003, 1.0),), ((1, np.zeros(3), 1.0, 2.0, 6378137.0, 0.003, 0.0),),
                                ((10, 1.0, 2.0, 3.0, 1.0),), ((0, "x", 2.0, 3.0, 6378137.0, 0.003, 1.0),), ((2, 1.0),)]),
        Op("geodesy._point", ufunc_point, st.tuples(st.integers(0, 11), st.lists(st.one_of(floaty, scalars), max_size=10)).map(
            lambda a: ((a[0], *a[1]), {})),
           raises=BASIC, cases=[((0, 1.0, 2.0, 3.0, 6378137.0, 0.003, 1.0),), ((3, *([1.0] * 9)),), ((0, BadFloat()),),
                                ((0, 1.0, 2.0, 3.0, 6378137.0, 0.003, "x"),), ((11, 1.0, 2.0, 3.0, 0.0),), ((0,),)]),
        Op("geodesy.simd_level", geodesy_ufuncs.simd_level, call_args((), scalars), raises=(TypeError,), cases=[((),), ((1,),)]),
        # events, over windows of hours
        Op("events.find_passes", events_module.find_passes, st.one_of(
            st.tuples(satellites, station, station, station, event_times, event_times,
                      st.one_of(st.sampled_from([0.0, 10.0, -5.0, 95.0]), floaty, scalars),
                      st.one_of(st.booleans(), scalars), ells).map(
                lambda a: (a[:6], {"min_elevation": a[6], "deg": a[7], "ellipsoid": a[8]})),
            st.tuples(satellites, event_times).map(lambda a: ((a[0], 48.85, 2.35, 35.0, a[1], PASS_WINDOW[1]), {}))),
           raises=EVENTS_RAISE, check=check_passes,
           cases=[((ELEMENTS, 48.85, 2.35, 35.0, *PASS_WINDOW),), (([ELEMENTS, GOOD_TLE], 0.0, 0.0, 0.0, *PASS_WINDOW), {"min_elevation": 10.0}),
                  (([],  48.85, 2.35, 35.0, *PASS_WINDOW),), ((ELEMENTS, 48.85, 2.35, 35.0, PASS_WINDOW[1], PASS_WINDOW[0]),),
                  (([ELEMENTS, 5], 48.85, 2.35, 35.0, *PASS_WINDOW),), ((ELEMENTS, "x", 2.35, 35.0, *PASS_WINDOW),),
                  ((ELEMENTS, 95.0, 2.35, 35.0, *PASS_WINDOW),), ((BAD_SUM_TLE, 48.85, 2.35, 35.0, *PASS_WINDOW),),
                  ((ELEMENTS, 48.85, 2.35, 35.0, *PASS_WINDOW), {"ellipsoid": 5}),
                  ((ELEMENTS, 0.8, 0.04, 35.0, *PASS_WINDOW), {"deg": False, "ellipsoid": WGS84})]),
        Op("events.find_rise_set", events_module.find_rise_set, st.tuples(
            st.one_of(st.sampled_from(["sun", "moon", "Sun", "mars"]), scalars), station, station, station, event_times,
            event_times, horizons, st.one_of(st.booleans(), scalars), ells).map(
                lambda a: (a[:6], {"horizon": a[6], "deg": a[7], "ellipsoid": a[8]})),
           raises=EVENTS_RAISE, check=check_rise_set,
           cases=[(("sun", 48.85, 2.35, 35.0, "2020-01-29", "2020-01-30"),), (("moon", 48.85, 2.35, 35.0, "2020-01-29", "2020-01-30"),),
                  (("sun", 78.2, 15.6, 0.0, "2020-06-21", "2020-06-22"),), (("sun", 48.85, 2.35, 35.0, "2020-01-29", "2020-01-30"), {"horizon": "civil"}),
                  (("moon", 48.85, 2.35, 35.0, "2020-01-29", "2020-01-30"), {"horizon": "civil"}), (("mars", 0.0, 0.0, 0.0, *PASS_WINDOW),),
                  ((5, 0.0, 0.0, 0.0, *PASS_WINDOW),), (("sun", 0.0, 0.0, 0.0, *PASS_WINDOW), {"horizon": 100.0}),
                  (("sun", 0.0, 0.0, 0.0, None, PASS_WINDOW[1]),)]),
        # time.iers
        Op("iers.eop", iers_module.eop, call_args(("t",), st.one_of(good_times, time_values)), raises=IERS_RAISE,
           cases=[((T2,),), ((T1,),), ((Time("1960-01-01"),),), ((quietly(Time, "2100-01-01"),),), ((None,),), (("2020-01-01",),)]),
        Op("iers.ut1", iers_module.ut1, st.one_of(
            call_args(("t", "dut1"), st.one_of(good_times, values, floaty)),
            st.tuples(good_times, st.one_of(floaty, float_arrays(), values)).map(lambda a: (a, {}))),
           raises=IERS_RAISE,
           cases=[((T2, 0.1),), ((T2, [0.1, 0.2]),), ((T1, np.nan),), ((T2, [0.1, 0.2, 0.3]),), ((T2, "x"),), ((None, 0.1),),
                  ((T2, np.zeros((2, 1))),)]),
        Op("iers._one_warning_each", time_module._one_warning_each, st.tuples(
            st.one_of(st.sampled_from([Time, len, iers_module.eop, events_module.find_rise_set]), scalars),
            st.lists(st.one_of(time_values, scalars), max_size=3)).map(lambda a: ((a[0], *a[1]), {})),
           raises=IERS_RAISE + (KeyError,),
           cases=[((Time, "2030-01-01"),), ((Time,), {"scale": "tt", "value": "2030-01-01"}), ((len, [1]),), ((5,),), ((),),
                  ((Time, "bad"),), ((iers_module.eop, quietly(Time, ["2030-01-01", "1999-01-01"])),)]),
        Op("iers.eop_info", iers_module.eop_info, call_args((), scalars), raises=(TypeError,), cases=[((),), ((1,),)]),
        Op("iers.leap_seconds", iers_module.leap_seconds, call_args((), scalars), raises=(TypeError,), cases=[((),), ((1,),)]),
        Op("iers.leap_seconds_expire", iers_module.leap_seconds_expire, call_args((), scalars), raises=(TypeError,),
           cases=[((),), ((1,),)]),
        Op("iers.load_leap_seconds", lambda *a, **k: load_text("leap", *a, **k),
           st.one_of(file_texts(LEAP_TEXT), scalars, st.sampled_from(["/nonexistent/leap.dat", IERS_FILES])).map(lambda c: ((c,), {})),
           raises=LOAD_RAISE,
           cases=[((LEAP_FILE,),), ((b"garbage\n",),), ((LEAP_TEXT[: len(LEAP_TEXT) // 2] + b"x 1 2\n",),),
                  (("/nonexistent/leap.dat",),), ((None,),)]),
        Op("iers.load_eop", lambda *a, **k: load_text("eop", *a, **k), st.one_of(
            st.tuples(st.one_of(file_texts(EOP_TEXT[:20000]), scalars, st.just("/nonexistent/finals.all")),
                      st.one_of(st.sampled_from(["lagrange", "linear", "cubic"]), scalars)).map(lambda a: ((a[0], a[1]), {}))),
           raises=LOAD_RAISE,
           cases=[((EOP_FILE, EOP_IN_FORCE["interpolation"]),), ((b"garbage\n",),), ((EOP_TEXT[:1000] + b"x" * 100 + b"\n",),),
                  ((EOP_FILE, "cubic"),),
                  (("/nonexistent/finals.all",),), ((None,),)]),
        # C-level method tables and functions, through the test client extensions
        Op("Sun.calculate_position", lambda t: bodies_client.sun_position(SUN2, t), st.tuples(body_times).map(lambda a: (a, {})),
           cases=[((T2,),), ((None,),), ((rigged(np.zeros((3, 2)), 2),),), ((rigged(np.zeros((1, 2)), 3),),)]),
        Op("Moon.calculate_state_GCRF", moon_state, st.tuples(body_times, float_arrays(), float_arrays()).map(lambda a: (a, {})),
           cases=[((T2, np.zeros((2, 3)), np.zeros((2, 3))),), ((T2, np.zeros((2, 2)), np.zeros((2, 3))),),
                  ((T2, np.zeros((1, 3)), np.zeros((2, 3))),), ((T2, np.zeros((2, 3)), np.zeros((0, 3))),),
                  ((None, np.zeros((2, 3)), np.zeros((2, 3))),)]),
        Op("TLE.parse_line1", reparse_tle,
           st.tuples(st.one_of(st.binary(max_size=72), tle_lines().map(lambda s: s.encode("utf-8", "replace")[:70]))).map(lambda a: (a, {})),
           raises=(ValueError, OverflowError, time_module.ErfaDubiousYearWarning),
           cases=[((b"",),), ((b"\xff" * 70,),), ((b"1 " + b"9" * 68,),), ((TLE_LINE1[:32].encode(),),), ((b"x" * 71,),)]),
        Op("create (C)", ellipsoid_client.c_create, st.tuples(st.one_of(texts, scalars)).map(lambda a: (a, {})),
           raises=(TypeError, KeyError), cases=[(("WGS72",),), (("nope",),), ((b"wgs84",),), ((None,),)]),
        # linear, through its test client
        Op("linear.norm_array", linear_call("norm_array"), st.tuples(st.one_of(float_arrays(), arrays(), values)).map(lambda a: (a, {})),
           cases=[((R2,),), ((np.zeros((0, 3)),),), ((R2[:, :2],),), ((np.zeros(3),),), ((R2.T,),)]),
        Op("linear.normalize_array", linear_call("normalize_array"), st.tuples(st.one_of(float_arrays(), arrays(), values)).map(lambda a: (a, {})),
           cases=[((R2,),), ((np.zeros((2, 3)),),), ((R2[:, :2],),), ((np.zeros((2, 3), np.float32),),)]),
        # frame pieces, through the frame test extension
        Op("frame.view2d_rows", frametest.view2d_rows, st.tuples(st.one_of(float_arrays(), arrays(), values)).map(lambda a: (a, {})),
           cases=[((R2,),), ((R2[::-1, ::2],),), ((np.zeros(3),),), ((np.zeros((2, 2), ">f8"),),)]),
        Op("frame.view2d", frametest.view2d, st.tuples(st.one_of(float_arrays(), arrays(), values)).map(lambda a: (a, {})),
           cases=[((R2.copy(),),), ((R2,),)]),
        Op("frame.scale_lla", frametest.scale_lla, st.tuples(st.one_of(records, values), floaty).map(lambda a: (a, {})),
           cases=[((np.ones(3, LLA_dtype), 2.0),), ((np.ones(3, GS_dtype), 2.0),)]),
        Op("frame.lla_from_mapping", frametest.lla_from_mapping,
           st.tuples(st.one_of(st.dictionaries(st.sampled_from(["lat", "lon", "alt", "x"]), st.one_of(floaty, scalars), max_size=4), values)).map(
               lambda a: (a, {})), cases=[(({"lat": 1, "lon": 2, "alt": 3},),), (({"lat": 1},),), ((5,),)]),
        Op("frame.enu_from_mapping", frametest.enu_from_mapping,
           st.tuples(st.one_of(st.dictionaries(st.sampled_from(["u_east", "u_north", "u_up"]),
                                               st.one_of(st.lists(floaty, max_size=5), scalars, float_arrays()), max_size=3), values)).map(
               lambda a: (a, {})), raises=BASIC + (KeyError,),
           cases=[(({"u_east": [1, 0, 0], "u_north": [0, 1, 0], "u_up": [0, 0, 1]},),), (({"u_east": [1]},),)]),
        Op("frame.three", frametest.three, call_args(("a", "b", "c"), scalars), raises=(TypeError,),
           cases=[((1, 2),), ((1,), {"c": 3}), ((1, 2, 3, 4),)]),
    ]
    return ops


OPS = build_ops()


def run_case(op: Op, args: tuple, kwargs: dict) -> tuple[str, Any]:
    """Call `op` and return a comparable outcome: ("ok", touched result) or ("raised", type, text)."""
    try:
        result = op.fn(*args, **kwargs)
    except op.raises as e:
        return ("raised", type(e).__name__, ADDRESS.sub("", str(e)))
    return ("ok", touch(result))


def cases(op: Op):
    for case in op.cases:
        yield (case[0], case[1] if len(case) > 1 else {})


def warm_up(plan) -> None:
    """Run the frames calls of a plan until their epochs' X, Y, s grid pieces are built: frames
    builds a piece once 37 epochs have asked for it, and reads its epochs from the piece after
    that (last bits apart from the series it took before), so a test that compares two runs of
    the same calls warms the pieces first."""
    for _ in range(40):
        for p in plan:
            if p[0].name.startswith("frames."):
                run_case(*p)
