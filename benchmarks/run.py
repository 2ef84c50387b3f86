"""Run every benchmarks/bench_*.py in turn (make bench)."""

import glob
import os
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
failed = []
for script in sorted(glob.glob(os.path.join(here, "bench_*.py"))):
    print(f"== {os.path.basename(script)}", flush=True)
    if subprocess.run([sys.executable, script], cwd=os.path.dirname(here)).returncode:
        failed.append(script)
sys.exit(1 if failed else 0)
