from kelvara import events as events, frames as frames, geodesy as geodesy
from kelvara.bodies.bodies import Moon as Moon, Sun as Sun
from kelvara.events import find_passes as find_passes, find_rise_set as find_rise_set
from kelvara.frames import moon_aer as moon_aer, rotation as rotation, sun_aer as sun_aer, transform as transform
from kelvara.mathtools.ellipsoid.ellipsoid import Ellipsoid as Ellipsoid, create as create
from kelvara.propagators.analytical.sgp4.sgp4 import (
    EarthSatellite as EarthSatellite,
    Elements as Elements,
    propagate as propagate,
)
from kelvara.propagators.analytical.sgp4.tle import TLE as TLE
from kelvara.satellite.satellite import Satellite as Satellite
from kelvara.time import iers as iers
from kelvara.time.time import Time as Time

__version__: str
__all__ = [
    "EarthSatellite", "Elements", "Ellipsoid", "Moon", "Satellite", "Sun", "TLE", "Time", "create", "events",
    "find_passes", "find_rise_set", "frames", "geodesy", "iers", "moon_aer", "propagate", "rotation", "sun_aer", "transform",
]

def __dir__() -> list[str]: ...
