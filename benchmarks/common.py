"""Shared timing helpers for the benchmark scripts."""

import os
import platform
import re
import sys
import timeit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [ROOT, os.path.join(ROOT, "tests", "ext")]


def best(fn, repeat: int = 5, min_time: float = 0.2) -> float:
    """Best time of one call of fn(), in seconds, over `repeat` runs of an auto-sized loop."""
    timer = timeit.Timer(fn)
    number, _ = timer.autorange()
    number = max(1, int(number * min_time / 0.2))
    return min(timer.repeat(repeat=repeat, number=number)) / number


def cpu_model() -> str:
    """The processor's model name, for the header of a results section."""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def fmt(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def write_section(title: str, lines: list[str]) -> None:
    """Replace (or append) the `## title` section of benchmarks/results.md."""
    path = os.path.join(ROOT, "benchmarks", "results.md")
    text = open(path).read() if os.path.exists(path) else "# Benchmark results\n"
    section = f"## {title}\n\n" + "\n".join(lines) + "\n"
    pattern = re.compile(rf"^## {re.escape(title)}\n.*?(?=^## |\Z)", re.S | re.M)
    text = pattern.sub(section.replace("\\", "\\\\") + "\n", text) if pattern.search(text) else text.rstrip("\n") + "\n\n" + section
    with open(path, "w") as f:
        f.write(text)
