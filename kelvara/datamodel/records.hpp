// C twins of the record types of kelvara.datamodel.structured: packed, field for field the
// layout of the NumPy dtypes, so a record array is read and written in place.
#pragma once

#include <array>
#include <cstddef>

#include "../frame/field.hpp"

namespace kelvara {

#define KELVARA_PACKED __attribute__((packed))

struct KELVARA_PACKED SurfCoord {
    double lat, lon;
    static constexpr const char* type_name = "SurfCoord";
    static constexpr const char* buffer_format = "T{d:lat:d:lon:}";
    static constexpr std::array<frame::Field, 2> fields{{{"lat", 0, 1}, {"lon", 8, 1}}};
};

struct KELVARA_PACKED LLA {
    double lat, lon, alt;
    static constexpr const char* type_name = "LLA";
    static constexpr const char* buffer_format = "T{d:lat:d:lon:d:alt:}";
    static constexpr std::array<frame::Field, 3> fields{{{"lat", 0, 1}, {"lon", 8, 1}, {"alt", 16, 1}}};
};

struct KELVARA_PACKED GeodeticState {
    double lat, lon, alt, lat_dot, lon_dot, alt_dot;
    static constexpr const char* type_name = "GeodeticState";
    static constexpr const char* buffer_format = "T{d:lat:d:lon:d:alt:d:lat_dot:d:lon_dot:d:alt_dot:}";
    static constexpr std::array<frame::Field, 6> fields{{{"lat", 0, 1}, {"lon", 8, 1}, {"alt", 16, 1},
                                                         {"lat_dot", 24, 1}, {"lon_dot", 32, 1}, {"alt_dot", 40, 1}}};
};

struct KELVARA_PACKED ENU_Frame {
    double u_east[3], u_north[3], u_up[3];
    static constexpr const char* type_name = "ENU_Frame";
    static constexpr const char* buffer_format = "T{(3)d:u_east:(3)d:u_north:(3)d:u_up:}";
    static constexpr std::array<frame::Field, 3> fields{{{"u_east", 0, 3}, {"u_north", 24, 3}, {"u_up", 48, 3}}};
};

struct KELVARA_PACKED AER {
    double azimuth, elevation, range;
    static constexpr const char* type_name = "AER";
    static constexpr const char* buffer_format = "T{d:azimuth:d:elevation:d:range:}";
    static constexpr std::array<frame::Field, 3> fields{{{"azimuth", 0, 1}, {"elevation", 8, 1}, {"range", 16, 1}}};
};

#undef KELVARA_PACKED

static_assert(sizeof(SurfCoord) == 16 && offsetof(SurfCoord, lon) == 8);
static_assert(sizeof(LLA) == 24 && offsetof(LLA, lon) == 8 && offsetof(LLA, alt) == 16);
static_assert(sizeof(GeodeticState) == 48 && offsetof(GeodeticState, alt) == 16 &&
              offsetof(GeodeticState, lat_dot) == 24 && offsetof(GeodeticState, lon_dot) == 32 &&
              offsetof(GeodeticState, alt_dot) == 40);
static_assert(sizeof(ENU_Frame) == 72 && offsetof(ENU_Frame, u_north) == 24 && offsetof(ENU_Frame, u_up) == 48);
static_assert(sizeof(AER) == 24 && offsetof(AER, elevation) == 8 && offsetof(AER, range) == 16);

}  // namespace kelvara
