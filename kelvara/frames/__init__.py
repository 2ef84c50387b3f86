"""Earth-fixed frames: GCRF, ITRF and TEME, and the Sun, the Moon or a satellite in a station's sky."""

from kelvara.frames import frames as _ext
from kelvara.frames.frames import FRAMES, OMEGA_EARTH
from kelvara.time.iers import _one_warning_each

__all__ = ["FRAMES", "OMEGA_EARTH", "aer", "moon_aer", "rotation", "sun_aer", "transform"]

# Each reads its epochs on several scales and their EOP; one warning of each kind per call.
transform = _one_warning_each(_ext.transform)
rotation = _one_warning_each(_ext.rotation)
sun_aer = _one_warning_each(_ext.sun_aer)
moon_aer = _one_warning_each(_ext.moon_aer)
aer = _one_warning_each(_ext.aer)
