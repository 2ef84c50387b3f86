"""kelvara.time.iers: our own leap-second table and Earth orientation data, UT1, scale round
trips, .unix and ISO offsets, against pyerfa and astropy on the same IERS files."""

import os
import signal
import threading
import time
import warnings

import astropy_iers_data
import erfa
import numpy as np
import pytest

from kelvara.time import iers
from kelvara.time.time import EopRangeWarning, ErfaDubiousYearWarning, Time

from conftest import run_python
from timefakes import fake_clock_program

LEAP_FILE = astropy_iers_data.IERS_LEAP_SECOND_FILE
FINALS = astropy_iers_data.IERS_A_FILE
C04 = astropy_iers_data.IERS_B_FILE
DEFAULT_EOP = [C04, FINALS]  # what kelvara reads by default


def text_of(path):
    with open(path) as f:
        return f.read()


def pairs(jd1, jd2):
    return np.stack([jd1, jd2], axis=1)


def random_jd(n, seed, lo=1960, hi=2027):
    rng = np.random.default_rng(seed)
    a, b = (erfa.cal2jd(y, 1, 1) for y in (lo, hi))
    return np.floor(rng.uniform(a[0] + a[1], b[0] + b[1], n)) + 0.5, rng.uniform(0.0, 1.0, n)


@pytest.fixture
def restore_tables():
    """Tests that load files put the default ones back."""
    yield
    iers.load_leap_seconds(LEAP_FILE)
    iers.load_eop(DEFAULT_EOP)


def leap_file(tmp_path, extra_rows="", expiry="28 June 2027", name="Leap_Second.dat"):
    text = text_of(LEAP_FILE).replace("28 June 2027", expiry) + extra_rows
    path = tmp_path / name
    path.write_text(text)
    return path


class TestLeapSeconds:
    def test_utc_tai_bit_identical_to_pyerfa_1960_2026(self):
        jd1, jd2 = random_jd(100000, 1)
        # and the last second before every step, where the day is longer or shorter
        steps = [erfa.cal2jd(y, m, 1) for y, m, _ in erfa.leap_seconds.get()[1:]]
        edge = np.array([a + b - 1.0 for a, b in steps])
        jd1 = np.concatenate([jd1, edge, edge])
        jd2 = np.concatenate([jd2, np.full(edge.size, 0.99999), np.full(edge.size, 0.9999999999)])
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", ErfaDubiousYearWarning)
            tai = Time.from_jd12(pairs(jd1, jd2)).tai.jd12
            back = Time.from_jd12(tai, "tai").utc.jd12
        assert np.array_equal(tai, pairs(*erfa.utctai(jd1, jd2)))
        assert np.array_equal(back, pairs(*erfa.taiutc(tai[:, 0], tai[:, 1])))

    def test_present_day_epochs_do_not_warn(self):
        program = fake_clock_program("""
            import numpy as np
            from kelvara.time.time import Time
            from kelvara.bodies.bodies import Moon, Sun
            from kelvara.propagators.analytical.sgp4.tle import TLE
            set_clock("2026-12-31T12:00:00")
            now = Time.now()
            assert now.iso == "2026-12-31T12:00:00.000000", now.iso
            for text in ["2026-12-31", "2026-12-31T23:59:59", "2027-03-01", "2027-06-27T12:00", "1960-01-01T00:00:01"]:
                t = Time(text)
                t.tt, t.tdb, t.iso, t.datetime, t.datetime64, t + 1, t - 1, t.unix, str(t)
            assert Time("2027-03-01", scale="tai") - Time("2027-03-01") == -37.0
            assert Time("2027-03-01").tai.jd2 * 86400 == 37.0
            tle = TLE("1 25544U 98067A   27060.50000000 -.00002182  00000-0 -11606-4 0  2927",
                      "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537", False)
            print(tle.epoch.iso, now.tt.iso)
            days = Time(["2027-01-15", "2027-06-20"])
            Sun(days).r_GCRF, Moon(days).r_GCRF
        """)
        proc = run_python(program, "-W", "error")
        assert proc.returncode == 0, proc.stderr
        assert proc.stdout.split()[0] == "2027-03-01T12:00:00.000000"

    def test_past_the_expiry_warns_once_naming_date_and_expiry(self):
        t = Time.from_jd12(pairs(*random_jd(1000, 2, 2028, 2030)))
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            late = Time(["2027-06-28T23:00", "2027-07-01", "2027-08-01"])
        with pytest.warns(ErfaDubiousYearWarning) as caught:
            late.tt
        assert len(caught) == 1
        message = str(caught[0].message)
        assert "2027-07-01" in message and "2027-06-28" in message and "astropy-iers-data" in message
        with pytest.warns(ErfaDubiousYearWarning) as caught:
            t.tai, t.iso
        assert len(caught) == 2
        with pytest.warns(ErfaDubiousYearWarning, match="1959-12-31"):
            Time("1959-12-31T12:00")

    @pytest.mark.usefixtures("restore_tables")
    def test_loaded_table_is_in_force_in_both_formats(self, tmp_path):
        # a leap second at the end of 2027 and a table that expires mid-2028
        dat = leap_file(tmp_path, "    61771.0    1  1 2028       38\n", "28 June 2028")
        ntp_rows = [f"{(int(mjd) - 15020) * 86400}\t{int(v)}\t# {d}/{m}/{y}\n"
                    for mjd, d, m, y, v in np.loadtxt(dat, comments="#")]
        ntp = tmp_path / "leap-seconds.list"
        ntp.write_text(f"#@\t{(61950 - 15020) * 86400}\n" + "".join(ntp_rows))  # 2028-06-28
        for path in (dat, ntp):
            iers.load_leap_seconds(str(path))
            assert iers.leap_seconds_expire().isoformat() == "2028-06-28"
            assert iers.leap_seconds()[-1][1] == 38.0
            with warnings.catch_warnings():
                warnings.simplefilter("error")
                t = Time(["2027-12-31T23:59:60.5", "2028-02-01", "2028-06-28"])
                assert np.array_equal(t.iso, ["2027-12-31T23:59:60.500000", "2028-02-01T00:00:00.000000",
                                              "2028-06-28T00:00:00.000000"])
                assert (t.tai.jd2 * 86400)[1:] == pytest.approx([38.0, 38.0], abs=1e-9)
        # a file that expires earlier than the built-in table is taken when loaded explicitly
        iers.load_leap_seconds(leap_file(tmp_path, expiry="28 June 2020"))
        with pytest.warns(ErfaDubiousYearWarning, match="2020-06-28"):
            Time("2024-01-01").tt

    @pytest.mark.parametrize(
        "change, where",
        [
            (lambda s: s.replace("    42048.0    1  1 1974       13", "    42048.0    1  1 1974       1x"), "line 17"),
            (lambda s: s.replace("    42048.0    1  1 1974", "    42049.0    1  1 1974"), "MJD does not match"),
            (lambda s: s.replace("    42048.0    1  1 1974", "    42049.0    2  1 1974"), "first day"),
            (lambda s: s.replace("File expires on 28 June 2027", "File expires on 28 Smarch 2027"), "expiry"),
            (lambda s: s.replace("File expires on", "File was made on"), "no expiry date"),
            (lambda s: "\n".join(s.splitlines()[::-1]), "date order"),
        ],
    )
    def test_malformed_file_names_its_line_and_changes_nothing(self, tmp_path, change, where):
        before = iers.leap_seconds(), iers.leap_seconds_expire()
        path = tmp_path / "bad.dat"
        path.write_text(change(text_of(LEAP_FILE)))
        with pytest.raises(ValueError, match=where) as info:
            iers.load_leap_seconds(path)
        assert "bad.dat" in str(info.value)
        assert (iers.leap_seconds(), iers.leap_seconds_expire()) == before

    @pytest.mark.usefixtures("restore_tables")
    def test_a_converting_thread_sees_one_table_or_the_other(self, tmp_path):
        # table B differs from 1999 on by a second: every result is all-A or all-B
        b = tmp_path / "b.dat"
        b.write_text(text_of(LEAP_FILE).replace("1  1 1999       32", "1  1 1999       31"))
        t = Time.from_jd12(pairs(*random_jd(20000, 3, 1995, 2003)))
        want_a = t.tai.jd12
        iers.load_leap_seconds(b)
        want_b = Time.from_jd12(t.jd12).tai.jd12
        seen, stop = [], threading.Event()

        def convert():
            while not stop.is_set():
                seen.append(Time.from_jd12(t.jd12).tai.jd12)

        worker = threading.Thread(target=convert)
        worker.start()
        for i in range(40):
            iers.load_leap_seconds(LEAP_FILE if i % 2 else b)
        stop.set()
        worker.join()
        assert seen and all(np.array_equal(s, want_a) or np.array_equal(s, want_b) for s in seen)


class TestEop:
    @pytest.fixture(scope="class")
    @classmethod
    def astropy_ut1(cls):
        from astropy.time import Time as AstropyTime
        from astropy.utils import iers as astropy_iers

        jd1, jd2 = random_jd(20000, 4, 1973, 2026)
        keep = jd1 > 2441684.5  # the data start on 1973-01-02
        jd1 = np.concatenate([jd1[keep], jd1[keep][:500]])
        jd2 = np.concatenate([jd2[keep], np.zeros(500)])  # and 500 tabulated midnights
        with astropy_iers.earth_orientation_table.set(astropy_iers.IERS_A.open(FINALS)):
            ut1 = AstropyTime(jd1, jd2, format="jd", scale="utc").ut1
            return pairs(jd1, jd2), pairs(ut1.jd1, ut1.jd2)

    @pytest.mark.usefixtures("restore_tables")
    @pytest.mark.parametrize("interpolation, tolerance", [("linear", 20e-6), ("lagrange", 300e-6)])
    def test_ut1_against_astropy_on_the_same_file(self, astropy_ut1, interpolation, tolerance):
        utc, theirs = astropy_ut1
        iers.load_eop(FINALS, interpolation)
        ours = Time.from_jd12(utc).ut1.jd12
        diff = np.abs((ours[:, 0] - theirs[:, 0]) + (ours[:, 1] - theirs[:, 1])) * 86400
        assert diff.max() < tolerance  # astropy interpolates linearly
        assert diff[-500:].max() <= 1e-9  # the tabulated values at 0h UTC
        # and the conversion is ERFA's with the interpolated UT1-UTC
        dut1 = iers.eop(Time.from_jd12(utc))[0]
        assert np.array_equal(ours, pairs(*erfa.utcut1(utc[:, 0], utc[:, 1], dut1)))

    @pytest.fixture(scope="class")
    @classmethod
    def astropy_default_ut1(cls):
        """astropy's default table: finals2000A with the C04 series in place of its Bulletin B."""
        from astropy.time import Time as AstropyTime
        from astropy.utils import iers as astropy_iers

        jd1, jd2 = random_jd(20000, 5, 1973, 2026)
        keep = jd1 > 2441684.5
        jd1, jd2 = np.concatenate([jd1[keep], jd1[keep][:500]]), np.concatenate([jd2[keep], np.zeros(500)])
        with astropy_iers.conf.set_temp("auto_download", False):
            with astropy_iers.earth_orientation_table.set(astropy_iers.IERS_Auto.open()):
                ut1 = AstropyTime(jd1, jd2, format="jd", scale="utc").ut1
        return pairs(jd1, jd2), pairs(ut1.jd1, ut1.jd2)

    @pytest.mark.usefixtures("restore_tables")
    @pytest.mark.parametrize("interpolation, tolerance", [("linear", 20e-6), ("lagrange", 100e-6)])
    def test_default_ut1_is_c04_then_finals_as_astropy_has_it(self, astropy_default_ut1, interpolation, tolerance):
        # finals2000A's Bulletin B alone is 3.9-4.8 ms off C04 in the 1970s and 1980s
        utc, theirs = astropy_default_ut1
        iers.load_eop(DEFAULT_EOP, interpolation)
        ours = Time.from_jd12(utc).ut1.jd12
        diff = np.abs((ours[:, 0] - theirs[:, 0]) + (ours[:, 1] - theirs[:, 1])) * 86400
        assert diff.max() < tolerance
        assert diff[-500:].max() <= 1e-9  # the tabulated values at 0h UTC

    @pytest.mark.usefixtures("restore_tables")
    def test_c04_from_1962_and_the_seam(self, tmp_path):
        from astropy.utils import iers as astropy_iers

        iers._load_default_eop()  # what a fresh process reads
        info = iers.eop_info()
        assert info["first"].isoformat() == "1962-01-01" and info["source"] == f"{C04} + {FINALS}"
        # the 1960s, before finals2000A begins: C04's own rows at 0h
        b = astropy_iers.IERS_B.open(C04)
        days = Time(["1962-01-01", "1965-06-30", "1968-02-01", "1972-06-30", "1973-01-01"])
        np.testing.assert_allclose(iers.eop(days)[0], b.ut1_utc(days.jd1, days.jd2).value, rtol=0, atol=1e-12)
        # past C04's last day finals2000A's values, measured until its first prediction
        last = b["MJD"][-1].value
        after = Time(np.array([last, last + 1.0, last + 30.0]), format="mjd")
        a = astropy_iers.IERS_A.open(FINALS)
        np.testing.assert_allclose(iers.eop(after)[0][1:], a.ut1_utc(after.jd1, after.jd2).value[1:], rtol=0, atol=1e-12)
        iers.load_eop(FINALS)
        assert iers.eop_info()["last_measured"] == info["last_measured"]
        # a continuation that leaves a gap is refused, and changes nothing
        late = tmp_path / "finals.late"
        late.write_text("".join(text_of(FINALS).splitlines(keepends=True)[20000:]))
        with pytest.raises(ValueError, match=r"finals\.late: its data begin after 2026-10-09"):
            iers.load_eop([C04, late])
        assert iers.eop_info()["source"] == FINALS

    def test_ut1_to_utc_is_erfas_with_utc_found_in_two_passes(self):
        # random epochs and the days around every leap second of the data
        jd1, jd2 = random_jd(5000, 7, 1974, 2026)
        steps = [sum(erfa.cal2jd(y, m, 1)) for y, m, _ in erfa.leap_seconds.get() if y >= 1974]
        near = np.repeat(steps, 40) + np.tile(np.linspace(-2.0, 2.0, 40), len(steps))
        ut1 = pairs(np.concatenate([jd1, np.floor(near - 0.5) + 0.5]), np.concatenate([jd2, near - 0.5 - np.floor(near - 0.5)]))
        dut1 = iers.eop(Time.from_jd12(ut1))[0]  # UT1 read as UTC
        guess = pairs(*erfa.ut1utc(ut1[:, 0], ut1[:, 1], dut1))
        dut1 = iers.eop(Time.from_jd12(guess))[0]
        expected = pairs(*erfa.ut1utc(ut1[:, 0], ut1[:, 1], dut1))
        assert np.array_equal(Time.from_jd12(ut1, "ut1").utc.jd12, expected)

    def test_ut1_with_dut1_given(self):
        dut1 = np.array([-0.4399619, 0.4, 0.1])
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", ErfaDubiousYearWarning)
            t = Time(["2004-04-06T07:51:28.386009", "2016-12-31T23:59:60.5", "1950-01-01"])
            warnings.simplefilter("ignore", erfa.ErfaWarning)
            ut1 = iers.ut1(t, dut1)
            assert np.array_equal(ut1.jd12, pairs(*erfa.utcut1(t.jd1, t.jd2, dut1)))
        assert ut1.scale == "ut1" and np.array_equal(ut1.utc.jd12, t.jd12)
        assert np.array_equal(iers.ut1(t[:2], iers.eop(t[:2])[0]).jd12, t[:2].ut1.jd12)
        with pytest.raises(ValueError, match="one per epoch"):
            iers.ut1(t, [0.1, 0.2])

    def test_eop_values_shapes_and_units(self):
        from astropy.utils import iers as astropy_iers

        with astropy_iers.conf.set_temp("auto_download", False):
            table = astropy_iers.IERS_Auto.open()  # C04, then finals2000A, as ours
        t = Time(["2004-04-06", "2020-02-29"])
        dut1, xp, yp = iers.eop(t)
        assert dut1.shape == xp.shape == yp.shape == (2,)
        x, y = table.pm_xy(t.jd1, t.jd2)
        np.testing.assert_allclose(dut1, table.ut1_utc(t.jd1, t.jd2).value, rtol=0, atol=1e-12)
        np.testing.assert_allclose([xp, yp], [x.to_value("rad"), y.to_value("rad")], rtol=0, atol=1e-20)
        one = iers.eop(t[0])
        assert all(isinstance(v, float) for v in one) and one[0] == dut1[0]
        assert iers.eop(t.tt)[0] == pytest.approx(dut1, abs=1e-12)  # any scale

    def test_a_leap_second_does_not_smear_ut1(self):
        # UT1 runs on through the leap second of 2016-12-31 while UTC repeats a second
        t = Time(["2016-12-31T23:59:59", "2016-12-31T23:59:60", "2017-01-01T00:00:00", "2017-01-01T00:00:01"])
        jd12 = t.ut1.jd12
        steps = (np.diff(jd12[:, 0]) + np.diff(jd12[:, 1])) * 86400  # one double of JD is only 40 us
        assert steps == pytest.approx([1.0, 1.0, 1.0], abs=1e-5)
        dut1 = iers.eop(t)[0]
        assert dut1[2] - dut1[1] == pytest.approx(1.0, abs=1e-5)

    def test_outside_the_data(self):
        with pytest.raises(ValueError, match="before the Earth orientation data.*1962-01-01"):
            Time("1961-06-01").ut1
        with pytest.raises(ValueError, match="1960-05-01"):
            iers.eop(Time(["1990-01-01", "1960-05-01"]))
        last = iers.eop_info()["last"].isoformat()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", ErfaDubiousYearWarning)
            with pytest.warns(EopRangeWarning, match=f"2029-01-01.*{last}") as caught:
                dut1 = iers.eop(Time(["2029-01-01", "2030-01-01"]))[0]
        assert [w.category for w in caught].count(EopRangeWarning) == 1
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", ErfaDubiousYearWarning)
            assert dut1[0] == dut1[1] == iers.eop(Time(last))[0]

    @pytest.mark.usefixtures("restore_tables")
    def test_malformed_finals_names_its_line_and_changes_nothing(self, tmp_path):
        lines = text_of(FINALS).splitlines(keepends=True)
        before = iers.eop(Time("2020-01-01"))
        bad = tmp_path / "finals.bad"
        bad.write_text("".join(lines[:100] + [lines[100][:157] + "x" + lines[100][158:]] + lines[101:]))
        with pytest.raises(ValueError, match=r"finals\.bad, line 101: cannot read UT1-UTC in columns 155-165"):
            iers.load_eop(bad)
        gap = tmp_path / "finals.gap"
        gap.write_text("".join(lines[:100] + lines[102:]))
        with pytest.raises(ValueError, match="line 101: the rows are not consecutive"):
            iers.load_eop(gap)
        assert iers.eop(Time("2020-01-01")) == before
        with pytest.raises(ValueError, match="interpolation"):
            iers.load_eop(FINALS, "cubic")


SCALES = ["utc", "tai", "tt", "tdb", "ut1"]


class TestRoundTrips:
    @pytest.mark.parametrize("src", SCALES)
    def test_round_trips_come_home_bit_for_bit(self, src):
        lo, hi = (1974, 2026) if src == "ut1" else (1960, 2100)
        jd = pairs(*random_jd(3000, 5, lo, hi))
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", (ErfaDubiousYearWarning, EopRangeWarning))
            t = Time.from_jd12(jd, src)
            for dst in SCALES:
                if "ut1" in (src, dst) and lo < 1974:
                    continue
                other = getattr(t, dst)
                assert np.array_equal(getattr(other, src).jd12, jd), dst
                assert np.array_equal(getattr(getattr(other, "tai"), src).jd12, jd), dst
                assert (t == other).all() and not (t != other).any()
                assert (other - t == 0).all()
        one = Time("2026-01-01", scale="tt")
        assert one == one.utc and one.utc.tt.jd2 == 0.0
        assert one.tdb.tt.jd12.tolist() == [[2461041.5, 0.0]]


class TestGaps:
    def test_unix_inverts_format_unix_and_counts_as_numpy(self):
        x = np.concatenate([np.random.default_rng(6).uniform(-3e8, 1.8e9, 5000), [0.0, 1483228800.0, 1483228799.5]])
        t = Time(x, format="unix")
        assert np.array_equal(t.unix, x)
        assert np.array_equal(t.tt.unix, x)
        posix = (t.datetime64 - np.datetime64("1970-01-01T00:00:00", "ns")) / np.timedelta64(1, "s")
        assert np.abs(t.unix - posix).max() < 1e-6  # astropy's unix drifts by up to 1 s on a leap-second day
        assert Time("2016-12-31T23:59:60.5").unix == 1483228800.5  # a leap second reads as the next day

    @pytest.mark.parametrize(
        "text, utc",
        [
            ("2026-12-08T12:00:00+02:00", "2026-12-08T10:00:00"),
            ("2026-12-08T12:00:00.25-05:30", "2026-12-08T17:30:00.25"),
            ("2026-12-31T23:30+0100", "2026-12-31T22:30"),
            ("2027-01-01T00:30:00+01", "2026-12-31T23:30:00"),
            ("2026-12-31T20:00:00-05:00", "2027-01-01T01:00:00"),
            ("2016-12-31T23:59:60.5+00:00", "2016-12-31T23:59:60.5"),
        ],
    )
    def test_iso_text_with_a_utc_offset_is_converted_to_utc(self, text, utc):
        assert np.array_equal(Time(text).jd12, Time(utc).jd12)
        assert np.array_equal(Time(np.array([text]), scale="tt").jd12, Time(utc).tt.jd12)

    @pytest.mark.parametrize("text", ["2026-12-08T12:00:00+24:00", "2026-12-08T12:00:00+02:60", "2026-12-08+02:00",
                                      "2026-12-08T12:00:00+2:00"])
    def test_bad_offsets(self, text):
        with pytest.raises(ValueError, match="Time string"):
            Time(text)


def test_interrupt_stops_a_long_conversion():
    # The conversion holds the lock, so the signal comes from outside: this process.
    import subprocess
    import sys

    from conftest import HERE, ROOT

    code = """
import sys, time
import numpy as np
from kelvara.time.time import Time
t = Time.from_jd12(np.stack([np.full(3_000_000, 2451545.0), np.linspace(0, 1, 3_000_000)], 1), "tt")
print("ready", flush=True)
start = time.perf_counter()
try:
    t.tdb
except KeyboardInterrupt:
    print("interrupted", time.perf_counter() - start, flush=True)
"""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([ROOT, os.path.join(HERE, "ext")]))
    proc = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True, env=env, cwd=ROOT)
    assert proc.stdout.readline().strip() == "ready"
    time.sleep(0.5)
    proc.send_signal(signal.SIGINT)
    out, _ = proc.communicate(timeout=120)
    word, seconds = out.split()
    assert word == "interrupted" and float(seconds) < 10  # the whole call takes about 45 s


class TestUnsoundFiles:
    """Files that cannot be what they claim are refused with the file, line and text named, and
    the tables in force stay; a file name that is not valid UTF-8 loads."""

    @pytest.mark.usefixtures("restore_tables")
    @pytest.mark.parametrize("loader, source", [(iers.load_leap_seconds, LEAP_FILE), (iers.load_eop, FINALS)])
    def test_a_name_os_listdir_decoded_with_surrogates_loads(self, tmp_path, loader, source):
        import shutil
        import sys

        if sys.getfilesystemencoding().lower() not in ("utf-8", "utf8"):
            pytest.skip("needs a UTF-8 file-system encoding")
        raw = os.fsencode(tmp_path) + b"/iers_\xff.dat"
        with open(raw, "wb") as f, open(source, "rb") as g:
            shutil.copyfileobj(g, f)
        (name,) = [os.path.join(tmp_path, n) for n in os.listdir(tmp_path)]
        assert "\udcff" in name  # the lone surrogate that made PyUnicode_AsUTF8 fail
        for path in (name, raw):
            loader(path)
            if loader is iers.load_eop:
                assert iers.eop_info()["source"] == name
            else:
                assert iers._time._leap_seconds()[2] == name
        with pytest.raises(ValueError, match="iers_\udcff.dat, line 1"):
            with open(raw, "wb") as f:
                f.write(b"garbage\n")
            loader(name)

    @staticmethod
    def finals_lines():
        return text_of(FINALS).splitlines(keepends=True)

    @staticmethod
    def finals_row(lines, i, column, width, value):
        row = lines[i]
        lines[i] = row[:column - 1] + value.rjust(width) + row[column - 1 + width:]
        return lines

    FINALS_CASES = {
        # a download cut inside a row: in UT1-UTC (read as 0.0 before), the MJD, polar motion,
        # Bulletin B; and cut between fields, leaving a dated row with values but no UT1-UTC
        "cut in UT1-UTC": (lambda L: L[:5000] + [L[5000][:62]], "line 5001: the row ends inside columns 59-68"),
        "cut in the MJD": (lambda L: L[:5000] + [L[5000][:12]], "line 5001: the row ends inside columns 8-15"),
        "cut in x": (lambda L: L[:5000] + [L[5000][:22] + "\n"], "line 5001: the row ends inside columns 19-27"),
        "cut in B": (lambda L: L[:300] + [L[300][:160] + "\r\n"] + L[301:], "line 301: the row ends inside columns 155-165"),
        "cut before UT1": (lambda L: L[:5000] + [L[5000][:55]], "line 5001: the row ends before UT1-UTC"),
        # values no IERS file holds
        "UT1-UTC of 5 s": (lambda L: TestUnsoundFiles.finals_row(L, 99, 155, 11, "5.0000000"), "line 100: UT1-UTC"),
        "UT1-UTC of -1.2 s": (lambda L: TestUnsoundFiles.finals_row(L, 20000, 59, 10, "-1.2000000"), "line 20001: UT1-UTC"),
        "pole at 99999 arcsec": (lambda L: TestUnsoundFiles.finals_row(L, 99, 135, 10, "99999.0"), "line 100: polar motion"),
        "pole y at -2.5 arcsec": (lambda L: TestUnsoundFiles.finals_row(L, 19000, 38, 9, "-2.500000"), "line 19001: polar motion"),
    }

    @pytest.mark.parametrize("change, message", FINALS_CASES.values(), ids=FINALS_CASES.keys())
    def test_finals_cut_or_impossible_is_refused(self, tmp_path, change, message):
        before = iers.eop_info(), iers.eop(Time(["1986-09-12", "2024-01-01"]))
        path = tmp_path / "finals.cut"
        path.write_text("".join(change(self.finals_lines())))
        with pytest.raises(ValueError, match=r"finals\.cut, " + message) as info:
            iers.load_eop(path)
        row = int(message.split()[1].rstrip(":")) - 1
        assert self.finals_lines()[row][:11] in str(info.value)  # the row's text is named
        after = iers.eop_info(), iers.eop(Time(["1986-09-12", "2024-01-01"]))
        assert after[0] == before[0] and np.array_equal(after[1], before[1])

    C04_CASES = {
        "cut in UT1-UTC": (lambda L: L[:5000] + [L[5000][:57]], "line 5001: the row ends inside columns 51-62"),
        "cut before UT1": (lambda L: L[:5000] + [L[5000][:50] + "\n"], "line 5001: the row ends before UT1-UTC"),
        "UT1-UTC of 1e300": (lambda L: L[:99] + [L[99][:50] + "1e300".rjust(12) + L[99][62:]] + L[100:],
                             "line 100: UT1-UTC"),
        "pole at 99999 arcsec": (lambda L: L[:99] + [L[99][:26] + "99999.0".rjust(12) + L[99][38:]] + L[100:],
                                 "line 100: polar motion"),
        "a missing day": (lambda L: L[:99] + L[100:], "line 100: the rows are not consecutive"),
    }

    @pytest.mark.parametrize("change, message", C04_CASES.values(), ids=C04_CASES.keys())
    def test_c04_cut_or_impossible_is_refused(self, tmp_path, change, message):
        before = iers.eop_info(), iers.eop(Time(["1986-09-12", "2024-01-01"]))
        path = tmp_path / "eopc04.cut"
        path.write_text("".join(change(text_of(C04).splitlines(keepends=True))))
        with pytest.raises(ValueError, match=r"eopc04\.cut, " + message):
            iers.load_eop([path, FINALS])
        after = iers.eop_info(), iers.eop(Time(["1986-09-12", "2024-01-01"]))
        assert after[0] == before[0] and np.array_equal(after[1], before[1])

    def test_finals_with_trailing_blanks_stripped_loads_the_same(self, tmp_path):
        path = tmp_path / "finals.stripped"
        path.write_text("".join(line.rstrip() + "\n" for line in self.finals_lines()))
        t = Time(["1986-09-12", "2024-01-01", "2026-06-01"])
        try:
            iers.load_eop(FINALS)
            want = iers.eop(t), iers.eop_info()
            iers.load_eop(path)
            assert np.array_equal(iers.eop(t), want[0])
            info = iers.eop_info()
            assert (info["first"], info["last_measured"], info["last"]) == (want[1]["first"], want[1]["last_measured"],
                                                                            want[1]["last"])
        finally:
            iers.load_eop(DEFAULT_EOP)

    LEAP_CASES = {
        "TAI-UTC of 1e300": ("    57754.0    1  1 2017       37", "    57754.0    1  1 2017   1e300", "whole number"),
        "TAI-UTC of -5": ("    41317.0    1  1 1972       10", "    41317.0    1  1 1972       -5", "whole number"),
        "a fraction": ("    57754.0    1  1 2017       37", "    57754.0    1  1 2017     37.5", "whole number"),
        "a negative step": ("    57754.0    1  1 2017       37", "    57754.0    1  1 2017       30", "falls by more"),
        # an expiry no date can hold (it made leap_seconds_expire() raise on every call)
        "expiry 99999": ("28 June 2027", "28 June 99999", "expiry date is outside the years 1972 to 9999"),
        "expiry 1900": ("28 June 2027", "28 June 1900", "expiry date is outside the years 1972 to 9999"),
    }

    @pytest.mark.parametrize("old, new, message", LEAP_CASES.values(), ids=LEAP_CASES.keys())
    @pytest.mark.parametrize("form", ["Leap_Second.dat", "leap-seconds.list"])
    def test_leap_seconds_impossible_is_refused(self, tmp_path, old, new, message, form):
        text = text_of(LEAP_FILE)
        assert old in text
        text = text.replace(old, new)
        if form == "leap-seconds.list":
            if "expiry" in message:  # the NTP list counts its expiry in seconds from 1900
                year = int(new.split()[-1])
                expiry = (year - 1900) * 31556952 if year > 1900 else 0
                text = f"#@\t{expiry}\n" + "".join(
                    f"{(int(float(f[0])) - 15020) * 86400}\t{f[4]}\n"
                    for f in (line.split() for line in text_of(LEAP_FILE).splitlines() if line and line[0] != "#"))
                message = "expiry date is outside"
            else:
                rows = [line.split() for line in text.splitlines() if line and line[0] != "#"]
                text = f"#@\t{(61584 - 15020) * 86400}\n" + "".join(
                    f"{(int(float(f[0])) - 15020) * 86400}\t{f[4]}\n" for f in rows)
        before = iers.leap_seconds(), iers.leap_seconds_expire()
        path = tmp_path / form
        path.write_text(text)
        with pytest.raises(ValueError, match=form.replace(".", r"\.") + ", line [0-9]+: .*" + message):
            iers.load_leap_seconds(path)
        assert (iers.leap_seconds(), iers.leap_seconds_expire()) == before
