"""The package's top level: lazy names, a cheap `import kelvara`, stubs that list the same names."""

import ast
import importlib
import pathlib

import pytest

import kelvara
from conftest import ROOT, run_python

NAMES = {"Time": "kelvara.time.time", "Ellipsoid": "kelvara.mathtools.ellipsoid.ellipsoid",
         "create": "kelvara.mathtools.ellipsoid.ellipsoid", "Sun": "kelvara.bodies.bodies",
         "Moon": "kelvara.bodies.bodies", "TLE": "kelvara.propagators.analytical.sgp4.tle",
         "Satellite": "kelvara.satellite.satellite", "Elements": "kelvara.propagators.analytical.sgp4.sgp4",
         "EarthSatellite": "kelvara.propagators.analytical.sgp4.sgp4",
         "propagate": "kelvara.propagators.analytical.sgp4.sgp4", "find_passes": "kelvara.events",
         "find_rise_set": "kelvara.events", "transform": "kelvara.frames", "rotation": "kelvara.frames",
         "sun_aer": "kelvara.frames", "moon_aer": "kelvara.frames"}
SUBPACKAGES = {"frames": "kelvara.frames", "events": "kelvara.events", "iers": "kelvara.time.iers",
               "geodesy": "kelvara.geodesy"}


def test_import_loads_no_extension_module():
    proc = run_python("""
        import sys
        before = set(sys.modules)
        import kelvara
        print(sorted(m for m in set(sys.modules) - before if m.startswith(("kelvara", "numpy", "erfa"))))
        from kelvara import Time, Ellipsoid, create, Sun, Moon, TLE, Satellite
        print("kelvara.bodies.bodies" in sys.modules, Sun is kelvara.Sun)
    """)
    assert proc.returncode == 0, proc.stderr
    first, second = proc.stdout.splitlines()
    assert first == "['kelvara']"
    assert second == "True True"


@pytest.mark.parametrize("name, module", NAMES.items())
def test_top_level_names(name, module):
    assert getattr(kelvara, name) is getattr(importlib.import_module(module), name)
    assert name in dir(kelvara) and name in kelvara.__all__


@pytest.mark.parametrize("name, module", SUBPACKAGES.items())
def test_subpackages(name, module):
    assert getattr(kelvara, name) is importlib.import_module(module)
    assert name in dir(kelvara) and name in kelvara.__all__


def test_unknown_name():
    with pytest.raises(AttributeError, match="module 'kelvara' has no attribute 'nope'"):
        kelvara.nope  # noqa: B018
    with pytest.raises(ImportError):
        exec("from kelvara import nope", {})


def test_stub_lists_every_lazy_name():
    stub = ast.parse(pathlib.Path(ROOT, "kelvara", "__init__.pyi").read_text())
    declared = next(node.value for node in stub.body
                    if isinstance(node, ast.Assign) and node.targets[0].id == "__all__")
    assert sorted(ast.literal_eval(declared)) == sorted(kelvara.__all__) == sorted(kelvara._LAZY)
