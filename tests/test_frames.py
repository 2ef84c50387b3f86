"""kelvara.frames against independent references: the published TEME/ITRF/GCRF example of
Vallado et al. (AIAA 2006-6753, Appendix C), pyerfa's c2t06a, astropy's AltAz, and finite
differences of positions for the velocity term."""

import math
import warnings

import numpy as np
import pytest

import erfa

from kelvara import frames
from kelvara.frames import aer, moon_aer, rotation, sun_aer, transform
from kelvara.time.time import Time

ARCSEC = np.radians(1 / 3600)
UAS = ARCSEC * 1e-6

# AIAA 2006-6753 Appendix C: epoch, its Earth orientation, and the state in each frame (km, km/s)
AIAA_T = "2004-04-06T07:51:28.386009"
AIAA_EOP = (-0.4399619, -0.140682 * ARCSEC, 0.333309 * ARCSEC)
AIAA = {
    "teme": (np.array([5094.18016210, 6127.64465950, 6380.34453270]),
             np.array([-4.746131487, 0.785818041, 5.531931288])),
    "itrf": (np.array([-1033.4793830, 7901.2952754, 6380.3565958]),
             np.array([-3.225636520, -2.872451450, 5.531924446])),
    "gcrf": (np.array([5102.508958, 6123.011401, 6378.136928]),
             np.array([-4.743220157, 0.790536497, 5.533755727])),
}


def make_time(jd, scale):
    """A Time from Julian dates and its UTC two-part dates, without the warnings about UTC
    before 1960 or past the leap-second table."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        t = Time(jd, format="jd", scale=scale)
        utc = t.utc.jd12
    return t, utc


class TestPublishedExample:
    # The published vector leaves out the equation-of-the-equinoxes terms, as TEME does; the
    # residuals (8.5 mm, 0.013 mm/s) are the example's own rounding and its length-of-day term.
    @pytest.mark.parametrize("src, dst, precise, tol_r, tol_v", [
        ("teme", "itrf", False, 0.01, 1e-4),
        ("itrf", "teme", False, 0.01, 1e-4),
        ("teme", "gcrf", False, 0.01, 1e-4),
        ("itrf", "gcrf", True, 0.01, 1e-4),
        ("gcrf", "itrf", False, 0.01, 1e-4),
        ("gcrf", "teme", True, 0.01, 1e-4),
    ])
    def test_state(self, src, dst, precise, tol_r, tol_v):
        r, v = (x * 1e3 for x in AIAA[src])
        ro, vo = transform(r, Time(AIAA_T), src, dst, v=v, eop=AIAA_EOP, precise=precise)
        assert np.abs(ro - AIAA[dst][0] * 1e3).max() < tol_r
        assert np.abs(vo - AIAA[dst][1] * 1e3).max() < tol_v

    def test_ignoring_eop_is_far_off(self):
        # the override really takes part: without it the same vector lands hundreds of metres away
        r = transform(AIAA["teme"][0] * 1e3, AIAA_T, "teme", "itrf", eop=(0.0, 0.0, 0.0))
        assert np.linalg.norm(r - AIAA["itrf"][0] * 1e3) > 100.0


def erfa_c2t(t, utc, dut1, xp, yp):
    """pyerfa's matrix for the same TT dates, with UT1 from UTC and dut1 by its own utcut1."""
    tt = t.tt.jd12
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        ut1 = erfa.utcut1(utc[:, 0], utc[:, 1], dut1)
    return erfa.c2t06a(tt[:, 0], tt[:, 1], *ut1, xp, yp)


def rotation_angle(a, b):
    """Largest rotation angle (rad) between matrices a and b, from the skew part of a b^T."""
    d = a @ np.swapaxes(b, -1, -2)
    skew = np.stack([d[..., 2, 1] - d[..., 1, 2], d[..., 0, 2] - d[..., 2, 0], d[..., 1, 0] - d[..., 0, 1]], -1) / 2
    return np.linalg.norm(skew, axis=-1).max()


# UTC epochs before 1960 and past the leap-second table's expiry warn; beside the point here
@pytest.mark.filterwarnings("ignore::UserWarning")
class TestAgainstErfa:
    """The celestial -> terrestrial matrix against pyerfa's c2t06a with the same dates and EOP."""

    rng = np.random.default_rng(15)

    def eop(self, n):
        return (self.rng.uniform(-0.9, 0.9, n), self.rng.uniform(-1, 1, n) * ARCSEC,
                self.rng.uniform(-1, 1, n) * ARCSEC)

    @pytest.mark.parametrize("case", ["spread precise", "dense interpolated", "leap-second days precise"])
    def test_c2t06a(self, case):
        if case == "spread precise":
            # 1e4 random epochs over 1900-2100: the full series at every epoch
            jd = self.rng.uniform(2415020.5, 2488069.5, 10_000)
        elif case.startswith("leap"):
            # days that end with a leap second (UT1 from UTC + dut1 would drift by up to 1 s)
            # and the days around them, read as UTC
            days = np.array([2441499.5, 2450630.5, 2453735.5, 2457204.5, 2457753.5])
            jd = (days[:, None] + self.rng.uniform(-1, 2, (5, 200))).ravel()
            t, utc = make_time(jd, "utc")
            dut1, xp, yp = self.eop(jd.size)
            m = rotation("gcrf", "itrf", t, eop=(dut1, xp, yp), precise=True)
            assert np.abs(m - erfa_c2t(t, utc, dut1, xp, yp)).max() <= 1e-14
            return
        else:
            # 20 windows of 500 random epochs each, over 1900-2100: dense enough for the grid
            centres = self.rng.uniform(2415030.5, 2488059.5, 20)
            jd = (centres[:, None] + self.rng.uniform(-10, 10, (20, 500))).ravel()
        t, utc = make_time(jd, "utc")
        dut1, xp, yp = self.eop(jd.size)
        m = rotation("gcrf", "itrf", t, eop=(dut1, xp, yp), precise=case.endswith("precise"))
        ref = erfa_c2t(t, utc, dut1, xp, yp)
        if case.endswith("precise"):
            assert np.abs(m - ref).max() <= 1e-14
        else:
            assert rotation_angle(m, ref) <= 1 * UAS

    def test_teme_is_gmst82_then_polar_motion(self):
        # the TEME -> ITRF matrix is ERFA's chain rz(gmst82(UT1)) then pom00(xp, yp, 0), with UT1
        # from utcut1, bit for bit
        t, utc = make_time(self.rng.uniform(2437665.5, 2461000.5, 5000), "utc")
        dut1, xp, yp = self.eop(utc.shape[0])
        g = erfa.gmst82(*erfa.utcut1(utc[:, 0], utc[:, 1], dut1))
        ref = erfa.rxr(erfa.pom00(xp, yp, 0.0), erfa.rz(g, np.broadcast_to(np.eye(3), (g.size, 3, 3))))
        np.testing.assert_array_equal(rotation("teme", "itrf", t, eop=(dut1, xp, yp)), ref)

    def test_transform_uses_the_same_matrices(self):
        jd = 2451545.0 + np.sort(self.rng.uniform(0, 30, 400))
        t, utc = make_time(jd, "utc")
        eop = self.eop(jd.size)
        r = self.rng.normal(size=(jd.size, 3)) * 7e6
        m = rotation("gcrf", "itrf", t, eop=eop)
        np.testing.assert_allclose(transform(r, t, "gcrf", "itrf", eop=eop), np.einsum("nij,nj->ni", m, r),
                                   rtol=0, atol=1e-8)
        np.testing.assert_allclose(transform(r, t, "itrf", "gcrf", eop=eop), np.einsum("nji,nj->ni", m, r),
                                   rtol=0, atol=1e-8)


class TestVelocities:
    """The Earth-rotation term against central differences of transformed positions of a body
    moving uniformly in the source frame (large polar motion makes a dropped factor visible)."""

    @pytest.mark.parametrize("src, dst", [("gcrf", "itrf"), ("itrf", "gcrf"), ("teme", "itrf"),
                                          ("itrf", "teme"), ("teme", "gcrf"), ("gcrf", "teme")])
    def test_matches_finite_differences(self, src, dst):
        t0 = Time("2021-07-01T12:00:00")
        eop = (0.2, 3e-4, -2e-4)
        r0 = np.array([-2.7e6, 5.1e6, 3.9e6])
        v0 = np.array([-5500.0, -1200.0, 4100.0])
        h = 0.05
        _, v = transform(r0, t0, src, dst, v=v0, eop=eop, precise=True)
        plus = transform(r0 + v0 * h, t0 + h, src, dst, eop=eop, precise=True)
        minus = transform(r0 - v0 * h, t0 - h, src, dst, eop=eop, precise=True)
        # truncation (omega^2 r h^2 / 6) and the unmodelled precession-nutation rate: < 0.1 mm/s
        np.testing.assert_allclose(v, (plus - minus) / (2 * h), rtol=0, atol=1e-4)


class TestShapes:
    eop = (0.1, 1e-6, 2e-6)
    times = Time(["2020-01-01", "2020-01-02", "2020-01-03"])

    @pytest.mark.parametrize("r_shape, t, out_shape", [
        ((3,), "scalar", (3,)),
        ((4, 3), "scalar", (4, 3)),
        ((3,), "array", (3, 3)),
        ((3, 3), "array", (3, 3)),
        ((1, 3), "array", (3, 3)),
    ])
    def test_broadcasting_matches_row_by_row(self, r_shape, t, out_shape):
        rng = np.random.default_rng(0)
        r = rng.normal(size=r_shape) * 7e6
        v = rng.normal(size=r_shape) * 7e3
        tt = self.times[0] if t == "scalar" else self.times
        ro, vo = transform(r, tt, "gcrf", "teme", v=v, eop=self.eop)
        assert ro.shape == vo.shape == out_shape
        rows, vrows = np.broadcast_to(r, out_shape).reshape(-1, 3), np.broadcast_to(v, out_shape).reshape(-1, 3)
        for i, (ri, vi) in enumerate(zip(rows, vrows)):
            ti = tt if t == "scalar" else tt[i]
            a, b = transform(ri, ti, "gcrf", "teme", v=vi, eop=self.eop)
            assert np.array_equal(a, ro.reshape(-1, 3)[i]) and np.array_equal(b, vo.reshape(-1, 3)[i])

    @pytest.mark.parametrize("call, message", [
        (lambda: transform(np.zeros((2, 3)), TestShapes.times, "gcrf", "itrf", eop=TestShapes.eop), "shapes"),
        (lambda: transform(np.zeros((3, 2)), "2020-01-01", "gcrf", "itrf", eop=TestShapes.eop), r"\(3,\) or \(N, 3\)"),
        (lambda: transform(np.zeros((3, 3)), "2020-01-01", "gcrf", "itrf", v=np.zeros((2, 3)), eop=TestShapes.eop), "shapes"),
        (lambda: transform(np.zeros(3), TestShapes.times, "gcrf", "itrf", eop=(0.0, np.zeros(2), 0.0)), "eop xp"),
        (lambda: transform(np.zeros(3), "2020-01-01", "ecef", "itrf"), "known frames: 'gcrf', 'itrf', 'teme'"),
        (lambda: rotation("gcrf", "icrs", "2020-01-01"), "known frames: 'gcrf', 'itrf', 'teme'"),
        (lambda: sun_aer(TestShapes.times, [1.0, 2.0], 0.0, eop=TestShapes.eop), "shapes"),
    ])
    def test_bad_input_raises_value_error(self, call, message):
        with pytest.raises(ValueError, match=message):
            call()

    @pytest.mark.parametrize("fn", [sun_aer, moon_aer])
    @pytest.mark.parametrize("t, lat", [("scalar", "array"), ("array", "scalar"), ("array", "array")])
    def test_station_view_broadcasting_matches_one_by_one(self, fn, t, lat):
        # 300 rows: large enough for the pool, so that rows split between threads
        times = Time("2024-03-01") + np.arange(300) * 3600.0 if t == "array" else Time("2024-03-01T06:00")
        lats = np.linspace(-89, 89, 300) if lat == "array" else 48.85
        az, el, rg = fn(times, lats, 2.35, 100.0, eop=self.eop)
        assert az.shape == el.shape == rg.shape == (300,)
        for i in range(0, 300, 37):
            one = fn(times[i] if t == "array" else times, lats[i] if lat == "array" else lats, 2.35, 100.0, eop=self.eop)
            assert all(isinstance(x, float) for x in one)
            assert (az[i], el[i], rg[i]) == one

    def test_rotation_shapes_and_composition(self):
        m = rotation("teme", "gcrf", self.times, eop=self.eop)
        assert m.shape == (3, 3, 3) and rotation("teme", "gcrf", self.times[0], eop=self.eop).shape == (3, 3)
        chain = rotation("itrf", "gcrf", self.times, eop=self.eop) @ rotation("teme", "itrf", self.times, eop=self.eop)
        np.testing.assert_allclose(m, chain, rtol=0, atol=1e-15)
        np.testing.assert_array_equal(rotation("itrf", "itrf", self.times, eop=self.eop), np.broadcast_to(np.eye(3), (3, 3, 3)))


# Paris, a year at 6-hour steps: astropy's AltAz with its own EOP handed to kelvara as well
# (its UT1-UTC and polar motion), pressure 0 (no refraction).
@pytest.fixture(scope="module")
def astropy_altaz():
    pytest.importorskip("astropy")
    import astropy.units as u
    from astropy.coordinates import AltAz, EarthLocation, get_body, get_sun
    from astropy.time import Time as ATime
    from astropy.utils import iers

    iers.conf.auto_download = False
    lat, lon, alt = 48.8566, 2.3522, 35.0
    jd = 2460310.5 + np.arange(0, 366, 0.25)
    at = ATime(jd, format="jd", scale="utc")
    where = AltAz(obstime=at, location=EarthLocation.from_geodetic(lon * u.deg, lat * u.deg, alt * u.m))
    xp, yp = iers.earth_orientation_table.get().pm_xy(at)
    eop = (np.asarray(at.delta_ut1_utc), xp.to_value(u.rad), yp.to_value(u.rad))
    refs = {"sun": get_sun(at).transform_to(where), "moon": get_body("moon", at).transform_to(where)}
    return Time(jd, format="jd"), (lat, lon, alt), eop, {k: (v.az.deg, v.alt.deg) for k, v in refs.items()}


class TestStationView:
    # Sun: both sides apply the annual aberration (which also stands for light time) and the
    # station's diurnal aberration on the same ERFA ephemeris; what remains (below 1 mas) is
    # astropy's full relativistic aberration and light-time iteration against our first-order
    # terms, and its linear EOP interpolation. Moon: astropy's lunar theory (a truncated
    # ELP 2000-82) against ERFA's Moon98 differs by up to about 0.3 arcsec.
    @pytest.mark.parametrize("body, fn, tol", [("sun", sun_aer, 2.0), ("moon", moon_aer, 1.0)])
    def test_against_astropy(self, astropy_altaz, body, fn, tol):
        t, station, eop, refs = astropy_altaz
        az, el, _ = fn(t, *station, eop=eop)
        ref_az, ref_el = refs[body]
        assert np.abs(el - ref_el).max() * 3600 < tol
        assert np.abs(((az - ref_az + 180) % 360 - 180) * np.cos(np.radians(el))).max() * 3600 < tol

    def test_one_call_equals_the_two_line_chain(self):
        from kelvara.bodies.bodies import Sun
        t = Time(["2024-03-20T06:00:00", "2024-03-20T12:00:00"])
        eop = (0.01, 1e-6, 1e-6)
        r = transform(Sun(t).r_GCRF, t, "gcrf", "itrf", eop=eop)
        az, el, rg = aer(r, t, "itrf", 48.8566, 2.3522, 35.0)
        saz, sel, srg = sun_aer(t, 48.8566, 2.3522, 35.0, eop=eop)
        # the one call adds the diurnal aberration (at most 0.32 arcsec)
        assert np.abs(sel - el).max() * 3600 < 0.35 and np.abs(srg - rg).max() < 1.0
        az_r, el_r, _ = sun_aer(t, np.radians(48.8566), np.radians(2.3522), 35.0, deg=False, eop=eop)
        np.testing.assert_allclose(np.degrees(el_r), sel, rtol=0, atol=1e-12)

    @pytest.mark.parametrize("el, pressure, temperature", [
        (-0.5, 1010.0, 10.0), (0.0, 1010.0, 10.0), (10.0, 1010.0, 10.0), (45.0, 1010.0, 10.0),
        (10.0, 505.0, 10.0), (5.0, 1030.0, -20.0), (-2.0, 1010.0, 10.0),
    ])
    def test_refraction_inverts_bennett(self, el, pressure, temperature):
        # Saemundsson's formula (true -> apparent) against skyfield's Bennett (apparent -> true)
        earthlib = pytest.importorskip("skyfield.earthlib")
        d = 1e6  # a point 1000 km away at the given elevation, seen from the equator at longitude 0
        r = [6378137.0 + d * np.sin(np.radians(el)), 0.0, d * np.cos(np.radians(el))]
        _, plain, _ = aer(r, "2024-01-01", "itrf", 0.0, 0.0)
        _, bent, _ = aer(r, "2024-01-01", "itrf", 0.0, 0.0, refraction=True, pressure=pressure, temperature=temperature)
        assert plain == pytest.approx(el, abs=1e-9)
        bennett = earthlib.refraction(bent, temperature, pressure) if bent >= -1.0 else 0.0
        # the two formulas invert each other to 0.1 arcmin or better
        assert (bent - plain) * 60 == pytest.approx(bennett * 60, abs=0.1)


class TestLoadedEop:
    """Without `eop`, UT1 is the Time's own `.ut1` and polar motion comes from the loaded data."""

    @pytest.mark.parametrize("src, dst", [("gcrf", "itrf"), ("teme", "itrf"), ("itrf", "teme")])
    def test_equals_explicit_eop_of_the_loaded_data(self, src, dst):
        iers = pytest.importorskip("kelvara.time.iers")
        t = Time("2023-05-01") + np.arange(0.0, 3 * 86400.0, 3600.0)
        r = np.array([4.1e6, -3.3e6, 4.4e6])
        v = np.array([2100.0, 6200.0, -1800.0])
        r1, v1 = transform(r, t, src, dst, v=v)
        r2, v2 = transform(r, t, src, dst, v=v, eop=iers.eop(t))
        # UT1 as UTC + dut1 and the Time's own UT1 differ by rounding of the two-part date only
        np.testing.assert_allclose(r1, r2, rtol=0, atol=1e-6)
        np.testing.assert_allclose(v1, v2, rtol=0, atol=1e-9)
        assert np.abs(r1 - transform(r, t, src, dst, eop=(0.0, 0.0, 0.0))).max() > 1.0


def test_long_loops_end_on_ctrl_c(python):
    # 400000 epochs of the full series take many seconds; SIGINT half a second in must end them
    out = python("""
        import os, signal, threading
        import numpy as np
        from kelvara.frames import transform
        from kelvara.time.time import Time
        t = Time(2451545.0 + np.linspace(0, 3000, 400_000), format="jd")
        threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
        try:
            transform([7e6, 0, 0], t, "gcrf", "itrf", eop=(0.0, 0.0, 0.0), precise=True)
            print("finished")
        except KeyboardInterrupt:
            print("interrupted")
    """)
    assert out.strip() == "interrupted"


def test_module_exports():
    assert frames.FRAMES == ("gcrf", "itrf", "teme")
    assert frames.OMEGA_EARTH == pytest.approx(2 * np.pi * 1.00273781191135448 / 86400, rel=1e-15)


class TestImpossibleInput:
    """Inputs no caller can mean are refused naming the argument, or, for a station beyond a
    pole, give NaN in their own element."""

    eop = (0.1, 1e-6, 2e-6)
    r = np.array([7e6, 1e6, 2e6])

    @pytest.mark.parametrize("call, exc, message", [
        # datetime64 counts, durations, complex numbers and text read as metres
        (lambda r: transform(np.array(["2020-01-01"] * 3, "datetime64[s]"), "2020-01-01", "gcrf", "itrf"),
         TypeError, "r must hold real numbers, not datetime64"),
        (lambda r: transform(r, "2020-01-01", "gcrf", "teme", v=np.timedelta64(1, "s") * np.ones(3, int)),
         TypeError, "v must hold real numbers, not timedelta64"),
        (lambda r: transform(r * 1j, "2020-01-01", "gcrf", "itrf"), TypeError, "r must hold real numbers"),
        (lambda r: transform(["a", "b", "c"], "2020-01-01", "gcrf", "itrf"), TypeError, "r must hold real"),
        (lambda r: aer(r, "2020-01-01", "gcrf", np.array(["2020-01-01"], "datetime64[D]"), 0.0),
         TypeError, "lat must hold real numbers"),
        (lambda r: sun_aer("2020-01-01", 0.0, 0.0, alt=np.array([1j])), TypeError, "alt must hold real numbers"),
        # a NUL ends a C string: "gcrf\0junk" is not "gcrf"
        (lambda r: transform(r, "2020-01-01", "gcrf\x00junk", "itrf"), ValueError, "src must not contain a NUL"),
        (lambda r: rotation("gcrf", "ITRF\x00", "2020-01-01"), ValueError, "dst must not contain a NUL"),
        (lambda r: aer(r, "2020-01-01", "Teme\x00x", 0.0, 0.0), ValueError, "src must not contain a NUL"),
        # refraction at or below the formula's absolute zero, or under a negative pressure
        (lambda r: sun_aer("2020-01-01", 10.0, 2.0, refraction=True, temperature=-273.15), ValueError, "temperature"),
        (lambda r: sun_aer("2020-01-01", 10.0, 2.0, refraction=True, temperature=-300), ValueError, "temperature"),
        (lambda r: moon_aer("2020-01-01", 10.0, 2.0, refraction=True, temperature=np.nan), ValueError, "temperature"),
        (lambda r: sun_aer("2020-01-01", 10.0, 2.0, refraction=True, pressure=-1.0), ValueError, "pressure"),
        (lambda r: aer(r, "2020-01-01", "itrf", 0.0, 0.0, refraction=True, pressure=np.inf), ValueError, "pressure"),
    ])
    def test_refused_naming_the_argument(self, call, exc, message):
        with pytest.raises(exc, match=message):
            call(self.r)

    def test_real_dtypes_are_taken(self):
        want = transform(self.r, "2020-01-01", "gcrf", "itrf", eop=self.eop)
        for r in (self.r.astype(np.float32), self.r.astype(np.int64), list(self.r), self.r.astype(object)):
            np.testing.assert_allclose(transform(r, "2020-01-01", "gcrf", "itrf", eop=self.eop), want, rtol=1e-7)

    @pytest.mark.parametrize("deg", [True, False])
    @pytest.mark.parametrize("fn", ["sun_aer", "moon_aer", "aer"])
    def test_station_beyond_a_pole_gives_nan_in_its_element(self, fn, deg):
        unit = 1.0 if deg else math.pi / 180
        lat = np.array([45.0, 91.0, 90.0, -100.0, -90.0]) * unit
        t = Time(["2020-01-01T00:00", "2020-01-01T06:00", "2020-01-01T12:00", "2020-01-01T18:00", "2020-01-02"])
        call = {"sun_aer": lambda la: sun_aer(t, la, 2.0 * unit, deg=deg, eop=self.eop),
                "moon_aer": lambda la: moon_aer(t, la, 2.0 * unit, deg=deg, eop=self.eop),
                "aer": lambda la: aer(self.r, t, "gcrf", la, 2.0 * unit, deg=deg, eop=self.eop)}[fn]
        got = np.array(call(lat))
        assert np.isnan(got[:, [1, 3]]).all() and not np.isnan(got[:, [0, 2, 4]]).any()
        # the other elements as computed without the bad ones
        np.testing.assert_allclose(got[:, [0, 2, 4]], np.array(call(lat[[0, 2, 4]].repeat([1, 3, 1])))[:, [0, 2, 4]],
                                   rtol=1e-15, atol=1e-12)
        assert np.isnan(np.array(call(np.full(5, lat[1])))).all()
