"""Positions and velocities between GCRF, ITRF and TEME, and a station's view of the Sun and the Moon."""

from typing import Any, Literal, Sequence, overload

import numpy as np
import numpy.typing as npt

from kelvara.time.time import Time

_Frame = Literal["gcrf", "itrf", "teme", "GCRF", "ITRF", "TEME"]
_Array = npt.NDArray[np.float64]
_Times = Time | Any
_Eop = Sequence[float | npt.ArrayLike] | tuple[npt.ArrayLike, npt.ArrayLike, npt.ArrayLike]

FRAMES: tuple[str, str, str]
OMEGA_EARTH: float
__test__: dict[str, str]

@overload
def transform(r: npt.ArrayLike, t: _Times, src: _Frame | str, dst: _Frame | str, *, v: None = None,
              eop: _Eop | None = None, precise: bool = False) -> _Array: ...
@overload
def transform(r: npt.ArrayLike, t: _Times, src: _Frame | str, dst: _Frame | str, *, v: npt.ArrayLike,
              eop: _Eop | None = None, precise: bool = False) -> tuple[_Array, _Array]: ...
def rotation(src: _Frame | str, dst: _Frame | str, t: _Times, *, eop: _Eop | None = None,
             precise: bool = False) -> _Array: ...
def sun_aer(t: _Times, lat: npt.ArrayLike, lon: npt.ArrayLike, alt: npt.ArrayLike = 0.0, *, deg: bool = True,
            refraction: bool = False, pressure: float = 1010.0, temperature: float = 10.0,
            eop: _Eop | None = None) -> tuple[Any, Any, Any]: ...
def moon_aer(t: _Times, lat: npt.ArrayLike, lon: npt.ArrayLike, alt: npt.ArrayLike = 0.0, *, deg: bool = True,
             refraction: bool = False, pressure: float = 1010.0, temperature: float = 10.0,
             eop: _Eop | None = None) -> tuple[Any, Any, Any]: ...
def aer(r: npt.ArrayLike, t: _Times, src: _Frame | str, lat: npt.ArrayLike, lon: npt.ArrayLike,
        alt: npt.ArrayLike = 0.0, *, deg: bool = True, refraction: bool = False, pressure: float = 1010.0,
        temperature: float = 10.0, eop: _Eop | None = None) -> tuple[Any, Any, Any]: ...
