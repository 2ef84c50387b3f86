from types import ModuleType
from typing import Any, ClassVar

import numpy as np
import numpy.typing as npt
from typing_extensions import disjoint_base

from kelvara.time.time import Time

numpy: ModuleType
__test__: dict[str, str]

@disjoint_base
class CelestialBody:
    """A body's GCRF position (m) and velocity (m/s) at the epochs of a Time."""

    def __init__(self, time: Time | None) -> None: ...
    @property
    def time(self) -> Time | None: ...
    @property
    def r_GCRF(self) -> npt.NDArray[np.float64]: ...
    @property
    def v_GCRF(self) -> npt.NDArray[np.float64]: ...
    @property
    def ur_GCRF(self) -> npt.NDArray[np.float64]: ...
    def __reduce_cython__(self) -> tuple[Any, ...]: ...
    def __setstate_cython__(self, __pyx_state: tuple[Any, ...]) -> None: ...

@disjoint_base
class Sun(CelestialBody):
    """The Sun seen from the Earth's centre (annual aberration applied); zero velocities."""

    GM_JPL2021: ClassVar[float]
    GM_IAU2015: ClassVar[float]
    GM_SEI1992: ClassVar[float]
    GM: ClassVar[float]
    Re_IAU2015: ClassVar[float]
    Re_SEI1992: ClassVar[float]
    Re: ClassVar[float]
    def __init__(self, time: Time | None) -> None: ...

@disjoint_base
class Moon(CelestialBody):
    """The Moon's geocentric GCRS position and velocity (ERFA's Moon98 model)."""

    GM_JPL2021: ClassVar[float]
    GM_SEI1992: ClassVar[float]
    GM: ClassVar[float]
    Re_SEI1992: ClassVar[float]
    Re: ClassVar[float]
    def __init__(self, time: Time | None) -> None: ...

def __pyx_unpickle_CelestialBody(__pyx_type: type, __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None) -> CelestialBody: ...
