import numpy
from numpy import dtype as dtype

SurfCoord_dtype: numpy.dtype[numpy.void]
LLA_dtype: numpy.dtype[numpy.void]
GeodeticState_dtype: numpy.dtype[numpy.void]
ENU_dtype: numpy.dtype[numpy.void]
AER_dtype: numpy.dtype[numpy.void]
DTF_dtype: numpy.dtype[numpy.void]
__test__: dict[str, str]
