"""kelvara: astrodynamics and geodesy primitives over NumPy arrays."""

__version__ = "0.1.0"
