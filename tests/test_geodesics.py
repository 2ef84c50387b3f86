"""Geodesics of kelvara.geodesy against geographiclib (the reference implementation of Karney's
algorithms, in Python) and pyproj's Geod (its C library over arrays): one table of random pairs
and hard cases for the inverse and direct problems, the round trip, polygon areas and paths."""

import math
import warnings

import numpy as np
import pyproj
import pytest
from geographiclib.geodesic import Geodesic

from kelvara import _threads
from kelvara import geodesy as g
from kelvara.geodesy import ufuncs

GL = Geodesic.WGS84
GEOD = pyproj.Geod(ellps="WGS84")
ALL_LEVELS = ["avx512f", "avx2", "sse4.2", "baseline"]
LEVELS = ALL_LEVELS[ALL_LEVELS.index(ufuncs.simd_level()):]
rng = np.random.default_rng(20131)


def angle_diff(a, b):
    """a - b in degrees, reduced to [-180, 180]."""
    return (np.asarray(a) - np.asarray(b) + 180) % 360 - 180


def hard_cases():
    """(lat1, lon1, lat2, lon2, near the antipodal singularity?) for the cases that break
    simpler methods."""
    cases = []
    for lat in (0.0, 1e-10, 1.0, 30.0, 45.0, 89.0, 89.999999, 90.0):
        for dlon in (0.0, 1e-9, 1.0, 90.0, 179.0, 179.5, 179.9, 179.99, 179.999999, 180.0):
            cases.append((-lat, 0.0, lat, dlon))      # opposite latitudes: antipodal at 180
            cases.append((lat, 10.0, lat, 10.0 + dlon))  # along a parallel (the equator at 0)
    for lat1 in (-90.0, -60.0, 0.0, 60.0, 90.0):      # meridians and the poles
        for lat2 in (-90.0, -30.0, 0.0, 30.0, 90.0):
            for dlon in (0.0, 180.0, 37.0):
                cases.append((lat1, 5.0, lat2, 5.0 + dlon))
    for eps in (1e-3, 1e-5, 1e-7, 1e-9, 1e-12):       # near-antipodal, both ways
        cases += [(10.0, 0.0, -10.0 + eps, 180.0 - eps), (0.0, 0.0, eps, 180.0), (0.0, 0.0, 0.0, 180.0 - eps),
                  (-45.0, 0.0, 45.0 - eps, 179.5), (30.0, 20.0, -30.0, -160.0 + eps)]
    cases += [(12.3, 45.6, 12.3, 45.6), (-0.0, -0.0, 0.0, 0.0), (50.0, 10.0, 50.0, 10.0 + 1e-12)]  # coincident
    cases += [(48.8566, 2.3522, 40.7128, -74.0060), (-33.9, 18.4, 35.7, 139.7), (89.9, 0.0, -89.9, 179.0)]
    lat1, lon1, lat2, lon2 = (np.array(c) for c in zip(*cases))
    return lat1, lon1, lat2, lon2


def table():
    """10,000 random global pairs (a quarter of them near the antipode of the first point) and
    the hard cases."""
    n = 10_000
    lat1 = np.degrees(np.arcsin(rng.uniform(-1, 1, n)))
    lon1 = rng.uniform(-180, 180, n)
    lat2 = np.degrees(np.arcsin(rng.uniform(-1, 1, n)))
    lon2 = rng.uniform(-180, 180, n)
    k = n // 4
    lat2[:k] = -lat1[:k] + rng.normal(0, 0.5, k)
    lon2[:k] = lon1[:k] + 180 + rng.normal(0, 0.5, k)
    lat2 = np.clip(lat2, -90, 90)
    h = hard_cases()
    return tuple(np.concatenate([r, c]) for r, c in zip((lat1, lon1, lat2, lon2), h))


LAT1, LON1, LAT2, LON2 = table()
REF = [GL.Inverse(*p) for p in zip(LAT1, LON1, LAT2, LON2)]
REF_S12 = np.array([r["s12"] for r in REF])
REF_AZI1 = np.array([r["azi1"] for r in REF])
REF_AZI2 = np.array([r["azi2"] for r in REF])


def near_antipode(lat1, lon1, lat2, lon2, within):
    """Pairs whose second point lies within `within` degrees of the first's antipode."""
    return (np.abs(lat1 + lat2) < within) & (np.abs(angle_diff(lon2 - lon1, 180.0)) < within)


class TestAccuracy:
    def test_inverse_against_geographiclib(self):
        s12, azi1, azi2 = g.geodesic_inverse(LAT1, LON1, LAT2, LON2)
        assert np.all((azi1 >= 0) & (azi1 < 360) & (azi2 >= 0) & (azi2 < 360))
        assert np.max(np.abs(s12 - REF_S12)) <= 15e-9
        d1, d2 = np.abs(angle_diff(azi1, REF_AZI1)), np.abs(angle_diff(azi2, REF_AZI2))
        # Within a few degrees of the antipode of the first point the azimuth is ill-conditioned
        # (the reduced length nears 0): an ulp of longitude moves it by up to 1e-11 degrees, and
        # geographiclib and pyproj differ from each other by as much there (docs/geodesy.md).
        near = near_antipode(LAT1, LON1, LAT2, LON2, 2.0)
        assert np.max(d1[~near]) <= 1e-12 and np.max(d2[~near]) <= 1e-12
        assert np.max(np.maximum(d1[near], d2[near])) <= 2e-11

    def test_inverse_against_pyproj(self):
        az1, az2, dist = GEOD.inv(LON1, LAT1, LON2, LAT2)
        s12, azi1, azi2 = g.geodesic_inverse(LAT1, LON1, LAT2, LON2)
        assert np.max(np.abs(s12 - dist)) <= 15e-9
        near = near_antipode(LAT1, LON1, LAT2, LON2, 2.0)
        assert np.max(np.abs(angle_diff(azi1, az1))[~near]) <= 1e-12
        assert np.max(np.abs(angle_diff(azi1, az1))[near]) <= 2e-11
        # pyproj gives the back azimuth at point 2
        assert np.max(np.abs(angle_diff(azi2, np.asarray(az2) + 180))[~near]) <= 1e-12

    def test_direct_against_geographiclib_and_round_trip(self):
        azi = rng.uniform(-180, 360, LAT1.size)
        dist = np.concatenate([rng.uniform(0, 2.0e7, LAT1.size - 40), [0.0, 1e-9, 1.0, -1e5, 4e7] * 8])
        lat2, lon2, azi2 = g.geodesic_direct(LAT1, LON1, azi, dist)
        ref = [GL.Direct(*p) for p in zip(LAT1, LON1, azi, dist)]
        ref_lat = np.array([r["lat2"] for r in ref])
        ref_lon = np.array([r["lon2"] for r in ref])
        ref_azi = np.array([r["azi2"] for r in ref])
        assert np.all((lon2 >= -180) & (lon2 < 180) & (azi2 >= 0) & (azi2 < 360))
        assert np.max(np.abs(lat2 - ref_lat)) <= 1e-12
        assert np.max(np.abs(angle_diff(lon2, ref_lon))) <= 1e-12
        assert np.max(np.abs(angle_diff(azi2, ref_azi))) <= 1e-12
        plon, plat, _ = GEOD.fwd(LON1, LAT1, azi, dist)
        assert np.max(np.abs(lat2 - plat)) <= 1e-12 and np.max(np.abs(angle_diff(lon2, plon))) <= 1e-12
        # direct(inverse(...)) lands on the second point within 20 nm (measured in ECEF)
        s12, azi1, _ = g.geodesic_inverse(LAT1, LON1, LAT2, LON2)
        back = g.geodesic_direct(LAT1, LON1, azi1, s12)
        there = np.array(g.geodetic2ecef(back[0], back[1], 0.0))
        want = np.array(g.geodetic2ecef(LAT2, LON2, 0.0))
        assert np.max(np.linalg.norm(there - want, axis=0)) <= 20e-9

    @pytest.mark.parametrize("name", ["wgs72", "grs80"])
    def test_other_ellipsoids(self, name):
        ell = {"wgs72": (6378135.0, 1 / 298.26), "grs80": (6378137.0, 1 / 298.257222101)}[name]
        ref = Geodesic(*ell)
        s12, azi1, _ = g.geodesic_inverse(LAT1[:500], LON1[:500], LAT2[:500], LON2[:500], ell=name)
        want = [ref.Inverse(*p) for p in zip(LAT1[:500], LON1[:500], LAT2[:500], LON2[:500])]
        assert np.max(np.abs(s12 - [w["s12"] for w in want])) <= 15e-9

    def test_flattening_one_fiftieth(self):
        class Flat:
            Re, f = 6.4e6, 1 / 50

        ref = Geodesic(Flat.Re, Flat.f)
        s12, azi1, _ = g.geodesic_inverse(LAT1[:500], LON1[:500], LAT2[:500], LON2[:500], ell=Flat)
        want = np.array([ref.Inverse(*p)["s12"] for p in zip(LAT1[:500], LON1[:500], LAT2[:500], LON2[:500])])
        assert np.max(np.abs(s12 - want)) <= 15e-9
        lat2, lon2, _ = g.geodesic_direct(LAT1[:500], LON1[:500], azi1, s12, ell=Flat)
        assert np.max(np.abs(lat2 - LAT2[:500])) <= 1e-12

    def test_pole_azimuth_convention(self):
        # from the north pole on meridian lon1 towards meridian lon1 + x: azimuth 180 - x
        s12, azi1, azi2 = g.geodesic_inverse(90.0, 10.0, [0.0, 0.0, 0.0], [10.0, 100.0, -80.0])
        np.testing.assert_allclose(azi1, [180.0, 90.0, 270.0], atol=1e-12)
        s12, azi1, azi2 = g.geodesic_inverse(-90.0, 0.0, 0.0, 30.0)
        assert abs(azi1 - 30.0) <= 1e-12
        # arriving at a pole, the same rule with the second longitude; as geographiclib has it
        for p in [(0.0, 0.0, 90.0, 45.0), (-30.0, 10.0, 90.0, -100.0), (20.0, 0.0, -90.0, 70.0), (90.0, 0.0, 90.0, 30.0)]:
            want = GL.Inverse(*p)
            got = g.geodesic_inverse(*p)
            assert abs(angle_diff(got[1], want["azi1"])) <= 1e-12 and abs(angle_diff(got[2], want["azi2"])) <= 1e-12


def polygons():
    """(name, lats, lons): from a field to a continent, both senses, across the antimeridian and
    around a pole."""
    t = np.linspace(0, 2 * np.pi, 60, endpoint=False)
    return [
        ("field", 51.0 + 1e-3 * np.sin(t), 0.5 + 1.6e-3 * np.cos(t)),
        ("square", np.array([0.0, 0.0, 1.0, 1.0]), np.array([0.0, 1.0, 1.0, 0.0])),
        ("clockwise", np.array([0.0, 1.0, 1.0, 0.0]), np.array([0.0, 0.0, 1.0, 1.0])),
        ("antimeridian", np.array([-10.0, -10.0, 10.0, 10.0]), np.array([170.0, -170.0, -170.0, 170.0])),
        ("continent", 10 + 30 * np.sin(t), 20 + 35 * np.cos(t)),
        ("australia", np.array([-10.7, -14.5, -22.0, -31.5, -35.0, -38.5, -37.5, -32.0, -26.0, -22.0, -17.5, -11.5]),
         np.array([142.5, 135.5, 114.0, 115.0, 118.0, 146.0, 150.0, 153.0, 153.2, 150.0, 146.0, 136.0])),
        ("arctic", np.full(40, 70.0), np.linspace(-180, 180, 40, endpoint=False)),
        ("antarctic", np.full(40, -70.0), np.linspace(180, -180, 40, endpoint=False)),
    ]


class TestAreaAndPaths:
    @pytest.mark.parametrize("name, lats, lons", polygons(), ids=[p[0] for p in polygons()])
    def test_area_against_geographiclib_and_pyproj(self, name, lats, lons):
        area, perimeter = g.geodesic_area(lats, lons)
        poly = GL.Polygon()
        for la, lo in zip(lats, lons):
            poly.AddPoint(la, lo)
        _, ref_perimeter, ref_area = poly.Compute(False, True)
        assert abs(area - ref_area) <= 0.1, (area, ref_area)
        assert abs(perimeter - ref_perimeter) <= 1e-6
        p_area, p_perimeter = GEOD.polygon_area_perimeter(lons, lats)
        assert abs(area - p_area) <= 0.1 and abs(perimeter - p_perimeter) <= 1e-6

    def test_area_bad_input(self):
        assert all(math.isnan(v) for v in g.geodesic_area([0.0, 1.0, np.nan], [0.0, 1.0, 1.0]))
        assert all(math.isnan(v) for v in g.geodesic_area([0.0, 91.0, 1.0], [0.0, 1.0, 1.0]))
        with pytest.raises(ValueError, match="lats and lons must be 1-D"):
            g.geodesic_area([0.0, 1.0], [0.0, 1.0, 2.0])
        with pytest.raises(TypeError, match="lons must"):
            g.geodesic_area([0.0, 1.0, 2.0], ["a", "b", "c"])

    def test_points_against_pyproj_npts(self):
        lats, lons = g.geodesic_points([48.8566, -33.9], [2.3522, 18.4], [40.7128, 35.7], [-74.0060, 139.7], 12)
        assert lats.shape == lons.shape == (2, 12)
        for i, (la1, lo1, la2, lo2) in enumerate([(48.8566, 2.3522, 40.7128, -74.0060), (-33.9, 18.4, 35.7, 139.7)]):
            mid = np.array(GEOD.npts(lo1, la1, lo2, la2, 10))
            np.testing.assert_allclose(lats[i, 1:-1], mid[:, 1], rtol=0, atol=1e-11)
            np.testing.assert_allclose(angle_diff(lons[i, 1:-1], mid[:, 0]), 0, atol=1e-11)
            assert (lats[i, 0], lons[i, 0], lats[i, -1], lons[i, -1]) == (la1, lo1, la2, lo2)
        with pytest.raises(ValueError, match="n must be at least 2"):
            g.geodesic_points(0.0, 0.0, 1.0, 1.0, 1)
        with pytest.raises(TypeError, match="n must be an int"):
            g.geodesic_points(0.0, 0.0, 1.0, 1.0, 3.0)


class TestInputs:
    def test_same_bits_at_every_level_thread_count_and_position(self):
        want = np.array(g.geodesic_inverse(LAT1, LON1, LAT2, LON2) + g.geodesic_direct(LAT1, LON1, LAT2, LON2 * 1e5))
        for level in LEVELS:
            previous = ufuncs._set_simd_level(level)
            try:
                got = np.array(g.geodesic_inverse(LAT1, LON1, LAT2, LON2)
                               + g.geodesic_direct(LAT1, LON1, LAT2, LON2 * 1e5))
            finally:
                ufuncs._set_simd_level(previous)
            np.testing.assert_array_equal(got, want)
        big = np.tile(np.array([LAT1, LON1, LAT2, LON2]), 4)  # 40,000+ points: on the pool
        previous = _threads.get_num_threads()
        try:
            results = []
            for threads in (1, 2):
                _threads.set_num_threads(threads)
                results.append(np.array(g.geodesic_inverse(*big)))
        finally:
            _threads.set_num_threads(previous)
        np.testing.assert_array_equal(results[0], results[1])
        np.testing.assert_array_equal(results[0][:, :LAT1.size], want[:3])
        for i in (0, 7, 9, LAT1.size - 1):    # alone, and strided
            np.testing.assert_array_equal(np.array(g.geodesic_inverse(LAT1[i], LON1[i], LAT2[i], LON2[i])),
                                          want[:3, i])
        # lanes of one block with different ellipsoids give each the bits it has alone
        a = np.where(np.arange(64) % 3 == 0, 6378137.0, 6378135.0)
        f = np.where(np.arange(64) % 3 == 0, 1 / 298.257223563, 1 / 298.26)
        mixed = np.array(ufuncs.geodesic_direct(LAT1[:64], LON1[:64], LAT2[:64], LON2[:64] * 1e5, a, f, 1.0))
        keep = np.arange(64) % 3 == 0
        np.testing.assert_array_equal(mixed[:, keep], want[3:, :64][:, keep])
        out = tuple(np.empty(2 * LAT1.size)[::2] for _ in range(3))
        got = g.geodesic_inverse(LAT1[::-1], LON1[::-1], LAT2[::-1], LON2[::-1], out=out)
        assert all(a is b for a, b in zip(got, out))
        np.testing.assert_array_equal(np.array(out)[:, ::-1], want[:3])

    def test_radians_broadcasting_and_aliases(self):
        s12, azi1, azi2 = g.geodesic_inverse(np.radians(LAT1[:50]), np.radians(LON1[:50]), np.radians(LAT2[:50]),
                                             np.radians(LON2[:50]), deg=False)
        np.testing.assert_allclose(s12, REF_S12[:50], rtol=1e-14)
        assert np.all((azi1 >= 0) & (azi1 < 2 * np.pi))
        grid = g.geodesic_inverse(np.array([[0.0], [45.0]]), 0.0, 10.0, [1.0, 2.0, 3.0])
        assert grid[0].shape == (2, 3)
        assert grid[0][1, 2] == g.geodesic_inverse(45.0, 0.0, 10.0, 3.0)[0]
        pymap3d = pytest.importorskip("pymap3d.vincenty")
        dist, az = g.vdist(LAT1[:200], LON1[:200], LAT2[:200], LON2[:200])
        # Vincenty's iteration (pymap3d) is good to about a millimetre away from the antipode
        far = ~near_antipode(LAT1[:200], LON1[:200], LAT2[:200], LON2[:200], 5.0)
        want_d, want_az = pymap3d.vdist(LAT1[:200][far], LON1[:200][far], LAT2[:200][far], LON2[:200][far])
        np.testing.assert_allclose(dist[far], want_d, rtol=0, atol=1e-3)
        np.testing.assert_allclose(angle_diff(az[far], want_az), 0, atol=1e-6)
        lat2, lon2 = g.vreckon(10.0, 20.0, [1e6, 5e6], [300.0, 100.0])
        want = pymap3d.vreckon(10.0, 20.0, np.array([1e6, 5e6]), np.array([300.0, 100.0]))
        np.testing.assert_allclose(lat2, want[0], atol=1e-8)
        np.testing.assert_allclose(lon2, want[1], atol=1e-8)
        assert np.all((lon2 >= 0) & (lon2 < 360))

    def test_bad_elements_give_nan_in_their_slot_only(self):
        args = [a[:16].copy() for a in (LAT1, LON1, LAT2, LON2)]
        for fn in (g.geodesic_inverse, g.geodesic_direct):
            good = np.array(fn(*args))
            lats = (0, 2) if fn is g.geodesic_inverse else (0,)
            for bad in (np.nan, np.inf, -np.inf, 90.5, -1e300):
                for k in range(4):
                    if abs(bad) <= 1e300 and k not in lats:
                        continue   # a longitude or azimuth of any size is fine
                    damaged = [a.copy() for a in args]
                    damaged[k][3] = bad
                    with warnings.catch_warnings():
                        warnings.simplefilter("error")
                        got = np.array(fn(*damaged))
                    assert np.isnan(got[:, 3]).all(), (fn, k, bad)
                    np.testing.assert_array_equal(np.delete(got, 3, axis=1), np.delete(good, 3, axis=1))

    @pytest.mark.parametrize("args, exc, words", [
        (("a", 0.0, 0.0, 0.0), TypeError, "lat1 must"),
        ((0.0, [1.0, None], 0.0, 0.0), TypeError, "lon1 must hold real numbers"),
        (([1.0, 2.0, 3.0], 0.0, [1.0, 2.0], 0.0), ValueError, "lat2 of shape (2,) does not broadcast"),
        ((0.0, 0.0, 0.0, np.array([1j])), TypeError, "lon2 must hold real numbers"),
    ])
    def test_raises_naming_the_argument(self, args, exc, words):
        with pytest.raises(exc) as info:
            g.geodesic_inverse(*args)
        assert words in str(info.value)
        with pytest.raises(ValueError, match=r"out\[2\] has shape"):
            g.geodesic_direct([1.0, 2.0], 0.0, 0.0, 1.0, out=(np.empty(2), np.empty(2), np.empty(3)))

    def test_xarray_and_dask_stay_lazy(self):
        xr = pytest.importorskip("xarray")
        da = pytest.importorskip("dask.array")
        want = g.geodesic_inverse(LAT1[:600], LON1[:600], LAT2[:600], LON2[:600])
        lazy = [da.from_array(c[:600], chunks=100) for c in (LAT1, LON1, LAT2, LON2)]
        out = g.geodesic_inverse(*lazy)
        assert all(hasattr(o, "dask") for o in out)
        np.testing.assert_array_equal(np.array([o.compute() for o in out]), np.array(want))
        x = xr.DataArray(lazy[0], dims="t")
        got = g.geodesic_direct(x, LON1[:600], 45.0, 1e6)
        assert isinstance(got[0], xr.DataArray) and got[0].chunks is not None
        np.testing.assert_array_equal(got[0].values, g.geodesic_direct(LAT1[:600], LON1[:600], 45.0, 1e6)[0])
