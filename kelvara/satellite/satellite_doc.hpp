// Docstrings of kelvara.satellite.satellite (the type and `time` keep their one-line texts).
#pragma once

namespace kelvara::satellite_doc {

constexpr const char* doc__time = R"doc(Satellite._time: Time | None

The stored epoch, the same object as `time`; None until `time` is first assigned.

Examples
--------
>>> from kelvara.satellite.satellite import Satellite
>>> sat = Satellite()
>>> sat._time is None
True
>>> sat.time = "2024-01-01T06:00:00"
>>> sat._time
Time('2024-01-01T06:00:00.000000', scale='utc')
>>> sat._time is sat.time
True
)doc";

}  // namespace kelvara::satellite_doc
