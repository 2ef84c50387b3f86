"""The ellipsoid argument of the modules beyond the original six, read the same way everywhere.

geodesy's functions and events' searches take it as ``ell``: None (WGS 84), a name ('wgs84',
'grs80', 'wgs72', in any case), a kelvara ``Ellipsoid`` or anything with ``Re`` and ``f``, or a
pymap3d ``Ellipsoid`` (``semimajor_axis`` and ``flattening``).
"""

from __future__ import annotations

import math
from typing import Any

from .mathtools.ellipsoid.ellipsoid import create as _create

NAMED = {name: (e.Re, e.f) for name in ("wgs84", "grs80", "wgs72") for e in (_create(name),)}
WGS84 = NAMED["wgs84"]


def resolve(ell: Any, name: str = "ell") -> tuple[float, float]:
    """(a, f) of `ell`; TypeError or ValueError naming the argument `name` when it is none."""
    if ell is None:
        return WGS84
    if isinstance(ell, str):
        try:
            return NAMED[ell.lower()]
        except KeyError:
            raise ValueError(f"{name} must be an Ellipsoid, None or one of 'wgs84', 'grs80', 'wgs72', "
                             f"not {ell!r}") from None
    for a_name, f_name in (("Re", "f"), ("semimajor_axis", "flattening")):
        a, f = getattr(ell, a_name, None), getattr(ell, f_name, None)
        if a is not None and f is not None:
            return float(a), float(f)
    raise TypeError(f"{name} must be an Ellipsoid, a name or None, not {type(ell).__name__}")


def resolve_solid(ell: Any, name: str = "ell") -> tuple[float, float]:
    """resolve(), refusing what no station can stand on: an equatorial radius that is not a
    finite positive length, or a flattening that leaves no polar radius (f >= 1)."""
    a, f = resolve(ell, name)
    if not (0.0 < a < math.inf):
        raise ValueError(f"{name} must have a finite equatorial radius Re > 0, got Re = {a!r}")
    if not (-math.inf < f < 1.0):
        raise ValueError(f"{name} must have a finite flattening f < 1, got f = {f!r}")
    return a, f
