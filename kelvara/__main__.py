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
    now = sat.time
    assert now is not None
    print("Satellite time (JD, UTC):", now.jd)


def sun_and_moon() -> None:
    from kelvara.bodies.bodies import Moon, Sun
    from kelvara.time.time import Time

    t = Time(["2024-03-20T03:06:00", "2024-06-20T20:51:00"])  # equinox and solstice
    sun, moon = Sun(t), Moon(t)
    dec = np.degrees(np.arcsin(sun.ur_GCRF[:, 2]))  # on the J2000-aligned equator: precession shows
    print("Sun GCRF declination (deg) at equinox, solstice:", dec)
    print("Sun distance (au):", np.linalg.norm(sun.r_GCRF, axis=1) / 149597870700.0)
    print("Moon distance (km), speed (m/s):", np.linalg.norm(moon.r_GCRF, axis=1) / 1e3,
          np.linalg.norm(moon.v_GCRF, axis=1))


def time_scales() -> None:
    from kelvara.time.time import Time

    t = Time(["2016-12-31T23:59:59", "2016-12-31T23:59:60", "2017-01-01T00:00:00"])  # a leap second
    print("UTC:", t.iso)
    print("TT: ", t.tt.iso)
    tdb, tt = t.tdb.jd12, t.tt.jd12
    print("elapsed (s):", t - t[0], " TDB - TT (ms):", ((tdb[:, 0] - tt[:, 0]) + (tdb[:, 1] - tt[:, 1])) * 86400e3)


def ellipsoids() -> None:
    from kelvara.mathtools.ellipsoid.ellipsoid import create

    wgs84 = create("WGS84")
    paris = wgs84.pos_from_lla(np.radians(48.8584), np.radians(2.2945), 330.0)  # top of the Eiffel Tower
    print("ECEF of the Eiffel Tower top (m):", paris)
    lla = wgs84.lla_from_pos(paris)[0]
    print("back to lat, lon (deg), alt (m):", np.degrees(lla["lat"]), np.degrees(lla["lon"]), lla["alt"])
    geo = wgs84.pos_from_lla(0.0, np.radians(2.0), 35786e3)  # a geostationary satellite
    aer = wgs84.aer_coords(geo, np.radians(48.8584), np.radians(2.2945), 330.0)[0]
    print("seen from there: azimuth, elevation (deg), range (km):", np.degrees(aer["azimuth"]),
          np.degrees(aer["elevation"]), aer["range"] / 1e3)


def earth_orientation() -> None:
    from kelvara.time import iers
    from kelvara.time.time import Time

    t = Time("2024-03-20T03:06:00")
    print("leap-second table expires:", iers.leap_seconds_expire())
    print("UT1:", t.ut1.iso, " (dut1 s, xp rad, yp rad):", iers.eop(t))


def iss_from_paris() -> None:
    from kelvara.events import find_passes
    from kelvara.frames import aer
    from kelvara.propagators.analytical.sgp4.sgp4 import Elements

    iss = Elements("1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
                   "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537")
    r, v, code = iss.propagate("2008-09-20T14:00:00")
    print("ISS in TEME (km):", r / 1e3, " error code:", code)
    az, el, srange = aer(r, "2008-09-20T14:00:00", "teme", 48.8566, 2.3522, 35.0)
    print("seen from Paris: azimuth, elevation (deg), range (km):", az, el, srange / 1e3)
    passes = find_passes(iss, 48.8566, 2.3522, 35.0, "2008-09-20T12:00:00", "2008-09-21T12:00:00",
                         min_elevation=10.0)
    for p in passes:
        print("  pass above 10 deg: rise", p["rise"], " culmination", p["culmination"],
              f"at {p['culmination_el']:.1f} deg,  set", p["set"])


def sun_over_paris() -> None:
    from kelvara.events import find_rise_set
    from kelvara.frames import sun_aer

    az, el, _ = sun_aer("2024-06-21T12:00:00", 48.8566, 2.3522, 35.0)
    print(f"Sun over Paris at 2024-06-21 12:00 UTC: azimuth {az:.2f} deg, elevation {el:.2f} deg")
    for e in find_rise_set("sun", 48.8566, 2.3522, 35.0, "2024-06-21", "2024-06-22"):
        print(f"  {e['kind']:8s} {e['time']}  azimuth {e['azimuth']:7.2f}  elevation {e['elevation']:6.2f}")


def geodesy_ufuncs() -> None:
    from kelvara import geodesy
    from kelvara.geodesy.ufuncs import simd_level

    lat, lon, alt = geodesy.ecef2geodetic(4201152.758655, 168331.794517, 4780461.560653)   # degrees
    print(f"ecef2geodetic (deg, deg, m): {lat:.6f} {lon:.6f} {alt:.3f}  (vector level: {simd_level()})")
    points = np.random.default_rng(1).normal(size=(1_000_000, 3)) * 7e6
    lat, lon, alt = geodesy.ecef2geodetic(points[:, 0], points[:, 1], points[:, 2])
    az, el, srange = geodesy.ecef2aer(points[:, 0], points[:, 1], points[:, 2], 48.8584, 2.2945, 330.0)
    print("a million points to latitudes and to azimuths seen from Paris:", lat.shape, az.min() >= 0, az.max() < 360)


def main() -> None:
    np.set_printoptions(precision=6, suppress=True)
    for section in (records, time_scales, earth_orientation, tle_and_satellite, sun_and_moon, ellipsoids,
                    geodesy_ufuncs, iss_from_paris, sun_over_paris):
        print(f"-- {section.__name__}")
        section()


if __name__ == "__main__":
    main()
