"""Earth-fixed frames: GCRF, ITRF and TEME, and the Sun, the Moon or a satellite in a station's sky."""

from kelvara.frames.frames import FRAMES, OMEGA_EARTH, aer, moon_aer, rotation, sun_aer, transform

__all__ = ["FRAMES", "OMEGA_EARTH", "aer", "moon_aer", "rotation", "sun_aer", "transform"]
