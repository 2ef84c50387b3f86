"""Element sets for the SGP4 tests: the published verification set, and catalogues of every orbit
class written as two-line text from random mean elements."""

import math
import pkgutil

import numpy as np

ALPHA5 = "ABCDEFGHJKLMNPQRSTUVWXYZ"  # I and O are never used


def checksum(text: str) -> str:
    return str(sum(int(c) if c.isdigit() else c == "-" for c in text[:68]) % 10)


def catalogue_field(satnum: int) -> str:
    if satnum < 100000:
        return f"{satnum:05d}"
    return ALPHA5[satnum // 10000 - 10] + f"{satnum % 10000:04d}"


def exponent_field(x: float) -> str:
    """The format's ' 12345-6' form of x (sign, five mantissa digits, exponent)."""
    if x == 0:
        return " 00000-0"
    e = math.floor(math.log10(abs(x))) + 1
    m = round(abs(x) / 10.0**e * 1e5)
    if m == 100000:
        m, e = 10000, e + 1
    return ("-" if x < 0 else " ") + f"{m:05d}" + ("-" if e < 0 else "+") + str(abs(e))


def make_lines(satnum, year, day, incl, raan, ecc, argp, ma, n, bstar=0.0, ndot=0.0, nddot=0.0, rev=1234):
    cat = catalogue_field(satnum)
    ndot_s = ("-" if ndot < 0 else " ") + f"{abs(ndot):.8f}"[1:]
    l1 = f"1 {cat}U 20001A   {year % 100:02d}{day:012.8f} {ndot_s} {exponent_field(nddot)} {exponent_field(bstar)} 0  999"
    l2 = f"2 {cat} {incl:8.4f} {raan:8.4f} {round(ecc * 1e7):07d} {argp:8.4f} {ma:8.4f} {n:11.8f}{rev:5d}"
    assert len(l1) == 68 and len(l2) == 68, (l1, l2)
    return l1 + checksum(l1), l2 + checksum(l2)


# Orbit classes: ranges of mean motion (rev/day), eccentricity, inclination (deg), B*.
CLASSES = {
    "LEO": dict(n=(14.0, 16.0), e=(0.0, 0.02), i=(0.0, 180.0), bstar=(-1e-4, 5e-4)),
    "LEO low perigee": dict(n=(10.5, 13.0), e=(0.1, 0.2), i=(20.0, 100.0), bstar=(1e-5, 5e-4)),
    "decaying": dict(n=(15.9, 16.45), e=(0.0, 0.01), i=(30.0, 100.0), bstar=(2e-3, 5e-2)),
    "GPS": dict(n=(1.99, 2.02), e=(0.0, 0.02), i=(53.0, 57.0), bstar=(0.0, 1e-4)),
    "Molniya": dict(n=(1.95, 2.05), e=(0.6, 0.75), i=(62.0, 65.0), bstar=(0.0, 1e-4)),
    "GEO": dict(n=(0.99, 1.01), e=(0.0, 0.001), i=(0.0, 15.0), bstar=(0.0, 1e-4)),
    "HEO": dict(n=(2.2, 5.0), e=(0.55, 0.75), i=(3.0, 30.0), bstar=(0.0, 1e-3)),
}


def catalogue(kind: str, count: int = 60, seed: int = 14):
    """`count` element sets of one orbit class, epochs spread over 1990-2049."""
    rng = np.random.default_rng([seed, list(CLASSES).index(kind)])
    c = CLASSES[kind]
    out = []
    for k in range(count):
        year = int(rng.integers(1990, 2050))
        days = 366 if year % 4 == 0 else 365
        satnum = int(rng.integers(1, 339999)) if k % 5 == 0 else 10000 + k
        out.append(make_lines(
            satnum, year, float(rng.uniform(1.0, days + 0.99)), float(rng.uniform(*c["i"])),
            float(rng.uniform(0, 360)), float(rng.uniform(*c["e"])), float(rng.uniform(0, 360)),
            float(rng.uniform(0, 360)), float(rng.uniform(*c["n"])), bstar=float(rng.uniform(*c["bstar"])),
            ndot=float(rng.uniform(-1e-4, 1e-3)), nddot=float(rng.uniform(0, 1e-5))))
    return out


def verification_set():
    """[(line1, line2, times)] of SGP4-VER.TLE, times as its test driver steps through them."""
    text = pkgutil.get_data("sgp4", "SGP4-VER.TLE").decode().splitlines()
    lines = [line for line in text if not line.startswith("#")]
    out = []
    for a, b in zip(lines, lines[1:]):
        if not (a.startswith("1 ") and b.startswith("2 ")):
            continue
        start, stop, step = (float(x) for x in b[69:].split())
        times = [0.0]
        t = start if abs(start) > 1e-8 else 0.0
        if abs(start) > 1e-8:
            t -= step
        while t < stop:
            t = min(t + step, stop)
            times.append(t)
        out.append((a[:69], b[:69], times))
    return out


def verification_states():
    """{satnum: [(minutes, r km, v km/s)]} of tcppver.out, in file order (a satellite may recur)."""
    blocks = []
    for line in pkgutil.get_data("sgp4", "tcppver.out").decode().splitlines():
        if line.strip().endswith("xx"):
            blocks.append((int(line.split()[0]), []))
        elif line.strip():
            v = [float(x) for x in line.split()[:7]]
            blocks[-1][1].append((v[0], v[1:4], v[4:7]))
    return blocks
