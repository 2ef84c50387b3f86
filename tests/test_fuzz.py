"""Property-based fuzzing of every public operation: arbitrary shapes, dtypes, layouts, NaN and
infinities, wrong types, wrong argument counts and keywords, hostile objects, arbitrary text for
the ISO and TLE parsers, with and without assertions (as under `python -O`). A call may only return or raise one of the exceptions its module
documents; a crash, a hang, a SystemError (a result with an exception set, or a failure without
one) fails the run. `make fuzz` runs the same tests with many more examples."""

import sys
import warnings

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import operations as ops
from operations import ELLIPSOID_METHODS, OPS, PROFILE, WGS84, touch, watchdog


@pytest.mark.parametrize("op", OPS, ids=repr)
@PROFILE
@given(data=st.data())
def test_only_documented_errors(op, data):
    args, kwargs = data.draw(op.strategy, label="call")
    strict = data.draw(st.booleans(), label="warnings as errors")
    optimized = data.draw(st.booleans(), label="assertions disabled")
    allowed = op.raises + ((Warning,) if strict else ())
    with watchdog(), warnings.catch_warnings(), ops.assertions_disabled(optimized):
        warnings.simplefilter("error" if strict else "ignore")
        try:
            result = op.fn(*args, **kwargs)
        except allowed:
            return
        touch(result)
    if op.check is not None and not optimized:
        op.check(result, *args, **kwargs)


# Layouts that keep native float64 (the buffer fast path must handle their strides), and layouts
# that change the element type (the generic per-element path).
NATIVE = ["fortran", "strided", "strided2", "transposed", "readonly", "subclass", "unaligned"]
CONVERTED = ["object", "byteswapped"]
# These two take their result buffer from zeros_like(input), so only native float64 input works.
LIKE_INPUT = {"reduced_lat_from_geodetic_lat", "geodetic_lat_from_reduced_lat"}


def same_shape_values(data, template):
    """Random values in the shape of a good argument (floats for numbers, records for records)."""
    if isinstance(template, float):
        return data.draw(ops.floaty)
    a = np.asarray(template)
    if a.dtype.names:
        flat = data.draw(st.lists(ops.floaty, min_size=a.size * len(a.dtype.names), max_size=a.size * len(a.dtype.names)))
        return np.array(flat, float).view(a.dtype).reshape(a.shape) if a.size else a.copy()
    return np.array(data.draw(st.lists(ops.floaty, min_size=a.size, max_size=a.size)), float).reshape(a.shape)


@pytest.mark.parametrize("name", ELLIPSOID_METHODS)
@PROFILE
@given(data=st.data())
def test_every_layout_gives_the_same_bits(name, data):
    """The strided buffer path and the per-element path agree bit for bit with C-contiguous input."""
    method = getattr(WGS84, name)
    for template in ELLIPSOID_METHODS[name][1]:
        args = [same_shape_values(data, t) for t in template]
        with watchdog(), np.errstate(all="ignore"):
            expected = touch(method(*args))
            layouts = NATIVE + ([] if name in LIKE_INPUT else CONVERTED)
            for how in layouts:
                if how in CONVERTED and any(isinstance(a, np.ndarray) and a.dtype.names for a in args):
                    continue  # records have no per-element path
                moved = [ops.relayout(a, how) if isinstance(a, np.ndarray) else a for a in args]
                assert touch(method(*moved)) == expected, how


@PROFILE
@given(line1=ops.tle_lines(), line2=st.text(alphabet=st.characters(max_codepoint=127), max_size=80))
def test_tle_text_is_stored_as_given(line1, line2):
    """Any ASCII text is stored stripped, upper-cased, cut at 69 characters or a NUL, and the
    satellite number is the int of columns 3-7 when it is one."""
    with watchdog(), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            result = ops.make_tle(line1, line2)
        except (ValueError, OverflowError, UnicodeEncodeError) as e:
            # only the epoch (Time) and non-ASCII input may refuse a line
            assert isinstance(e, (ValueError, OverflowError))
            return
    ops.check_tle(result, line1, line2)


def unaligned(shape, value=1.0):
    raw = np.zeros(int(np.prod(shape)) * 8 + 1, np.uint8)[1:]
    a = raw.view(np.float64).reshape(shape)
    a[...] = value
    return a


@pytest.mark.parametrize(
    "call",
    [
        lambda a: ops.frametest.view2d_rows(a),
        lambda a: ops.linear_client.normalize_array(a),
        lambda a: ops.setstate_body((a, a, None)),
        lambda a: ops.unpickle_body(ops.bodies.CelestialBody, 0x428424D, (a, a, None)),
        lambda a: ops.make_body(ops.bodies.Sun, ops.rigged(unaligned((2, 2), 2451545.0) if a.ctypes.data % 8 else np.full((2, 2), 2451545.0), 2)),
    ],
    ids=["view", "normalize_array", "setstate", "unpickle", "jd12"],
)
def test_misaligned_double_buffers_are_refused(call):
    """Doubles are accessed in place, so a buffer whose elements straddle 8-byte boundaries is
    refused by the buffer layer instead of being read through misaligned pointers."""
    a = unaligned((2, 3))
    assert a.ctypes.data % 8 and not a.flags.aligned
    with pytest.raises(ValueError, match="not aligned"):
        call(a)
    # the same values in aligned memory are fine
    call(np.array(a))


@pytest.mark.filterwarnings("ignore")
@pytest.mark.parametrize("profiler_fails", [False, True], ids=["recording", "raising"])
def test_profiled_calls_behave_the_same(profiler_fails):
    """Under a profiler every fixed call gives what it gives without one, and the events of the
    compiled entry points nest (each call event has its return event, failures included); a
    profiler that raises changes nothing."""
    plan = [(op, args, kwargs) for op in OPS for args, kwargs in ops.cases(op)]
    ops.warm_up(plan)
    expected = [ops.run_case(*p) for p in plan]
    stack, unbalanced = [], []

    def profiler(frame, event, arg):
        if not frame.f_code.co_filename.endswith(".cpp"):
            return
        if event == "call":
            stack.append(frame.f_code.co_name)
        elif event == "return":
            if not stack or stack.pop() != frame.f_code.co_name:
                unbalanced.append(frame.f_code.co_name)
        if profiler_fails:
            raise RuntimeError("profiler")

    got = []
    sys.setprofile(profiler)
    try:
        for p in plan:
            got.append(ops.run_case(*p))
    finally:
        sys.setprofile(None)
    assert got == expected
    if not profiler_fails:
        assert stack == [] and unbalanced == []
