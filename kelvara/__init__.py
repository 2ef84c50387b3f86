"""kelvara: astrodynamics and geodesy primitives over NumPy arrays.

The names below are imported from their modules on first use, so ``import kelvara`` stays cheap
(it loads no extension module and not NumPy)::

    from kelvara import Time, Ellipsoid, create, Sun, Moon, TLE, Satellite, EarthSatellite, propagate
"""

import sys

__version__ = "0.1.0"

# Top-level name -> (module, attribute); an attribute of None makes the name the module itself
# (a subpackage). A module adds its public names here, and to __init__.pyi.
_LAZY: dict[str, tuple[str, str | None]] = {
    "Time": ("kelvara.time.time", "Time"),
    "Ellipsoid": ("kelvara.mathtools.ellipsoid.ellipsoid", "Ellipsoid"),
    "create": ("kelvara.mathtools.ellipsoid.ellipsoid", "create"),
    "Sun": ("kelvara.bodies.bodies", "Sun"),
    "Moon": ("kelvara.bodies.bodies", "Moon"),
    "TLE": ("kelvara.propagators.analytical.sgp4.tle", "TLE"),
    "Satellite": ("kelvara.satellite.satellite", "Satellite"),
    "Elements": ("kelvara.propagators.analytical.sgp4.sgp4", "Elements"),
    "EarthSatellite": ("kelvara.propagators.analytical.sgp4.sgp4", "EarthSatellite"),
    "propagate": ("kelvara.propagators.analytical.sgp4.sgp4", "propagate"),
    "find_passes": ("kelvara.events", "find_passes"),
    "find_rise_set": ("kelvara.events", "find_rise_set"),
    "transform": ("kelvara.frames", "transform"),
    "rotation": ("kelvara.frames", "rotation"),
    "sun_aer": ("kelvara.frames", "sun_aer"),
    "moon_aer": ("kelvara.frames", "moon_aer"),
    "frames": ("kelvara.frames", None),
    "events": ("kelvara.events", None),
    "iers": ("kelvara.time.iers", None),
    "geodesy": ("kelvara.geodesy", None),
}

__all__ = sorted(_LAZY)


def __getattr__(name: str) -> object:
    if name not in _LAZY:
        raise AttributeError(f"module 'kelvara' has no attribute {name!r}")
    module_name, attribute = _LAZY[name]
    __import__(module_name)
    value: object = sys.modules[module_name]
    if attribute is not None:
        value = getattr(value, attribute)
    globals()[name] = value  # later lookups find it directly
    return value


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(__all__))
