"""kelvara.bodies.bodies: Sun and Moon against pyerfa and astropy, the CelestialBody protocol
(properties, pickling, reconstructor), failure paths and import-time bindings."""

import copy
import gc
import pickle
import sys
import tracemalloc
import warnings
import weakref

import erfa
import numpy as np
import pytest

from kelvara.bodies import bodies
from kelvara.bodies.bodies import CelestialBody, Moon, Sun
from kelvara.time.time import Time

import bodies_client
from conftest import interrupt, run_python
from timefakes import fake_time_program

AU = 149597870700.0
C_AU_PER_DAY = 173.14463267424034
AU_PER_DAY = 1731456.8368055555
UNPICKLE = bodies.__pyx_unpickle_CelestialBody
CHECKSUM = 0x428424D


class Epochs(Time):
    """A Time whose tt.jd12 and size are set directly, to reach every input the bodies accept."""

    tt = property(lambda self: self)
    jd12 = property(lambda self: self._jd12)
    size = property(lambda self: self._size)


def epochs(jd12, size=None):
    t = Epochs(2451545.0, format="jd")
    t._jd12 = jd12
    t._size = len(jd12) if size is None else size
    return t


def random_dates(n, seed=1):
    """Two-part TT dates over 1850-2150, split in varied ways."""
    rng = np.random.default_rng(seed)
    jd = rng.uniform(2396758.5, 2506331.5, n)
    whole = np.floor(jd) + rng.choice([0.0, 0.5], n)
    return np.column_stack([whole, jd - whole])


def sun_reference(jd12):
    """The Sun's aberrated geocentric position composed from pyerfa ufuncs, step by step."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", erfa.ErfaWarning)  # dates beyond 1900-2100
        pvh, pvb = erfa.epv00(jd12[:, 0], jd12[:, 1])
    h = pvh["p"]
    d = np.sqrt((h[:, 0] * h[:, 0] + h[:, 1] * h[:, 1]) + h[:, 2] * h[:, 2])
    u = -h / d[:, None]
    beta = pvb["v"] / C_AU_PER_DAY
    bm1 = np.sqrt(((1.0 - beta[:, 0] * beta[:, 0]) - beta[:, 1] * beta[:, 1]) - beta[:, 2] * beta[:, 2])
    p = erfa.ab(u, beta, d, bm1)
    return p * d[:, None] * AU, h, beta


def angle(a, b):
    cross = np.linalg.norm(np.cross(a, b), axis=-1)
    return np.arctan2(cross, np.einsum("ij,ij->i", a, b))


def state(r, v=None, time=None):
    r = np.asarray(r, dtype=float)
    return (r, np.zeros_like(r) if v is None else v, time)


# ---------------------------------------------------------------------------------------------
class TestAgainstERFA:
    jd12 = random_dates(3000)

    def test_sun_bit_for_bit(self):
        expected, _, _ = sun_reference(self.jd12)
        sun = Sun(epochs(self.jd12))
        np.testing.assert_array_equal(sun.r_GCRF, expected)
        np.testing.assert_array_equal(sun.v_GCRF, np.zeros((3000, 3)))

    def test_moon_bit_for_bit(self):
        pv = erfa.moon98(self.jd12[:, 0], self.jd12[:, 1])
        moon = Moon(epochs(self.jd12))
        np.testing.assert_array_equal(moon.r_GCRF, pv["p"] * AU)
        np.testing.assert_array_equal(moon.v_GCRF, pv["v"] * AU_PER_DAY)

    @pytest.mark.parametrize(
        "layout",
        [lambda a: np.asfortranarray(a), lambda a: np.repeat(a, 2, axis=0)[::2], lambda a: np.ascontiguousarray(a.T).T],
        ids=["fortran", "every-second-row", "transposed"],
    )
    def test_any_strides(self, layout):
        jd = self.jd12[:50]
        strided = layout(jd.copy())
        np.testing.assert_array_equal(Sun(epochs(strided)).r_GCRF, Sun(epochs(jd)).r_GCRF)
        np.testing.assert_array_equal(Moon(epochs(strided)).v_GCRF, Moon(epochs(jd)).v_GCRF)

    def test_aberration_turns_direction_only(self):
        expected, h, beta = sun_reference(self.jd12)
        r = Sun(epochs(self.jd12)).r_GCRF
        np.testing.assert_allclose(np.linalg.norm(r, axis=1), np.linalg.norm(h, axis=1) * AU, rtol=1e-15)
        # annual aberration: about |beta| radians, the Sun being ~90 degrees from the apex
        tilt = angle(r, -h) / np.linalg.norm(beta, axis=1)
        assert tilt.min() > 0.99 and tilt.max() < 1.0 + 1e-6

    @pytest.mark.filterwarnings("ignore:UTC date .* is outside the leap-second table")
    def test_real_time_values(self):
        t = Time(np.array(["1900-01-01T00:00:00", "2024-03-20T03:06:00", "2150-12-31T23:59:59"], dtype="datetime64[s]"))
        jd = np.array(t.tt.jd12)
        expected, _, _ = sun_reference(jd)
        np.testing.assert_array_equal(Sun(t).r_GCRF, expected)
        np.testing.assert_array_equal(Moon(t).r_GCRF, erfa.moon98(jd[:, 0], jd[:, 1])["p"] * AU)
        scalar = Time("2024-06-21T12:00:00")
        assert Sun(scalar).r_GCRF.shape == (1, 3) and Moon(scalar).v_GCRF.shape == (1, 3)

    def test_far_epochs_without_warning(self):
        jd = np.array([[2451545.0 + 150 * 365.25, 0.0], [2451545.0 - 150 * 365.25, 0.25]])
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            sun, moon = Sun(epochs(jd)), Moon(epochs(jd))
        assert np.isfinite(sun.r_GCRF).all() and np.isfinite(moon.r_GCRF).all()


@pytest.mark.filterwarnings("ignore::erfa.ErfaWarning")
def test_sun_against_astropy_get_sun():
    """Same Julian dates read as TDB by astropy: the aberrated directions agree to ~1e-15 rad."""
    from astropy.coordinates import get_sun
    from astropy.time import Time as ATime

    jd = random_dates(500, seed=7)
    sc = get_sun(ATime(jd[:, 0], jd[:, 1], format="jd", scale="tdb"))
    ref = np.asarray(sc.cartesian.xyz.to_value("m")).T
    ours = Sun(epochs(jd)).r_GCRF
    assert angle(ours, ref).max() < 1e-14
    np.testing.assert_allclose(np.linalg.norm(ours, axis=1), np.linalg.norm(ref, axis=1), rtol=1e-14)


# ---------------------------------------------------------------------------------------------
class TestConstruction:
    @pytest.mark.parametrize("cls", [Sun, Moon])
    @pytest.mark.parametrize("n", [0, 1, 7])
    def test_shapes(self, cls, n):
        body = cls(epochs(random_dates(n)))
        for arr in (body.r_GCRF, body.v_GCRF, body.ur_GCRF):
            assert arr.shape == (n, 3) and arr.dtype == np.float64

    def test_class_constants(self):
        assert Sun.GM is Sun.GM_IAU2015 and Sun.Re is Sun.Re_IAU2015
        assert Moon.GM is Moon.GM_JPL2021 and Moon.Re is Moon.Re_SEI1992
        with pytest.raises(AttributeError):
            Moon.GM_IAU2015
        assert Sun(epochs(random_dates(1))).Re == 6.957e8

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: CelestialBody(5), "Argument 'time' has incorrect type (expected kelvara.time.time.Time, got int)"),
            (lambda: Sun("2000"), "Argument 'time' has incorrect type (expected kelvara.time.time.Time, got str)"),
            (lambda: CelestialBody(), "__init__() takes exactly 1 positional argument (0 given)"),
            (lambda: CelestialBody(None, None), "__init__() takes exactly 1 positional argument (2 given)"),
            (lambda: Sun(), "__cinit__() takes exactly 1 positional argument (0 given)"),
            (lambda: Moon(None, None), "__cinit__() takes exactly 1 positional argument (2 given)"),
            (lambda: Moon(tim=None), "__cinit__() takes exactly 1 positional argument (0 given)"),
            (lambda: Sun(None, time=None), "__cinit__() got multiple values for keyword argument 'time'"),
            (lambda: CelestialBody(None, when=None), "__init__() got an unexpected keyword argument 'when'"),
        ],
    )
    def test_argument_errors(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    def test_bare_body(self):
        t = epochs(random_dates(2))
        for body in (CelestialBody(t), CelestialBody(time=None)):
            assert body.time is None
            for name in ("r_GCRF", "v_GCRF", "ur_GCRF"):
                with pytest.raises(AttributeError, match="^Memoryview is not initialized$"):
                    getattr(body, name)

    @pytest.mark.parametrize("cls", [Sun, Moon])
    def test_none_time_fails(self, cls):
        with pytest.raises(AttributeError):
            cls(None)

    @pytest.mark.parametrize("cls", [Sun, Moon])
    @pytest.mark.parametrize(
        "jd12, exc, message",
        [
            (np.zeros(4), ValueError, "Buffer has wrong number of dimensions (expected 2, got 1)"),
            (np.zeros((2, 2), dtype=np.int64), ValueError, "Buffer dtype mismatch, expected 'double' but got 'long'"),
            (np.zeros((2, 1)), IndexError, "index 1 is out of bounds for axis 1 with size 1"),
        ],
    )
    def test_bad_jd12(self, cls, jd12, exc, message):
        with pytest.raises(exc) as info:
            cls(epochs(jd12, size=2))
        assert str(info.value) == message

    @pytest.mark.parametrize("cls", [Sun, Moon])
    def test_more_dates_than_size_never_writes_past(self, cls):
        with pytest.raises(IndexError, match="^index 2 is out of bounds for axis 0 with size 2$"):
            cls(epochs(random_dates(3), size=2))

    @pytest.mark.parametrize("cls", [Sun, Moon])
    def test_fewer_dates_than_size_leave_zeros(self, cls):
        jd = random_dates(2)
        body = cls(epochs(jd, size=4))
        np.testing.assert_array_equal(body.r_GCRF[:2], cls(epochs(jd)).r_GCRF)
        assert not body.r_GCRF[2:].any()

    def test_size_not_an_integer(self):
        with pytest.raises(TypeError):
            Sun(epochs(random_dates(2), size=2.5))


class TestProperties:
    def test_arrays_share_stored_memory(self):
        sun = Sun(epochs(random_dates(4)))
        a, b = sun.r_GCRF, sun.r_GCRF
        assert a is not b and np.shares_memory(a, b)
        a[0, 0] = 1.0
        assert sun.r_GCRF[0, 0] == 1.0
        sun.v_GCRF[1, 2] = 5.0
        assert sun.v_GCRF[1, 2] == 5.0

    def test_arrays_outlive_the_body(self):
        moon = Moon(epochs(random_dates(3)))
        r, expected = moon.r_GCRF, moon.r_GCRF.copy()
        del moon
        gc.collect()
        np.testing.assert_array_equal(r, expected)

    def test_ur_GCRF(self):
        body = UNPICKLE(CelestialBody, CHECKSUM, state([[3.0, 0.0, 4.0], [0.0, 0.0, 0.0], [0.0, -2.0, 0.0]]))
        u = body.ur_GCRF
        np.testing.assert_array_equal(u[0], [3.0 * (1.0 / 5.0), 0.0, 4.0 * (1.0 / 5.0)])  # times the reciprocal
        assert np.isnan(u[1]).all()
        np.testing.assert_array_equal(u[2], [0.0, -1.0, 0.0])
        np.testing.assert_array_equal(body.r_GCRF[0], [3.0, 0.0, 4.0])
        assert not np.shares_memory(u, body.r_GCRF)

    def test_ur_GCRF_refuses_two_columns(self):
        body = UNPICKLE(CelestialBody, CHECKSUM, state(np.ones((2, 2))))
        with pytest.raises(ValueError, match="at least 3 columns"):  # raised by normalize_array
            body.ur_GCRF


# ---------------------------------------------------------------------------------------------
class TestPickling:
    @pytest.mark.parametrize("cls", [Sun, Moon])
    def test_concrete_bodies_refuse(self, cls):
        body = cls(epochs(random_dates(1)))
        for call in (lambda: pickle.dumps(body), lambda: body.__setstate__(())):
            with pytest.raises(TypeError, match="^no default __reduce__ due to non-trivial __cinit__$"):
                call()

    def test_bare_body_fails_on_unset_view(self):
        with pytest.raises(AttributeError, match="^Memoryview is not initialized$"):
            pickle.dumps(CelestialBody(None))

    def test_filled_body_fails_on_memory_views(self):
        body = UNPICKLE(CelestialBody, CHECKSUM, state(np.ones((2, 3))))
        with pytest.raises(TypeError, match="^no default __reduce__ due to non-trivial __cinit__$"):
            pickle.dumps(body)

    def test_reduce_forms(self):
        t = epochs(random_dates(1))
        plain = UNPICKLE(CelestialBody, CHECKSUM, state(np.ones((1, 3))))
        fn, (tp, checksum, st) = plain.__reduce__()
        assert (fn, tp, checksum, len(st), st[2]) == (UNPICKLE, CelestialBody, CHECKSUM, 3, None)
        np.testing.assert_array_equal(np.asarray(st[0]), np.ones((1, 3)))
        timed = UNPICKLE(CelestialBody, CHECKSUM, state(np.ones((1, 3)), time=t))
        fn, args, st = timed.__reduce__()
        assert args == (CelestialBody, CHECKSUM, None) and st[2] is t

        class Sub(CelestialBody):
            pass

        sub = UNPICKLE(Sub, CHECKSUM, state(np.ones((1, 3))) + ({"tag": 1},))
        assert sub.tag == 1
        fn, args, st = sub.__reduce__()
        assert args == (Sub, CHECKSUM, None) and st[3] == {"tag": 1}

    def test_none_views_round_trip(self):
        body = UNPICKLE(CelestialBody, CHECKSUM, (None, None, None))
        assert body.__reduce__()[1][2] == (None, None, None)
        with pytest.raises(AttributeError, match="^Memoryview is not initialized$"):
            body.r_GCRF

    def test_copy_shares_memory(self):
        t = epochs(random_dates(2))
        body = UNPICKLE(CelestialBody, CHECKSUM, state(np.arange(6.0).reshape(2, 3), time=t))
        twin = copy.copy(body)
        assert type(twin) is CelestialBody and twin.time is t
        assert np.shares_memory(twin.r_GCRF, body.r_GCRF)

    @pytest.mark.parametrize("checksum", [0x428424D, 0x9F174BA, 0xB4612C8])
    def test_reconstructor_checksums(self, checksum):
        r = np.arange(6.0).reshape(2, 3)
        body = UNPICKLE(CelestialBody, checksum, (r, r * 2, None))
        np.testing.assert_array_equal(body.r_GCRF, r)
        np.testing.assert_array_equal(body.v_GCRF, r * 2)
        assert np.shares_memory(body.r_GCRF, r)
        assert UNPICKLE(CelestialBody, checksum, None).time is None

    @pytest.mark.parametrize(
        "args, exc, message",
        [
            ((CelestialBody, 1, None), pickle.PickleError,
             "Incompatible checksums (0x1 vs (0x428424d, 0x9f174ba, 0xb4612c8) = (_r_GCRF, _v_GCRF, time))"),
            ((CelestialBody, CHECKSUM, [None, None, None]), TypeError, "Expected tuple, got list"),
            ((CelestialBody, CHECKSUM, (None, None, 5)), TypeError, "Cannot convert int to kelvara.time.time.Time"),
            ((CelestialBody, CHECKSUM, (None, None)), IndexError, "tuple index out of range"),
            ((CelestialBody, CHECKSUM, (np.ones(3), None, None)), ValueError,
             "Buffer has wrong number of dimensions (expected 2, got 1)"),
            ((CelestialBody, CHECKSUM, {}), TypeError, "Expected tuple, got dict"),
            ((CelestialBody, CHECKSUM), TypeError,
             "__pyx_unpickle_CelestialBody() takes exactly 3 positional arguments (2 given)"),
        ],
    )
    def test_reconstructor_errors(self, args, exc, message):
        with pytest.raises(exc) as info:
            UNPICKLE(*args)
        assert str(info.value) == message

    @pytest.mark.parametrize("cls", [Sun, Moon, int])
    def test_reconstructor_cannot_make_other_types(self, cls):
        with pytest.raises(TypeError):
            UNPICKLE(cls, CHECKSUM, None)


# ---------------------------------------------------------------------------------------------
class TestResources:
    def test_cycle_through_time_is_collected(self):
        class Holder(Epochs):
            pass

        t = Holder(2451545.0, format="jd")
        t._jd12, t._size = random_dates(2), 2
        t.body = Sun(t)
        ref = weakref.ref(t)
        del t
        gc.collect()
        assert ref() is None

    def test_references_and_memory_stable(self):
        jd = random_dates(3)
        t = epochs(jd)
        refs = lambda: (sys.getrefcount(t), sys.getrefcount(jd), sys.getrefcount(Sun), sys.getrefcount(Moon))

        def churn():
            for _ in range(10_000):
                Sun(t).ur_GCRF
                Moon(t).r_GCRF
                with pytest.raises(TypeError):
                    Sun(5)
                with pytest.raises(IndexError):
                    Moon(epochs(jd, size=1))

        churn()
        before = refs()
        tracemalloc.start()
        gc.collect()
        start = tracemalloc.get_traced_memory()[0]
        churn()
        gc.collect()
        grown = tracemalloc.get_traced_memory()[0] - start
        tracemalloc.stop()
        assert refs() == before
        assert grown < 64 * 1024


class TestCClient:
    def test_record_and_method_tables(self):
        jd = random_dates(4)
        t = epochs(jd)
        sun, moon = Sun(t), Moon(t)
        assert bodies_client.record(sun) == (t, (4, 3), (4, 3))
        assert bodies_client.record(CelestialBody(None)) == (None, None, None)
        np.testing.assert_array_equal(bodies_client.sun_position(sun, t), sun.r_GCRF)
        r, v = np.zeros((4, 3)), np.zeros((4, 3))
        bodies_client.moon_state(moon, t, r, v)
        np.testing.assert_array_equal(r, moon.r_GCRF)
        np.testing.assert_array_equal(v, moon.v_GCRF)

    def test_moon_method_checks_its_outputs(self):
        t = epochs(random_dates(4))
        moon = Moon(t)
        for r, v in [(np.zeros((3, 3)), np.zeros((4, 3))), (np.zeros((4, 2)), np.zeros((4, 3)))]:
            with pytest.raises(IndexError):
                bodies_client.moon_state(moon, t, r, v)

    def test_bare_loops_match(self):
        jd = random_dates(100)
        t = epochs(jd)
        np.testing.assert_array_equal(bodies_client.sun_loop(jd), Sun(t).r_GCRF)
        np.testing.assert_array_equal(bodies_client.moon_loop(jd)[1], Moon(t).v_GCRF)


def test_profiler_sees_construction():
    t = epochs(random_dates(1))
    seen = []
    sys.setprofile(lambda frame, event, arg: seen.append((event, frame.f_code.co_name)))
    try:
        Sun(t).ur_GCRF
    finally:
        sys.setprofile(None)
    for name in ("__cinit__", "calculate_position", "__init__", "__get__"):
        assert ("call", name) in seen and ("return", name) in seen


# ---------------------------------------------------------------------------------------------
class TestImport:
    def test_missing_normalize_array(self):
        proc = run_python(
            """
            import sys, types
            linear = types.ModuleType("kelvara.mathtools.linear.linear")
            linear.__pyx_capi__ = {}
            sys.modules["kelvara.mathtools.linear.linear"] = linear
            try:
                import kelvara.bodies.bodies
            except ImportError as e:
                print(e)
            del sys.modules["kelvara.mathtools.linear.linear"]
            import kelvara.bodies.bodies as b   # a failed import can be retried
            print(b.Sun.__name__)
            """
        )
        assert proc.stdout.splitlines() == [
            "kelvara.mathtools.linear.linear does not export expected C function normalize_array",
            "Sun",
        ], proc.stderr

    @pytest.mark.parametrize(
        "slots, expected",
        [
            (32, "ValueError: kelvara.time.time.Time size changed, may indicate binary incompatibility. "
                 "Expected 280 from C header, got 272 from PyObject"),
            (34, "RuntimeWarning: kelvara.time.time.Time size changed, may indicate binary incompatibility. "
                 "Expected 280 from C header, got 288 from PyObject"),
            (33, "imported"),
        ],
    )
    def test_time_size_check(self, slots, expected):
        proc = run_python(
            fake_time_program(
                f"""
                import warnings
                Time, _ = install(slots={slots})
                Time.__module__ = "kelvara.time.time"
                Time.__qualname__ = Time.__name__ = "kelvara.time.time.Time"
                with warnings.catch_warnings(record=True) as caught:
                    warnings.simplefilter("always")
                    try:
                        import kelvara.bodies.bodies
                        print("imported")
                    except Exception as e:
                        print(f"{{type(e).__name__}}: {{e}}")
                for w in caught:
                    print(f"{{w.category.__name__}}: {{w.message}}")
                """
            )
        )
        assert expected in proc.stdout.splitlines(), proc.stdout + proc.stderr


@pytest.mark.parametrize("body", ["Sun", "Moon"])
def test_ctrl_c_stops_a_long_call(body):
    # 2e5 (Sun) or 2e6 (Moon) epochs are seconds of ERFA work; SIGINT ends the construction soon
    # after, and no body is bound.
    n = 200_000 if body == "Sun" else 2_000_000
    latency, unset = interrupt(f"""
        import numpy as np
        from kelvara.bodies.bodies import {body}
        from kelvara.time.time import Time
        t = Time(np.full({n}, 2451545.0), format="jd", scale="tt")
    """, f"{body}(t)")
    assert unset and latency < 0.5
