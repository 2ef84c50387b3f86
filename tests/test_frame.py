"""The module frame, through the test-only extension `frametest` and the record-types module."""

import gc
import glob
import os
import pickle
import shutil
import subprocess
import sys
import types
import warnings

import numpy as np
import pytest

import frametest as ft
from kelvara.datamodel import LLA_dtype, SurfCoord_dtype
from kelvara.frames import frames
from kelvara.propagators.analytical.sgp4 import sgp4

from conftest import ROOT, run_python


class TestArguments:
    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: ft.three(), "three() takes at least 2 positional arguments (0 given)"),
            (lambda: ft.three(1, 2, 3, 4), "three() takes at most 3 positional arguments (4 given)"),
            (lambda: ft.one(), "one() takes exactly 1 positional argument (0 given)"),
            (lambda: ft.one(1, 2), "one() takes exactly 1 positional argument (2 given)"),
            (lambda: ft.three(1, c=3), "three() takes at least 2 positional arguments (1 given)"),
            (lambda: ft.three(1, 2, d=3), "three() got an unexpected keyword argument 'd'"),
            (lambda: ft.three(1, 2, a=3), "three() got multiple values for keyword argument 'a'"),
            (lambda: ft.one(y=1), "one() takes exactly 1 positional argument (0 given)"),
            (lambda: ft.three_dict((1, 2), {1: 2}), "three() keywords must be strings"),
            (lambda: ft.three_dict((1,), {"b": 2, "zz": 0}), "three() got an unexpected keyword argument 'zz'"),
        ],
    )
    def test_messages(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    @pytest.mark.parametrize(
        "call, message",
        [
            # refused before any argument is read, so the bad values here never matter
            (lambda: frames.transform(1, 2, 3, 4, 5), "transform() takes 4 positional arguments but 5 were given"),
            (lambda: frames.rotation(1, 2, 3, 4), "rotation() takes 3 positional arguments but 4 were given"),
            (lambda: frames.sun_aer(1, 2, 3, 4, 5), "sun_aer() takes 4 positional arguments but 5 were given"),
            (lambda: frames.aer(1, 2, 3, 4, 5, 6, 7), "aer() takes 6 positional arguments but 7 were given"),
            (lambda: sgp4.propagate(1, 2, 3), "propagate() takes from 1 to 2 positional arguments but 3 were given"),
            (lambda: sgp4.Elements(1, 2, 3), "Elements() takes 2 positional arguments but 3 were given"),
            (lambda: sgp4.Elements.from_tle(1, 2), "from_tle() takes 1 positional argument but 2 were given"),
            (lambda: sgp4.EarthSatellite(1, 2, 3), "EarthSatellite() takes from 1 to 2 positional arguments but 3 were given"),
        ],
    )
    def test_keyword_only_tails(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    @pytest.mark.parametrize(
        "call, expected",
        [
            (lambda: ft.three(1, 2), (1, 2, None)),
            (lambda: ft.three(1, c=3, b=2), (1, 2, 3)),
            (lambda: ft.three(c=3, b=2, a=1), (1, 2, 3)),
            (lambda: ft.three_dict((1,), {"b": 2}), (1, 2, None)),
            (lambda: ft.one(x="v"), "v"),
        ],
    )
    def test_accepted(self, call, expected):
        assert call() == expected

    def test_typed_argument(self):
        class S(str):
            pass

        assert ft.typed("x", str, True, True)
        assert ft.typed(None, str, True, True)
        assert ft.typed(S("x"), str, True, False)
        for value, none_ok, exact, got in [(5, True, True, "int"), (None, False, False, "NoneType"), (S("x"), True, True, "S")]:
            with pytest.raises(TypeError) as info:
                ft.typed(value, str, none_ok, exact)
            assert str(info.value) == f"Argument 'value' has incorrect type (expected str, got {got})"


class TestMiddleLayer:
    def test_method_template(self):
        assert ft.pair(1) == (1, None) and ft.pair(1, b=2) == (1, 2) and ft.pair(b=2, a=1) == (1, 2)
        for call, message in [(lambda: ft.pair(), "pair() takes at least 1 positional argument (0 given)"),
                              (lambda: ft.pair(1, c=2), "pair() got an unexpected keyword argument 'c'")]:
            with pytest.raises(TypeError) as info:
                call()
            assert str(info.value) == message
        seen = []
        sys.setprofile(lambda frame, event, arg: seen.append((event, frame.f_code.co_name)))
        try:
            ft.pair(1)
        finally:
            sys.setprofile(None)
        assert ("call", "pair") in seen and ("return", "pair") in seen

    def test_interning_is_all_or_nothing(self):
        assert ft.interned() == ("alpha", 7, ("x", "y"))
        try:
            with pytest.raises(ValueError, match="flaky constant"):
                ft.reintern(True)
            assert ft.interned() == (None, None, None)  # nothing half-made is left behind
        finally:
            ft.reintern(False)
        assert ft.interned() == ("alpha", 7, ("x", "y"))

    def test_optional_attribute(self):
        class Odd:
            @property
            def boom(self):
                raise KeyError("boom")
        assert ft.optional_attr(Odd(), "nope") == "missing"
        assert ft.optional_attr(Odd(), "__class__") is Odd
        with pytest.raises(KeyError):
            ft.optional_attr(Odd(), "boom")


class TestFunctionTables:
    @pytest.fixture
    def target(self):
        mod = types.ModuleType("capi_target")
        sys.modules["capi_target"] = mod
        yield mod
        del sys.modules["capi_target"]

    def test_export_creates_table_and_binds(self, target):
        assert not hasattr(target, "__pyx_capi__")
        ft.export_twice(target, "twice", "double (double)")
        capsule = target.__pyx_capi__["twice"]
        assert "double (double)" in repr(capsule)
        assert ft.call_imported("capi_target", "twice", "double (double)", 21.0) == 42.0
        ft.export_twice(target, "again", "double (double)")
        assert set(target.__pyx_capi__) == {"twice", "again"}

    def test_import_errors(self, target):
        with pytest.raises(AttributeError):
            ft.call_imported("capi_target", "twice", "double (double)", 1.0)
        ft.export_twice(target, "twice", "double (double)")
        with pytest.raises(ImportError) as info:
            ft.call_imported("capi_target", "thrice", "double (double)", 1.0)
        assert str(info.value) == "capi_target does not export expected C function thrice"
        with pytest.raises(TypeError) as info:
            ft.call_imported("capi_target", "twice", "double (int)", 1.0)
        assert str(info.value) == (
            "C function capi_target.twice has wrong signature (expected double (int), got double (double))"
        )
        with pytest.raises(ModuleNotFoundError):
            ft.call_imported("no_such_module_here", "twice", "double (double)", 1.0)

    def test_variables(self):
        assert ft.read_variable("frametest", "the_answer", "double") == 42.0
        assert ft.call_imported("frametest", "twice", "double (double)", 2.5) == 5.0
        with pytest.raises(TypeError, match="C variable frametest.the_answer has wrong signature"):
            ft.read_variable("frametest", "the_answer", "int")


class TestMethodTables:
    def test_tables_are_found_through_the_type(self):
        assert ft.call_kind(ft.VtabA()) == 1
        assert ft.call_kind(ft.VtabB()) == 2
        assert ft.call_kind(ft.VtabC()) == 3

        class Sub(ft.VtabC):
            pass

        assert ft.call_kind(Sub()) == 3
        assert isinstance(ft.VtabC(), ft.VtabA)

    def test_merge(self):
        class Compatible(ft.VtabC, ft.VtabA):
            pass

        ft.merge_vtables(Compatible)

        class Conflict(ft.VtabA, ft.VtabB):
            pass

        with pytest.raises(TypeError) as info:
            ft.merge_vtables(Conflict)
        assert str(info.value) == "multiple bases have vtable conflict: 'frametest.VtabA' and 'frametest.VtabB'"


class TestTypeImport:
    def test_sizes(self):
        size = ft.VtabA.__basicsize__
        assert ft.import_type("frametest", "VtabA", size) is ft.VtabA
        with pytest.raises(ValueError) as info:
            ft.import_type("frametest", "VtabA", size + 8)
        assert str(info.value) == (
            f"frametest.VtabA size changed, may indicate binary incompatibility. "
            f"Expected {size + 8} from C header, got {size} from PyObject"
        )
        with pytest.warns(RuntimeWarning, match=r"frametest.VtabA size changed.*Expected 8 from C header"):
            assert ft.import_type("frametest", "VtabA", 8) is ft.VtabA

    def test_not_a_type(self):
        with pytest.raises(TypeError, match=r"^frametest.three is not a type object$"):
            ft.import_type("frametest", "three", 16)


class TestBufferViews:
    def test_view_shares_memory_and_keeps_exporter(self):
        a = np.arange(6.0).reshape(2, 3)
        mv = ft.view2d(a)
        back = np.asarray(mv)
        assert np.shares_memory(back, a) and back.shape == (2, 3)
        back[1, 2] = -1.0
        assert a[1, 2] == -1.0
        del a, back
        gc.collect()
        assert np.asarray(mv).tolist() == [[0, 1, 2], [3, 4, -1]]
        with pytest.raises(TypeError, match="no default __reduce__ due to non-trivial __cinit__"):
            pickle.dumps(mv)

    @pytest.mark.parametrize(
        "make",
        [
            lambda b: b,
            lambda b: b[::2],
            lambda b: b.T,
            lambda b: b[:, ::-1],
            lambda b: b[:0],
            lambda b: np.asfortranarray(b),
        ],
    )
    def test_any_strides(self, make):
        base = np.arange(24.0).reshape(6, 4) * 1.5
        a = make(base)
        assert ft.view2d_rows(a) == a.tolist()

    @pytest.mark.parametrize(
        "value, message",
        [
            (np.zeros(3), "Buffer has wrong number of dimensions (expected 2, got 1)"),
            (np.zeros((1, 2, 3)), "Buffer has wrong number of dimensions (expected 2, got 3)"),
            (np.zeros((2, 3), np.float32), "Item size of buffer (4 bytes) does not match size of 'double' (8 bytes)"),
            (np.zeros((2, 3), np.int64), "Buffer dtype mismatch, expected 'double' but got 'long'"),
            (np.zeros((2, 3), ">f8"), "Big-endian buffer not supported on little-endian compiler"),
        ],
    )
    def test_refused(self, value, message):
        with pytest.raises(ValueError) as info:
            ft.view2d_rows(value)
        assert str(info.value) == message

    def test_read_only_needs_writable_view(self):
        a = np.zeros((2, 3))
        a.flags.writeable = False
        assert ft.view2d_rows(a) == a.tolist()
        with pytest.raises((ValueError, BufferError)):
            ft.view2d(a)

    def test_record_view_writes_in_place(self):
        recs = np.zeros(5, LLA_dtype)
        recs["alt"] = np.arange(5.0)
        assert ft.scale_lla(recs[::2], 10.0) == 3
        assert recs["alt"].tolist() == [0.0, 1.0, 20.0, 3.0, 40.0]
        assert ft.scale_lla(np.zeros(0, LLA_dtype), 1.0) == 0

    @pytest.mark.parametrize(
        "value, message",
        [
            (np.zeros(2, SurfCoord_dtype), "Item size of buffer (16 bytes) does not match size of 'LLA' (24 bytes)"),
            (np.zeros((2, 2), LLA_dtype), "Buffer has wrong number of dimensions (expected 1, got 2)"),
            (np.zeros(2, [("lon", float), ("lat", float), ("alt", float)]),
             "Buffer dtype mismatch, expected 'LLA' but got 'T{d:lon:d:lat:d:alt:}'"),
            (np.zeros(2, [("lat", float), ("lon", float), ("alt", np.int64)]),
             "Buffer dtype mismatch, expected 'LLA' but got 'T{d:lat:d:lon:q:alt:}'"),
        ],
    )
    def test_record_layout_must_match(self, value, message):
        with pytest.raises(ValueError) as info:
            ft.scale_lla(value, 1.0)
        assert str(info.value).replace("l:alt", "q:alt") == message

    def test_user_built_dtype_is_accepted(self):
        recs = np.ones(3, np.dtype([("lat", np.double), ("lon", np.double), ("alt", np.double)]))
        assert ft.scale_lla(recs, 2.0) == 3 and recs["alt"].tolist() == [2.0] * 3


class TestMappingToRecord:
    def test_fields_in_order(self):
        assert ft.lla_from_mapping({"alt": 3, "lon": 2.0, "lat": 1, "extra": None}) == (1.0, 2.0, 3.0)
        assert ft.enu_from_mapping({"u_east": [1, 2, 3], "u_north": (4, 5, 6), "u_up": iter([7, 8, 9])}) == tuple(
            float(i) for i in range(1, 10)
        )

    @pytest.mark.parametrize(
        "value, exc, message",
        [
            (5, TypeError, "Expected a mapping, got int"),
            ({"lat": 1}, ValueError, "No value specified for struct attribute 'lon'"),
            ({}, ValueError, "No value specified for struct attribute 'lat'"),
            ({"lat": 1, "lon": "x", "alt": 0}, TypeError, "must be real number, not str"),
        ],
    )
    def test_lla_errors(self, value, exc, message):
        with pytest.raises(exc) as info:
            ft.lla_from_mapping(value)
        assert str(info.value) == message

    @pytest.mark.parametrize(
        "east, message",
        [
            ([1, 2], "not enough values found during array assignment, expected 3, got 2"),
            ([1, 2, 3, 4], "too many values found during array assignment, expected 3"),
        ],
    )
    def test_vector_length(self, east, message):
        with pytest.raises(IndexError) as info:
            ft.enu_from_mapping({"u_east": east, "u_north": [0, 0, 0], "u_up": [0, 0, 0]})
        assert str(info.value) == message


class TestProfiling:
    def test_call_and_return_events(self):
        events = []

        def profiler(frame, event, arg):
            if event in ("call", "return") and frame.f_code.co_name == "profiled":
                events.append((event, frame.f_code.co_filename, arg))

        sys.setprofile(profiler)
        try:
            ft.profiled(7)
            with pytest.raises(ValueError):
                ft.profiled(None)
        finally:
            sys.setprofile(None)
        src = "tests/ext/frametest.cpp"
        assert events == [("call", src, None), ("return", src, 7), ("call", src, None), ("return", src, None)]

    @staticmethod
    def _two_calls():
        ft.profiled(7)
        with pytest.raises(ValueError):
            ft.profiled(None)

    def test_event_sequence(self):
        """Every event sys.setprofile hears around a C function, the same on every version: the
        interpreter's c_call, the call and return of the function's own frame, then c_return (or
        c_exception when it failed)."""
        seen = []

        def profiler(frame, event, arg):
            name = arg.__name__ if event.startswith("c_") else frame.f_code.co_name
            seen.append((event, name, os.path.basename(frame.f_code.co_filename)))

        sys.setprofile(profiler)
        try:
            self._two_calls()
        finally:
            sys.setprofile(None)
        here = os.path.basename(__file__)
        ours = [e for e in seen if e[1] == "profiled"]
        assert ours == [
            ("c_call", "profiled", here), ("call", "profiled", "frametest.cpp"), ("return", "profiled", "frametest.cpp"),
            ("c_return", "profiled", here),
            ("c_call", "profiled", here), ("call", "profiled", "frametest.cpp"), ("return", "profiled", "frametest.cpp"),
            ("c_exception", "profiled", here),
        ]

    def _cprofile(self):
        import cProfile
        import pstats
        profile = cProfile.Profile()
        profile.runcall(self._two_calls)
        return {key: value[:2] for key, value in pstats.Stats(profile).stats.items()}

    def test_cprofile_sees_the_builtin(self):
        assert self._cprofile()[("~", 0, "<built-in method frametest.profiled>")] == (2, 2)

    @pytest.mark.skipif(sys.version_info[:2] == (3, 12),
                        reason="3.12's cProfile is a sys.monitoring tool, and 3.12 has no C API to hand it a C function's frame")
    def test_cprofile_sees_the_frame(self):
        assert self._cprofile()[("tests/ext/frametest.cpp", 1, "profiled")] == (2, 2)

    def test_module_initialisation_is_reported(self, python):
        out = python(
            """
            import sys
            seen = []
            sys.setprofile(lambda f, e, a: seen.append((e, f.f_code.co_name, f.f_code.co_filename)))
            import kelvara.datamodel.structured
            sys.setprofile(None)
            print(("call", "PyInit_structured", "kelvara/datamodel/structured.cpp") in seen)
            print(("return", "PyInit_structured", "kelvara/datamodel/structured.cpp") in seen)
            """
        )
        assert out.split() == ["True", "True"]


class TestModuleLifecycle:
    def test_reimport_gives_same_module_without_rerunning(self):
        import kelvara.datamodel.structured as first

        first.marker = object()
        del sys.modules["kelvara.datamodel.structured"]
        import kelvara.datamodel.structured as second

        assert second is first and second.marker is first.marker
        assert second.__test__ == {} and second.__builtins__ is __import__("builtins")
        del first.marker

    def test_attribute_order(self):
        import kelvara.datamodel.structured as s

        names = [n for n in vars(s) if not n.startswith("__")]
        assert names == ["numpy", "dtype", "SurfCoord_dtype", "LLA_dtype", "GeodeticState_dtype", "ENU_dtype",
                         "AER_dtype", "DTF_dtype"]
        assert list(vars(s))[-1] == "__test__"

    def test_second_initialisation_is_refused(self):
        with pytest.raises(RuntimeError) as info:
            ft.exec_again()
        assert str(info.value) == (
            "Module 'frametest' has already been imported. Re-initialisation is not supported."
        )

    def test_version_warning(self):
        major, minor = sys.version_info[:2]  # the module was compiled for the running interpreter
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            ft.check_version(major, minor)
        with pytest.warns(RuntimeWarning) as info:
            ft.check_version(major, minor + 1)
        assert str(info[0].message) == (
            f"compile time Python version {major}.{minor} of module 'frametest' does not match runtime version "
            f"{major}.{minor + 1}"
        )
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(RuntimeWarning):
                ft.check_version(4, 0)

    def test_failed_exec_adds_traceback_and_can_be_retried(self, python):
        out = python(
            """
            import os, traceback
            os.environ["FRAMETEST_FAIL"] = "1"
            try:
                import frametest
            except RuntimeError as e:
                names = [f.name for f in traceback.extract_tb(e.__traceback__)]
                print(str(e), "init frametest" in names)
            del os.environ["FRAMETEST_FAIL"]
            import frametest
            print(frametest.three(1, 2))
            """
        )
        assert out.splitlines() == ["asked to fail True", "(1, 2, None)"]

    def test_one_interpreter_per_process(self, python):
        out = python(
            """
            import sys
            import kelvara.datamodel.structured
            # a subinterpreter sharing the main one's lock, as every subinterpreter did before 3.12
            if sys.version_info >= (3, 13):
                import _interpreters
                sub = _interpreters.create("legacy")
                failure = _interpreters.run_string(sub, "import kelvara.datamodel.structured")
                print(failure.msg if failure else "")
            else:
                import _xxsubinterpreters as interpreters
                sub = interpreters.create(**({"isolated": False} if sys.version_info >= (3, 12) else {}))
                try:
                    interpreters.run_string(sub, "import kelvara.datamodel.structured")
                except interpreters.RunFailedError as e:
                    print(e)
            """
        )
        assert "Interpreter change detected - this module can only be loaded into one interpreter per process." in out


GATE_MESSAGE = (
    "kelvara/frame/cpython.hpp knows CPython 3.11, 3.12 and 3.13 only: check it against the new version's "
    "headers before adding that version to the gate"
)


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs g++")
@pytest.mark.parametrize(
    "version_hex, message",
    [
        (None, None),  # the version in use builds
        ("0x030E00F0", GATE_MESSAGE),  # 3.14.0: not checked against its headers yet
        ("0x040000A1", GATE_MESSAGE),
        ("0x030A0CF0", GATE_MESSAGE),  # 3.10.12: older than we support
        # a version the gate knows, but not the one of the headers in use
        (f"0x03{(sys.version_info.minor % 3) + 11:02X}00F0", "KELVARA_PY_VERSION_HEX names another CPython version"),
    ],
)
def test_version_gate(tmp_path, version_hex, message):
    """A CPython version the gate has not been checked against stops the build with the gate's message."""
    import sysconfig
    if not os.path.exists(os.path.join(ROOT, "kelvara", "frame", "cpython.hpp")):
        pytest.skip("this tree holds the built modules without their sources (the sanitizer run)")
    source = tmp_path / "gate.cpp"
    source.write_text('#include "kelvara/frame/cpython.hpp"\n')
    flags = [] if version_hex is None else [f"-DKELVARA_PY_VERSION_HEX={version_hex}"]
    proc = subprocess.run(
        ["g++", "-std=c++20", "-fsyntax-only", f"-I{ROOT}", f"-I{sysconfig.get_paths()['include']}", *flags, str(source)],
        capture_output=True, text=True,
    )
    if message is None:
        assert proc.returncode == 0, proc.stderr
    else:
        assert proc.returncode != 0 and f"#error \"{message}" in proc.stderr, proc.stderr


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs binutils' nm")
def test_every_module_exports_only_its_init():
    libs = glob.glob(os.path.join(ROOT, "kelvara", "**", "*.so"), recursive=True)
    assert libs
    for lib in libs:
        out = subprocess.run(["nm", "-D", "--defined-only", lib], capture_output=True, text=True, check=True).stdout
        symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
        name = os.path.basename(lib).split(".")[0]
        assert symbols == [f"PyInit_{name}"], (lib, symbols)


class TestThreadPool:
    """The shared pool: every index visited exactly once, whatever the size, grain and thread count."""

    @pytest.mark.parametrize("threads", [1, 2, 3, 7])
    def test_every_index_once(self, threads):
        import kelvara._threads as pool
        before = pool.get_num_threads()
        pool.set_num_threads(threads)
        try:
            for n, grain in [(0, 1), (1, 1), (5, 1), (1000, 7), (100_003, 64), (20, 100)]:
                assert ft.pool_visits(n, grain) == [1] * n
        finally:
            pool.set_num_threads(before)

    def test_concurrent_callers_and_fork(self):
        import os
        import threading
        results = []
        threads = [threading.Thread(target=lambda: results.append(ft.pool_visits(50_000, 16))) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert all(r == [1] * 50_000 for r in results) and len(results) == 4
        pid = os.fork()
        if pid == 0:  # the child gets a pool of its own
            os._exit(0 if ft.pool_visits(10_000, 8) == [1] * 10_000 else 1)
        assert os.waitpid(pid, 0)[1] == 0

    def test_bad_size(self):
        import kelvara._threads as pool
        with pytest.raises(ValueError, match="between 1 and 1024"):
            pool.set_num_threads(0)
