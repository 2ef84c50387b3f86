"""A GPS track seen from a ground station: geodetic -> ECEF -> geodetic, ENU offsets, az/el/range.

The track is a light aircraft climbing out of Lelystad airfield (the Netherlands), logged by a
GPS receiver as WGS 84 latitude, longitude (degrees) and ellipsoidal height (metres). The ground
station is the receiver's antenna by the runway.

    .venv/bin/python examples/gps_track.py
"""

import numpy as np

from kelvara.mathtools.ellipsoid.ellipsoid import create

# time (UTC), latitude (deg), longitude (deg), height above the WGS 84 ellipsoid (m)
TRACK = [
    ("10:00:00", 52.45920, 5.51850, 46.0),
    ("10:00:30", 52.46210, 5.52580, 48.0),
    ("10:01:00", 52.46630, 5.53660, 160.0),
    ("10:01:30", 52.47180, 5.55020, 320.0),
    ("10:02:00", 52.47900, 5.56540, 470.0),
    ("10:02:30", 52.48870, 5.57910, 610.0),
    ("10:03:00", 52.50030, 5.58790, 740.0),
    ("10:03:30", 52.51290, 5.59020, 860.0),
    ("10:04:00", 52.52530, 5.58480, 960.0),
    ("10:04:30", 52.53610, 5.57250, 1040.0),
]
STATION = (52.45750, 5.52070, 44.0)   # latitude (deg), longitude (deg), height (m)


def main() -> None:
    wgs84 = create("wgs84")

    times = [row[0] for row in TRACK]
    lat = np.radians([row[1] for row in TRACK])
    lon = np.radians([row[2] for row in TRACK])
    alt = np.array([row[3] for row in TRACK])

    # geodetic -> ECEF for the whole track at once, then back
    r = wgs84.pos_from_lla(lat, lon, alt)                 # (N, 3) metres
    back = wgs84.lla_from_pos(r)                          # LLA_dtype records
    r_again = wgs84.pos_from_lla(back["lat"], back["lon"], back["alt"])

    # east/north/up offsets: project the ECEF offsets on the station's local unit vectors
    st_lat, st_lon, st_alt = np.radians(STATION[0]), np.radians(STATION[1]), STATION[2]
    r_station = wgs84.pos_from_lla(st_lat, st_lon, st_alt)
    frame = wgs84.enu(st_lat, st_lon)[0]
    axes = np.stack([frame["u_east"], frame["u_north"], frame["u_up"]])
    enu = (r - r_station) @ axes.T                        # (N, 3): east, north, up

    # azimuth (clockwise from north), elevation and slant range from the station
    aer = wgs84.aer_coords(r, st_lat, st_lon, st_alt)
    azimuth = np.degrees(aer["azimuth"]) % 360.0          # kelvara gives -180..180
    elevation = np.degrees(aer["elevation"])

    print(f"station {STATION[0]:.5f} N {STATION[1]:.5f} E {STATION[2]:.0f} m (WGS 84)")
    print(f"{'time':>8} {'lat':>9} {'lon':>8} {'alt':>6} | {'east':>7} {'north':>7} {'up':>6} |"
          f" {'az':>6} {'el':>5} {'range':>7}")
    print(f"{'UTC':>8} {'deg':>9} {'deg':>8} {'m':>6} | {'m':>7} {'m':>7} {'m':>6} |"
          f" {'deg':>6} {'deg':>5} {'m':>7}")
    for i, time in enumerate(times):
        print(f"{time:>8} {np.degrees(lat[i]):9.5f} {np.degrees(lon[i]):8.5f} {alt[i]:6.0f} |"
              f" {enu[i, 0]:7.0f} {enu[i, 1]:7.0f} {enu[i, 2]:6.0f} |"
              f" {azimuth[i]:6.1f} {elevation[i]:5.1f} {aer['range'][i]:7.0f}")

    # the slant range is the length of the ENU offset: a check that the two views agree
    assert np.allclose(np.linalg.norm(enu, axis=1), aer["range"], rtol=0.0, atol=1e-6)

    position_error = np.linalg.norm(r_again - r, axis=1).max()
    lat_error = np.degrees(np.abs(back["lat"] - lat).max())
    alt_error = np.abs(back["alt"] - alt).max()
    print(f"round-trip error: position {position_error:.2e} m, latitude {lat_error:.2e} deg,"
          f" height {alt_error:.2e} m")


if __name__ == "__main__":
    main()
