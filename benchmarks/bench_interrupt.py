"""Cost of the signal poll that makes long calls interruptible (Ctrl-C).

The methods check for a pending signal every 65536 points while they hold the lock. This times
the same C++ kernel loop with and without that check at 1e6 points, over the same buffers, in
alternating runs, by thread CPU time (steadier than wall time on a shared machine); the cost is
the relative difference of the best times. Sun and Moon poll every 1024 epochs, at 2.5-25 us an
epoch: a cost below 1e-5 that no timing could show.
"""

import math

import numpy as np

from common import fmt, write_section

import ellipsoid_client
from kelvara.datamodel import LLA_dtype
from kelvara.mathtools.ellipsoid.ellipsoid import create

W = create("wgs84")
N = 10**6


def best_of(kind, runs, *bufs):
    return min(ellipsoid_client.kernel_loop(kind, W, N, *bufs) for _ in range(runs))


def main():
    ellipsoid_client.use_cpu_clock(True)
    rng = np.random.default_rng(3)
    lat = np.arcsin(rng.uniform(-1, 1, N))
    lon = rng.uniform(-math.pi, math.pi, N)
    alt = rng.uniform(-1e3, 4e7, N)
    r = np.ascontiguousarray(W.pos_from_lla(lat, lon, alt))
    lla = np.zeros(N, LLA_dtype)
    lla["lat"], lla["lon"], lla["alt"] = lat, lon, alt
    cases = {"lla_from_pos": ("lla", r, np.zeros(N, LLA_dtype)), "pos_from_lla": ("pos", lla, np.zeros((N, 3)))}
    lines = ["Best thread CPU time of alternating runs of the C++ kernel loop at 1e6 points (outputs reused),",
             "without and with the poll made every 65536 points; goal: under 1 %. Shared 2-core machine,",
             "other jobs running.", "",
             "| kernel loop | plain | polled | cost |", "|---|---|---|---|"]
    for name, (kind, src, out) in cases.items():
        plain, polled = math.inf, math.inf
        for _ in range(15):  # alternate, so that load on the machine hits both alike
            plain = min(plain, best_of(kind, 3, src, out))
            polled = min(polled, best_of(kind + "_polled", 3, src, out))
        cost = polled / plain - 1
        print(f"{name:14s} plain {fmt(plain):>9s} polled {fmt(polled):>9s} cost {cost * 100:+.2f} %", flush=True)
        lines.append(f"| {name} | {fmt(plain)} | {fmt(polled)} | {cost * 100:+.2f} % |")
    write_section("Signal polling (Ctrl-C) at 1e6 points", lines)


if __name__ == "__main__":
    main()
