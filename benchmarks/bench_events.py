"""Passes and rise/set: kelvara.events against skyfield 1.55 on the same element sets, station and
windows: the ISS over 30 days, 100 satellites over a day (1 and 2 threads), the Sun and the Moon
over a year. Contenders run in alternation so that load from other processes falls on all alike."""

import time
import warnings

import numpy as np

from common import cpu_model, fmt, write_section

from kelvara import _threads
from kelvara.events import find_passes, find_rise_set
from kelvara.propagators.analytical.sgp4.sgp4 import Elements

warnings.simplefilter("ignore")  # skyfield-data's expired EOP table



def tle(line):
    s = sum(int(c) if c.isdigit() else (c == "-") for c in line[:68])
    return line[:68] + str(s % 10)


def leo(i):
    """The i-th of 100 made-up LEO element sets: inclinations, planes and heights spread out."""
    inc, raan, ma = 45.0 + (i * 7) % 54, (i * 37.0) % 360, (i * 53.0) % 360
    n = 14.2 + (i % 12) * 0.12
    return (tle(f"1 {40000 + i:05d}U 20001A   26341.50000000  .00001000  00000-0  50000-4 0  9990"),
            tle(f"2 {40000 + i:05d} {inc:8.4f} {raan:8.4f} 0010000  90.0000 {ma:8.4f} {n:11.8f} 12345"))


def interleaved(contenders, rounds):
    best = {name: float("inf") for name in contenders}
    for _ in range(rounds):
        for name, fn in contenders.items():
            start = time.perf_counter()
            fn()
            best[name] = min(best[name], time.perf_counter() - start)
    return best


ISS = (tle("1 25544U 98067A   26341.50000000  .00016717  00000-0  30221-3 0  9990"),
       tle("2 25544  51.6400 208.9163 0006317  69.9862  25.2906 15.49560532 12345"))
LAT, LON, ALT = 40.0, -3.7, 650.0

from skyfield import almanac  # noqa: E402
from skyfield.api import EarthSatellite, Loader, load, wgs84  # noqa: E402
import skyfield_data  # noqa: E402

ts = load.timescale()
eph = Loader(skyfield_data.get_skyfield_data_path())("de421.bsp")
obs = wgs84.latlon(LAT, LON, ALT)

# first calls in this process: the Sun's and Moon's node tables are built here
first = {}
for body in ("sun", "moon"):
    start = time.perf_counter()
    find_rise_set(body, LAT, LON, ALT, "2026-01-01", "2027-01-01")
    first[body] = time.perf_counter() - start

iss_k = Elements(*ISS)
iss_s = EarthSatellite(*ISS, "ISS", ts)
many_k = [Elements(*leo(i)) for i in range(100)]
many_s = [EarthSatellite(*leo(i), str(i), ts) for i in range(100)]
d0, d30, d1 = ts.utc(2026, 12, 8), ts.utc(2027, 1, 7), ts.utc(2026, 12, 9)
y0, y1 = ts.utc(2026, 1, 1), ts.utc(2027, 1, 1)


def threads(n, fn):
    def run():
        _threads.set_num_threads(n)
        try:
            return fn()
        finally:
            _threads.set_num_threads(2)
    return run


cases = {
    "ISS, 30 days": {
        "kelvara": lambda: find_passes(iss_k, LAT, LON, ALT, "2026-12-08", "2027-01-07"),
        "skyfield": lambda: iss_s.find_events(obs, d0, d30, altitude_degrees=0.0),
    },
    "100 satellites x 1 day": {
        "kelvara, 2 threads": threads(2, lambda: find_passes(many_k, LAT, LON, ALT, "2026-12-08", "2026-12-09")),
        "kelvara, 1 thread": threads(1, lambda: find_passes(many_k, LAT, LON, ALT, "2026-12-08", "2026-12-09")),
        "skyfield": lambda: [s.find_events(obs, d0, d1, altitude_degrees=0.0) for s in many_s],
    },
    "Sun rise/set, 1 year": {
        "kelvara": lambda: find_rise_set("sun", LAT, LON, ALT, "2026-01-01", "2027-01-01"),
        "skyfield": lambda: (almanac.find_risings(eph["earth"] + obs, eph["sun"], y0, y1),
                             almanac.find_settings(eph["earth"] + obs, eph["sun"], y0, y1)),
    },
    "Moon rise/set, 1 year": {
        "kelvara": lambda: find_rise_set("moon", LAT, LON, ALT, "2026-01-01", "2027-01-01"),
        "skyfield": lambda: (almanac.find_risings(eph["earth"] + obs, eph["moon"], y0, y1),
                             almanac.find_settings(eph["earth"] + obs, eph["moon"], y0, y1)),
    },
}

# A one-day resonant GEO over 6 and 30 years: the search steps the resonance integrator on from
# its last state, so the cost grows with the window, not with its square.
GEO = ("1 41866U 16071A   26341.50000000 -.00000100  00000-0  00000+0 0  9992",
       "2 41866   0.0300  90.0000 0002000 180.0000 180.0000  1.00270000 12349")
geo_k = Elements(*GEO)
geo_s = EarthSatellite(*GEO, "GEO", ts)
g0, g6, g30 = ts.utc(2016, 12, 8), ts.utc(2022, 12, 8), ts.utc(2046, 12, 8)
long_cases = {
    "GEO, 6 years": {
        "kelvara": lambda: find_passes(geo_k, 48.85, 2.35, 35.0, "2016-12-08", "2022-12-08"),
        "skyfield": lambda: geo_s.find_events(wgs84.latlon(48.85, 2.35, 35.0), g0, g6, altitude_degrees=0.0),
    },
    "GEO, 30 years": {
        "kelvara": lambda: find_passes(geo_k, 48.85, 2.35, 35.0, "2016-12-08", "2046-12-08"),
        "skyfield": lambda: geo_s.find_events(wgs84.latlon(48.85, 2.35, 35.0), g0, g30, altitude_degrees=0.0),
    },
}

rows = []
long_times = {case: interleaved(contenders, 3) for case, contenders in long_cases.items()}
for case, contenders in cases.items():
    times = interleaved(contenders, 7)
    sky = times["skyfield"]
    for name, sec in times.items():
        rows.append(f"| {case} | {name} | {fmt(sec)} | {sky / sec:.1f}x |")
for case, times in long_times.items():
    for name, sec in times.items():
        rows.append(f"| {case} | {name} | {fmt(sec)} | {times['skyfield'] / sec:.1f}x |")
ratio = long_times["GEO, 30 years"]["kelvara"] / long_times["GEO, 6 years"]["kelvara"]
rows.append(f"| GEO, 30 years / 6 years | kelvara | {ratio:.2f}x | goal <= 5x (linear) |")
for body in ("sun", "moon"):
    rows.append(f"| {body.capitalize()} rise/set, 1 year | kelvara, first call (node tables built) | "
                f"{fmt(first[body])} | |")

lines = [f"CPU: {cpu_model()}; station {LAT}, {LON}; best of 7 runs, contenders alternating.", "",
         "| case | implementation | time | skyfield / this |", "|---|---|---|---|", *rows]
print("\n".join(lines))
write_section("Passes and rise/set (kelvara.events vs skyfield 1.55)", lines)
