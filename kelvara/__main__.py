"""python -m kelvara: a short tour of every module on built-in inputs."""

import numpy as np


def records() -> None:
    from kelvara.datamodel import LLA_dtype

    points = np.zeros(2, dtype=LLA_dtype)
    points["lat"] = np.radians([48.8584, -33.8568])
    points["lon"] = np.radians([2.2945, 151.2153])
    print("LLA records (lat, lon in rad; alt in m):", points.tolist())


def tle_and_satellite() -> None:
    from kelvara.propagators.analytical.sgp4.tle import TLE
    from kelvara.satellite.satellite import Satellite

    iss = TLE("1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
              "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537")
    print("TLE satno:", iss.satno, " epoch (JD, UTC):", iss.epoch.jd)
    sat = Satellite()
    sat.time = "2024-03-20T03:06:00"
    print("Satellite time (JD, UTC):", sat.time.jd)


def main() -> None:
    np.set_printoptions(precision=6, suppress=True)
    for section in (records, tle_and_satellite):
        print(f"-- {section.__name__}")
        section()


if __name__ == "__main__":
    main()
