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


def interrupt(setup: str, call: str) -> tuple[float, bool]:
    """Run `setup`, then `out = <call>` in a fresh interpreter and send it SIGINT half a second into
    the call. Returns (seconds from the signal to the KeyboardInterrupt, whether `out` stayed unset)."""
    import signal
    import time
    code = f"""
import time
{textwrap.dedent(setup)}
out = None
print("go", flush=True)
try:
    out = {call}
except KeyboardInterrupt:
    print(time.time(), out is None, flush=True)
"""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([ROOT, os.path.join(HERE, "ext")]))
    proc = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True, env=env, cwd=ROOT)
    try:
        assert proc.stdout.readline() == "go\n"
        time.sleep(0.5)
        sent = time.time()
        proc.send_signal(signal.SIGINT)
        line = proc.stdout.readline()
        proc.wait(timeout=60)
    finally:
        proc.kill()
    caught, unset = line.split()
    return float(caught) - sent, unset == "True"
