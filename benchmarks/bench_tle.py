"""TLE construction against sgp4's Satrec.twoline2rv on the same element sets, with the share of
the two Time calls that every construction makes."""

import time as clock

from common import fmt, write_section

from sgp4.api import Satrec

from kelvara.propagators.analytical.sgp4.tle import TLE
from kelvara.time.time import Time

N = 100_000
SETS = [
    ("1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
     "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537"),
    ("1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
     "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667"),
    ("1 06251U 62025E   06176.82412014  .00008885  00000-0  12808-3 0  3985",
     "2 06251  58.0579  54.0425 0030035 139.1568 221.1854 15.56387291  6774"),
    ("1 E8493U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
     "2 E8493  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667"),
]
LINES = [SETS[i % len(SETS)] for i in range(N)]
YEARS = [("20" + l1[18:20]) if l1[18:20] < "57" else ("19" + l1[18:20]) for l1, _ in LINES]
DAYS = [float(l1[20:32]) for l1, _ in LINES]


def per_item(fn, repeat: int = 3) -> float:
    """Best time of fn() over `repeat` runs, divided by N."""
    best = float("inf")
    for _ in range(repeat):
        start = clock.perf_counter()
        fn()
        best = min(best, clock.perf_counter() - start)
    return best / N


def build_tle():
    for l1, l2 in LINES:
        TLE(l1, l2)


def build_satrec():
    for l1, l2 in LINES:
        Satrec.twoline2rv(l1, l2)


def time_calls():
    # What construction asks of Time, driven from Python: year start, its jd, then the epoch.
    for year, day in zip(YEARS, DAYS):
        Time(Time(year).jd - 1.0 + day, format="jd")


def empty_loop():
    for l1, l2 in LINES:
        pass


loop = per_item(empty_loop)
tle = per_item(build_tle) - loop
satrec = per_item(build_satrec) - loop
times = per_item(time_calls) - loop
other = max(tle - times, 0.0)
lines = [
    f"Constructing {N:,} records from 4 element sets (loop overhead removed).",
    "",
    "| operation | time per set | vs sgp4 twoline2rv |",
    "|---|---|---|",
    f"| sgp4 `Satrec.twoline2rv` (parses all elements, no Time) | {fmt(satrec)} | 1.00 |",
    f"| kelvara `TLE(line1, line2)` | {fmt(tle)} | {tle / satrec:.2f} |",
    f"| of which the two `Time` calls and `.jd` (timed from Python) | {fmt(times)} | {times / satrec:.2f} |",
    f"| of which the rest: arguments, lines, fields, record | {fmt(other)} | {other / satrec:.2f} |",
    "",
    f"The Time calls are {100 * min(times / tle, 1.0):.0f}% of a TLE construction.",
]
print("\n".join(lines))
write_section("TLE construction", lines)
