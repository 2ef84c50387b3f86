import os
import subprocess
import sys
import textwrap

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(HERE, "ext"))


def run_python(code: str, *flags: str, env: dict | None = None) -> subprocess.CompletedProcess:
    """Run `code` in a fresh interpreter with the repository and the test extensions importable."""
    full_env = dict(os.environ)
    full_env["PYTHONPATH"] = os.pathsep.join([ROOT, os.path.join(HERE, "ext")])
    full_env.update(env or {})
    return subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, env=full_env, cwd=ROOT, timeout=120,
    )


@pytest.fixture
def python():
    """Fixture form of run_python: asserts success and returns stdout."""

    def run(code: str, *flags: str, env: dict | None = None) -> str:
        proc = run_python(code, *flags, env=env)
        assert proc.returncode == 0, proc.stderr
        return proc.stdout

    return run
