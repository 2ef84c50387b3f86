"""Sun and Moon: kelvara against the same composition in pyerfa ufuncs, astropy's get_sun and the
bare ERFA loop in C++ (the limit), for 1e5 epochs and for one."""

import time
import warnings

import numpy as np

from common import fmt, write_section

import erfa
from astropy.coordinates import get_sun
from astropy.time import Time as ATime

import bodies_client
from kelvara.bodies.bodies import Moon, Sun
from kelvara.time.time import Time

warnings.simplefilter("ignore")  # pyerfa's and astropy's warnings about dates and leap seconds

AU = 149597870700.0
C_AU_PER_DAY = 173.14463267424034
AU_PER_DAY = 1731456.8368055555


def sun_pyerfa(jd):
    pvh, pvb = erfa.epv00(jd[:, 0], jd[:, 1])
    h = pvh["p"]
    d = np.sqrt((h[:, 0] * h[:, 0] + h[:, 1] * h[:, 1]) + h[:, 2] * h[:, 2])
    beta = pvb["v"] / C_AU_PER_DAY
    bm1 = np.sqrt(((1.0 - beta[:, 0] * beta[:, 0]) - beta[:, 1] * beta[:, 1]) - beta[:, 2] * beta[:, 2])
    return erfa.ab(-h / d[:, None], beta, d, bm1) * d[:, None] * AU


def moon_pyerfa(jd):
    pv = erfa.moon98(jd[:, 0], jd[:, 1])
    return pv["p"] * AU, pv["v"] * AU_PER_DAY


def interleaved(contenders, rounds, inner):
    """Best time per call of each contender, measured in alternation so that load from other
    processes falls on all of them alike."""
    best_of = {name: float("inf") for name in contenders}
    for _ in range(rounds):
        for name, fn in contenders.items():
            start = time.perf_counter()
            for _ in range(inner):
                fn()
            best_of[name] = min(best_of[name], (time.perf_counter() - start) / inner)
    return best_of


rows = []
for n in (100_000, 1):
    jd_utc = 2451545.0 + np.linspace(-36500.0, 36500.0, n)
    t = Time(jd_utc, format="jd")
    jd = np.ascontiguousarray(t.tt.jd12)  # the same TT dates for every contender
    at = ATime(jd[:, 0], jd[:, 1], format="jd", scale="tdb")
    rounds, inner = (5, 1) if n > 1 else (30, 200)
    cases = {
        "Sun": {
            "kelvara Sun(t).r_GCRF": lambda: Sun(t).r_GCRF,
            "pyerfa ufuncs": lambda: sun_pyerfa(jd),
            "astropy get_sun": lambda: get_sun(at),
            "C++ ERFA loop": lambda: bodies_client.sun_loop(jd),
        },
        "Moon": {
            "kelvara Moon(t).r_GCRF, v_GCRF": lambda: (lambda m: (m.r_GCRF, m.v_GCRF))(Moon(t)),
            "pyerfa ufuncs": lambda: moon_pyerfa(jd),
            "C++ ERFA loop": lambda: bodies_client.moon_loop(jd),
        },
    }
    for body, contenders in cases.items():
        times = interleaved(contenders, rounds, inner)
        ours = next(iter(times.values()))
        for name, sec in times.items():
            rows.append(f"| {body} | {n:,} | {name} | {fmt(sec)} | {sec / ours:.2f} |")

lines = ["| body | epochs | implementation | time per call | time / kelvara |", "|---|---|---|---|---|", *rows]
print("\n".join(lines))
write_section("Sun and Moon", lines)
