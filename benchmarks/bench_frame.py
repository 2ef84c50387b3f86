"""Per-call cost of the frame: argument parsing plus the profiling check, against a bare
fast-call C function that does neither."""

from common import best, fmt, write_section

import frametest as ft

cases = {
    "bare fast-call, 1 positional": lambda: ft.bare(1.0),
    "frame, 1 positional": lambda: ft.one(1.0),
    "frame, 1 keyword": lambda: ft.one(x=1.0),
    "frame, 2 of 3 positional": lambda: ft.three(1.0, 2.0),
    "frame, 3 with 2 keywords": lambda: ft.three(1.0, c=2.0, b=3.0),
}
times = {name: best(fn) for name, fn in cases.items()}
base = times["bare fast-call, 1 positional"]
lines = ["| call | time per call | over bare |", "|---|---|---|"]
for name, t in times.items():
    lines.append(f"| {name} | {fmt(t)} | {fmt(t - base) if t > base else '0'} |")
print("\n".join(lines))
write_section("Frame call overhead", lines)
