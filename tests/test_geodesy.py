"""kelvara.geodesy against independent references: a quad-precision computation (mpmath) for
accuracy, pymap3d, pyproj and ERFA for every function, and Dask worker processes.

The vector code is compiled for four instruction sets; the accuracy tables run on every one
this CPU has."""

import inspect
import math
import warnings

import erfa
import mpmath as mp
import numpy as np
import pymap3d
import pyproj
import pytest

from kelvara import _threads
from kelvara import geodesy as g
from kelvara.geodesy import ufuncs
from kelvara.mathtools.ellipsoid.ellipsoid import create

WGS84 = create("wgs84")
A, F = WGS84.Re, WGS84.f
B = A * (1 - F)
ALL_LEVELS = ["avx512f", "avx2", "sse4.2", "baseline"]
LEVELS = ALL_LEVELS[ALL_LEVELS.index(ufuncs.simd_level()):]
# The levels with fused multiply-add use their own sine, cosine and arctangent; the others
# libmvec's (or libm's), which err by a few ulp more.
FMA_LEVELS = ("avx512f", "avx2")


@pytest.fixture(params=LEVELS)
def level(request):
    previous = ufuncs._set_simd_level(request.param)
    yield request.param
    ufuncs._set_simd_level(previous)


# ---------------------------------------------------------------- quad-precision reference

def quad_ecef(lat, lon, h):
    """ECEF of (lat, lon, h) in radians and metres, as mpmath numbers (113-bit)."""
    with mp.workprec(113):
        a, f = mp.mpf(A), mp.mpf(F)
        e2 = f * (2 - f)
        phi, lam, h = mp.mpf(lat), mp.mpf(lon), mp.mpf(h)
        n = a / mp.sqrt(1 - e2 * mp.sin(phi) ** 2)
        return ((n + h) * mp.cos(phi) * mp.cos(lam), (n + h) * mp.cos(phi) * mp.sin(lam),
                (n * (1 - e2) + h) * mp.sin(phi))


def quad_geodetic(x, y, z):
    """Geodetic latitude (rad) and height (m) of an ECEF position, 113-bit, by Bowring's
    iteration on the reduced latitude run to convergence."""
    with mp.workprec(113):
        a, f = mp.mpf(A), mp.mpf(F)
        b = a * (1 - f)
        e2 = f * (2 - f)
        ep2 = e2 / (1 - e2)
        x, y, z = mp.mpf(x), mp.mpf(y), mp.mpf(z)
        p = mp.sqrt(x * x + y * y)
        if p == 0:
            return mp.pi / 2 * mp.sign(z), abs(z) - b
        beta = mp.atan2(z, p * (1 - f))
        for _ in range(40):
            num = z + ep2 * b * mp.sin(beta) ** 3
            den = p - e2 * a * mp.cos(beta) ** 3
            phi = mp.atan2(num, den)
            new = mp.atan((1 - f) * mp.tan(phi))
            if abs(new - beta) < mp.mpf(2) ** -120:
                break
            beta = new
        h = p * mp.cos(phi) + z * mp.sin(phi) - a * mp.sqrt(1 - e2 * mp.sin(phi) ** 2)
        return phi, h


def as_doubles(values):
    return np.array([float(v) for v in values])


def accuracy_points():
    """(lat rad, lon rad, h m): the poles, the axis, the equator, near-polar latitudes and the
    whole altitude range, plus random points."""
    lats = [0.0, 1e-12, 0.3, 0.7853981633974483, 1.2, 1.5707, 1.5707963267, 1.5707963267948966,
            -1.5707963267948966, -0.9, -1e-9]
    lons = [0.0, 2.5, -3.141592653589793, 3.0, -1.0]
    hs = [-1e6, -1e3, 0.0, 1.0, 8848.0, 4e5, 3.6e7, 1e8]
    rows = [(lat, lons[i % len(lons)], h) for i, lat in enumerate(lats) for h in hs]
    rng = np.random.default_rng(7)
    n = 120
    rows += list(zip(np.arcsin(rng.uniform(-1, 1, n)), rng.uniform(-np.pi, np.pi, n), rng.uniform(-1e6, 1e8, n)))
    return rows


POINTS = accuracy_points()
# ECEF positions rounded from the quad-precision ones, the axis points exactly on it
ECEF = np.array([[0.0 if abs(lat) == math.pi / 2 and i < 2 else float(c)
                  for i, c in enumerate(quad_ecef(lat, lon, h))] for lat, lon, h in POINTS])
REFERENCE = [quad_geodetic(*r) for r in ECEF]


class TestAccuracy:
    def test_against_quad_precision(self, level):
        x, y, z = ECEF.T
        lat, lon, h = g.ecef2geodetic(x, y, z, deg=False)
        r = np.sqrt(x * x + y * y + z * z)
        for i, (phi, _) in enumerate(REFERENCE):
            # latitude within 5e-16 rad of the reference
            assert abs(float(lat[i] - phi)) <= 5e-16, (ECEF[i], lat[i], phi)
            # the answer, taken back to ECEF exactly, lies within 3 ulp of |r| of the input
            back = quad_ecef(lat[i], lon[i], h[i])
            miss = float(mp.sqrt(sum((mp.mpf(c) - q) ** 2 for c, q in zip(ECEF[i], back))))
            assert miss <= 3 * np.spacing(r[i]), (ECEF[i], miss / np.spacing(r[i]))

    @pytest.mark.parametrize("deg", [True, False])
    def test_round_trip_in_doubles(self, level, deg):
        # degrees, as users call it, and radians; geodetic2ecef's own rounding is included
        x, y, z = ECEF.T
        back = np.array(g.geodetic2ecef(*g.ecef2geodetic(x, y, z, deg=deg), deg=deg)).T
        miss = np.linalg.norm(back - ECEF, axis=1) / np.spacing(np.linalg.norm(ECEF, axis=1))
        assert miss.max() <= (3 if level in FMA_LEVELS else 4), miss.max()

    def test_geodetic2ecef_against_quad_precision(self, level):
        lat, lon, h = np.array(POINTS).T
        got = np.array(g.geodetic2ecef(lat, lon, h, deg=False)).T
        exact = [quad_ecef(*p) for p in POINTS]
        miss = [float(mp.sqrt(sum((mp.mpf(c) - q) ** 2 for c, q in zip(row, e)))) for row, e in zip(got, exact)]
        assert max(m / np.spacing(np.linalg.norm(row)) for m, row in zip(miss, got)) <= (2 if level in FMA_LEVELS else 5)

    @pytest.mark.parametrize("scale", [1e3, 1e9, 1e14])
    def test_geodetic2ecef_large_angles(self, level, scale):
        # the angle reduction, in radians and in degrees, far beyond one turn
        rng = np.random.default_rng(int(math.log10(scale)))
        lat, lon, h = rng.uniform(-1.5, 1.5, 40), rng.uniform(-scale, scale, 40), rng.uniform(-1e5, 1e7, 40)
        fma = level in FMA_LEVELS
        # the other levels multiply degrees by pi/180 first, which loses on large angles
        for deg in ((False, True) if fma else (False,)):
            k = 57.0 if deg else 1.0
            got = np.array(g.geodetic2ecef(lat * k, lon * k, h, deg=deg)).T
            with mp.workprec(113):
                rad = [(mp.radians(mp.mpf(a * k)), mp.radians(mp.mpf(b * k))) if deg else (a, b) for a, b in zip(lat, lon)]
            exact = [quad_ecef(a, b, c) for (a, b), c in zip(rad, h)]
            miss = [float(mp.sqrt(sum((mp.mpf(c) - q) ** 2 for c, q in zip(row, e)))) / np.spacing(np.linalg.norm(row))
                    for row, e in zip(got, exact)]
            assert max(miss) <= (2.5 if fma else 6), (deg, max(miss))

    def test_right_angles_in_degrees_are_exact(self):
        # whole quadrants reduce exactly in degrees: no 1e-10 m residue off the axes
        if ufuncs.simd_level() not in FMA_LEVELS:
            pytest.skip("exact in degrees at the FMA levels only")
        x, y, z = g.geodetic2ecef([0, 0, 0, 90], [90, 180, -90, 0], 0)
        assert list(x) == [0, -A, 0, 0] and list(y) == [A, 0, -A, 0] and list(z[:3]) == [0, 0, 0]
        assert z[3] == pytest.approx(B, abs=1e-9)

    def test_levels_agree(self):
        # every instruction set gives the same answers to rounding
        x, y, z = ECEF.T
        results = []
        for name in LEVELS:
            previous = ufuncs._set_simd_level(name)
            results.append(np.array(g.ecef2geodetic(x, y, z)))
            ufuncs._set_simd_level(previous)
        for other in results[1:]:
            np.testing.assert_allclose(other, results[0], rtol=4e-16, atol=1e-8)


# ---------------------------------------------------------------- the peers

rng = np.random.default_rng(3)
N = 400
LAT = np.degrees(np.arcsin(rng.uniform(-0.99, 0.99, N)))
LON = rng.uniform(-180, 180, N)
ALT = rng.uniform(-1e4, 1e6, N)
LAT0, LON0, H0 = rng.uniform(-80, 80, N), rng.uniform(-180, 180, N), rng.uniform(0, 5000, N)
OFFSET = rng.uniform(-2e5, 2e5, (3, N))
AER = rng.uniform(0, 360, N), rng.uniform(-89, 89, N), rng.uniform(10, 1e6, N)
XYZ = pymap3d.geodetic2ecef(LAT, LON, ALT)
OBS = (LAT0, LON0, H0)

# name, arguments, tolerance of each output (degrees; metres per 1000 km). pymap3d's own
# latitudes from ECEF err by up to 2e-7 degrees (ours are checked to 5e-16 rad above).
GEO, POS, AZEL = (5e-7, 1e-12, 1e-8), (1e-8,) * 3, (1e-12, 1e-12, 1e-8)
PEER_CASES = [
    ("ecef2geodetic", (*XYZ,), GEO),
    ("geodetic2ecef", (LAT, LON, ALT), POS),
    ("ecef2enu", (*XYZ, *OBS), POS),
    ("enu2ecef", (*OFFSET, *OBS), POS),
    ("geodetic2enu", (LAT, LON, ALT, *OBS), POS),
    ("enu2geodetic", (*OFFSET, *OBS), GEO),
    ("ecef2aer", (*XYZ, *OBS), AZEL),
    ("aer2ecef", (*AER, *OBS), POS),
    ("geodetic2aer", (LAT, LON, ALT, *OBS), AZEL),
    ("aer2geodetic", (*AER, *OBS), GEO),
    ("enu2aer", (*OFFSET,), AZEL),
    ("aer2enu", (*AER,), POS),
]


def angle_diff(a, b):
    return (np.asarray(a) - np.asarray(b) + 180.0) % 360.0 - 180.0


class TestPeers:
    @pytest.mark.parametrize("deg", [True, False])
    @pytest.mark.parametrize("name, args, tol", PEER_CASES, ids=[c[0] for c in PEER_CASES])
    def test_against_pymap3d(self, name, args, tol, deg):
        if not deg:
            args = tuple(np.radians(a) if i in ANGLE_ARGS[name] else a for i, a in enumerate(args))
        ours = getattr(g, name)(*args, deg=deg)
        theirs = getattr(pymap3d, name)(*args, deg=deg)
        unit = 1.0 if deg else math.pi / 180
        for k, (o, t, tolerance) in enumerate(zip(ours, theirs, tol)):
            is_angle = k in ANGLE_OUTPUTS[name]
            diff = angle_diff(o / unit, t / unit) if is_angle else o - t
            scale = 1.0 if is_angle else np.maximum(1.0, np.abs(t) / 1e6)
            assert np.max(np.abs(diff) / scale) <= tolerance, (name, k)

    @pytest.mark.parametrize("ell", ["wgs84", "GRS80", "wgs72", WGS84, pymap3d.Ellipsoid.from_name("grs80")])
    def test_ellipsoids(self, ell):
        name = ell if isinstance(ell, str) else getattr(ell, "model", "wgs84")
        reference = pymap3d.Ellipsoid.from_name(name.lower())
        ours = g.ecef2geodetic(*XYZ, ell=ell)
        theirs = pymap3d.ecef2geodetic(*XYZ, ell=reference)
        np.testing.assert_allclose(ours[0], theirs[0], atol=1e-12)
        np.testing.assert_allclose(ours[2], theirs[2], atol=2e-8)

    def test_erfa_and_pyproj(self):
        xyz = np.column_stack(XYZ)
        lon, lat, h = erfa.gc2gd(1, xyz)
        ours = g.ecef2geodetic(*XYZ, deg=False)
        np.testing.assert_allclose(ours[0], lat, atol=1e-14)
        np.testing.assert_allclose(ours[2], h, atol=1e-3)          # ERFA's own error reaches 1 mm
        np.testing.assert_allclose(np.column_stack(g.geodetic2ecef(lat, lon, h, deg=False)),
                                   erfa.gd2gc(1, lon, lat, h), rtol=0, atol=2e-8)
        plat, plon, ph = pyproj.Transformer.from_crs("EPSG:4978", "EPSG:4979").transform(*XYZ)
        ours = g.ecef2geodetic(*XYZ)
        np.testing.assert_allclose(ours[0], plat, atol=1e-11)
        np.testing.assert_allclose(ours[2], ph, atol=1e-6)


ANGLE_ARGS = {name: set() for name, *_ in PEER_CASES}
ANGLE_OUTPUTS = {name: set() for name, *_ in PEER_CASES}
for _name in ANGLE_ARGS:
    _src, _dst = _name.split("2")
    if _src in ("geodetic", "aer"):
        ANGLE_ARGS[_name] |= {0, 1}
    if _dst in ("geodetic", "aer"):
        ANGLE_OUTPUTS[_name] |= {0, 1}
    if _name not in ("enu2aer", "aer2enu", "ecef2geodetic", "geodetic2ecef"):
        ANGLE_ARGS[_name] |= {3, 4}


# ---------------------------------------------------------------- inputs and outputs

class TestInputs:
    def test_scalars_lists_and_dtypes(self):
        point = (3906625.0, 303789.0, 5015620.0)
        expected = g.ecef2geodetic(*np.array(point)[:, None])
        one = g.ecef2geodetic(*point)
        assert all(type(v) is np.float64 for v in one)
        assert [float(v) for v in one] == [float(v[0]) for v in expected]
        np.testing.assert_array_equal(g.ecef2geodetic(*[[v] for v in point]), expected)
        # integers, float32 and float16 are computed in float64 from the values given
        for dtype in (np.int64, np.float32, np.float16, np.longdouble):
            values = [np.array([6e4, 2e4], dtype=dtype), np.array([1e3, 0], dtype=dtype), 0]
            got = g.ecef2geodetic(*values)
            want = g.ecef2geodetic(*[np.asarray(v, dtype=np.float64) for v in values])
            assert all(o.dtype == np.float64 for o in got)
            np.testing.assert_array_equal(got, want)

    def test_broadcasting_observers(self):
        # 3 observers x 4 targets, against pymap3d point by point
        lat0 = np.array([[10.0], [-45.0], [80.0]])
        got = g.geodetic2aer(LAT[:4], LON[:4], ALT[:4], lat0, 20.0, 100.0)
        assert got[0].shape == (3, 4)
        for i in range(3):
            for j in range(4):
                want = pymap3d.geodetic2aer(LAT[j], LON[j], ALT[j], lat0[i, 0], 20.0, 100.0)
                assert [got[k][i, j] for k in range(3)] == pytest.approx(want, abs=1e-7)

    def test_out_and_layouts(self):
        # results do not depend on layout: strided, reversed, tails and out= give the same bits
        x, y, z = (np.ascontiguousarray(c) for c in XYZ)
        want = np.array(g.ecef2geodetic(x, y, z))
        out = tuple(np.empty(2 * N)[::2] for _ in range(3))
        got = g.ecef2geodetic(x[::-1], y[::-1], z[::-1], out=out)
        assert all(a is b for a, b in zip(got, out))
        np.testing.assert_array_equal(np.array(out)[:, ::-1], want)
        for i in (0, 5, 13, N - 1):
            np.testing.assert_array_equal(np.array(g.ecef2geodetic(x[i], y[i], z[i])), want[:, i])
        out32 = tuple(np.empty(N, np.float32) for _ in range(3))
        g.ecef2geodetic(x, y, z, out=out32)
        np.testing.assert_array_equal(out32, want.astype(np.float32))

    def test_threads_give_the_same_bits(self):
        n = 200_000
        lat, lon, h = rng.uniform(-90, 90, n), rng.uniform(-180, 180, n), rng.uniform(0, 1e5, n)
        previous = _threads.get_num_threads()
        try:
            _threads.set_num_threads(1)
            one = np.array(g.geodetic2ecef(lat, lon, h) + g.geodetic2aer(lat, lon, h, 1.0, 2.0, 3.0))
            _threads.set_num_threads(2)
            two = np.array(g.geodetic2ecef(lat, lon, h) + g.geodetic2aer(lat, lon, h, 1.0, 2.0, 3.0))
        finally:
            _threads.set_num_threads(previous)
        np.testing.assert_array_equal(one, two)

    def test_azimuth_in_range(self):
        tiny = 1e-300
        e = np.array([0.0, -0.0, -tiny, tiny, 1.0, 1.0, -1.0, -1.0, -1e-17, 0.0])
        n = np.array([1.0, 1.0, 1.0, 1.0, 1.0, -1.0, -1.0, 1.0, 1.0, -1.0])
        for deg, full in ((True, 360.0), (False, 2 * math.pi)):
            az = g.enu2aer(e, n, 0.0, deg=deg)[0]
            assert np.all((az >= 0) & (az < full)) and not np.signbit(az).any()
            want = np.degrees(np.arctan2(e, n)) % 360 if deg else np.arctan2(e, n) % full
            np.testing.assert_allclose(angle_diff(az, want) if deg else az - want % full, 0, atol=1e-13)

    def test_xarray_and_dask(self):
        xr = pytest.importorskip("xarray")
        da = pytest.importorskip("dask.array")
        x = xr.DataArray(np.array(XYZ[0][:6]), dims="t", coords={"t": np.arange(6)}, attrs={"units": "m"})
        lat, lon, alt = g.ecef2geodetic(x, XYZ[1][:6], XYZ[2][:6])
        assert isinstance(alt, xr.DataArray) and alt.dims == ("t",)
        want = g.ecef2geodetic(*(c[:6] for c in XYZ))
        np.testing.assert_array_equal(alt.values, want[2])
        lazy = [da.from_array(c, chunks=100) for c in XYZ]
        out = g.ecef2aer(*lazy, *OBS)
        assert all(hasattr(o, "dask") for o in out)
        np.testing.assert_array_equal(np.array([o.compute() for o in out]), np.array(g.ecef2aer(*XYZ, *OBS)))
        both = g.ecef2geodetic(xr.DataArray(lazy[0], dims="t"), lazy[1], XYZ[2])
        assert isinstance(both[0], xr.DataArray) and both[0].chunks is not None
        np.testing.assert_array_equal(both[0].values, g.ecef2geodetic(*XYZ)[0])


class TestBadInput:
    @pytest.mark.parametrize("args, exc, words", [
        (("a", 0.0, 0.0), TypeError, "x must"),
        ((0.0, [1.0, "b"], 0.0), TypeError, "y must"),
        ((0.0, 0.0, [None, 1.0]), TypeError, "z must hold real numbers, not NoneType"),
        ((0.0, 0.0, object()), TypeError, "z must"),
        ((np.array([1j]), 0.0, 0.0), TypeError, "x must hold real numbers"),
        (([1.0, 2.0, 3.0], [1.0, 2.0], 0.0), ValueError, "y of shape (2,) does not broadcast with x of shape (3,)"),
        (([[1.0], [2.0]], [1.0, 2.0], np.zeros(3)), ValueError, "z of shape (3,)"),
        (([1.0, [2.0, 3.0]], 0.0, 0.0), ValueError, "x is not an array of numbers"),
    ])
    def test_raises_naming_the_argument(self, args, exc, words):
        with pytest.raises(exc) as info:
            g.ecef2geodetic(*args)
        assert words in str(info.value)

    @pytest.mark.parametrize("ell, exc", [("mars", ValueError), (3.0, TypeError), ([1], TypeError)])
    def test_bad_ellipsoid(self, ell, exc):
        with pytest.raises(exc, match="ell must be"):
            g.geodetic2ecef(0.0, 0.0, 0.0, ell=ell)

    def test_out_shape_is_named(self):
        with pytest.raises(ValueError, match=r"out\[1\] has shape \(3,\)"):
            g.ecef2geodetic([1.0, 2.0], 0.0, 0.0, out=(np.empty(2), np.empty(3), np.empty(2)))

    @pytest.mark.parametrize("name, args", [(c[0], c[1]) for c in PEER_CASES])
    def test_bad_element_gives_nan_in_its_slot_only(self, name, args):
        fn = getattr(g, name)
        good = np.array(fn(*(np.array(a[:8]) for a in args)))
        for bad in (np.nan, np.inf, -np.inf):
            for k in range(len(args)):
                damaged = [np.array(a[:8]) for a in args]
                damaged[k][3] = bad
                with warnings.catch_warnings():
                    warnings.simplefilter("error")      # and no RuntimeWarning on the way
                    got = np.array(fn(*damaged))
                assert np.isnan(got[:, 3]).all(), (name, k, bad)
                np.testing.assert_array_equal(np.delete(got, 3, axis=1), np.delete(good, 3, axis=1))

    def test_centre_and_axis(self):
        lat, lon, h = g.ecef2geodetic([0.0, 0.0, 0.0, 1e-300], 0.0, [0.0, -0.0, -7e6, 6356752.0])
        np.testing.assert_array_equal(lat, [90.0, -90.0, -90.0, 90.0])
        np.testing.assert_array_equal(lon, 0.0)
        np.testing.assert_allclose(h, [-B, -B, 7e6 - B, 6356752.0 - B], rtol=0, atol=1e-9)


def test_ufuncs_pickle_by_name():
    import pickle

    names = [name for name in g.__all__ if isinstance(getattr(ufuncs, name, None), np.ufunc)]
    assert len(names) == 14    # the twelve conversions and the two geodesic problems
    for name in names + ["_geodesic_edge"]:
        u = getattr(ufuncs, name)
        assert pickle.loads(pickle.dumps(u)) is u


def test_dask_worker_processes(tmp_path):
    """1e6 points through 2 Dask worker processes give the in-process answer bit for bit."""
    pytest.importorskip("distributed")
    import os
    import pathlib
    import subprocess
    import sys

    root = pathlib.Path(__file__).resolve().parent.parent
    env = dict(os.environ, PYTHONPATH=str(root))
    proc = subprocess.run([sys.executable, str(root / "examples" / "dask_geodesy.py"), "--points", "1000000",
                           "--workers", "2", "--check"], capture_output=True, text=True, cwd=tmp_path, env=env,
                          timeout=240)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert "workers: 2 processes" in proc.stdout, proc.stdout
    assert "points: 1,000,000" in proc.stdout and "identical to one process: yes" in proc.stdout, proc.stdout


class TestBeyondThePoles:
    """No point has a latitude beyond +-90 degrees: such an element gives NaN in its own slot,
    on every vector level, in degrees and radians, and the batch goes on."""

    @pytest.mark.parametrize("level", LEVELS)
    @pytest.mark.parametrize("deg", [True, False])
    @pytest.mark.parametrize("name, args", [(c[0], c[1]) for c in PEER_CASES
                                            if {"lat", "lat0"} & set(inspect.signature(getattr(g, c[0])).parameters)])
    def test_latitude_beyond_a_pole_gives_nan_in_its_slot(self, name, args, deg, level):
        fn = getattr(g, name)
        params = list(inspect.signature(fn).parameters)
        unit = 1.0 if deg else math.pi / 180
        args = [np.array(a[:8], dtype=float) * (unit if i in ANGLE_ARGS[name] else 1.0) for i, a in enumerate(args)]
        previous = ufuncs._set_simd_level(level)
        try:
            good = np.array(fn(*args, deg=deg))
            for k in (params.index(p) for p in ("lat", "lat0") if p in params):
                damaged = [a.copy() for a in args]
                damaged[k][2], damaged[k][3], damaged[k][5] = 90.0 * unit, 91.0 * unit, -100.0 * unit
                got = np.array(fn(*damaged, deg=deg))
                assert np.isnan(got[:, [3, 5]]).all(), (name, k)
                assert not np.isnan(got[:, 2]).any(), (name, k)  # the pole itself is a point
                keep = [0, 1, 4, 6, 7]
                np.testing.assert_array_equal(got[:, keep], good[:, keep])
                # one point through the scalar path too
                one = [float(a[3]) for a in damaged]
                assert np.isnan(fn(*one, deg=deg)).all(), (name, k)
        finally:
            ufuncs._set_simd_level(previous)
