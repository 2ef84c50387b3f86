from typing import Any

from typing_extensions import disjoint_base

import numpy as numpy

from kelvara.time.time import Time
from kelvara.typing import DatetimeLike as DatetimeLike

__test__: dict[str, str]

@disjoint_base
class Satellite:
    """Satellite() -> None"""

    def __init__(self) -> None: ...
    @property
    def time(self) -> Time | None: ...
    @time.setter
    def time(self, value: DatetimeLike) -> None: ...
    @property
    def _time(self) -> Time | None: ...
    def __reduce_cython__(self) -> Any: ...
    def __setstate_cython__(self, __pyx_state: Any) -> Any: ...
