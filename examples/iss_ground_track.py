"""The ground track of the International Space Station over one day, drawn as a PNG.

    .venv/bin/python examples/iss_ground_track.py                  # writes iss_ground_track.png
    .venv/bin/python examples/iss_ground_track.py track.png        # another file name
    .venv/bin/python examples/iss_ground_track.py --minutes 300    # a shorter span

SGP4 gives positions in TEME, the frame of the true equator and the mean equinox of date. The
Earth-fixed frame is TEME turned about the z axis by the Greenwich mean sidereal angle (GMST,
IAU 1982), taken here with UT1 = UTC and without polar motion: that leaves the track off by a
few hundred metres on the ground (UT1 - UTC is below 0.9 s; the pole wanders by about 10 m),
far below the line width. kelvara's Ellipsoid then turns Earth-fixed positions into latitude,
longitude and height on WGS84.

The plot needs matplotlib (the `plot` extra); without it the table is still printed.
"""

import argparse
import pathlib

import numpy as np

from kelvara.mathtools.ellipsoid.ellipsoid import create
from kelvara.propagators.analytical.sgp4.sgp4 import Elements

ISS = ("1 25544U 98067A   19343.69339541  .00001764  00000-0  38792-4 0  9991",
       "2 25544  51.6439 211.2001 0007417  17.6667  85.6398 15.50103472202482")


def gmst82(jd1, jd2):
    """Greenwich mean sidereal angle (IAU 1982) of the UT1 Julian date jd1 + jd2, rad."""
    t = ((jd1 - 2451545.0) + jd2) / 36525.0
    # seconds of sidereal time: 24110.54841 s at J2000, plus the day fraction turned at the
    # sidereal rate (the 8640184.812866 s per century are folded into the 86400 s per day)
    frac = np.mod(jd1, 1.0) + np.mod(jd2, 1.0)
    seconds = 24110.54841 - 43200.0 + (8640184.812866 + (0.093104 - 6.2e-6 * t) * t) * t + 86400.0 * frac
    return np.mod(seconds * (2 * np.pi / 86400.0), 2 * np.pi)


def teme_to_earth_fixed(r, angle):
    """Rotate TEME positions (N, 3) about z by the sidereal angle into the Earth-fixed frame."""
    c, s = np.cos(angle), np.sin(angle)
    return np.stack([c * r[:, 0] + s * r[:, 1], -s * r[:, 0] + c * r[:, 1], r[:, 2]], axis=1)


def ground_track(minutes):
    elements = Elements(*ISS)
    r, _, error = elements.propagate(minutes=minutes)
    jd1, jd2 = elements.epoch.jd12[0]
    angle = gmst82(jd1, jd2 + minutes / 1440.0)
    lla = create("wgs84").lla_from_pos(teme_to_earth_fixed(r, angle))
    return elements, np.degrees(lla["lat"]), np.degrees(lla["lon"]), lla["alt"], error


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("png", nargs="?", default="iss_ground_track.png")
    parser.add_argument("--minutes", type=float, default=1440.0, help="span after the epoch (default one day)")
    args = parser.parse_args()

    minutes = np.arange(0.0, args.minutes + 0.5, 1.0)
    elements, lat, lon, alt, error = ground_track(minutes)
    print(f"ISS (catalogue {elements.satnum}), elements of {elements.epoch.iso} UTC, "
          f"period {elements.period / 60:.2f} min")
    print(f"{'minutes':>8} {'lat deg':>9} {'lon deg':>10} {'height km':>10}")
    for k in range(0, len(minutes), 120):
        print(f"{minutes[k]:8.0f} {lat[k]:9.3f} {lon[k]:10.3f} {alt[k] / 1000:10.3f}")
    print(f"latitude range {lat.min():.2f} .. {lat.max():.2f} deg; height {alt.min() / 1000:.1f} .. "
          f"{alt.max() / 1000:.1f} km; {int((error != 0).sum())} points with an error code")

    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no plot drawn")
        return
    # break the line where the longitude wraps from +180 to -180
    jumps = np.flatnonzero(np.abs(np.diff(lon)) > 180) + 1
    fig, ax = plt.subplots(figsize=(10, 5))
    for part_lon, part_lat in zip(np.split(lon, jumps), np.split(lat, jumps)):
        ax.plot(part_lon, part_lat, color="tab:blue", lw=1)
    ax.plot(lon[0], lat[0], "o", color="tab:red", label="epoch")
    ax.set(xlim=(-180, 180), ylim=(-90, 90), xlabel="longitude (deg)", ylabel="latitude (deg)",
           title=f"ISS ground track, {args.minutes:g} min from {elements.epoch.iso[:16]} UTC (SGP4, GMST rotation)")
    ax.set_xticks(range(-180, 181, 30))
    ax.set_yticks(range(-90, 91, 30))
    ax.grid(alpha=0.3)
    ax.legend(loc="lower left")
    target = pathlib.Path(args.png)
    target.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(target, dpi=100, bbox_inches="tight")
    print(f"plot written to {target}")


if __name__ == "__main__":
    main()
