"""The Sun's and the Moon's elevation over Paris for a week, every 5 minutes, drawn as a PNG.

    .venv/bin/python examples/sky_paris_week.py                   # examples/out/sky_paris_2024-03-18.png
    .venv/bin/python examples/sky_paris_week.py plot.png --start 2025-06-16 --days 3

Each elevation is one call: `sun_aer` / `moon_aer` from kelvara.frames, with the Earth
orientation (UT1, polar motion) of the IERS data kelvara loads. The plot needs matplotlib
(`pip install matplotlib`, or the package's `plot` extra); without it the script prints the
table and says that no picture was drawn.
"""

import argparse
import pathlib
import sys

import numpy as np

from kelvara.frames import moon_aer, sun_aer
from kelvara.time.time import Time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from _plotting import pyplot, save_dated  # noqa: E402  (beside this script)

PARIS = (48.8566, 2.3522, 35.0)   # latitude, longitude (deg), height above WGS 84 (m)
STEP = 300.0                      # seconds


def compute(start: str, days: int) -> tuple[Time, np.ndarray, np.ndarray]:
    """Epochs every 5 minutes from `start` 00:00 UTC, and the Sun's and the Moon's elevation (deg)."""
    t = Time(start) + np.arange(0.0, days * 86400.0, STEP)
    _, sun_el, _ = sun_aer(t, *PARIS)
    _, moon_el, _ = moon_aer(t, *PARIS)
    return t, sun_el, moon_el


def table(t: Time, sun_el: np.ndarray, moon_el: np.ndarray, days: int) -> list[str]:
    """One line a day: the highest Sun and Moon within that UTC day, and when."""
    per_day = int(86400 / STEP)
    lines = ["date        Sun max (deg)  at     Moon max (deg)  at"]
    for d in range(days):
        day = slice(d * per_day, (d + 1) * per_day)
        i, j = np.argmax(sun_el[day]) + d * per_day, np.argmax(moon_el[day]) + d * per_day
        lines.append(f"{str(t[int(i)].iso)[:10]}  {sun_el[i]:13.2f}  {str(t[int(i)].iso)[11:16]}"
                     f"  {moon_el[j]:14.2f}  {str(t[int(j)].iso)[11:16]}")
    return lines


def plot(plt, t: Time, sun_el: np.ndarray, moon_el: np.ndarray, path: pathlib.Path) -> None:
    dates = t.datetime64
    fig, axes = plt.subplots(figsize=(10, 4.5), constrained_layout=True)
    axes.plot(dates, sun_el, color="tab:orange", label="Sun")
    axes.plot(dates, moon_el, color="tab:gray", label="Moon")
    axes.axhline(0.0, color="black", linewidth=0.6)
    axes.axhline(-18.0, color="tab:blue", linewidth=0.5, linestyle=":", label="astronomical twilight")
    axes.set_ylabel("elevation (deg), no refraction")
    axes.set_title(f"Sun and Moon over Paris, {str(t[0].iso)[:10]} (UTC, every 5 minutes)")
    axes.grid(True, alpha=0.3)
    axes.set_ylim(-90, 90)
    axes.legend(loc="upper right", ncols=3)
    save_dated(plt, fig, path)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", type=pathlib.Path,
                        help="PNG file to write (default: examples/out/sky_paris_<start>.png)")
    parser.add_argument("--start", default="2024-03-18", help="first day, YYYY-MM-DD (UTC)")
    parser.add_argument("--days", type=int, default=7)
    args = parser.parse_args()
    output = args.output or pathlib.Path(__file__).parent / "out" / f"sky_paris_{args.start}.png"

    t, sun_el, moon_el = compute(args.start, args.days)
    for line in table(t, sun_el, moon_el, args.days):
        print(line)

    plt = pyplot()
    if plt is None:
        return
    plot(plt, t, sun_el, moon_el, output)
    print(f"plot written to {output}")


if __name__ == "__main__":
    main()
