"""Type aliases shared across kelvara."""

from __future__ import annotations

import datetime
from typing import Sequence, Union

import numpy as np
import numpy.typing as npt

from kelvara.time.time import Time

#: One value that ``Time(value)`` takes without a format.
DatetimeScalar = Union[str, datetime.datetime, datetime.date, np.datetime64, Time]

#: Every value ``Time(value)`` takes without a format: a scalar of the kinds above, or a
#: sequence or one-dimensional array of them.
DatetimeLike = Union[DatetimeScalar, Sequence[DatetimeScalar], npt.NDArray[np.datetime64], npt.NDArray[np.str_]]

__all__ = ["DatetimeLike", "DatetimeScalar"]
