"""The scripts in examples/ run as a user would run them, and what they print is right.

Each script runs in a fresh interpreter from a scratch directory; the printed tables are read
back and checked against independent references (pymap3d, sgp4) or physical bounds.
"""

import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"


def run(script: str, *args: str, cwd: pathlib.Path, block_matplotlib: bool = False) -> str:
    """Run examples/<script> with `args`; assert success and return its standard output."""
    path = str(EXAMPLES / script)
    if block_matplotlib:
        # an interpreter in which `import matplotlib` fails, as on a machine without it
        code = ("import runpy, sys; sys.modules['matplotlib'] = None; "
                f"sys.argv = {[path, *args]!r}; runpy.run_path({path!r}, run_name='__main__')")
        command = [sys.executable, "-c", code]
    else:
        command = [sys.executable, path, *args]
    env = dict(os.environ, PYTHONPATH=str(ROOT))
    proc = subprocess.run(command, capture_output=True, text=True, cwd=cwd, env=env, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert "Warning" not in proc.stderr, proc.stderr          # no warnings either
    return proc.stdout


def load(script: str):
    """The example as a module, for its built-in data."""
    spec = importlib.util.spec_from_file_location(script.removesuffix(".py"), EXAMPLES / script)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def gps_output(tmp_path_factory):
    return run("gps_track.py", cwd=tmp_path_factory.mktemp("gps"))


class TestGpsTrack:
    def test_round_trip_error_is_sub_micrometre(self, gps_output):
        match = re.search(r"round-trip error: position (\S+) m, latitude (\S+) deg, height (\S+) m",
                          gps_output)
        assert match, gps_output
        position, latitude, height = map(float, match.groups())
        assert position < 1e-6 and height < 1e-6 and latitude < 1e-11

    def test_table_matches_pymap3d(self, gps_output):
        pymap3d = pytest.importorskip("pymap3d")
        example = load("gps_track.py")
        rows = [line.split() for line in gps_output.splitlines() if re.match(r"\d\d:\d\d:\d\d ", line)]
        assert len(rows) == len(example.TRACK)
        for row, (time, lat, lon, alt) in zip(rows, example.TRACK):
            assert row[0] == time
            east, north, up = pymap3d.geodetic2enu(lat, lon, alt, *example.STATION)
            az, el, srange = pymap3d.geodetic2aer(lat, lon, alt, *example.STATION)
            printed = [float(row[i]) for i in (5, 6, 7, 9, 10, 11)]
            # the table rounds to whole metres and tenths of a degree
            np.testing.assert_allclose(printed[:3], [east, north, up], atol=0.51)
            np.testing.assert_allclose(printed[3:5], [az, el], atol=0.051)
            assert abs(printed[5] - srange) <= 0.51


class TestSunMoonYear:
    def summary_checks(self, output: str, days: int):
        assert f"epochs: {days} days" in output
        moon = re.search(r"Moon distance: ([\d,]+) km \(\S+\) to ([\d,]+) km", output)
        sun = re.search(r"Sun declination: (\S+) deg \(\S+\) to (\S+) deg \((\d{4}-\d\d-\d\d)\)", output)
        assert moon and sun, output
        nearest, farthest = (float(x.replace(",", "")) for x in moon.groups())
        assert 356_000 < nearest < 370_000 and 404_000 < farthest < 407_000
        assert -23.45 < float(sun.group(1)) < -23.40 and 23.40 < float(sun.group(2)) < 23.45
        assert sun.group(3)[5:7] == "06"               # the June solstice

    def test_without_matplotlib_prints_summary(self, tmp_path):
        output = run("sun_moon_year.py", str(tmp_path / "plot.png"), cwd=tmp_path, block_matplotlib=True)
        self.summary_checks(output, 366)
        assert "matplotlib is not installed: no plot drawn" in output
        assert not (tmp_path / "plot.png").exists()

    def test_writes_png(self, tmp_path):
        pytest.importorskip("matplotlib")
        target = tmp_path / "sub" / "sun_moon.png"
        output = run("sun_moon_year.py", str(target), "--year", "2023", cwd=tmp_path)
        self.summary_checks(output, 365)
        assert f"plot written to {target}" in output
        assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


class TestSkyParisWeek:
    def test_noon_sun_and_png(self, tmp_path):
        # the highest Sun of each day against 90 - latitude + its declination of date at that
        # moment (ERFA's precession-nutation matrix); the table's rounding (0.005 deg), the
        # 5-minute sampling (0.004) and the parallax (0.001) stay below 0.015 deg
        import erfa

        from kelvara.bodies.bodies import Sun
        from kelvara.time.time import Time

        target = tmp_path / "sky.png"
        output = run("sky_paris_week.py", str(target), "--start", "2025-06-16", "--days", "3", cwd=tmp_path)
        rows = [line.split() for line in output.splitlines() if re.match(r"\d{4}-\d\d-\d\d ", line)]
        assert [row[0] for row in rows] == ["2025-06-16", "2025-06-17", "2025-06-18"]
        for date, sun_max, at, moon_max, _ in rows:
            t = Time(f"{date}T{at}:00")
            u = erfa.pnm06a(*t.tt.jd12[0]) @ Sun(t).ur_GCRF[0]
            dec = np.degrees(np.arcsin(u[2]))
            assert abs(float(sun_max) - (90 - 48.8566 + dec)) < 0.015
            assert at[:2] == "11"                      # Paris culminates near 11:50 UTC
            assert -90 <= float(moon_max) <= 90
        if importlib.util.find_spec("matplotlib"):
            assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


class TestTleBatch:
    def rows(self, output: str) -> dict[str, list[str]]:
        """Table rows by their columns 3-7 field."""
        lines = output.splitlines()
        assert lines[0].split()[:3] == ["name", "cols", "3-7"]
        return {m.group(1): m.group(2).split() for line in lines[1:]
                if (m := re.match(r".{18} (\S{5})\s+(.*)", line))}

    def test_builtin_batch(self, tmp_path):
        output = run("tle_batch.py", cwd=tmp_path)
        rows = self.rows(output)
        assert rows.keys() == {"25544", "34454", "00005", "E0427"}
        assert rows["00005"][:2] == ["5", "catalog"]          # Vanguard 1: leading zeros dropped
        assert rows["E0427"][:2] == ["E0427", "alpha-5"]      # Alpha-5: the text as written
        assert all(row[-1] == "ok" for row in rows.values())
        # sorted by epoch, oldest first
        epochs = [line.split()[-3] for line in output.splitlines()[1:]]
        assert epochs == sorted(epochs) and len(epochs) == 4

    def test_epochs_agree_with_sgp4(self, tmp_path):
        api = pytest.importorskip("sgp4.api")
        from kelvara.time.time import Time

        example = load("tle_batch.py")
        rows = self.rows(run("tle_batch.py", cwd=tmp_path))
        for _, line1, line2 in example.read_entries(example.ELEMENTS):
            satrec = api.Satrec.twoline2rv(line1, line2)
            reference = Time.from_jd12([satrec.jdsatepoch, satrec.jdsatepochF])
            printed = Time(rows[line1[2:7]][2])
            assert abs(float(printed - reference)) < 1e-4    # one-double Julian dates: ~40 µs

    def test_file_argument_and_bad_checksum(self, tmp_path):
        example = load("tle_batch.py")
        _, line1, line2 = example.read_entries(example.ELEMENTS)[2]
        damaged = line1[:68] + str((int(line1[68]) + 1) % 10)
        (tmp_path / "elements.txt").write_text(f"{damaged}\n{line2}\n", encoding="ascii")
        rows = self.rows(run("tle_batch.py", "elements.txt", cwd=tmp_path))
        assert list(rows) == ["00005"] and rows["00005"][-1] == "BAD"


class TestIssGroundTrack:
    def rows(self, output: str) -> np.ndarray:
        return np.array([[float(x) for x in line.split()] for line in output.splitlines()
                         if re.match(r"\s+\d+\s+-?\d", line)])

    def test_track_against_an_independent_chain(self, tmp_path):
        # sgp4 -> ERFA's GMST82 -> rotation about z -> pymap3d's geodetic latitude and height
        api = pytest.importorskip("sgp4.api")
        erfa = pytest.importorskip("erfa")
        pymap3d = pytest.importorskip("pymap3d")
        output = run("iss_ground_track.py", str(tmp_path / "track.png"), "--minutes", "360",
                     cwd=tmp_path, block_matplotlib=True)
        assert "matplotlib is not installed: no plot drawn" in output
        rows = self.rows(output)
        assert rows[:, 0].tolist() == [0.0, 120.0, 240.0, 360.0]
        example = load("iss_ground_track.py")
        sat = api.Satrec.twoline2rv(*example.ISS)
        for minutes, lat, lon, height in rows:
            _, r, _ = sat.sgp4_tsince(minutes)
            angle = erfa.gmst82(sat.jdsatepoch, sat.jdsatepochF + minutes / 1440.0)
            c, s = np.cos(angle), np.sin(angle)
            x, y, z = (c * r[0] + s * r[1]) * 1000, (-s * r[0] + c * r[1]) * 1000, r[2] * 1000
            ref = pymap3d.ecef2geodetic(x, y, z)
            assert (lat, lon, height) == pytest.approx(ref[:2] + (ref[2] / 1000,), abs=2e-3)

    def test_writes_png(self, tmp_path):
        pytest.importorskip("matplotlib")
        target = tmp_path / "iss.png"
        output = run("iss_ground_track.py", str(target), cwd=tmp_path)
        assert f"plot written to {target}" in output and "0 points with an error code" in output
        assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


class TestVisiblePasses:
    def test_passes_are_dark_sky_sunlit_and_drawn(self, tmp_path):
        sky = pytest.importorskip("skyfield.api")
        skyfield_data = pytest.importorskip("skyfield_data")
        out = run("visible_passes.py", "sky.png", "--date", "2026-12-08", cwd=tmp_path)
        png = tmp_path / "sky.png"
        assert (png.is_file() and png.stat().st_size > 10000) or "matplotlib is not installed: no picture drawn" in out
        example = load("visible_passes.py")
        rows = [line.split() for line in out.splitlines() if re.match(r"\S+ +\d\d:\d\d:\d\d ", line)]
        assert int(re.search(r"visible passes above 10 deg: (\d+)", out).group(1)) == len(rows) > 0
        import warnings
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            ts = sky.load.timescale()
            eph = sky.Loader(skyfield_data.get_skyfield_data_path())("de421.bsp")
        paris = sky.wgs84.latlon(48.8566, 2.3522, 35.0)
        for name, _, _, culm, el, *_ in rows:
            day = "2026-12-08" if culm > "12" else "2026-12-09"
            h, m, s = map(int, culm.split(":"))
            t = ts.utc(int(day[:4]), int(day[5:7]), int(day[8:]), h, m, s)
            sat = sky.EarthSatellite(*example.BUILT_IN[name], name, ts)
            alt, _, _ = (sat - paris).at(t).altaz()
            assert abs(alt.degrees - float(el)) < 0.5   # the time is printed to the second
            assert sat.at(t).is_sunlit(eph)
            sun_alt, _, _ = (eph["earth"] + paris).at(t).observe(eph["sun"]).apparent().altaz()
            assert sun_alt.degrees < -6.0


class TestGeodesyAccuracy:
    def test_quick_plot_and_table(self, tmp_path):
        pytest.importorskip("matplotlib")
        pytest.importorskip("mpmath")
        target = tmp_path / "geodesy.png"
        output = run("geodesy_accuracy.py", str(target), "--quick", cwd=tmp_path)
        rows = {line[:24].strip(): line[24:].split() for line in output.splitlines()[1:] if "ulp" in line}
        assert {"kelvara.geodesy", "Ellipsoid.lla_from_pos"} <= rows.keys()
        assert float(rows["kelvara.geodesy"][0]) <= 3            # max error, ulp of |r|
        assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


class TestGeodesicParisNewYork:
    def test_summary_against_pyproj_and_png(self, tmp_path):
        pyproj = pytest.importorskip("pyproj")
        target = tmp_path / "pny.png"
        output = run("geodesic_paris_new_york.py", str(target), cwd=tmp_path)
        az1, az2, dist = pyproj.Geod(ellps="WGS84").inv(2.3522, 48.8566, -74.0060, 40.7128)
        assert f"geodesic distance: {dist / 1e3:,.3f} km" in output, output
        assert f"initial azimuth: {az1 % 360:.4f} deg, final azimuth: {(az2 + 180) % 360:.4f} deg" in output
        chord = re.search(r"chord \(straight through the Earth\): ([\d,.]+) km, ([\d.]+) km shorter", output)
        assert chord and 200 < float(chord.group(2)) < 205, output
        if "no plot drawn" not in output:
            assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    def test_without_matplotlib(self, tmp_path):
        output = run("geodesic_paris_new_york.py", str(tmp_path / "p.png"), cwd=tmp_path, block_matplotlib=True)
        assert "matplotlib is not installed: no plot drawn" in output and "geodesic distance" in output
