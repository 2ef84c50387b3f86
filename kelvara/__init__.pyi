from kelvara.bodies.bodies import Moon as Moon, Sun as Sun
from kelvara.mathtools.ellipsoid.ellipsoid import Ellipsoid as Ellipsoid, create as create
from kelvara.propagators.analytical.sgp4.tle import TLE as TLE
from kelvara.satellite.satellite import Satellite as Satellite
from kelvara.time.time import Time as Time

__version__: str
__all__ = ["Ellipsoid", "Moon", "Satellite", "Sun", "TLE", "Time", "create"]

def __dir__() -> list[str]: ...
