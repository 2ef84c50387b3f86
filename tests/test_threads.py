"""Thread stress: several threads call every operation at once, with the interpreter switching
threads as often as it can. Each call must give exactly what it gives on one thread (results bit
for bit, failures with the same exception and message), and shared objects must stay whole."""

import random
import sys
import threading
import time

import pytest

from operations import OPS, T1, T2, Time, cases, run_case, warm_up
from kelvara.bodies import bodies
from kelvara.satellite import satellite

THREADS = 4
SECONDS = 1.0


@pytest.fixture
def busy_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def hammer(work, seconds=SECONDS, threads=THREADS):
    """Run work(rng) in `threads` threads until the time is up; return the failures they saw."""
    failures = []
    stop = time.monotonic() + seconds
    start = threading.Barrier(threads)

    def worker(seed):
        rng = random.Random(seed)
        start.wait()
        try:
            while time.monotonic() < stop and not failures:
                work(rng)
        except BaseException as e:  # noqa: BLE001 - reported to the main thread
            failures.append(repr(e))

    pool = [threading.Thread(target=worker, args=(i,)) for i in range(threads)]
    for t in pool:
        t.start()
    for t in pool:
        t.join(seconds + 60)
        assert not t.is_alive(), "a thread hung"
    return failures


@pytest.mark.filterwarnings("ignore")
def test_concurrent_calls_match_one_thread(busy_switching):
    # loading an IERS file changes what every other thread computes while it is in force
    plan = [(op, args, kwargs) for op in OPS if not op.name.startswith("iers.load")
            for args, kwargs in cases(op)]
    warm_up(plan)
    expected = [run_case(*p) for p in plan]

    def work(rng):
        for i in rng.sample(range(len(plan)), len(plan)):
            got = run_case(*plan[i])
            assert got == expected[i], (plan[i][0].name, plan[i][1], got, expected[i])

    assert hammer(work) == []


def test_shared_satellite_always_holds_one_assigned_time(busy_switching):
    sat = satellite.Satellite()
    values = [T1, Time("1999-12-31T23:59:59"), Time(2460000.5, format="jd"), "2024-06-01T00:00:00"]
    allowed = {Time(v).jd for v in values}

    def work(rng):
        sat.time = rng.choice(values)
        now = sat.time
        assert isinstance(now, Time) and now.jd in allowed and sat._time.jd in allowed

    assert hammer(work) == []


def test_shared_body_arrays_stay_consistent(busy_switching):
    """Threads write through r_GCRF of one body while others read it and its unit vectors."""
    sun = bodies.Sun(T2)
    rows = sun.r_GCRF.copy()

    def work(rng):
        r = sun.r_GCRF
        if rng.random() < 0.5:
            r[:] = rows * rng.choice([1.0, 2.0])
        else:
            u = sun.ur_GCRF
            assert r.shape == u.shape == (2, 3)
            assert abs((u * u).sum(axis=1) - 1.0).max() < 1e-12

    assert hammer(work) == []
    assert sun.time is T2 and (sun.v_GCRF == 0).all()
