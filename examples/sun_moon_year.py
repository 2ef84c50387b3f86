"""The Moon's distance and the Sun's declination over a year, one epoch a day, drawn as a PNG.

    .venv/bin/python examples/sun_moon_year.py                  # examples/out/sun_moon_2024.png
    .venv/bin/python examples/sun_moon_year.py plot.png --year 2025

The plot needs matplotlib (`pip install matplotlib`, or the package's `plot` extra); without it
the script prints the summary and says that no picture was drawn.
"""

import argparse
import pathlib
import sys

import numpy as np

from kelvara.bodies.bodies import Moon, Sun
from kelvara.time.time import Time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from _plotting import pyplot, save_dated  # noqa: E402  (beside this script)

AU = 149597870700.0   # metres


def compute(year: int) -> tuple[Time, np.ndarray, np.ndarray]:
    """Daily epochs at 00:00 UTC, the Moon's distance (km) and the Sun's GCRF declination (deg)."""
    days = np.arange(f"{year}-01-01", f"{year + 1}-01-01", dtype="datetime64[D]")
    t = Time(days)                                     # one Time holding every epoch
    moon_km = np.linalg.norm(Moon(t).r_GCRF, axis=1) / 1e3
    sun_dec = np.degrees(np.arcsin(Sun(t).ur_GCRF[:, 2]))
    return t, moon_km, sun_dec


def summary(t: Time, moon_km: np.ndarray, sun_dec: np.ndarray) -> list[str]:
    day = lambda i: str(t[int(i)].iso)[:10]  # noqa: E731 - the date part of epoch i
    return [
        f"epochs: {t.size} days from {day(0)} to {day(t.size - 1)}",
        f"Moon distance: {moon_km.min():,.0f} km ({day(np.argmin(moon_km))}) to "
        f"{moon_km.max():,.0f} km ({day(np.argmax(moon_km))}), mean {moon_km.mean():,.0f} km",
        f"Sun declination: {sun_dec.min():+.2f} deg ({day(np.argmin(sun_dec))}) to "
        f"{sun_dec.max():+.2f} deg ({day(np.argmax(sun_dec))})",
    ]


def plot(plt, t: Time, moon_km: np.ndarray, sun_dec: np.ndarray, path: pathlib.Path, year: int) -> None:
    dates = t.datetime64
    fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(9, 6), constrained_layout=True)
    top.plot(dates, moon_km / 1e3, color="tab:gray")
    top.set_ylabel("Moon distance (1000 km)")
    top.set_title(f"Moon and Sun seen from the Earth's centre, {year} (daily, 00:00 UTC)")
    bottom.plot(dates, sun_dec, color="tab:orange")
    bottom.axhline(0.0, color="black", linewidth=0.5)
    bottom.set_ylabel("Sun declination, GCRF (deg)")
    for axes in (top, bottom):
        axes.grid(True, alpha=0.3)
    save_dated(plt, fig, path)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", type=pathlib.Path,
                        help="PNG file to write (default: examples/out/sun_moon_<year>.png)")
    parser.add_argument("--year", type=int, default=2024)
    args = parser.parse_args()
    output = args.output or pathlib.Path(__file__).parent / "out" / f"sun_moon_{args.year}.png"

    t, moon_km, sun_dec = compute(args.year)
    for line in summary(t, moon_km, sun_dec):
        print(line)

    plt = pyplot()
    if plt is None:
        return
    plot(plt, t, moon_km, sun_dec, output, args.year)
    print(f"plot written to {output}")


if __name__ == "__main__":
    main()
