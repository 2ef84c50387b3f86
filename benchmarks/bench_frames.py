"""Earth-fixed frames: kelvara.frames against pyerfa (c2t06a per epoch, and the GMST82 + polar
motion composition for TEME), astropy and skyfield, for 1e5 epochs and for one.

Every contender gets the same TT and UT1 dates and the same polar motion. kelvara's GCRF path
reads X, Y, s from its grid; the grid is built on the first call ("cold") and kept ("warm")."""

import os
import time
import warnings

import numpy as np

from common import cpu_model, fmt, write_section

import erfa

import frames_client
from kelvara import _threads
from kelvara.frames import rotation, sun_aer, transform
from kelvara.time.time import Time

warnings.simplefilter("ignore")  # pyerfa's and astropy's warnings about dates and leap seconds

ARCSEC = np.radians(1 / 3600)



def best_of(fn, rounds):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def erfa_gcrf_to_itrf(tt, ut1, xp, yp, r):
    m = erfa.c2t06a(tt[:, 0], tt[:, 1], ut1[:, 0], ut1[:, 1], xp, yp)
    return np.einsum("nij,nj->ni", m, r)


def erfa_teme_to_itrf(ut1, xp, yp, r):
    gmst = erfa.gmst82(ut1[:, 0], ut1[:, 1])
    m = erfa.rxr(erfa.pom00(xp, yp, 0.0), erfa.rz(gmst, np.broadcast_to(np.eye(3), (len(gmst), 3, 3))))
    return np.einsum("nij,nj->ni", m, r)


rows = []
n = 100_000
rng = np.random.default_rng(1)
# 1e5 epochs at 5-minute steps from 2025-01-01 (347 days)
t = Time(2460676.5 + np.arange(n) * 300.0 / 86400.0, format="jd")
dut1 = 0.05 + 1e-3 * np.sin(np.arange(n) / 1e4)
xp, yp = 0.1 * ARCSEC * np.ones(n), 0.3 * ARCSEC * np.ones(n)
eop = (dut1, xp, yp)
tt = np.array(t.tt.jd12)
ut1 = np.array(t.utc.jd12)
ut1[:, 1] += dut1 / 86400.0
r = rng.normal(size=(n, 3)) * 7e6

cold = best_of(lambda: transform(r, t, "gcrf", "itrf", eop=eop), 1)
warm = best_of(lambda: transform(r, t, "gcrf", "itrf", eop=eop), 5)
loaded = best_of(lambda: transform(r, t, "gcrf", "itrf"), 3)
precise = best_of(lambda: transform(r, t, "gcrf", "itrf", eop=eop, precise=True), 1)
sub = slice(0, 10_000)  # pyerfa's c2t06a costs tens of microseconds an epoch: timed on 1e4
pyerfa_c2t = best_of(lambda: erfa_gcrf_to_itrf(tt[sub], ut1[sub], xp[sub], yp[sub], r[sub]), 2) * 10
one_t = t[0]
one = best_of(lambda: [transform(r[0], one_t, "gcrf", "itrf", eop=(0.05, 1e-6, 1e-6)) for _ in range(1000)], 5) / 1000
pyerfa_one = best_of(lambda: [erfa.c2t06a(tt[0, 0], tt[0, 1], ut1[0, 0], ut1[0, 1], 1e-6, 1e-6) @ r[0]
                              for _ in range(200)], 5) / 200

limit_gcrf = best_of(lambda: frames_client.gcrf_loop(tt, ut1, xp, yp, r), 5)
rows += [
    f"| GCRF -> ITRF | {n:,} | pyerfa `c2t06a` + matrix product | {fmt(pyerfa_c2t / n)} | 1 |",
    f"| GCRF -> ITRF | {n:,} | bare C++ kernel loop, one thread, grid warm (the limit) | {fmt(limit_gcrf / n)} | {pyerfa_c2t / limit_gcrf:.0f}x |",
    f"| GCRF -> ITRF | {n:,} | kelvara `transform`, grid warm | {fmt(warm / n)} | {pyerfa_c2t / warm:.0f}x |",
    f"| GCRF -> ITRF | {n:,} | kelvara `transform`, loaded EOP (`eop(t)` included) | {fmt(loaded / n)} | {pyerfa_c2t / loaded:.0f}x |",
    f"| GCRF -> ITRF | {n:,} | kelvara `transform`, first call (builds the grid) | {fmt(cold / n)} | {pyerfa_c2t / cold:.0f}x |",
    f"| GCRF -> ITRF | {n:,} | kelvara `transform(precise=True)` | {fmt(precise / n)} | {pyerfa_c2t / precise:.1f}x |",
    f"| GCRF -> ITRF | 1 | pyerfa `c2t06a` + matrix product | {fmt(pyerfa_one)} | 1 |",
    f"| GCRF -> ITRF | 1 | kelvara `transform` | {fmt(one)} | {pyerfa_one / one:.1f}x |",
]

teme = best_of(lambda: transform(r, t, "teme", "itrf", eop=eop), 5)
teme_loaded = best_of(lambda: transform(r, t, "teme", "itrf"), 3)
teme_v = best_of(lambda: transform(r, t, "teme", "itrf", v=r, eop=eop), 5)
pyerfa_teme = best_of(lambda: erfa_teme_to_itrf(ut1, xp, yp, r), 3)
limit_teme = best_of(lambda: frames_client.teme_loop(ut1, xp, yp, r), 5)
rows += [
    f"| TEME -> ITRF | {n:,} | pyerfa `gmst82`, `rz`, `pom00` + product | {fmt(pyerfa_teme / n)} | 1 |",
    f"| TEME -> ITRF | {n:,} | bare C++ kernel loop, one thread (the limit) | {fmt(limit_teme / n)} | {pyerfa_teme / limit_teme:.1f}x |",
    f"| TEME -> ITRF | {n:,} | kelvara `transform` | {fmt(teme / n)} | {pyerfa_teme / teme:.1f}x |",
    f"| TEME -> ITRF | {n:,} | kelvara `transform`, loaded EOP (`eop(t)` included) | {fmt(teme_loaded / n)} | {pyerfa_teme / teme_loaded:.1f}x |",
    f"| TEME -> ITRF | {n:,} | kelvara `transform` with velocities | {fmt(teme_v / n)} | {pyerfa_teme / teme_v:.1f}x |",
]

# the Sun over Paris for a year, hourly
hours = Time(2460676.5 + np.arange(8760) / 24.0, format="jd")
heop = (0.05, 1e-6, 1e-6)
sun_ours = best_of(lambda: sun_aer(hours, 48.8566, 2.3522, 35.0, eop=heop), 5)
try:
    import astropy.units as u
    from astropy.coordinates import AltAz, EarthLocation, get_sun
    from astropy.time import Time as ATime
    from astropy.utils import iers

    iers.conf.auto_download = False
    at = ATime(2460676.5 + np.arange(8760) / 24.0, format="jd", scale="utc")
    where = AltAz(obstime=at, location=EarthLocation.from_geodetic(2.3522 * u.deg, 48.8566 * u.deg, 35.0 * u.m))
    sun_astropy = best_of(lambda: get_sun(at).transform_to(where), 1)
    rows.append(f"| Sun az/el over Paris | 8,760 | astropy `get_sun().transform_to(AltAz)` | {fmt(sun_astropy / 8760)} | 1 |")
    rows.append(f"| Sun az/el over Paris | 8,760 | kelvara `sun_aer` | {fmt(sun_ours / 8760)} | {sun_astropy / sun_ours:.0f}x |")
except ImportError:
    rows.append(f"| Sun az/el over Paris | 8,760 | kelvara `sun_aer` | {fmt(sun_ours / 8760)} | |")

lines = [
    f"CPU: {cpu_model()}, {os.cpu_count()} cores, kelvara pool {_threads.get_num_threads()} threads; "
    "a shared machine, loaded by other builds (ratios from one run).",
    "",
    "| transform | epochs | implementation | time per epoch | speed-up |",
    "|---|---|---|---|---|",
    *rows,
]
print("\n".join(lines))
write_section("Earth-fixed frames", lines)
