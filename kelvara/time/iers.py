"""Leap seconds and Earth orientation parameters: the IERS data behind kelvara's Time.

The tables live in the time extension (`kelvara.time.time`), whose conversions use them; this
module reads files and puts them in force.

- Leap seconds: the table built into kelvara (every step through 2017-01-01, expiring
  2027-06-28) or the ``Leap_Second.dat`` of the ``astropy-iers-data`` package, whichever expires
  later; `load_leap_seconds` puts another file in force. A UTC date before 1960 or after the
  expiry warns `ErfaDubiousYearWarning`.
- Earth orientation: the IERS EOP 20 C04 series ``eopc04.1962-now`` from ``astropy-iers-data``
  where it has values, its ``finals2000A.all`` after, read on first use; `load_eop` puts other
  files in force. `eop` gives UT1-UTC and polar motion at any epochs.
"""

from __future__ import annotations

import datetime as _datetime
import functools as _functools
import importlib.util as _importlib_util
import os as _os
from typing import Any, Callable, Literal, Sequence, TypeVar

from kelvara.time import time as _time
from kelvara.time.time import ErfaDubiousYearWarning, EopRangeWarning, Time

__all__ = [
    "ErfaDubiousYearWarning",
    "EopRangeWarning",
    "eop",
    "eop_info",
    "leap_seconds",
    "leap_seconds_expire",
    "load_eop",
    "load_leap_seconds",
    "ut1",
]


_Path = str | bytes | _os.PathLike[str] | _os.PathLike[bytes]


def _read(path: _Path) -> tuple[bytes, str]:
    # The name is kept as os.fsdecode gives it: a file name that is not valid in the file-system
    # encoding (surrogate escapes, as os.listdir returns it) opens and is reported as given.
    name = _os.fsdecode(_os.fspath(path))
    with open(name, "rb") as f:
        return f.read(), name


def load_leap_seconds(path: _Path) -> None:
    """Put the leap-second table of a file in force for every later conversion.

    Parameters
    ----------
    path : str, bytes or os.PathLike
        An IERS ``Leap_Second.dat`` (rows "MJD day month year TAI-UTC", with "File expires on
        ..."), or an NTP ``leap-seconds.list`` (rows "NTP-seconds TAI-UTC", expiry on "#@").
        The file gives TAI-UTC from 1972 on; the drifting steps of the 1960s stay built in.

    Raises
    ------
    ValueError
        A file that cannot be read, naming the file, the line and its text. The table in
        force stays as it was. So is one holding what no leap-second table can: TAI-UTC from
        1972 on that is not a whole number of seconds from 10 to 1000, or that falls by more
        than one second at a step (UTC allows a negative leap second), or an expiry outside
        the years 1972 to 9999.
    OSError
        A file that cannot be opened.

    Examples
    --------
    >>> import datetime
    >>> import astropy_iers_data
    >>> from kelvara.time import iers
    >>> iers.load_leap_seconds(astropy_iers_data.IERS_LEAP_SECOND_FILE)
    >>> iers.leap_seconds_expire() >= datetime.date(2027, 6, 28)
    True
    """
    data, name = _read(path)
    _time._set_leap_seconds(data, name, False)


def leap_seconds_expire() -> _datetime.date:
    """The expiry date of the leap-second table in force.

    UTC dates after it warn `ErfaDubiousYearWarning`: a leap second may have been announced
    since. Update with ``pip install -U astropy-iers-data`` or `load_leap_seconds`.

    Examples
    --------
    >>> import datetime
    >>> from kelvara.time import iers
    >>> iers.leap_seconds_expire() >= datetime.date(2027, 6, 28)
    True
    """
    _, expiry, _ = _time._leap_seconds()
    return _datetime.date(*expiry)


def leap_seconds() -> list[tuple[_datetime.date, float]]:
    """The steps of TAI-UTC in force: (first day, TAI-UTC in s on that day at 0h).

    Before 1972 TAI-UTC also drifted between the steps; the values are those of the step days.

    Examples
    --------
    >>> from kelvara.time import iers
    >>> iers.leap_seconds()[-1]
    (datetime.date(2017, 1, 1), 37.0)
    """
    steps, _, _ = _time._leap_seconds()
    return [(_datetime.date(y, m, 1), v) for y, m, v in steps]


def load_eop(path: _Path | Sequence[_Path], interpolation: Literal["lagrange", "linear"] = "lagrange") -> None:
    """Put the Earth orientation parameters of IERS files in force.

    Parameters
    ----------
    path : str, bytes or os.PathLike, or a list or tuple of them
        An IERS ``finals2000A.all``, ``.data`` or ``.daily`` (fixed columns: Bulletin B values
        where given, else Bulletin A; rows flagged "P" are predictions), or the IERS EOP 20 C04
        series ``eopc04.1962-now`` (told apart by its '#' header; every row final). Several
        files make one table: each later one continues it from the day after the earlier ones
        end, and must begin by then. The default is ``[eopc04.1962-now, finals2000A.all]`` of
        ``astropy-iers-data``: C04 from 1962 to its last day, finals2000A after it.
    interpolation : {'lagrange', 'linear'}, optional
        Between the daily rows: 4-point Lagrange, as the IERS recommends (default), or linear,
        as astropy does. Both interpolate UT1-TAI, so a leap second does not smear UT1-UTC
        over the day before it, and both give the tabulated values at 0h UTC.

    Raises
    ------
    ValueError
        A file that cannot be read, naming the file, the line and its text; the data in force
        stays as it was. So is a row cut inside one of its fixed columns or before its
        UT1-UTC (a truncated download), and values no IERS series holds: UT1-UTC beyond
        +-1 s, or a pole coordinate x or y of 2 arcsec or more (the pole has stayed within
        0.6" of its origin since 1900).
    OSError
        A file that cannot be opened.

    Notes
    -----
    finals2000A's Bulletin B column is rounded to 1 ms before about 1990, and departs from
    the C04 series by up to 0.5 ms since 2010; the default reads C04 where it has values. At
    the seam, the day after C04's last, UT1-UTC steps by the difference of the two series
    there (tens of microseconds).

    Examples
    --------
    >>> import astropy_iers_data
    >>> from kelvara.time import iers
    >>> iers.load_eop(astropy_iers_data.IERS_A_FILE)
    >>> iers.eop_info()["first"].isoformat()
    '1973-01-02'
    >>> iers.load_eop([astropy_iers_data.IERS_B_FILE, astropy_iers_data.IERS_A_FILE])
    >>> iers.eop_info()["first"].isoformat()
    '1962-01-01'
    """
    if interpolation not in ("lagrange", "linear"):
        raise ValueError(f"interpolation {interpolation!r} is not one of 'lagrange', 'linear'")
    paths: Sequence[Any] = path if isinstance(path, (list, tuple)) else [path]
    _time._set_eop([_read(p) for p in paths], interpolation == "linear")


def eop_info() -> dict[str, Any]:
    """What the Earth orientation data in force covers (reading the default on first use).

    Returns
    -------
    dict
        ``first``, ``last_measured`` and ``last`` (the last prediction) as `datetime.date`,
        ``source`` (the file) and ``interpolation``.

    Examples
    --------
    >>> from kelvara.time import iers
    >>> info = iers.eop_info()
    >>> info["first"] < info["last_measured"] < info["last"]
    True
    """
    first, measured, last, source, interpolation = _time._eop_info()
    return {
        "first": _datetime.date(*first),
        "last_measured": _datetime.date(*measured),
        "last": _datetime.date(*last),
        "source": source,
        "interpolation": interpolation,
    }


def eop(t: Time) -> tuple[Any, Any, Any]:
    """UT1-UTC and polar motion at the epochs of a Time of any scale.

    Parameters
    ----------
    t : Time

    Returns
    -------
    dut1, xp, yp : float or numpy.ndarray
        UT1-UTC in seconds and the pole coordinates in radians, shaped like `t` (floats for a
        scalar Time).

    Warns
    -----
    EopRangeWarning
        Epochs past the data: the last values are held (once per call).

    Raises
    ------
    ValueError
        Epochs before the data starts.

    Examples
    --------
    >>> from kelvara.time import iers
    >>> from kelvara.time.time import Time
    >>> dut1, xp, yp = iers.eop(Time("2024-01-01"))
    >>> round(dut1, 4), abs(xp) < 3e-6
    (0.0088, True)
    """
    return _time._eop(t)


def ut1(t: Time, dut1: Any) -> Time:
    """The epochs of a Time on UT1 with UT1-UTC given, instead of taken from the data in force.

    For reproducing a published example, or for an Earth orientation series of your own.
    ``t.ut1`` is ``ut1(t, eop(t)[0])``, bit for bit.

    Parameters
    ----------
    t : Time
        Epochs on any scale.
    dut1 : float or array_like
        UT1-UTC in seconds: one value, or one per epoch.

    Returns
    -------
    Time
        On the 'ut1' scale; its ``.utc`` gives back the UTC epochs exactly.

    Examples
    --------
    >>> from kelvara.time import iers
    >>> from kelvara.time.time import Time
    >>> iers.ut1(Time("2004-04-06T07:51:28.386009"), -0.4399619).iso
    '2004-04-06T07:51:27.946047'
    """
    return _time._ut1(t, dut1)


_F = TypeVar("_F", bound=Callable[..., Any])


def _one_warning_each(fn: _F) -> _F:
    """fn giving at most one ErfaDubiousYearWarning and one EopRangeWarning per call, at its
    caller's line: for functions that convert times several times over (a search converts its
    window, its nodes and their EOP; frames reads an epoch on three scales and its EOP), each
    conversion of which would warn on its own."""

    @_functools.wraps(fn)
    def call(*args: Any, **kwargs: Any) -> Any:
        return _time._one_warning_each(fn, *args, **kwargs)

    return call  # type: ignore[return-value]


def _package_file(name: str) -> str | None:
    """A data file of the astropy-iers-data package, found without importing it."""
    spec = _importlib_util.find_spec("astropy_iers_data")
    if spec is None or not spec.submodule_search_locations:
        return None
    path = _os.path.join(list(spec.submodule_search_locations)[0], "data", name)
    return path if _os.path.exists(path) else None


def _load_default_leap_seconds() -> None:
    """The package's Leap_Second.dat, when it expires later than the table in force."""
    path = _package_file("Leap_Second.dat")
    if path is not None:
        data, name = _read(path)
        _time._set_leap_seconds(data, name, True)


def _load_default_eop() -> None:
    """The C04 series of astropy-iers-data where it has values, its finals2000A after."""
    path = _package_file("finals2000A.all")
    if path is None:
        raise RuntimeError(
            "no Earth orientation data: install astropy-iers-data (pip install astropy-iers-data) "
            "or load a finals2000A file with kelvara.time.iers.load_eop(path)"
        )
    c04 = _package_file("eopc04.1962-now")
    _time._set_eop([_read(p) for p in ([c04] if c04 else []) + [path]], False)
