"""Tonight's visible passes of a few satellites over a city, printed and drawn as a polar sky plot.

    .venv/bin/python examples/visible_passes.py                      # Paris, 2026-12-08
    .venv/bin/python examples/visible_passes.py --date 2026-12-09 --lat 40.42 --lon -3.70
    .venv/bin/python examples/visible_passes.py --tle my.tle plot.png

"Tonight" runs from the end of civil twilight in the evening to its start the next morning, and a
pass is visible when the satellite is above 10 degrees and in sunlight while the sky is dark
(the Earth's shadow as a cylinder). The plot needs matplotlib (the package's `plot` extra);
without it the script prints the table and says that no picture was drawn.
"""

import argparse
import pathlib

import numpy as np

from kelvara.bodies.bodies import Sun
from kelvara.events import find_passes, find_rise_set
from kelvara.frames import aer, transform
from kelvara.propagators.analytical.sgp4.sgp4 import Elements
from kelvara.time.time import Time

R_EARTH = 6378137.0
MIN_ELEVATION = 10.0

# Element sets to use without a file (made up around real orbits, epoch 2026-12-07 12:00 UTC).
BUILT_IN = {
    "ISS": ("1 25544U 98067A   26341.50000000  .00016717  00000-0  30221-3 0  9994",
            "2 25544  51.6400 208.9163 0006317  69.9862  25.2906 15.49560532 12348"),
    "HST-like": ("1 20580U 90037B   26341.50000000  .00001000  00000-0  50000-4 0  9995",
                 "2 20580  28.4700 120.0000 0002500  90.0000 270.0000 15.09000000 12341"),
    "SSO-800": ("1 33591U 09005A   26341.50000000  .00000100  00000-0  80000-4 0  9999",
                "2 33591  98.7000 330.0000 0013000 100.0000 260.0000 14.12000000 12344"),
    "CSS-like": ("1 48274U 21035A   26341.50000000  .00020000  00000-0  25000-3 0  9999",
                 "2 48274  41.4700  40.0000 0005000  60.0000 300.0000 15.60000000 12343"),
}


def read_tle(path: pathlib.Path) -> dict[str, tuple[str, str]]:
    """Three-line element sets: a name line, then the two element lines."""
    lines = [l.rstrip() for l in path.read_text().splitlines() if l.strip()]
    return {lines[i].strip(): (lines[i + 1], lines[i + 2]) for i in range(0, len(lines) - 2, 3)}


def night(lat: float, lon: float, date: str) -> tuple[np.datetime64, np.datetime64]:
    """From civil dusk on `date` to civil dawn after it (UTC)."""
    day = np.datetime64(date, "D")
    ev = find_rise_set("sun", lat, lon, 0.0, day, day + np.timedelta64(2, "D"), horizon="civil")
    sets = ev["time"][ev["kind"] == "set"]
    dusk = sets[sets >= day.astype("datetime64[us]") + np.timedelta64(12, "h")][0]
    rises = ev["time"][ev["kind"] == "rise"]
    return dusk, rises[rises > dusk][0]


def sunlit(el: Elements, t: Time) -> np.ndarray:
    """Whether the satellite is outside the Earth's cylindrical shadow at each epoch."""
    r_teme, _, _ = el.propagate(t)
    r = transform(r_teme, t, "teme", "gcrf")
    s = Sun(t).ur_GCRF
    along = np.einsum("ij,ij->i", r, s)
    across = np.linalg.norm(r - along[:, None] * s, axis=1)
    return (along > 0) | (across > R_EARTH)


def visible_passes(sats, lat, lon, alt, dusk, dawn):
    """Rows of visible passes and, for the plot, each pass's track (azimuth, elevation) in degrees."""
    elements = [Elements(*lines) for lines in sats.values()]
    names = list(sats)
    passes = find_passes(elements, lat, lon, alt, dusk, dawn, min_elevation=MIN_ELEVATION)
    rows, tracks = [], []
    for p in passes[passes["status"] == "pass"]:
        start = p["rise"] if not np.isnat(p["rise"]) else dusk
        end = p["set"] if not np.isnat(p["set"]) else dawn
        stamps = np.arange(start, end, np.timedelta64(5, "s"))
        t = Time(stamps)
        el = elements[p["satellite"]]
        lit = sunlit(el, t)
        if not lit.any():
            continue
        r, _, _ = el.propagate(t)
        az, elev, _ = aer(r, t, "teme", lat, lon, alt)
        first = stamps[lit][0]
        rows.append((names[p["satellite"]], p["rise"], p["rise_az"], p["culmination"], p["culmination_el"],
                     p["set"], p["set_az"], first))
        label = f"{names[p['satellite']]} {str(first.astype('datetime64[m]'))[11:]}"
        tracks.append((label, np.asarray(az)[lit], np.asarray(elev)[lit]))
    return rows, tracks


def fmt(t: np.datetime64) -> str:
    return "   --   " if np.isnat(t) else str(t.astype("datetime64[s]"))[11:]


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("png", nargs="?", default=None, help="output picture (default examples/out/passes_<date>.png)")
    ap.add_argument("--date", default="2026-12-08", help="the evening to look at (UTC date)")
    ap.add_argument("--lat", type=float, default=48.8566)
    ap.add_argument("--lon", type=float, default=2.3522)
    ap.add_argument("--alt", type=float, default=35.0)
    ap.add_argument("--tle", type=pathlib.Path, default=None, help="a file of three-line element sets")
    args = ap.parse_args()

    sats = read_tle(args.tle) if args.tle else BUILT_IN
    dusk, dawn = night(args.lat, args.lon, args.date)
    rows, tracks = visible_passes(sats, args.lat, args.lon, args.alt, dusk, dawn)
    print(f"station {args.lat:.4f}, {args.lon:.4f}; dark from {dusk.astype('datetime64[s]')} "
          f"to {dawn.astype('datetime64[s]')} UTC")
    print(f"visible passes above {MIN_ELEVATION:.0f} deg: {len(rows)}")
    print(f"{'satellite':<10} {'rise':>8} {'az':>5} {'highest':>8} {'el':>5} {'set':>8} {'az':>5}  sunlit from")
    for name, rise, raz, culm, cel, set_, saz, first in rows:
        print(f"{name:<10} {fmt(rise):>8} {raz:5.0f} {fmt(culm):>8} {cel:5.1f} {fmt(set_):>8} {saz:5.0f}  {fmt(first)}")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no picture drawn")
        return
    out = pathlib.Path(args.png) if args.png else pathlib.Path(__file__).parent / "out" / f"passes_{args.date}.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    fig = plt.figure(figsize=(6.5, 6.5))
    ax = fig.add_subplot(projection="polar")
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)          # azimuth clockwise from north, as on a sky chart
    ax.set_rlim(0, 90)
    ax.set_rticks([0, 30, 60, 80])
    ax.set_yticklabels(["90", "60", "30", "10"])
    for name, az, el in tracks:
        ax.plot(np.radians(az), 90 - el, lw=1.5, label=name)
        ax.plot(np.radians(az[-1]), 90 - el[-1], "o", ms=3, color=ax.lines[-1].get_color())
    ax.set_title(f"Visible passes, night of {args.date}\n{args.lat:.2f}, {args.lon:.2f}")
    if tracks:
        ax.legend(loc="lower left", bbox_to_anchor=(-0.1, -0.1), fontsize=8)
    fig.savefig(out, dpi=110, bbox_inches="tight")
    print(f"sky plot: {out}")


if __name__ == "__main__":
    main()
