"""The TLE record: line storage, satellite number, epoch, the C-level table and import-time binding."""

import copy
import os
import datetime
import gc
import pickle
import shutil
import string
import subprocess
import sys
import weakref

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from sgp4 import model as sgp4_python
from sgp4.api import Satrec

from kelvara.propagators.analytical.sgp4.tle import TLE
from kelvara.time.time import Time

from conftest import run_python
from timefakes import fake_time_program

ISS = (
    "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537",
)
VANGUARD = (
    "1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753",
    "2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667",
)
DELTA_DEB = (
    "1 06251U 62025E   06176.82412014  .00008885  00000-0  12808-3 0  3985",
    "2 06251  58.0579  54.0425 0030035 139.1568 221.1854 15.56387291  6774",
)
MOLNIYA = (
    "1 28872U 05037B   05333.02012661  .25992681  00000-0  24476-3 0  1534",
    "2 28872  96.4736 157.9986 0303955 244.0492 110.6523 16.46015938 10708",
)
ALPHA5 = tuple(line.replace("00005", "E8493") for line in VANGUARD)
LEADING_SPACES = (
    "1  4859U 21001A   21007.63955392  .00000000  00000+0  00000+0 0  9990",
    "2  4859 000.0000 000.0000 0000000 000.0000 000.0000 01.00000000    09",
)
# sgp4's compiled twoline2rv copies overlapping strings, which AddressSanitizer aborts on; its
# pure-Python twin gives the same epochs.
if "libasan" in os.environ.get("LD_PRELOAD", ""):
    Satrec = sgp4_python.Satrec

REAL_SETS = {"iss": ISS, "vanguard": VANGUARD, "debris": DELTA_DEB, "molniya": MOLNIYA, "alpha5": ALPHA5,
             "leading-spaces": LEADING_SPACES}


def jd_of_year_start(year: int) -> float:
    """Julian date of 1 January 00:00 of `year`, from the calendar alone."""
    return 2440587.5 + (datetime.date(year, 1, 1) - datetime.date(1970, 1, 1)).days


def line1_with(satno: str = "25544", year: str = "08", day: str = "264.51782528") -> str:
    """An ISS line 1 with the satellite number, epoch year and epoch day fields replaced."""
    return f"1 {satno:5.5}U 98067A   {year:2.2}{day:12.12} -.00002182  00000-0 -11606-4 0  2927"


class TestLines:
    @pytest.mark.parametrize("raw, stored", [
        ("  1 25544u 98067a  \n", "1 25544U 98067A"),
        ("\t\r\n1 abc\x0b\x0c\x1c\x1f ", "1 ABC"),
        ("\u00a01 abc\u3000", "1 ABC"),            # non-ASCII blanks are stripped too
        ("1 stra\u00dfe", "1 STRASSE"),            # upper-casing can make text ASCII
        ("1 \u0131", "1 I"),
        ("", ""),
        ("   \n", ""),
    ])
    def test_stripped_and_upper_cased(self, raw, stored):
        t = TLE(raw, raw)
        assert t.line1 == stored and t.line2 == stored

    @pytest.mark.parametrize("length", [68, 69, 70, 71, 500, 100_000])
    def test_long_lines_keep_69_characters(self, length):
        text = "".join(chr(ord("A") + i % 26) for i in range(length))
        t = TLE(text, "2" * length)
        assert t.line1 == text[:69] and t.line2 == "2" * min(length, 69)

    @pytest.mark.filterwarnings("ignore:UTC date .* is outside the leap-second table")  # any epoch year
    @settings(max_examples=300, deadline=None)
    @given(*[st.one_of(st.text(max_size=100), st.text(string.printable + "\0\u00a0\u0131", max_size=100))] * 2)
    def test_any_text(self, line1, line2):
        def stored(line):
            return line.strip().upper().encode("ascii").split(b"\0")[0][:69].decode()

        try:
            expected = stored(line1), stored(line2)
        except UnicodeEncodeError:
            with pytest.raises(UnicodeEncodeError):
                TLE(line1, line2)
            return
        try:
            t = TLE(line1, line2)
        except ValueError:  # Time refuses a non-finite epoch
            return
        assert (t.line1, t.line2) == expected

    def test_embedded_nul_ends_the_text(self):
        t = TLE("1 25544U\x00 hidden text", "2 x\x00\x00y")
        assert t.line1 == "1 25544U" and t.line2 == "2 X"
        assert t.satno == 25544

    @pytest.mark.parametrize("line1, line2, exc", [
        ("1 25544\u00e9", "2", UnicodeEncodeError),
        ("1", "2 \u2603", UnicodeEncodeError),
        (None, "2", TypeError),
        ("1", None, TypeError),
    ])
    def test_rejected_text(self, line1, line2, exc):
        with pytest.raises(exc):
            TLE(line1, line2)

    @pytest.mark.parametrize("args, kwargs, message", [
        ((), {}, "__cinit__() takes at least 2 positional arguments (0 given)"),
        ((ISS[0],), {}, "__cinit__() takes at least 2 positional arguments (1 given)"),
        ((*ISS, True, 4), {}, "__cinit__() takes at most 3 positional arguments (4 given)"),
        (ISS, {"strict": True}, "__cinit__() got an unexpected keyword argument 'strict'"),
        (ISS, {"line1": ISS[0]}, "__cinit__() got multiple values for keyword argument 'line1'"),
        ((1, ISS[1]), {}, "Argument 'line1' has incorrect type (expected str, got int)"),
        ((ISS[0], b"2"), {}, "Argument 'line2' has incorrect type (expected str, got bytes)"),
    ])
    def test_argument_errors(self, args, kwargs, message):
        with pytest.raises(TypeError) as info:
            TLE(*args, **kwargs)
        assert str(info.value) == message

    def test_str_subclass_is_refused(self):
        class Line(str):
            pass

        with pytest.raises(TypeError, match=r"^Argument 'line2' has incorrect type \(expected str, got Line\)$"):
            TLE(ISS[0], Line(ISS[1]))

    def test_keywords(self):
        t = TLE(line2=ISS[1], line1=ISS[0], strict_validation=False)
        assert (t.line1, t.line2) == ISS

    @pytest.mark.parametrize("flag", [True, False, 0, "yes", None, [], ()])
    def test_strict_validation_does_not_change_the_record(self, flag):
        base, t = TLE(*ISS), TLE(*ISS, flag)
        assert (t.line1, t.line2, t.satno, t.epoch.jd) == (base.line1, base.line2, base.satno, base.epoch.jd)

    def test_strict_validation_truth_error_propagates(self):
        class Unsure:
            def __bool__(self):
                raise ZeroDivisionError("undecided")

        with pytest.raises(ZeroDivisionError, match="undecided"):
            TLE(*ISS, Unsure())


class TestSatno:
    @pytest.mark.parametrize("field, expected", [
        ("25544", 25544),
        ("00005", 5),
        ("A0001", "A0001"),
        ("a0001", "A0001"),
        ("  123", 123),
        ("12 34", "12 34"),
        ("1_000", 1000),     # Python's own integer reading of text
        ("     ", ""),
    ])
    def test_columns_3_to_7(self, field, expected):
        satno = TLE(line1_with(satno=field), "").satno
        assert satno == expected and type(satno) is type(expected)

    @pytest.mark.parametrize("line", ["", "1", "1 ", "1 7"])
    def test_short_lines(self, line):
        assert TLE(line, "").satno == ("" if len(line.strip()) < 3 else 7)

    def test_real_sets(self):
        assert TLE(*ISS).satno == 25544
        assert TLE(*VANGUARD).satno == 5
        assert TLE(*ALPHA5).satno == "E8493"
        assert TLE(*LEADING_SPACES).satno == 4859


class TestEpoch:
    @pytest.mark.parametrize("name", sorted(REAL_SETS))
    def test_agrees_with_sgp4(self, name):
        line1, line2 = REAL_SETS[name]
        sat, t = Satrec.twoline2rv(line1, line2), TLE(line1, line2)
        assert (t.line1, t.line2) == (line1, line2)
        assert t.epoch.jd == pytest.approx(sat.jdsatepoch + sat.jdsatepochF, abs=1e-8)

    @pytest.mark.filterwarnings("ignore::Warning")  # Time may warn about UTC outside 1960..today
    @pytest.mark.parametrize("yy, year", [("57", 1957), ("99", 1999), ("00", 2000), ("08", 2008), ("56", 2056),
                                          (" 7", 2007), ("-3", 1997), ("+9", 2009), ("  ", 2000), ("x1", 2000)])
    def test_year_pivot(self, yy, year):
        t = TLE(line1_with(year=yy, day="001.00000000"), "")
        assert t.epoch.jd == pytest.approx(jd_of_year_start(year), abs=1e-9)

    @pytest.mark.parametrize("day, offset", [
        ("1.0", 0.0), ("001.50000000", 0.5), ("366.25000000", 365.25), ("  32", 31.0), ("+2.5", 1.5),
        ("1e1", 9.0), ("12.5xyz", 11.5), ("", -1.0), ("abc", -1.0), (".", -1.0), ("0x1p3", 7.0), ("-0.0", -1.0),
    ])
    def test_day_of_year(self, day, offset):
        t = TLE(line1_with(year="21", day=day), "")
        assert t.epoch.jd == pytest.approx(jd_of_year_start(2021) + offset, abs=1e-9)

    @pytest.mark.parametrize("day", ["nan", "inf", "-infinity"])
    def test_non_finite_day_is_a_clean_error(self, day):
        with pytest.raises(Exception) as info:
            TLE(line1_with(day=day), "")
        assert not isinstance(info.value, SystemError)

    @pytest.mark.parametrize("line", ["", "1 25544U 98067A ", "1 25544U 98067A   0"])
    def test_short_line_is_the_day_before_2000(self, line):
        assert TLE(line, "").epoch.jd == pytest.approx(jd_of_year_start(2000) - 1.0, abs=1e-9)

    def test_same_object_on_every_read(self):
        t = TLE(*ISS)
        assert isinstance(t.epoch, Time) and t.epoch is t.epoch

    def test_decimal_point_ignores_locale(self, tmp_path):
        # A decimal-comma locale, compiled on the spot when the system has none installed.
        if shutil.which("localedef"):
            subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", str(tmp_path / "de_DE.UTF-8")],
                           capture_output=True)
        code = """
            import locale
            try:
                locale.setlocale(locale.LC_NUMERIC, "de_DE.UTF-8")
            except locale.Error:
                print("no comma locale")
                raise SystemExit(0)
            assert locale.localeconv()["decimal_point"] == ","
            from kelvara.propagators.analytical.sgp4.tle import TLE
            print(TLE("1 25544U 98067A   08264.51782528", "").epoch.jd)
        """
        proc = run_python(code, env={"LOCPATH": str(tmp_path)} if (tmp_path / "de_DE.UTF-8").exists() else None)
        assert proc.returncode == 0, proc.stderr
        if proc.stdout.strip() == "no comma locale":
            pytest.skip("no locale with a decimal comma available")
        assert float(proc.stdout) == pytest.approx(2454730.01782528, abs=1e-8)


class TestObject:
    def test_pickling_is_refused(self):
        t = TLE(*ISS)
        for attempt in (lambda: pickle.dumps(t), lambda: copy.copy(t), lambda: t.__setstate__(None)):
            with pytest.raises(TypeError, match=r"^no default __reduce__ due to non-trivial __cinit__$"):
                attempt()

    def test_subclass_and_cycle_collection(self):
        class Named(TLE):
            pass

        t = Named(*ISS)
        assert t.satno == 25544 and gc.is_tracked(t)
        assert t.epoch in gc.get_referents(t)
        t.me = t
        ref = weakref.ref(t)
        del t
        gc.collect()
        assert ref() is None

    def test_no_reference_leaks(self):
        line1, line2 = ISS
        bad = "1 \u00e9"

        def churn():
            for _ in range(300):
                TLE(line1, line2)
                TLE(line1.lower() + "  ", " " + line2)
                for args in ((bad, line2), (None, line2), (1, line2), ()):
                    try:
                        TLE(*args)
                    except (TypeError, UnicodeEncodeError):
                        pass
                TLE(line1, line2).satno
                TLE(*ALPHA5).satno

        churn()
        gc.collect()
        before = (sys.getrefcount(line1), sys.getrefcount(line2), sys.getrefcount(TLE), sys.getrefcount(Time),
                  sys.getallocatedblocks())
        churn()
        gc.collect()
        after = (sys.getrefcount(line1), sys.getrefcount(line2), sys.getrefcount(TLE), sys.getrefcount(Time),
                 sys.getallocatedblocks())
        assert after[:4] == before[:4]
        assert after[4] - before[4] < 100


class TestCLevelTable:
    """The record layout and parse_line1 as a C++ client sees them through tle.hpp."""

    @pytest.fixture
    def client(self):
        import tle_client
        return tle_client

    def test_layout(self, client):
        size, has_parse = client.layout()
        assert size == TLE.__basicsize__ and has_parse

    @pytest.mark.parametrize("line1", ["1 25544u", "", "x" * 200, "1 2\x00" + "9" * 100, ISS[0]])
    def test_fields_are_terminated_and_zero_padded(self, client, line1):
        t = TLE(line1, ISS[1])
        raw1, raw2, satno = client.fields(t)
        assert len(raw1) == 70 and len(raw2) == 70 and len(satno) == 6
        text = t.line1.encode()
        assert raw1 == text + bytes(70 - len(text))
        assert raw2 == ISS[1].encode() + bytes(70 - len(ISS[1]))
        stored = t.line1[2:7].encode()
        assert satno == stored + bytes(6 - len(stored))

    def test_parse_reads_only_its_columns(self, client):
        # 70 bytes without a terminator: the parser must stay within its fixed fields.
        t = TLE(*ISS)
        raw = b"1 A0001U 98067A   21032.50000000" + b"9" * 38
        first = t.epoch
        client.reparse(t, raw)
        assert t.satno == "A0001" and t.epoch is not first
        assert t.epoch.jd == pytest.approx(jd_of_year_start(2021) + 31.5, abs=1e-9)


class TestColumnKernels:
    """The pure column parser (tle_kernels.hpp) without the Python type around it."""

    @pytest.fixture
    def client(self):
        import tle_client
        return tle_client

    @pytest.mark.parametrize("raw, satno, year, day", [
        (b"1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927", b"25544", 2008, 264.51782528),
        (b"1 00005U 58002B   57001.00000000", b"00005", 1957, 1.0),
        (b"1 A0001U 98067A   56365.99999999", b"A0001", 2056, 365.99999999),
        (b"1 2", b"2", 2000, 0.0),
        (b"", b"", 2000, 0.0),
        (b"1 12345U 00000A   -5 1.5e2", b"12345", 1995, 150.0),
        (b"1 12345U 00000A   99  1.5e2     ", b"12345", 1999, 150.0),
        (b"9" * 70, b"99999", 1999, 999999999999.0),
    ])
    def test_line1_fields(self, client, raw, satno, year, day):
        got_satno, got_year, got_day = client.line1_fields(raw)
        assert got_satno == satno + bytes(6 - len(satno))
        assert (got_year, got_day) == (year, day)

    @pytest.mark.parametrize("text", [b"264.51782528", b"  -0.5", b"+12", b"1e3", b"0x1p4", b"inf", b"nan(1)",
                                      b"12.5abc", b"abc", b"", b"123456789012.345", b".5", b"1234567890123456"])
    def test_parse_real_is_c_atof(self, client, text):
        # The fast decimal path and strtod agree with Python's float() of the longest numeric prefix.
        import ctypes, math
        libc = ctypes.CDLL(None)
        libc.strtod.restype = ctypes.c_double
        expected = libc.strtod(ctypes.c_char_p(text), None)  # the test process runs in the C locale
        got = client.parse_real(text)
        assert got == expected or (math.isnan(got) and math.isnan(expected))


class TestBinding:
    """Binding of Time at load and the results and failures of the Time calls, with a stand-in Time."""

    MODULE = "kelvara.propagators.analytical.sgp4.tle"

    def run(self, body):
        proc = run_python(fake_time_program(body))
        assert proc.returncode == 0, proc.stderr
        return proc.stdout

    @pytest.mark.parametrize("module", [MODULE, "kelvara.satellite.satellite"])
    def test_smaller_time_record_fails_the_import(self, module):
        out = self.run(f"""
            install(slots=32)
            try:
                import {module}
            except ValueError as e:
                print(e)
        """)
        assert out.strip() == ("kelvara.time.time.Time size changed, may indicate binary incompatibility. "
                               "Expected 280 from C header, got 272 from PyObject")

    @pytest.mark.parametrize("when", ["value == '2008'", "format == 'jd'"])
    def test_time_errors_propagate(self, when):
        out = self.run(f"""
            Time, calls = install(fail_on=lambda value, format: {when})
            from {self.MODULE} import TLE
            try:
                TLE("1 25544U 98067A   08264.51782528", "")
            except RuntimeError as e:
                print("refused", len(calls))
        """)
        assert out.split()[0] == "refused"

    @pytest.mark.parametrize("jd_type, expected", [
        ("int", "float 2454729.51782528"),  # the stand-in truncates 2454466.5
        ("fractions.Fraction", "float 2454730.01782528"),
        ("decimal.Decimal", "TypeError"),
    ])
    def test_jd_of_other_number_types(self, jd_type, expected):
        out = self.run(f"""
            import decimal, fractions
            Time, calls = install(jd_type={jd_type})
            from {self.MODULE} import TLE
            try:
                t = TLE("1 25544U 98067A   08264.51782528", "")
                print(type(t.epoch.jd).__name__, repr(float(t.epoch.jd)))
            except TypeError:
                print("TypeError")
        """)
        assert out.strip() == expected
