"""Check an installed kelvara (run from outside the source tree, in a venv holding only the wheel).

Every extension module of the installed package is found by walking it (so modules added later
are checked without changing this file), imported, and used: the ``>>>`` examples of its
docstrings run; a module without examples must at least publish its C-level table or public
objects, or (when it only holds private entry points) its package's examples run. No module may
need liberfa (ERFA is linked statically) or any library the loader cannot find.
"""

import doctest
import importlib
import importlib.machinery
import importlib.metadata
import importlib.util
import inspect
import os
import pkgutil
import subprocess
import sys
import types

FLAGS = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE
DESCRIPTORS = (types.MethodDescriptorType, types.ClassMethodDescriptorType, types.GetSetDescriptorType,
               types.MemberDescriptorType, types.WrapperDescriptorType, types.BuiltinMethodType)
failures = []


def fail(message):
    failures.append(message)
    print("FAIL", message, flush=True)


def docstrings(module):
    """Docstrings of the module, its own types and functions, and their members."""
    found = [(module.__name__, module.__doc__)]
    for name, obj in vars(module).items():
        own = getattr(obj, "__module__", None) == module.__name__ or (
            inspect.isbuiltin(obj) and getattr(obj, "__self__", None) is module)
        if not own or not (inspect.isclass(obj) or inspect.isroutine(obj)):
            continue
        found.append((f"{module.__name__}.{name}", obj.__doc__))
        if inspect.isclass(obj):
            found += [(f"{module.__name__}.{name}.{m}", v.__doc__) for m, v in vars(obj).items()
                      if isinstance(v, DESCRIPTORS)]
    return [(q, d) for q, d in found if isinstance(d, str)]


def run_examples(module):
    """Run the docstring examples of `module`; returns how many ran."""
    import numpy as np
    parser, ran = doctest.DocTestParser(), 0
    runner = doctest.DocTestRunner(optionflags=FLAGS)
    for qualname, doc in docstrings(module):
        test = parser.get_doctest(doc, {"__name__": module.__name__}, qualname, module.__name__, 0)
        if not test.examples:
            continue
        with np.printoptions(precision=8, threshold=1000, linewidth=75, suppress=False, legacy=False):
            result = runner.run(test)
        ran += result.attempted
        if result.failed:
            fail(f"{qualname}: {result.failed} of {result.attempted} examples failed")
    return ran


def needed_libraries(path):
    out = subprocess.run(["ldd", path], capture_output=True, text=True).stdout
    return out


def main():
    import kelvara

    root = os.path.dirname(os.path.abspath(kelvara.__file__))
    here = os.path.abspath(os.getcwd())
    print(f"kelvara {kelvara.__version__} from {root}")
    if importlib.metadata.version("kelvara") != kelvara.__version__:
        fail(f"installed metadata says {importlib.metadata.version('kelvara')}, kelvara.__version__ {kelvara.__version__}")
    if os.path.exists(os.path.join(root, "..", "pyproject.toml")) or not os.path.abspath(sys.prefix) in root:
        fail(f"kelvara was imported from {root}, not from the venv at {sys.prefix}")
    if os.path.commonpath([here, root]) == root:
        fail("the check must run from outside the package")

    # Every subpackage is importable (a broken __init__ would hide modules from the walk).
    def onerror(name):
        fail(f"walking {name}: {sys.exc_info()[1]!r}")

    suffixes = tuple(importlib.machinery.EXTENSION_SUFFIXES)
    extensions = []
    for info in pkgutil.walk_packages(kelvara.__path__, "kelvara.", onerror=onerror):
        spec = importlib.util.find_spec(info.name)
        if spec and spec.origin and spec.origin.endswith(suffixes):
            extensions.append((info.name, spec.origin))
    if len(extensions) < 8:
        fail(f"only {len(extensions)} extension modules found: {[n for n, _ in extensions]}")

    for name, origin in sorted(extensions):
        libs = needed_libraries(origin)
        if "liberfa" in libs or "not found" in libs:
            fail(f"{name} needs libraries the wheel does not carry:\n{libs}")
        try:
            module = importlib.import_module(name)
        except Exception as exc:  # noqa: BLE001 - every failure is reported, then the check fails
            fail(f"import {name}: {exc!r}")
            continue
        ran = run_examples(module)
        capi = sorted(getattr(module, "__pyx_capi__", {}))
        # Without examples: every public object the module defines is at least read and shown.
        public = [v for k, v in vars(module).items() if not k.startswith("_") and not isinstance(v, types.ModuleType)]
        shown = sum(bool(repr(v)) for v in public)
        via = ""
        if not ran and not capi and not shown:
            # Private entry points only: the package that wraps them is what users call.
            parent = importlib.import_module(name.rpartition(".")[0])
            ran = run_examples(parent)
            via = f" (through {parent.__name__})"
            if not ran:
                fail(f"{name} has no examples, C-level table or public object, nor has {parent.__name__}")
        print(f"ok   {name}: {ran} examples{via}, {shown} public objects, C table {capi if capi else '-'}", flush=True)

    # The package as a user meets it: top-level names and the bodies (whose texts carry no examples).
    import numpy as np
    from kelvara import Ellipsoid, Moon, Satellite, Sun, TLE, Time, create

    t = Time(["2024-03-20T03:06:00", "2024-06-20T20:51:00"])
    for body in (Sun(t), Moon(t)):
        r = body.r_GCRF
        if r.shape != (2, 3) or not np.all(np.linalg.norm(r, axis=1) > 3e8):
            fail(f"{type(body).__name__} gave {r!r}")
    sphere = Ellipsoid(6371000.0, 0.0)
    lla = sphere.lla_from_pos(sphere.pos_from_lla(0.5, 0.25, 100.0))
    if abs(lla["lat"][0] - 0.5) > 1e-12 or abs(lla["alt"][0] - 100.0) > 1e-6:
        fail(f"sphere round trip gave {lla!r}")
    wgs84 = create("wgs84")
    tle = TLE("1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927",
              "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537")
    sat = Satellite()
    sat.time = tle.epoch
    print(f"ok   top-level names: WGS84 a = {wgs84.Re}, ISS epoch {sat.time}")

    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    print(f"wheel check passed: {len(extensions)} extension modules")
    return 0


if __name__ == "__main__":
    sys.exit(main())
