"""Record types in which kelvara returns its results."""

from kelvara.datamodel.structured import (
    AER_dtype,
    ENU_dtype,
    GeodeticState_dtype,
    LLA_dtype,
    SurfCoord_dtype,
)

__all__ = ["SurfCoord_dtype", "LLA_dtype", "GeodeticState_dtype", "ENU_dtype", "AER_dtype"]
