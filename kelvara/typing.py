"""Type aliases shared by kelvara's public interfaces."""

from __future__ import annotations

import datetime
from typing import Sequence, Union

import numpy as np

# Anything kelvara.time.time.Time accepts as a point (or points) in time.
DatetimeLike = Union[str, datetime.datetime, datetime.date, np.datetime64, "Time", Sequence, np.ndarray]

__all__ = ["DatetimeLike"]
