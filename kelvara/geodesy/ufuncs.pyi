"""The geodesy conversions as NumPy ufuncs."""

from typing import Any

import numpy as np

__test__: dict[str, str]

ecef2geodetic: np.ufunc
geodetic2ecef: np.ufunc
ecef2enu: np.ufunc
enu2ecef: np.ufunc
geodetic2enu: np.ufunc
enu2geodetic: np.ufunc
ecef2aer: np.ufunc
aer2ecef: np.ufunc
geodetic2aer: np.ufunc
aer2geodetic: np.ufunc
enu2aer: np.ufunc
aer2enu: np.ufunc
geodesic_inverse: np.ufunc
geodesic_direct: np.ufunc
_geodesic_edge: np.ufunc

def simd_level() -> str: ...
def _set_simd_level(name: str, /) -> str: ...
def _point(ufunc: np.ufunc, /, *numbers: Any) -> tuple[np.float64, np.float64, np.float64] | None: ...
