"""ECEF -> geodetic with kelvara.geodesy and its peers: error against a quad-precision reference
and time per point against the number of points, printed and drawn as a PNG.

For each contender (kelvara.geodesy, ERFA gc2gd, a pyproj Transformer, pymap3d, and the Ellipsoid
method lla_from_pos) the latitude, longitude and height it returns are taken back to ECEF in
113-bit arithmetic (mpmath), and the distance to the input position is measured in units in the
last place of |r|. Peers that are not installed are left out.

    python examples/geodesy_accuracy.py [out.png] [--quick]
"""

import argparse
import math
import time

import numpy as np

from kelvara import geodesy
from kelvara.mathtools.ellipsoid.ellipsoid import create

WGS84 = create("wgs84")


def contenders():
    """name -> function (x, y, z arrays) -> (lat deg, lon deg, h m) arrays."""
    found = {"kelvara.geodesy": lambda x, y, z: geodesy.ecef2geodetic(x, y, z)}
    try:
        import erfa

        def gc2gd(x, y, z):
            lon, lat, h = erfa.gc2gd(1, np.column_stack((x, y, z)))
            return np.degrees(lat), np.degrees(lon), h
        found["erfa gc2gd"] = gc2gd
    except ImportError:
        pass
    try:
        import pyproj

        transformer = pyproj.Transformer.from_crs("EPSG:4978", "EPSG:4979")
        found["pyproj"] = lambda x, y, z: transformer.transform(x, y, z)
    except ImportError:
        pass
    try:
        import pymap3d

        found["pymap3d"] = lambda x, y, z: pymap3d.ecef2geodetic(x, y, z)
    except ImportError:
        pass

    def lla_from_pos(x, y, z):
        lla = WGS84.lla_from_pos(np.column_stack((x, y, z)))
        return np.degrees(lla["lat"]), np.degrees(lla["lon"]), lla["alt"]
    found["Ellipsoid.lla_from_pos"] = lla_from_pos
    return found


def sample(n, seed=5):
    rng = np.random.default_rng(seed)
    lat = np.degrees(np.arcsin(rng.uniform(-1, 1, n)))
    lon = rng.uniform(-180, 180, n)
    alt = 10.0 ** rng.uniform(0, 8, n) * rng.choice([-1.0, 1.0], n, p=[0.1, 0.9])
    alt = np.maximum(alt, -1e6)
    return alt, geodesy.geodetic2ecef(lat, lon, alt)


def errors_ulp(fn, x, y, z):
    """Distance from (x, y, z) of fn's answer taken back to ECEF exactly, in ulp of |r|."""
    import mpmath as mp

    lat, lon, h = (np.asarray(v, dtype=float) for v in fn(x, y, z))
    out = np.empty(len(x))
    with mp.workprec(113):
        a, f = mp.mpf(WGS84.Re), mp.mpf(WGS84.f)
        e2 = f * (2 - f)
        for i in range(len(x)):
            phi, lam = mp.radians(mp.mpf(lat[i])), mp.radians(mp.mpf(lon[i]))
            n = a / mp.sqrt(1 - e2 * mp.sin(phi) ** 2)
            back = ((n + h[i]) * mp.cos(phi) * mp.cos(lam), (n + h[i]) * mp.cos(phi) * mp.sin(lam),
                    (n * (1 - e2) + h[i]) * mp.sin(phi))
            miss = mp.sqrt(sum((mp.mpf(c) - q) ** 2 for c, q in zip((x[i], y[i], z[i]), back)))
            out[i] = float(miss) / np.spacing(math.sqrt(x[i] ** 2 + y[i] ** 2 + z[i] ** 2))
    return out


def ns_per_point(fn, n):
    _, (x, y, z) = sample(n, seed=11)
    if n == 1:
        x, y, z = float(x[0]), float(y[0]), float(z[0])
    best = math.inf
    deadline = time.perf_counter() + 0.05
    while True:
        start = time.perf_counter()
        fn(x, y, z)
        best = min(best, time.perf_counter() - start)
        if time.perf_counter() > deadline:
            return best / n * 1e9


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("png", nargs="?", default="geodesy_accuracy.png", help="where to draw the plot")
    parser.add_argument("--quick", action="store_true", help="few points and sizes (seconds, not minutes)")
    args = parser.parse_args()
    points = 40 if args.quick else 400
    sizes = [1, 100, 10_000] if args.quick else [1, 10, 100, 1_000, 10_000, 100_000, 1_000_000]

    alt, (x, y, z) = sample(points)
    peers = contenders()
    errors = {name: errors_ulp(fn, x, y, z) for name, fn in peers.items()}
    timings = {name: [ns_per_point(fn, n) for n in sizes] for name, fn in peers.items()}

    print(f"{'contender':24s} {'max error':>12s} {'median':>8s}   ns/point at N = " + ", ".join(map(str, sizes)))
    for name in peers:
        e = errors[name]
        times = ", ".join(f"{t:.3g}" for t in timings[name])
        print(f"{name:24s} {e.max():8.3g} ulp {np.median(e):8.3g}   {times}")

    try:
        import matplotlib
    except ImportError:
        print("matplotlib is not installed: no plot drawn")
        return
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (left, right) = plt.subplots(1, 2, figsize=(12, 4.5))
    for name in peers:
        left.scatter(np.abs(alt), np.maximum(errors[name], 1e-3), s=6, label=name)
        right.loglog(sizes, timings[name], marker="o", label=name)
    left.set(xscale="log", yscale="log", xlabel="|altitude| (m)", ylabel="error (ulp of |r|)",
             title="ECEF -> geodetic, against 113-bit arithmetic")
    left.axhline(3, color="grey", lw=0.8, ls="--")
    right.set(xlabel="points per call", ylabel="ns per point", title="time per point")
    for ax in (left, right):
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(args.png, dpi=110)
    print(f"plot written to {args.png}")


if __name__ == "__main__":
    main()
