"""Time from many epochs and its TT two-part Julian dates, against astropy.time.Time and a
vectorised pyerfa pipeline doing the same."""

import warnings

import erfa
import numpy as np
from astropy.time import Time as AstropyTime
from common import best, fmt, write_section

from kelvara.time import iers
from kelvara.time.time import Time

warnings.simplefilter("ignore")  # dubious-year warnings of the far epochs are not timed

N = 1_000_000
x64 = np.datetime64("2000-01-01T00:00:00", "ns") + np.arange(N, dtype=np.int64) * 997_000_000_003
iso = np.datetime_as_string(x64[:: N // 100_000], unit="us")


def ours_dt64():
    return Time(x64).tt.jd12


def astropy_dt64():
    t = AstropyTime(x64, scale="utc").tt
    return np.stack([t.jd1, t.jd2], axis=1)


def pyerfa_dt64():
    days = x64.astype("datetime64[D]")
    ymd = days.astype(object)  # calendar fields through NumPy's own conversion
    y = np.array([d.year for d in ymd]); m = np.array([d.month for d in ymd]); d = np.array([d.day for d in ymd])
    ns = (x64 - days).astype(np.int64)
    h, rem = np.divmod(ns, 3_600_000_000_000)
    mi, rem = np.divmod(rem, 60_000_000_000)
    j = erfa.dtf2d("UTC", y, m, d, h, mi, rem / 1e9)
    return np.stack(erfa.taitt(*erfa.utctai(*j)), axis=1)


def ours_iso():
    return Time(iso).tt.jd12


def astropy_iso():
    t = AstropyTime(iso, scale="utc").tt
    return np.stack([t.jd1, t.jd2], axis=1)


def ours_scalar():
    return Time("2020-01-02T03:04:05.5").tt.jd12


def astropy_scalar():
    t = AstropyTime("2020-01-02T03:04:05.5", scale="utc").tt
    return t.jd1, t.jd2


x_ut1 = np.datetime64("1990-01-01T00:00:00", "ns") + np.arange(N, dtype=np.int64) * 997_000_000_003  # to 2021
utc_1e6 = Time(x_ut1)
iers.eop(utc_1e6[:1])  # the EOP are read once, before timing


def ours_tt():
    return Time.from_jd12(utc_1e6.jd12).tt.jd12  # a fresh Time: nothing memoised


def ours_ut1():
    return Time.from_jd12(utc_1e6.jd12).ut1.jd12


def astropy_ut1():
    from astropy.utils import iers as astropy_iers

    with astropy_iers.earth_orientation_table.set(astropy_iers.IERS_A.open(iers._package_file("finals2000A.all"))):
        t = AstropyTime(x_ut1, scale="utc").ut1
    return np.stack([t.jd1, t.jd2], axis=1)


def ours_eop_load():
    iers._load_default_eop()


def astropy_eop_load():
    from astropy.utils.iers import IERS_A

    IERS_A.read(iers._package_file("finals2000A.all"))


# same epochs from all three
ref = ours_dt64()
for other in (astropy_dt64(), pyerfa_dt64()):
    assert np.abs(((ref[:, 0] - other[:, 0]) + (ref[:, 1] - other[:, 1])) * 86400).max() < 1e-6

rows = [
    ("Time(1e6 datetime64[ns]).tt.jd12", ours_dt64, astropy_dt64, pyerfa_dt64, 1),
    ("Time(1e5 ISO str).tt.jd12", ours_iso, astropy_iso, None, 3),
    ("Time(ISO str).tt.jd12, one epoch", ours_scalar, astropy_scalar, None, 5),
]
t_tt, t_ut1 = best(ours_tt, repeat=3), best(ours_ut1, repeat=3)
t_load = best(ours_eop_load, repeat=5)
t_astropy_load = best(astropy_eop_load, repeat=3, min_time=0.0)
with warnings.catch_warnings():
    t_astropy_ut1 = best(astropy_ut1, repeat=1, min_time=0.0)
ut1_lines = [
    "| case | kelvara | goal | other |",
    "|---|---|---|---|",
    f"| `.ut1` / `.tt` of 1e6 UTC epochs | {t_ut1 / t_tt:.2f}x ({fmt(t_ut1)} / {fmt(t_tt)}) | <= 2x | "
    f"astropy `.ut1`: {fmt(t_astropy_ut1)} ({t_astropy_ut1 / t_ut1:.1f}x ours) |",
    f"| default EOP load (finals2000A.all) | {fmt(t_load)} | < 100 ms | astropy `IERS_A.read`: {fmt(t_astropy_load)} |",
]
print("\n".join(ut1_lines))
write_section("Time: UT1 and EOP", ut1_lines)

lines = ["| case | kelvara | astropy | astropy / kelvara | pyerfa pipeline | pyerfa / kelvara |",
         "|---|---|---|---|---|---|"]
for name, ours, theirs, erfa_fn, repeat in rows:
    t_ours = best(ours, repeat=max(repeat, 3))
    t_astropy = best(theirs, repeat=repeat, min_time=0.0 if repeat == 1 else 0.2)
    t_erfa = best(erfa_fn, repeat=repeat, min_time=0.0) if erfa_fn else None
    lines.append(f"| {name} | {fmt(t_ours)} | {fmt(t_astropy)} | {t_astropy / t_ours:.1f}x | "
                 f"{fmt(t_erfa) if t_erfa else '-'} | {f'{t_erfa / t_ours:.1f}x' if t_erfa else '-'} |")
print("\n".join(lines))
write_section("Time", lines)
