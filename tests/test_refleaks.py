"""Reference and memory leaks: every operation's fixed calls, successes and failures alike, run
many times; after a warm-up nothing may keep growing. The interpreter is a release build (no
sys.gettotalrefcount), so growth is watched through traced memory (tracemalloc), the number of
objects the collector tracks, the reference counts of the arguments, of the package's types and
of the shared singletons, and, on failure, a per-type object count for the report.

Operations are measured a module at a time; when a module grows, each of its operations is
measured alone to name the one that leaks."""

import ctypes
import gc
import sys
import tracemalloc
import warnings
from collections import Counter

import numpy as np
import pytest

from operations import OPS, Op, Time, cases, run_case
from kelvara.bodies import bodies
from kelvara.mathtools.ellipsoid import ellipsoid
from kelvara.propagators.analytical.sgp4 import sgp4, tle
from kelvara.satellite import satellite

ROUNDS = 20          # calls of every fixed case per measurement
WARMUP = 3 * ROUNDS  # fills free lists and caches before anything is measured
REPEATS = 4          # a leak shows in every measurement; cache fills and allocator noise do not
BYTES_PER_ROUND = 16 # below the smallest object a leaked reference could keep alive

WATCHED = [None, True, False, (), "", Time, ellipsoid.Ellipsoid, tle.TLE, satellite.Satellite,
           bodies.CelestialBody, bodies.Sun, bodies.Moon, sgp4.Elements, sgp4.EarthSatellite, np.ndarray, np.dtype, float, int, str]
MODULES = sorted({op.module for op in OPS})


def referents(calls):
    """The argument objects and the objects directly inside containers among them."""
    out = []
    for args, kwargs in calls:
        for a in list(args) + list(kwargs.values()):
            out.append(a)
            if isinstance(a, (tuple, list, dict)):
                out.extend(a.values() if isinstance(a, dict) else a)
    return out


def snapshot(watched):
    # The interpreter's attribute-lookup cache keeps the last name string seen in each slot alive;
    # names built afresh per call (PyObject_GetAttrString) would otherwise look like a leak.
    sys._clear_type_cache()
    gc.collect()
    return tracemalloc.get_traced_memory()[0], len(gc.get_objects()), [sys.getrefcount(o) for o in watched]


def type_counts():
    gc.collect()
    return Counter(type(o).__qualname__ for o in gc.get_objects())


def runner(ops: list[Op]):
    plan = [(op, args, kwargs) for op in ops for args, kwargs in cases(op)]

    def run(n):
        for _ in range(n):
            for op, args, kwargs in plan:
                run_case(op, args, kwargs)

    return run


def growth(ops: list[Op]):
    """Smallest growth over the repeats: (bytes, tracked objects, [(watched object, references)])."""
    # Immortal objects (3.12 and later: None, small ints, static types such as str) keep no count
    # of their references: an extension built for an older ABI may lower theirs once, after which
    # every new reference raises it and none lowers it. Only counted references are watched.
    watched = [o for o in WATCHED + referents([c for op in ops for c in cases(op)]) if sys.getrefcount(o) < 2**31]
    run = runner(ops)
    run(WARMUP)
    seen = []
    tracemalloc.start()
    try:
        for _ in range(REPEATS):
            mem0, objs0, refs0 = snapshot(watched)
            run(ROUNDS)
            mem1, objs1, refs1 = snapshot(watched)
            seen.append((mem1 - mem0, objs1 - objs0, [b - a for a, b in zip(refs0, refs1)]))
    finally:
        tracemalloc.stop()
    refs = [(repr(watched[i])[:60], min(s[2][i] for s in seen)) for i in range(len(watched))]
    return min(s[0] for s in seen), min(s[1] for s in seen), [(w, r) for w, r in refs if r >= ROUNDS]


def leaks(memory, objects, refs):
    return memory > BYTES_PER_ROUND * ROUNDS or objects >= ROUNDS or refs


@pytest.mark.filterwarnings("ignore")
@pytest.mark.parametrize("module", MODULES)
def test_no_growth(module):
    ops = [op for op in OPS if op.module == module]
    assert all(op.cases for op in ops), "every operation needs fixed calls"
    together = growth(ops)
    if not leaks(*together):
        return
    report = []
    for op in ops:
        memory, objects, refs = growth([op])
        if leaks(memory, objects, refs):
            before = type_counts()
            runner([op])(ROUNDS)
            grown = {k: v for k, v in (type_counts() - before).items() if v >= ROUNDS}
            report.append(f"{op.name}: +{memory} bytes, +{objects} tracked objects, references {refs}, types {grown}")
    pytest.fail(f"per {ROUNDS} rounds: " + "; ".join(report or [f"only together: {together}"]))


KEPT = []


@pytest.mark.parametrize(
    "fn, args",
    [
        (lambda x: KEPT.append(x * 1.5), (2.0,)),                  # one float kept per call
        (lambda x: ctypes.pythonapi.Py_IncRef(ctypes.py_object(x)), (object(),)),  # a reference leaked
    ],
    ids=["object", "reference"],
)
def test_detector_sees_a_leak(fn, args):
    """The measurement must catch the smallest leaks it claims to."""
    assert leaks(*growth([Op("leaky", fn, None, cases=[(args, {})])]))
