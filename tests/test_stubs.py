"""The .pyi stubs beside the extension modules agree with what the modules define at run time.

mypy.stubtest imports every module of the package and compares names, kinds, signatures
(from the text signatures in the docstrings) and class layouts with the stubs. Entries it cannot
check are listed, each with its reason, in stubtest-allowlist.txt; an entry that is no longer
needed fails the run too, so the list cannot go stale.
"""

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
ALLOWLIST = ROOT / "tests" / "stubtest-allowlist.txt"


def test_stubs_match_runtime():
    run = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "kelvara", "--allowlist", str(ALLOWLIST)],
        cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "Success" in run.stdout, run.stdout + run.stderr
