"""Record types: packed layouts that the C twins mirror byte for byte."""

import numpy as np
import pytest

import kelvara.datamodel as package
from kelvara.datamodel import structured

LAYOUTS = {
    "SurfCoord_dtype": (16, [("lat", "<f8", 0), ("lon", "<f8", 8)]),
    "LLA_dtype": (24, [("lat", "<f8", 0), ("lon", "<f8", 8), ("alt", "<f8", 16)]),
    "GeodeticState_dtype": (48, [(n, "<f8", 8 * i) for i, n in
                                 enumerate(["lat", "lon", "alt", "lat_dot", "lon_dot", "alt_dot"])]),
    "ENU_dtype": (72, [("u_east", ("<f8", (3,)), 0), ("u_north", ("<f8", (3,)), 24), ("u_up", ("<f8", (3,)), 48)]),
    "AER_dtype": (24, [("azimuth", "<f8", 0), ("elevation", "<f8", 8), ("range", "<f8", 16)]),
    "DTF_dtype": (14, [("year", "<u2", 0), ("month", "u1", 2), ("day", "u1", 3), ("hour", "u1", 4),
                       ("minute", "u1", 5), ("second", "<f8", 6)]),
}


@pytest.mark.parametrize("name", LAYOUTS)
def test_packed_layout(name):
    dtype = getattr(structured, name)
    size, fields = LAYOUTS[name]
    assert dtype.itemsize == size
    assert dtype.names == tuple(f[0] for f in fields)
    for field, ftype, offset in fields:
        got_type, got_offset = dtype.fields[field][:2]
        assert got_offset == offset
        assert got_type == np.dtype(ftype)
    assert not dtype.isalignedstruct


def test_enu_sub_array_starts_at_24():
    rec = np.zeros(1, structured.ENU_dtype)
    raw = rec.view(np.float64)
    rec["u_north"][0] = [1.0, 2.0, 3.0]
    assert raw[3:6].tolist() == [1.0, 2.0, 3.0]
    assert rec["u_north"].shape == (1, 3)


def test_package_reexports_the_five():
    for name in ["SurfCoord_dtype", "LLA_dtype", "ENU_dtype", "AER_dtype", "GeodeticState_dtype"]:
        assert getattr(package, name) is getattr(structured, name)
    assert structured.numpy is np and structured.dtype is np.dtype


def test_records_round_trip_through_numpy():
    rec = np.array([(0.5, -1.25, 100.0)], dtype=structured.LLA_dtype)
    assert rec.tobytes() == np.array([0.5, -1.25, 100.0]).tobytes()
    dtf = np.array([(2024, 2, 29, 23, 59, 59.5)], dtype=structured.DTF_dtype)
    assert dtf.tobytes()[:6] == bytes([0xE8, 0x07, 2, 29, 23, 59])
    assert np.frombuffer(dtf.tobytes()[6:], np.float64)[0] == 59.5
