"""Search loops for satellite passes and Sun and Moon rise and set."""

from typing import Any, Sequence

import numpy as np
import numpy.typing as npt

__test__: dict[str, str]

_F64 = npt.NDArray[np.float64]
_Axis = tuple[float, float, float, float, npt.ArrayLike, npt.ArrayLike, npt.ArrayLike, npt.ArrayLike]

def _passes_kepler(orbits: npt.ArrayLike, lat: float, lon: float, alt: float, a: float, f: float,
                   theta0: float, T: float, threshold: float, fraction: float) -> tuple[Any, ...]: ...
def _passes(elements: Sequence[Any], lat: float, lon: float, alt: float, a: float, f: float, axis: _Axis,
            T: float, threshold: float, fraction: float) -> tuple[Any, ...]: ...
def _rise_set(body: int, lat: float, lon: float, alt: float, a: float, f: float, axis: _Axis, T: float,
              horizon: float, limb: bool) -> tuple[npt.NDArray[np.int8], _F64, _F64, _F64, bool, float, float]: ...
