// Docstrings of kelvara.time.time: text signatures CPython reads (name($type, ...)\n--\n\n for
// the class methods), then numpydoc sections whose examples the test suite runs as doctests.
#pragma once

namespace kelvara::timedoc {


constexpr const char* doc_Time = R"doc(Time(value, format=None, scale=None)
--

Epochs as two-part Julian dates on the UTC, TAI, TT, TDB or UT1 scale.

A Time holds one epoch (a scalar) or a one-dimensional array of N epochs. Offsets
(``t + seconds``) and differences (``t2 - t1``, in seconds) count elapsed SI seconds: UTC
epochs go through TAI, so leap seconds count.

Parameters
----------
value : str, datetime.datetime, datetime.date, numpy.datetime64, Time, float, or a list, tuple or 1-D array of them
    ISO 8601 text (``'2020'``, ``'2020-01-02'``, ``'2020-01-02T03:04:05.5Z'``), dates and
    datetimes, or another Time; with `format`, real numbers. Calendar values are read on
    `scale`, except aware datetimes and unix seconds, which are UTC and converted.
format : {None, 'jd', 'mjd', 'unix'}, optional
    How real numbers are read: Julian date, modified Julian date, or seconds since
    1970-01-01 UTC.
scale : {None, 'utc', 'tai', 'tt', 'tdb', 'ut1'}, optional
    Time scale of the epochs (default 'utc'); a Time is converted to it when given.

Raises
------
ValueError
    Text that is not an ISO 8601 epoch, an unknown format or scale, a non-finite number.
TypeError
    A value of another type.

Warns
-----
ErfaDubiousYearWarning
    A UTC epoch before 1960 or after the expiry of the leap-second table in force
    (kelvara.time.iers.leap_seconds_expire()).

Examples
--------
>>> from kelvara.time.time import Time
>>> t = Time("2024-03-20T03:06:00")
>>> t
Time('2024-03-20T03:06:00.000000', scale='utc')
>>> t.tt
Time('2024-03-20T03:07:09.184000', scale='tt')
>>> Time(2451545.0, format="jd", scale="tt").iso
'2000-01-01T12:00:00.000000'
>>> days = Time(["2024-01-01", "2024-07-01"])
>>> days.shape, days[1] - days[0]
((2,), 15724800.0)
>>> Time("2017-01-01") - Time("2016-12-31T23:59:59")  # across a leap second
1.99999999...
)doc";

constexpr const char* doc_now = R"doc(now($type, /)
--

The current time from the system clock, on UTC.

Returns
-------
Time
    A scalar epoch on the 'utc' scale.

Examples
--------
>>> from kelvara.time.time import Time
>>> t = Time.now()
>>> t.scale, t.isscalar, t > Time("2020-01-01")
('utc', True, True)
)doc";

constexpr const char* doc_from_jd12 = R"doc(from_jd12($type, jd12, scale=None)
--

Epochs from two-part Julian dates, taken exactly as given.

Parameters
----------
jd12 : array_like of float, shape (N, 2) or (2,)
    Row i holds the two parts of epoch i; a (2,) array gives a scalar epoch.
scale : {None, 'utc', 'tai', 'tt', 'tdb', 'ut1'}, optional
    Time scale of the dates (default 'utc').

Returns
-------
Time

Raises
------
ValueError
    Another shape, or a value that is not finite.

Examples
--------
>>> import numpy as np
>>> from kelvara.time.time import Time
>>> Time.from_jd12(np.array([2451545.0, 0.25]), scale="tt")
Time('2000-01-01T18:00:00.000000', scale='tt')
>>> Time.from_jd12([[2451545.0, 0.25], [2451545.0, 0.5]]).iso
array(['2000-01-01T18:00:00.000000', '2000-01-02T00:00:00.000000'], dtype='<U26')
)doc";

constexpr const char* doc_reduce = R"doc(__reduce_cython__($self, /)
--

Pickle as ``(_reconstruct, (type, jd12, scale, isscalar))``.

Examples
--------
>>> import pickle
>>> from kelvara.time.time import Time
>>> t = Time(["2024-01-01", "2024-07-01"], scale="tai")
>>> pickle.loads(pickle.dumps(t)) == t
array([ True,  True])
)doc";

constexpr const char* doc_scale = R"doc(Time scale of the epochs: 'utc', 'tai', 'tt', 'tdb' or 'ut1'.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2020-01-01").scale, Time("2020-01-01", scale="tdb").scale
('utc', 'tdb')
)doc";

constexpr const char* doc_size = R"doc(Number of epochs: 1 for a scalar.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2020-01-01").size, Time(["2020-01-01", "2021-01-01", "2022-01-01"]).size
(1, 3)
)doc";

constexpr const char* doc_shape = R"doc(Shape of the epochs: () for a scalar, (N,) for N epochs.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2020-01-01").shape, Time(["2020-01-01", "2021-01-01"]).shape
((), (2,))
)doc";

constexpr const char* doc_isscalar = R"doc(True for a single epoch, False for an array of epochs.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2020-01-01").isscalar, Time(["2020-01-01"]).isscalar
(True, False)
)doc";

constexpr const char* doc_jd1 = R"doc(First part of the two-part Julian date (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2000-01-01T18:00:00").jd1
2451544.5
)doc";

constexpr const char* doc_jd2 = R"doc(Second part of the two-part Julian date (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2000-01-01T18:00:00").jd2
0.75
)doc";

constexpr const char* doc_jd = R"doc(Julian date jd1 + jd2 (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2000-01-01T12:00:00", scale="tt").jd
2451545.0
)doc";

constexpr const char* doc_mjd = R"doc(Modified Julian date, the Julian date minus 2400000.5 (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time(["2000-01-01", "2000-01-02T06:00:00"]).mjd
array([51544.  , 51545.25])
)doc";

constexpr const char* doc_jd12 = R"doc(Both parts of the Julian dates as a float64 array of shape (N, 2), one row per epoch.

A scalar gives one row.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time(["2000-01-01T18:00:00", "2000-01-02"]).jd12
array([[2.4515445e+06, 7.5000000e-01],
       [2.4515455e+06, 0.0000000e+00]])
)doc";

constexpr const char* doc_iso = R"doc(ISO 8601 text with microseconds, on the Time's own scale (a str, or an array of str).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-02-29T12:30").iso
'2024-02-29T12:30:00.000000'
)doc";

constexpr const char* doc_datetime = R"doc(Naive datetime.datetime on the Time's own scale (or an object array of them).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-02-29T12:30:15.25").datetime
datetime.datetime(2024, 2, 29, 12, 30, 15, 250000)
)doc";

constexpr const char* doc_datetime64 = R"doc(numpy.datetime64 in nanoseconds on the Time's own scale (a scalar or an array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-02-29T12:30").datetime64
np.datetime64('2024-02-29T12:30:00.000000000')
)doc";

constexpr const char* doc_utc = R"doc(The same epochs on UTC.

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:37", scale="tai").utc
Time('2024-03-20T03:06:00.000000', scale='utc')
)doc";

constexpr const char* doc_tai = R"doc(The same epochs on TAI (International Atomic Time).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:00").tai
Time('2024-03-20T03:06:37.000000', scale='tai')
)doc";

constexpr const char* doc_tt = R"doc(The same epochs on TT (Terrestrial Time, TAI + 32.184 s).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:00").tt
Time('2024-03-20T03:07:09.184000', scale='tt')
)doc";

constexpr const char* doc_tdb = R"doc(The same epochs on TDB (Barycentric Dynamical Time).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:00").tdb
Time('2024-03-20T03:07:09.185587', scale='tdb')
)doc";

constexpr const char* doc_ErfaDubiousYearWarning = R"doc(A UTC date is dubious: before 1960, or after the expiry of the leap-second table in force.

Such epochs are still converted, with TAI-UTC taken as 0 s before 1960 and as its last known
value after the expiry. Update the table with ``pip install -U astropy-iers-data`` or
``kelvara.time.iers.load_leap_seconds(path)``.

Examples
--------
>>> import warnings
>>> from kelvara.time.time import ErfaDubiousYearWarning, Time
>>> with warnings.catch_warnings(record=True) as caught:
...     warnings.simplefilter("always")
...     t = Time("1950-01-01").tai
>>> caught[0].category is ErfaDubiousYearWarning
True
)doc";

constexpr const char* doc_ut1 = R"doc(The same epochs on UT1, the time of the Earth's rotation.

UT1 - UTC comes from the Earth orientation data in force (kelvara.time.iers: by default
IERS finals2000A from the astropy-iers-data package, read on first use), interpolated at
each epoch.

Warns
-----
EopRangeWarning
    An epoch past the data (UT1 - UTC held at its last value).

Raises
------
ValueError
    An epoch before the data (1962-01-01 for the default C04 series).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:00").ut1
Time('2024-03-20T03:05:59.990808', scale='ut1')
>>> Time("2024-03-20T03:06:00", scale="ut1").utc
Time('2024-03-20T03:06:00.009192', scale='utc')
)doc";

constexpr const char* doc_unix = R"doc(Seconds since 1970-01-01T00:00:00 UTC, leap seconds not counted (as POSIX clocks
count): the inverse of ``format='unix'`` (a float, or a float64 array).

Examples
--------
>>> from kelvara.time.time import Time
>>> Time("2024-03-20T03:06:00").unix
1710903960.0
>>> Time(1710903960.25, format="unix").unix
1710903960.25
)doc";

constexpr const char* doc_EopRangeWarning = R"doc(An epoch lies past the Earth orientation data in force.

UT1 - UTC and polar motion are held at their last values there. Update the data with
``pip install -U astropy-iers-data`` or ``kelvara.time.iers.load_eop(path)``.

Examples
--------
>>> import warnings
>>> from kelvara.time.time import EopRangeWarning, Time
>>> with warnings.catch_warnings(record=True) as caught:
...     warnings.simplefilter("always")
...     t = Time("2050-01-01", scale="tt").ut1
>>> EopRangeWarning in [w.category for w in caught]
True
)doc";

}  // namespace kelvara::timedoc
