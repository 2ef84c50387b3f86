"""Every ``>>>`` example in the docstrings of the extension modules runs and prints what it says.

doctest.DocTestFinder skips the getset and member descriptors of extension types (it only
collects routines, classes and ``property`` objects), so the docstrings are gathered here by
walking each module, its types and everything in their ``__dict__``.
"""

import doctest
import importlib
import inspect
import types

import numpy as np
import pytest

MODULES = [
    "kelvara.datamodel.structured",
    "kelvara.mathtools.linear.linear",
    "kelvara.mathtools.ellipsoid.ellipsoid",
    "kelvara.bodies.bodies",
    "kelvara.propagators.analytical.sgp4.tle",
    "kelvara.propagators.analytical.sgp4.sgp4",
    "kelvara.satellite.satellite",
    "kelvara.time.time",
    "kelvara.time.iers",
    "kelvara.frames.frames",
    "kelvara.events",
    "kelvara.geodesy",
    "kelvara.geodesy.ufuncs",
]
FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
# NumPy's defaults, stated so that a test that changed them cannot leak into the printed arrays
PRINT_OPTIONS = dict(precision=8, threshold=1000, edgeitems=3, linewidth=75, suppress=False,
                     nanstr="nan", infstr="inf", sign="-", floatmode="maxprec", legacy=False)
# A collection fault (a module, type or descriptor kind no longer walked) must not pass silently.
MIN_EXAMPLES = 120
DESCRIPTORS = (types.MethodDescriptorType, types.ClassMethodDescriptorType, types.GetSetDescriptorType,
               types.MemberDescriptorType, types.WrapperDescriptorType, types.BuiltinMethodType)


def documented(module_name):
    """(qualified name, docstring) of the module, its own types and functions, and their members."""
    module = importlib.import_module(module_name)
    found = [(module_name, module.__doc__)]
    for name, obj in vars(module).items():
        own = getattr(obj, "__module__", None) == module_name or (
            inspect.isbuiltin(obj) and getattr(obj, "__self__", None) is module)
        if not own or not (inspect.isclass(obj) or inspect.isroutine(obj)):
            continue
        found.append((f"{module_name}.{name}", obj.__doc__))
        if inspect.isclass(obj):
            for member, value in vars(obj).items():
                if member in ("__doc__", "__module__") or not isinstance(value, DESCRIPTORS):
                    continue
                found.append((f"{module_name}.{name}.{member}", value.__doc__))
    # Python functions indent their docstrings; extension modules' texts start flush
    return [(qualname, inspect.cleandoc(doc)) for qualname, doc in found if isinstance(doc, str)]


def doctests(module_name):
    parser = doctest.DocTestParser()
    tests = []
    for qualname, doc in documented(module_name):
        test = parser.get_doctest(doc, {"__name__": module_name}, qualname, module_name, 0)
        if test.examples:
            tests.append(test)
    return tests


ALL = {name: doctests(name) for name in MODULES}


# Texts fixed word for word (the bodies, the TLE lines, Satellite and its time) carry no examples;
# neither do the dunder members (CPython's slot texts, the pickling hooks) and private helpers.
WITHOUT_EXAMPLES = {
    "kelvara.bodies.bodies." + name for name in (
        "CelestialBody", "CelestialBody.r_GCRF", "CelestialBody.v_GCRF", "CelestialBody.ur_GCRF", "Sun", "Moon")
} | {
    "kelvara.propagators.analytical.sgp4.tle.TLE." + name for name in ("line1", "line2", "satno")
} | {"kelvara.satellite.satellite.Satellite", "kelvara.satellite.satellite.Satellite.time"}


def public_without_examples(module_name):
    """Public names of a module whose docstrings lack an Examples section."""
    missing = []
    for qualname, doc in documented(module_name):
        member = qualname.rsplit(".", 1)[-1]
        if qualname == module_name or qualname in WITHOUT_EXAMPLES or member.startswith("_"):
            continue
        if "\nExamples\n--------\n" not in inspect.cleandoc(doc):  # Python docstrings are indented
            missing.append(qualname)
    return missing


def test_examples_are_collected():
    total = sum(len(t.examples) for tests in ALL.values() for t in tests)
    assert total >= MIN_EXAMPLES, f"only {total} docstring examples found"
    # the getset descriptors of extension types carry examples too
    names = {t.name for tests in ALL.values() for t in tests}
    assert "kelvara.mathtools.ellipsoid.ellipsoid.Ellipsoid.Re" in names
    assert "kelvara.time.time.Time.jd12" in names


@pytest.mark.parametrize("module_name", MODULES)
def test_public_names_show_examples(module_name):
    assert public_without_examples(module_name) == []


@pytest.mark.parametrize("module_name", [m for m in MODULES if ALL[m]])
def test_docstring_examples(module_name):
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    failures = []
    with np.printoptions(**PRINT_OPTIONS):
        for test in ALL[module_name]:
            report = []
            result = runner.run(test, out=report.append)
            if result.failed:
                failures.append("".join(report))
    assert not failures, "\n".join(failures)
