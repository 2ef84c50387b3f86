// Docstrings of kelvara.propagators.analytical.sgp4.tle; the examples run as doctests.
#pragma once

namespace kelvara::tle_doc {

constexpr const char* doc_TLE = R"doc(TLE(line1, line2, strict_validation=True)
--

A Two-Line Element set: both lines, the satellite number and the epoch.

The lines are stored stripped of surrounding whitespace and upper-cased, each cut to 69
characters. Only line 1 is read: the satellite number from columns 3-7 and the epoch from
columns 19-32 (two-digit year, 57-99 meaning 1957-1999, and day of the year with its
fraction). No checksum or column format is verified.

Parameters
----------
line1, line2 : str
    The two lines of the element set (exactly ``str``).
strict_validation : bool, optional
    Accepted for compatibility; the lines are read the same way whatever its value.

Attributes
----------
line1, line2 : str
    The stored lines.
satno : int or str
    The satellite number: an int, or the text itself when it is not a decimal number
    (such as the alphanumeric ``'A0001'``).
epoch : Time
    Epoch of the element set, on UTC.

Raises
------
TypeError
    A line that is not exactly a ``str``.
UnicodeEncodeError
    A line with a non-ASCII character.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.tle import TLE
>>> tle = TLE("1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
...           "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537")
>>> tle.satno
25544
>>> tle.epoch
Time('2008-09-20T12:25:40.104...', scale='utc')
>>> TLE("  1 a0001u 98067a   08264.5  \n", "2 A0001").line1
'1 A0001U 98067A   08264.5'
)doc";

constexpr const char* doc_epoch = R"doc(TLE.epoch: Time

Epoch of the element set: the start of the year of columns 19-20 of line 1 plus the day
of columns 21-32 minus one, on UTC. The same object on every read.

Examples
--------
>>> from kelvara.propagators.analytical.sgp4.tle import TLE
>>> TLE("1 00005U 58002B   00001.50000000", "2 00005").epoch
Time('2000-01-01T12:00:00.000000', scale='utc')
)doc";

}  // namespace kelvara::tle_doc
