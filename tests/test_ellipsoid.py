"""kelvara.mathtools.ellipsoid.ellipsoid: the Ellipsoid object, create, the C-level
publications, and the array methods against formula transcriptions and independent references."""

import copy
import math
import pickle

import numpy as np
import pytest

import ellipsoid_client
from kelvara.datamodel import AER_dtype, ENU_dtype, GeodeticState_dtype, LLA_dtype, SurfCoord_dtype
from kelvara.mathtools.ellipsoid import ellipsoid as mod
from kelvara.mathtools.ellipsoid.ellipsoid import Ellipsoid, create

from conftest import interrupt
from geodesy_reference import Ref

PARAMS = {"wgs84": (6378137.0, 0.0033528106647474805), "grs80": (6378137.0, 0.003352810681182319),
          "wgs72": (6378135.0, 0.003352779454167505)}
WGS84 = create("wgs84")
REF = Ref(*PARAMS["wgs84"])
rng = np.random.default_rng(84)


def same(x, y):
    x, y = np.asarray(x, dtype=float), np.asarray(y, dtype=float)
    return x.shape == y.shape and bool(np.all((x == y) | (np.isnan(x) & np.isnan(y))))


def random_lla(n, lo=-1e6, hi=4e7):
    return np.arcsin(rng.uniform(-1, 1, n)), rng.uniform(-math.pi, math.pi, n), rng.uniform(lo, hi, n)


def random_positions(n):
    return WGS84.pos_from_lla(*random_lla(n))


class TestObject:
    def test_fields(self):
        e = Ellipsoid(6378135.0, 0.003352779454167505)
        assert (e.Re, e.f) == (6378135.0, 0.003352779454167505)
        assert e.Rp == (1 - 0.003352779454167505) * 6378135.0
        assert create("WGS72").Rp == e.Rp
        assert type(e.Re) is float

    @pytest.mark.parametrize("attr", ["Re", "f", "Rp"])
    def test_read_only(self, attr):
        with pytest.raises(AttributeError):
            setattr(WGS84, attr, 1.0)

    def test_sphere_and_keywords(self):
        s = Ellipsoid(6378137.0, 0.0)
        assert s.Rp == s.Re
        assert Ellipsoid(Re=6378137.0, f=0.0033528106647474805).f == 0.0033528106647474805
        assert Ellipsoid(1.0, 0.999).Rp == (1 - 0.999) * 1.0

    @pytest.mark.parametrize("args", [(1.0, 1.0), (0.0, 0.1), (-1.0, 0.1), (1.0, -0.1), (math.nan, 0.1), (1.0, math.nan)])
    def test_rejected_values(self, args):
        with pytest.raises(AssertionError) as info:
            Ellipsoid(*args)
        assert info.value.args == ()

    @pytest.mark.parametrize("args,kwargs,message", [
        ((1.0,), {}, "__cinit__() takes exactly 2 positional arguments (1 given)"),
        ((1.0, 0.1, 2), {}, "__cinit__() takes exactly 2 positional arguments (3 given)"),
        ((1.0,), {"g": 0.1}, "__cinit__() takes exactly 2 positional arguments (1 given)"),
        ((1.0, 0.1), {"g": 0.1}, "__cinit__() got an unexpected keyword argument 'g'"),
        (("1", 0.1), {}, "must be real number, not str"),
    ])
    def test_bad_arguments(self, args, kwargs, message):
        with pytest.raises(TypeError) as info:
            Ellipsoid(*args, **kwargs)
        assert str(info.value) == message

    def test_subclassable(self):
        class Mine(Ellipsoid):
            pass

        m = Mine(7.0, 0.5)
        assert m.Rp == 3.5 and m.lla_from_pos(np.array([0.0, 0.0, 10.0]))["alt"][0] == 6.5

    def test_pickling_refused(self):
        message = "no default __reduce__ due to non-trivial __cinit__"
        for action in (lambda: pickle.dumps(WGS84), lambda: copy.copy(WGS84), WGS84.__reduce_cython__,
                       lambda: WGS84.__setstate_cython__(None)):
            with pytest.raises(TypeError, match=message):
                action()


class TestCreate:
    @pytest.mark.parametrize("name", ["wgs84", "WGS84", "Wgs84", "grs80", "GRS80", "wgs72", "wGs72"])
    def test_names(self, name):
        e1, e2 = create(name), create(name=name)
        assert e1 is not e2
        assert (e1.Re, e1.f) == (e2.Re, e2.f) == PARAMS[name.lower()]

    def test_unknown_name(self):
        with pytest.raises(KeyError) as info:
            create("WGS-84")
        assert info.value.args == ("wgs-84",)

    @pytest.mark.parametrize("name,message", [
        (b"wgs84", "Argument 'name' has incorrect type (expected str, got bytes)"),
        (type("S", (str,), {})("wgs84"), "Argument 'name' has incorrect type (expected str, got S)"),
        (None, "descriptor 'lower' for 'str' objects doesn't apply to a 'NoneType' object"),
    ])
    def test_wrong_types(self, name, message):
        with pytest.raises(TypeError) as info:
            create(name)
        assert str(info.value) == message

    def test_arity(self):
        with pytest.raises(TypeError, match=r"create\(\) takes exactly 1 positional argument \(0 given\)"):
            create()


class TestModule:
    def test_attributes(self):
        assert mod.np is np
        from numbers import Real
        assert mod.Real is Real
        for name, dt in [("ENU_dtype", ENU_dtype), ("SurfCoord_dtype", SurfCoord_dtype), ("LLA_dtype", LLA_dtype),
                         ("GeodeticState_dtype", GeodeticState_dtype), ("AER_dtype", AER_dtype)]:
            assert getattr(mod, name) is dt
        assert not hasattr(mod, "WGS84")

    def test_c_level_publications(self):
        capi = mod.__pyx_capi__
        assert list(capi) == ["WGS84", "WGS72", "GRS80", "create"]
        for name in ("WGS84", "WGS72", "GRS80"):
            e = ellipsoid_client.predefined(name)
            assert type(e) is Ellipsoid and (e.Re, e.f) == PARAMS[name.lower()]
        made = ellipsoid_client.c_create("GrS80")
        assert (made.Re, made.f) == PARAMS["grs80"]
        with pytest.raises(KeyError):
            ellipsoid_client.c_create("nope")

    def test_vtable_capsule(self):
        assert type(Ellipsoid.__dict__["__pyx_vtable__"]).__name__ == "PyCapsule"

    def test_kernels_reach_each_other_through_the_table(self):
        # A derived type replacing the reduced-latitude solver changes lla_from_pos and
        # geodetic_state_from_state_vector, which reach it through the table.
        Fixed = ellipsoid_client.derived_type()
        e = Fixed(*PARAMS["wgs84"])
        r = np.array([4e6, 3e6, 3e6])
        expected_lat = WGS84.geodetic_lat_from_reduced_lat(0.25)
        assert e.lla_from_pos(r)["lat"][0] == expected_lat
        assert e.geodetic_state_from_state_vector(r, np.ones(3))["lat"][0] == expected_lat
        assert WGS84.lla_from_pos(r)["lat"][0] != expected_lat

    def test_linear_bindings_checked(self, python):
        out = python("""
            import sys, kelvara.mathtools.linear.linear as L
            del L.__pyx_capi__['dot']
            try:
                import kelvara.mathtools.ellipsoid.ellipsoid
            except ImportError as e:
                print(e)
            L.__pyx_capi__['dot'] = L.__pyx_capi__['norm']
            try:
                import kelvara.mathtools.ellipsoid.ellipsoid
            except TypeError as e:
                print(e)
        """)
        assert out.splitlines() == [
            "kelvara.mathtools.linear.linear does not export expected C function dot",
            "C function kelvara.mathtools.linear.linear.dot has wrong signature "
            "(expected double (double *, double *), got double (double *))",
        ]


class TestKernelsBitExact:
    """Each method against the transcription of its kernel, over random and edge inputs."""

    positions = np.vstack([random_positions(300), [[0, 0, 7e6], [0, 0, -6356752.0], [1e-3, 0, 6e6], [0, 0, 0],
                                                   [6378137.0, 0, 0], [1e12, -3e11, 2e11], [5e-324, 0, 1.0],
                                                   [np.nan, 0, 1], [41421.5, -4386.38, 163.919]]])
    coords = np.column_stack(random_lla(300))

    def test_lla_from_pos(self):
        out = WGS84.lla_from_pos(self.positions)
        for r, rec in zip(self.positions, out):
            assert same(tuple(rec), REF.lla(r.tolist())), r

    def test_solve_reduced_lat_equation(self):
        out = WGS84.solve_reduced_lat_equation(self.positions)
        assert same(out, [REF.solve(r.tolist()) for r in self.positions])

    def test_pos_from_lla(self):
        lat, lon, alt = self.coords.T
        out = WGS84.pos_from_lla(lat, lon, alt)
        assert same(out, [REF.pos(*c) for c in self.coords.tolist()])

    def test_latitude_maps(self):
        lat = self.coords[:, 0]
        assert same(WGS84.reduced_lat_from_geodetic_lat(lat), [REF.reduced(x) for x in lat.tolist()])
        assert same(WGS84.geodetic_lat_from_reduced_lat(lat), [REF.geodetic(x) for x in lat.tolist()])
        assert WGS84.reduced_lat_from_geodetic_lat(0.5) == REF.reduced(0.5)

    def test_enu_and_surface(self):
        lat, lon = self.coords[:, 0].copy(), self.coords[:, 1].copy()
        enu = WGS84.enu(lat, lon)
        surf = WGS84.surf_pos_from_surf_coord(lat, lon)
        for i, (la, lo) in enumerate(zip(lat.tolist(), lon.tolist())):
            east, north, up = REF.enu(la, lo)
            assert same(enu[i]["u_east"], east) and same(enu[i]["u_north"], north) and same(enu[i]["u_up"], up)
            assert same(surf[i], REF.surf_pos(la, lo))
        back = WGS84.surf_coord_from_surf_pos(surf)
        assert same(back["lat"], [REF.surf_coord(r)[0] for r in surf.tolist()])
        assert same(back["lon"], [REF.surf_coord(r)[1] for r in surf.tolist()])

    def test_geodetic_state_round_trip(self):
        v = rng.normal(size=(len(self.positions), 3)) * 7e3
        gs = WGS84.geodetic_state_from_state_vector(self.positions, v)
        with np.errstate(all="ignore"):
            for r, vv, rec in zip(self.positions.tolist(), v.tolist(), gs):
                assert same(tuple(rec), REF.geodetic_state(r, vv)), r
        finite = np.isfinite(gs["lat_dot"]) & np.isfinite(gs["alt"])
        r2, v2 = WGS84.state_vector_from_geodetic_state(gs[finite])
        for rec, rr, vv in zip(gs[finite], r2, v2):
            exp_r, exp_v = REF.state_vector(*[float(x) for x in rec])
            assert same(rr, exp_r) and same(vv, exp_v)

    def test_ray(self):
        origins = random_positions(100)
        dirs = rng.normal(size=(100, 3))
        for r0, u in zip(origins, dirs):
            assert same(WGS84.surf_pos_of_ray_first_intersection(r0, u), REF.ray(r0.tolist(), u.tolist()))

    def test_aer(self):
        obs = (0.7, -2.1, 312.0)
        out = WGS84.aer_coords(self.positions, *obs)
        for r, rec in zip(self.positions.tolist(), out):
            assert same(tuple(rec), REF.aer(r, *obs))


class TestSinglePointAndShapes:
    r = np.array([4e6, 3e6, 3e6])

    def test_single_point_results(self):
        lla = WGS84.lla_from_pos(self.r)
        assert lla.dtype == LLA_dtype and lla.shape == (1,)
        assert type(WGS84.solve_reduced_lat_equation(self.r)) is float
        assert WGS84.pos_from_lla(0.1, 0.2, 3.0).shape == (3,)
        assert WGS84.enu(0.1, 0.2).dtype == ENU_dtype
        assert WGS84.surf_coord_from_surf_pos(self.r).dtype == SurfCoord_dtype
        assert WGS84.geodetic_state_from_state_vector(self.r, [1.0, 2.0, 3.0]).dtype == GeodeticState_dtype
        assert WGS84.aer_coords(self.r, 0.1, 0.2, 3).dtype == AER_dtype
        assert WGS84.surf_pos_of_ray_first_intersection(self.r, -self.r).shape == (3,)

    def test_one_row_is_a_batch(self):
        assert WGS84.solve_reduced_lat_equation(self.r[None]).shape == (1,)
        assert WGS84.lla_from_pos(self.r[None]).shape == (1,)

    def test_empty_batches(self):
        empty = np.zeros((0, 3))
        assert WGS84.lla_from_pos(empty).shape == (0,)
        assert WGS84.pos_from_lla(np.zeros(0), np.zeros(0), np.zeros(0)).shape == (0, 3)
        r, v = WGS84.state_vector_from_geodetic_state(np.zeros(0, GeodeticState_dtype))
        assert r.shape == v.shape == (0, 3)

    def test_enu_at_origin(self):
        e = WGS84.enu(0.0, 0.0)[0]
        assert e["u_east"].tolist() == [0, 1, 0] and e["u_north"].tolist() == [0, 0, 1]
        assert e["u_up"].tolist() == [1, 0, 0]

    @pytest.mark.parametrize("z", [7e6, -7e6])
    def test_polar_axis(self, z):
        rec = WGS84.lla_from_pos(np.array([0.0, 0.0, z]))[0]
        assert rec["lon"] == 0.0 and rec["alt"] == abs(z) - (1 - WGS84.f) * WGS84.Re
        assert rec["lat"] == math.copysign(math.pi / 2, z)

    def test_origin_gives_nan_latitude(self):
        assert math.isnan(WGS84.lla_from_pos(np.zeros(3))["lat"][0])

    def test_rays(self):
        r0 = np.array([1e7, 0.0, 0.0])
        behind = WGS84.surf_pos_of_ray_first_intersection(r0, np.array([1.0, 0, 0]))
        assert behind.tolist() == [WGS84.Re, 0.0, 0.0]  # both roots negative: the nearer one
        assert np.isnan(WGS84.surf_pos_of_ray_first_intersection(r0, np.array([0, 1.0, 0]))).all()

    def test_azimuth_due_west(self):
        obs = (0.3, 0.2, 0.0)
        west = WGS84.pos_from_lla(*obs) - 1000 * WGS84.enu(0.3, 0.2)[0]["u_east"]
        assert WGS84.aer_coords(west, *obs)["azimuth"][0] == pytest.approx(-math.pi / 2, abs=1e-12)
        assert math.isnan(WGS84.aer_coords(WGS84.pos_from_lla(*obs), *obs)["elevation"][0])

    def test_geostate_layout_checked(self):
        with pytest.raises(ValueError, match=r"Item size of buffer \(40 bytes\) does not match size of 'GeodeticState'"):
            WGS84.state_vector_from_geodetic_state(np.zeros(2, GeodeticState_dtype.descr[:5]))
        bad = np.zeros(2, [("lon", float), ("lat", float), ("alt", float), ("lat_dot", float), ("lon_dot", float),
                           ("alt_dot", float)])
        with pytest.raises(ValueError, match="Buffer dtype mismatch"):
            WGS84.state_vector_from_geodetic_state(bad)
        with pytest.raises(ValueError, match="Buffer has wrong number of dimensions"):
            WGS84.state_vector_from_geodetic_state(np.zeros((2, 2), GeodeticState_dtype))

    @pytest.mark.parametrize("call", [
        lambda: WGS84.lla_from_pos(np.zeros((4, 2))),
        lambda: WGS84.lla_from_pos(np.zeros((2, 3, 1))),
        lambda: WGS84.pos_from_lla(np.zeros(3), np.zeros(2), np.zeros(3)),
        lambda: WGS84.enu(np.zeros((2, 2)), np.zeros((2, 2))),
        lambda: WGS84.geodetic_state_from_state_vector(np.zeros((3, 3)), np.zeros((2, 3))),
        lambda: WGS84.surf_pos_of_ray_first_intersection(np.zeros(2), np.zeros(3)),
        lambda: WGS84.aer_coords(np.zeros(4), 0.0, 0.0, 0.0),
        lambda: WGS84.surf_coord_from_surf_pos(np.zeros(4)),
    ])
    def test_shape_preconditions(self, call):
        with pytest.raises(AssertionError) as info:
            call()
        assert info.value.args == ()

    @pytest.mark.parametrize("call,exc", [
        (lambda: WGS84.lla_from_pos([[1.0, 2.0, 3.0]]), AttributeError),
        (lambda: WGS84.pos_from_lla(np.zeros(2), 0.0, 0.0), AttributeError),
        (lambda: WGS84.lla_from_pos(np.array([[1.0, "x", 3.0]], dtype=object)), TypeError),
        (lambda: WGS84.aer_coords(np.zeros(3), "a", 0.0, 0.0), TypeError),
        (lambda: WGS84.reduced_lat_from_geodetic_lat(np.zeros(3, np.float32)), ValueError),
        (lambda: WGS84.reduced_lat_from_geodetic_lat(np.zeros((3, 1))), ValueError),
        (lambda: WGS84.lla_from_pos(), TypeError),
        (lambda: WGS84.aer_coords(np.zeros(3), 0.0, 0.0), TypeError),
    ])
    def test_natural_exceptions(self, call, exc):
        with pytest.raises(exc):
            call()

    def test_keywords(self):
        a = WGS84.aer_coords(r_target=self.r, lat_obs=0.1, lon_obs=0.2, alt_obs=3.0)
        assert same(tuple(a[0]), tuple(WGS84.aer_coords(self.r, 0.1, 0.2, 3.0)[0]))
        with pytest.raises(TypeError, match="got an unexpected keyword argument 'x'"):
            WGS84.lla_from_pos(self.r, x=1)


LAYOUTS = {
    "float64": lambda a: a,
    "object": lambda a: a.astype(object),
    "float32": lambda a: a.astype(np.float32),
    "int64": lambda a: np.round(a).astype(np.int64),
    "strided": lambda a: np.repeat(a, 2, axis=0)[::2] if a.ndim == 2 else np.repeat(a, 2)[::2],
    "fortran": lambda a: np.asfortranarray(a),
    "subclass": lambda a: a.view(type("Sub", (np.ndarray,), {})),
}


class TestFastAndGenericPathsAgree:
    r = np.vstack([random_positions(40), [[0, 0, 6.4e6], [0, 0, 0]]])
    lat, lon, alt = random_lla(40)

    @staticmethod
    def as_float64(x):
        return np.asarray(x).astype(np.float64)

    @pytest.mark.parametrize("layout", LAYOUTS)
    def test_position_methods(self, layout):
        r = LAYOUTS[layout](self.r)
        plain = self.as_float64(r)
        for name in ("lla_from_pos", "solve_reduced_lat_equation", "surf_coord_from_surf_pos"):
            assert same_records(getattr(WGS84, name)(r), getattr(WGS84, name)(np.ascontiguousarray(plain))), name
        assert same_records(WGS84.aer_coords(r, 0.1, 0.2, 0.3), WGS84.aer_coords(plain.copy(), 0.1, 0.2, 0.3))
        assert same_records(WGS84.geodetic_state_from_state_vector(r, r), WGS84.geodetic_state_from_state_vector(plain, plain))
        assert same(WGS84.surf_pos_of_ray_first_intersection(plain[0], r), WGS84.surf_pos_of_ray_first_intersection(plain[0], plain))
        assert same_records(WGS84.lla_from_pos(r[0]), WGS84.lla_from_pos(plain[0].copy()))

    @pytest.mark.parametrize("layout", LAYOUTS)
    def test_coordinate_methods(self, layout):
        lat, lon, alt = (LAYOUTS[layout](x * 1.0) for x in (self.lat, self.lon, self.alt))
        flat, flon, falt = (self.as_float64(x) for x in (lat, lon, alt))
        assert same(WGS84.pos_from_lla(lat, lon, alt), WGS84.pos_from_lla(flat, flon, falt))
        assert same(WGS84.surf_pos_from_surf_coord(lat, lon), WGS84.surf_pos_from_surf_coord(flat, flon))
        assert same_records(WGS84.enu(lat, lon), WGS84.enu(flat, flon))


def same_records(a, b):
    a, b = np.asarray(a), np.asarray(b)
    if a.dtype.names is None:
        return same(a, b)
    return a.dtype == b.dtype and all(same(a[n], b[n]) for n in a.dtype.names)


class TestAssertionsDisabled:
    """Under -O nothing is asserted, and mismatched shapes never make the fast path read
    outside a buffer: it raises what the per-element path raises."""

    def test_under_O(self, python):
        out = python("""
            import numpy as np
            from kelvara.mathtools.ellipsoid.ellipsoid import Ellipsoid, create
            e = Ellipsoid(0.0, 1.0); print(e.Re, e.f, e.Rp)
            print(Ellipsoid(-1.0, 2.0).Rp)
            w = create("wgs84")
            def outcome(fn):
                try:
                    r = fn()
                    return "ok " + str(np.asarray(r).shape)
                except Exception as x:
                    return f"{type(x).__name__}: {x}"
            cases = [
                lambda a: w.lla_from_pos(a(np.ones((3, 2)))),
                lambda a: w.lla_from_pos(a(np.ones((3, 4)))),
                lambda a: w.pos_from_lla(a(np.ones(3)), a(np.ones(2)), a(np.ones(3))),
                lambda a: w.pos_from_lla(a(np.ones(2)), a(np.ones(3)), a(np.ones(3))),
                lambda a: w.geodetic_state_from_state_vector(a(np.ones((3, 3))), a(np.ones((2, 3)))),
                lambda a: w.surf_coord_from_surf_pos(a(np.ones(2))),
                lambda a: w.aer_coords(a(np.ones(2)), 0.0, 0.0, 0.0),
                lambda a: w.surf_pos_of_ray_first_intersection(a(np.ones(2)), a(np.ones(3))),
                lambda a: w.enu(a(np.ones(3)), a(np.ones(1))),
            ]
            for case in cases:
                fast = outcome(lambda: case(lambda x: x))
                generic = outcome(lambda: case(lambda x: x.astype(object)))
                print(fast == generic, fast)
        """, "-O")
        lines = out.splitlines()
        assert lines[0] == "0.0 1.0 0.0" and lines[1] == "1.0"
        for line in lines[2:]:
            assert line.startswith("True "), line
        assert "IndexError" in lines[2] and lines[3] == "True ok (3,)"


class TestProfilerEvents:
    def test_methods_report_call_and_return(self):
        import sys

        events = []

        def profiler(frame, event, arg):
            if event in ("call", "return") and frame.f_code.co_filename.endswith("ellipsoid.cpp"):
                events.append((event, frame.f_code.co_name))

        sys.setprofile(profiler)
        try:
            WGS84.lla_from_pos(np.zeros((2, 3)))
            create("grs80")
        finally:
            sys.setprofile(None)
        assert ("call", "lla_from_pos") in events and ("return", "lla_from_pos") in events
        assert events.count(("call", "create")) == 1 and ("call", "__cinit__") in events


class TestSphere:
    """f = 0: the Newton step would divide by B = f a (2 - f) = 0; the latitude is atan2(z, p)."""

    sphere = Ellipsoid(6371000.0, 0.0)
    lla = np.array([[0.5, 0.0, 0.0], [-1.2, 2.0, 3.5e5], [1.5707, -3.0, -2e3], [0.0, 1.0, 4.2e7], [-0.9, 0.4, 10.0]])

    def test_round_trip_with_pos_from_lla(self):
        lat, lon, alt = self.lla.T
        r = self.sphere.pos_from_lla(lat, lon, alt)
        out = self.sphere.lla_from_pos(r)
        np.testing.assert_allclose(out["lat"], lat, rtol=0, atol=1e-15)
        np.testing.assert_allclose(out["lon"], lon, rtol=0, atol=1e-15)
        np.testing.assert_allclose(out["alt"], alt, rtol=0, atol=1e-8)
        assert out["lat"][0] == math.atan2(r[0, 2], math.hypot(r[0, 0], r[0, 1]))
        assert out["alt"][1] == math.sqrt((r[1] ** 2).sum()) - 6371000.0
        one = self.sphere.lla_from_pos(np.array([6371000 * math.cos(0.5), 0, 6371000 * math.sin(0.5)]))[0]
        assert abs(one["lat"] - 0.5) < 1e-15 and abs(one["alt"]) < 1e-8

    def test_solver_and_state(self):
        r = self.sphere.pos_from_lla(self.lla[:, 0], self.lla[:, 1], self.lla[:, 2])
        np.testing.assert_allclose(self.sphere.solve_reduced_lat_equation(r), self.lla[:, 0], rtol=0, atol=1e-15)
        state = self.sphere.geodetic_state_from_state_vector(r, np.tile([10.0, -20.0, 30.0], (len(r), 1)))
        assert np.isfinite(state.view((float, 6))).all()
        back_r, back_v = self.sphere.state_vector_from_geodetic_state(state)
        np.testing.assert_allclose(back_r, r, rtol=1e-14, atol=1e-6)
        np.testing.assert_allclose(back_v, np.tile([10.0, -20.0, 30.0], (len(r), 1)), rtol=0, atol=1e-6)


def test_ctrl_c_stops_a_long_call():
    # SIGINT during a 3e7-point lla_from_pos (several seconds of work): the call ends with
    # KeyboardInterrupt soon after the signal, and no result is bound.
    latency, unset = interrupt("""
        import numpy as np
        from kelvara.mathtools.ellipsoid.ellipsoid import create
        w = create("wgs84")
        r = np.broadcast_to(np.array([4e6, 3e6, 3e6]), (30_000_000, 3))
        w.lla_from_pos(r[:10])
    """, "w.lla_from_pos(r)")
    assert unset and latency < 0.5
