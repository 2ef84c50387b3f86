"""Satellite: the time it carries, its failure modes and the module's load-time bindings."""

import copy
import datetime
import gc
import pickle
import sys
import weakref

import numpy as np
import pytest

import kelvara.typing
from kelvara.satellite import satellite as satellite_module
from kelvara.satellite.satellite import Satellite
from kelvara.time.time import Time

from conftest import run_python

J2000_UTC = 2451545.0  # 2000-01-01 12:00 UTC as a UTC Julian date


class TestTime:
    def test_new_satellite_has_no_time(self):
        s = Satellite()
        assert s.time is None and s._time is None

    @pytest.mark.parametrize("value", [
        "2000-01-01T12:00:00",
        datetime.datetime(2000, 1, 1, 12),
        np.datetime64("2000-01-01T12:00:00"),
    ])
    def test_assignment_goes_through_time(self, value):
        s = Satellite()
        s.time = value
        assert isinstance(s.time, Time)
        assert s.time is s.time is s._time
        assert s.time.jd == pytest.approx(J2000_UTC, abs=1e-9)

    def test_a_time_is_copied_through_time(self):
        t = Time("2000-01-01T12:00:00")
        s = Satellite()
        s.time = t
        assert s.time is not t and s.time.jd == t.jd

    def test_assignment_replaces_and_releases(self):
        s = Satellite()
        s.time = "2000-01-01T12:00:00"
        first = weakref.ref(s.time) if type(s.time).__weakrefoffset__ else None
        s.time = "2001-01-01T00:00:00"
        assert s.time.jd == pytest.approx(2451910.5, abs=1e-9)
        if first is not None:
            gc.collect()
            assert first() is None

    @pytest.mark.parametrize("bad", [object(), "not a date", 1j])
    def test_failed_assignment_keeps_the_previous_time(self, bad):
        s = Satellite()
        s.time = "2000-01-01T12:00:00"
        before = s.time
        with pytest.raises(Exception) as info:
            s.time = bad
        assert not isinstance(info.value, SystemError)
        assert s.time is before

    def test_delete_is_refused(self):
        s = Satellite()
        s.time = "2000-01-01T12:00:00"
        before = s.time
        with pytest.raises(NotImplementedError) as info:
            del s.time
        assert info.value.args == ("__del__",)
        assert s._time is before

    def test_underscore_time_is_read_only(self):
        s = Satellite()
        with pytest.raises(AttributeError):
            s._time = Time("2000-01-01T12:00:00")
        with pytest.raises(AttributeError):
            del s._time
        assert s._time is None


class TestObject:
    @pytest.mark.parametrize("args, kwargs, message", [
        ((1,), {}, "__init__() takes exactly 0 positional arguments (1 given)"),
        ((1, 2), {}, "__init__() takes exactly 0 positional arguments (2 given)"),
        ((), {"x": 1}, "__init__() got an unexpected keyword argument 'x'"),
    ])
    def test_arguments_refused(self, args, kwargs, message):
        with pytest.raises(TypeError) as info:
            Satellite(*args, **kwargs)
        assert str(info.value) == message

    def test_subclass_with_its_own_arguments_and_cycles(self):
        class Named(Satellite):
            def __init__(self, name):
                self.name = name

        s = Named("ISS")
        s.time = "2000-01-01T12:00:00"
        assert s.name == "ISS" and s.time.jd == pytest.approx(J2000_UTC, abs=1e-9)
        s.me = s
        ref = weakref.ref(s)
        del s
        gc.collect()
        assert ref() is None

    def test_pickling_is_refused(self):
        s = Satellite()
        for attempt in (lambda: pickle.dumps(s), lambda: copy.deepcopy(s), lambda: s.__setstate__({})):
            with pytest.raises(TypeError, match=r"^no default __reduce__ due to non-trivial __cinit__$"):
                attempt()

    def test_documentation(self):
        assert Satellite.__doc__ == "Satellite() -> None"
        assert Satellite.time.__doc__ == "Satellite.time: Time"

    def test_module_attributes(self):
        assert satellite_module.numpy is np
        assert satellite_module.DatetimeLike is kelvara.typing.DatetimeLike

    def test_no_reference_leaks(self):
        value = "2000-01-01T12:00:00"
        t = Time(value)
        bad = object()

        def churn():
            for _ in range(300):
                s = Satellite()
                s.time = value
                s.time = t
                try:
                    s.time = bad
                except Exception:
                    pass
                try:
                    del s.time
                except NotImplementedError:
                    pass
                try:
                    Satellite(1)
                except TypeError:
                    pass

        churn()
        gc.collect()
        before = [sys.getrefcount(o) for o in (value, t, bad, Satellite, Time)] + [sys.getallocatedblocks()]
        churn()
        gc.collect()
        after = [sys.getrefcount(o) for o in (value, t, bad, Satellite, Time)] + [sys.getallocatedblocks()]
        assert after[:-1] == before[:-1]
        assert after[-1] - before[-1] < 100


class TestBinding:
    """Load-time bindings, in a fresh interpreter with prepared modules."""

    def test_missing_datetime_like(self):
        proc = run_python("""
            import sys, types
            sys.modules["kelvara.typing"] = types.ModuleType("kelvara.typing")
            try:
                import kelvara.satellite.satellite
            except ImportError as e:
                print(e)
        """)
        assert proc.returncode == 0, proc.stderr
        assert proc.stdout.strip() == "cannot import name DatetimeLike", proc.stdout + proc.stderr

    def test_datetime_like_found_as_submodule_entry(self):
        proc = run_python("""
            import sys, types
            sys.modules["kelvara.typing"] = types.ModuleType("kelvara.typing")
            sys.modules["kelvara.typing.DatetimeLike"] = marker = types.ModuleType("marker")
            import kelvara.satellite.satellite as m
            print(m.DatetimeLike is marker)
        """)
        assert proc.returncode == 0, proc.stderr
        assert proc.stdout.strip() == "True"
