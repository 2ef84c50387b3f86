"""Paris to New York on WGS 84: the geodesic (the shortest path on the ellipsoid) beside the chord
(the straight line through the Earth), printed and drawn as a PNG.

    .venv/bin/python examples/geodesic_paris_new_york.py          # examples/out/paris_new_york.png
    .venv/bin/python examples/geodesic_paris_new_york.py path.png

The plot needs matplotlib (`pip install matplotlib`, or the package's `plot` extra); without it
the script prints the summary and says that no picture was drawn.
"""

import argparse
import pathlib
import sys

import numpy as np

from kelvara import geodesy

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from _plotting import pyplot  # noqa: E402  (beside this script)

PARIS = (48.8566, 2.3522)       # latitude, longitude (deg)
NEW_YORK = (40.7128, -74.0060)
POINTS = 101


def compute() -> dict:
    """The geodesic, its path, and the chord with the ground track under it."""
    s12, azi1, azi2 = geodesy.geodesic_inverse(*PARIS, *NEW_YORK)
    lats, lons = geodesy.geodesic_points(*PARIS, *NEW_YORK, POINTS)
    # the chord: the straight segment between the two points' ECEF positions, cut evenly, and
    # the point on the ellipsoid under each of its points (with its depth below the surface)
    p1 = np.array(geodesy.geodetic2ecef(*PARIS, 0.0))
    p2 = np.array(geodesy.geodetic2ecef(*NEW_YORK, 0.0))
    t = np.linspace(0.0, 1.0, POINTS)
    chord = p1[:, None] + (p2 - p1)[:, None] * t
    under_lat, under_lon, depth = geodesy.ecef2geodetic(*chord)
    return {"s12": float(s12), "azi1": float(azi1), "azi2": float(azi2), "lats": lats, "lons": lons,
            "chord": float(np.linalg.norm(p2 - p1)), "under_lat": under_lat, "under_lon": under_lon,
            "depth": depth, "along": t * float(s12)}


def summary(r: dict) -> list[str]:
    deepest = int(np.argmin(r["depth"]))
    return [
        "Paris (48.8566 N, 2.3522 E) to New York (40.7128 N, 74.0060 W), WGS 84",
        f"geodesic distance: {r['s12'] / 1e3:,.3f} km",
        f"initial azimuth: {r['azi1']:.4f} deg, final azimuth: {r['azi2']:.4f} deg",
        f"chord (straight through the Earth): {r['chord'] / 1e3:,.3f} km, "
        f"{(r['s12'] - r['chord']) / 1e3:,.1f} km shorter",
        f"deepest point of the chord: {-r['depth'][deepest] / 1e3:,.1f} km below "
        f"{r['under_lat'][deepest]:.2f} N {-r['under_lon'][deepest]:.2f} W",
        f"northernmost point of the geodesic: {r['lats'].max():.2f} N",
    ]


def plot(plt, r: dict, path: pathlib.Path) -> None:
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(9, 8), height_ratios=(3, 2))
    top.plot(r["lons"], r["lats"], label="geodesic (shortest path on the ellipsoid)")
    top.plot(r["under_lon"], r["under_lat"], "--", label="ground track under the chord")
    top.plot([PARIS[1], NEW_YORK[1]], [PARIS[0], NEW_YORK[0]], ":", label="straight line on the map")
    for name, (la, lo) in (("Paris", PARIS), ("New York", NEW_YORK)):
        top.plot(lo, la, "ko")
        top.annotate(name, (lo, la), textcoords="offset points", xytext=(6, -12))
    top.set_xlabel("longitude (deg)")
    top.set_ylabel("latitude (deg)")
    top.set_title("Paris - New York on WGS 84: the geodesic and the chord")
    top.legend(loc="lower center")
    top.grid(True, alpha=0.3)
    bottom.plot(r["along"] / 1e3, np.zeros_like(r["along"]), label="geodesic (on the surface)")
    bottom.plot(r["along"] / 1e3, r["depth"] / 1e3, "--", label="chord (below the surface)")
    bottom.set_xlabel("distance from Paris (km; the chord cut in the same fractions)")
    bottom.set_ylabel("height (km)")
    bottom.legend(loc="upper right")
    bottom.grid(True, alpha=0.3)
    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", type=pathlib.Path,
                        help="PNG file to write (default: examples/out/paris_new_york.png)")
    args = parser.parse_args()
    output = args.output or pathlib.Path(__file__).parent / "out" / "paris_new_york.png"
    r = compute()
    for line in summary(r):
        print(line)
    plt = pyplot()
    if plt is None:
        return
    plot(plt, r, output)
    print(f"plot written to {output}")


if __name__ == "__main__":
    main()
