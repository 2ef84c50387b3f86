"""python -m kelvara: a short tour of every module on built-in inputs."""

import numpy as np


def records() -> None:
    from kelvara.datamodel import LLA_dtype

    points = np.zeros(2, dtype=LLA_dtype)
    points["lat"] = np.radians([48.8584, -33.8568])
    points["lon"] = np.radians([2.2945, 151.2153])
    print("LLA records (lat, lon in rad; alt in m):", points.tolist())


def main() -> None:
    np.set_printoptions(precision=6, suppress=True)
    for section in (records,):
        print(f"-- {section.__name__}")
        section()


if __name__ == "__main__":
    main()
