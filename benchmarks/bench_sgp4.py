"""SGP4 propagation against sgp4's SatrecArray: 1000 satellites x 1440 epochs (one day, one per
minute), near-Earth and deep-space catalogues, on one and two threads; and one time per satellite
(pairwise) against the peer's best way to do it; and one one-day resonant GEO at 432,000 times
64 years from its epoch, in order and shuffled (the resonance integrator restarts from its
nearest kept state, not from the epoch)."""

import os
import sys
import time as clock

import numpy as np
from common import ROOT, cpu_model, fmt, write_section

sys.path.insert(0, os.path.join(ROOT, "tests"))

from sgp4.api import Satrec, SatrecArray  # noqa: E402
from sgp4_reference import catalogue  # noqa: E402

from kelvara import _threads  # noqa: E402

try:  # the test-only client extension (built with the tests): the plain C++ kernel loop
    import sgp4_client  # noqa: E402
except ImportError:
    sgp4_client = None
from kelvara.propagators.analytical.sgp4.sgp4 import Elements, propagate  # noqa: E402
from kelvara.time.time import Time  # noqa: E402

NSAT, NT = 1000, 1440
EPOCH_DAY = "26341.50000000"  # every set re-dated to 2026-12-07 12:00 so that the day ahead is near


def redated(sets):
    return [(l1[:18] + EPOCH_DAY + l1[32:], l2) for l1, l2 in sets]


def catalogue_of(kinds):
    sets = []
    for kind in kinds:
        sets += catalogue(kind, NSAT // len(kinds) + 1)
    return redated(sets[:NSAT])



def best_of(fn, repeat=3, cpu=None):
    """Best wall time of fn(); `cpu` (a list) receives the process CPU time of that run."""
    best = (float("inf"), 0.0)
    for _ in range(repeat):
        start, start_cpu = clock.perf_counter(), clock.process_time()
        fn()
        best = min(best, (clock.perf_counter() - start, clock.process_time() - start_cpu))
    if cpu is not None:
        cpu.append(best[1])
    return best[0]


def grid_case(name, sets):
    peer = SatrecArray([Satrec.twoline2rv(a, b) for a, b in sets])
    ours = [Elements(a, b, verify_checksum=False) for a, b in sets]
    jd = np.full(NT, 2461382.5)
    fr = np.arange(NT) / NT
    t = Time.from_jd12(np.stack([jd, fr], 1))
    cpu = []
    peer_s = best_of(lambda: peer.sgp4(jd, fr), cpu=cpu)
    out = {}
    for n in (1, 2):
        _threads.set_num_threads(n)
        out[n] = best_of(lambda: propagate(ours, t), cpu=cpu)
    pts = NSAT * NT
    limit = []
    if sgp4_client is not None:
        # the kernels alone, minutes 0..1439 from each epoch, no time conversion, no threads
        limit_s = best_of(lambda: sgp4_client.kernel_loop(ours, NT), cpu=cpu)
        limit = [f"| {name}, the C++ kernel loop alone (the limit), 1 thread | {fmt(limit_s / pts)} | {fmt(cpu[3] / pts)} | "
                 f"{peer_s / limit_s:.2f} | |"]
    return [
        f"| {name}, sgp4 `SatrecArray.sgp4` | {fmt(peer_s / pts)} | {fmt(cpu[0] / pts)} | 1.00 | |",
        *limit,
        f"| {name}, kelvara `propagate`, 1 thread | {fmt(out[1] / pts)} | {fmt(cpu[1] / pts)} | {peer_s / out[1]:.2f} | >= 1.0 |",
        f"| {name}, kelvara `propagate`, 2 threads | {fmt(out[2] / pts)} | {fmt(cpu[2] / pts)} | {peer_s / out[2]:.2f} | >= 1.8 |",
    ]


def pairwise_case(sets):
    n = 100_000
    rng = np.random.default_rng(0)
    sats = [Satrec.twoline2rv(*sets[i % len(sets)]) for i in range(n)]
    ours = [Elements(*sets[i % len(sets)], verify_checksum=False) for i in range(n)]
    fr = rng.uniform(0, 1, n)
    jd = np.full(n, 2461382.5)
    t = Time.from_jd12(np.stack([jd, fr], 1))
    # The peer has no one-time-per-satellite mode: a loop over Satrec.sgp4, or its array call
    # for one epoch per satellite (n_t = 1 per array, one array per satellite) are the options.
    cpu = []
    peer_s = best_of(lambda: [s.sgp4(j, f) for s, j, f in zip(sats, jd, fr)], repeat=2, cpu=cpu)
    _threads.set_num_threads(2)
    ours_s = best_of(lambda: propagate(ours, t, pairwise=True), cpu=cpu)
    return [f"| pairwise ({n:,} satellites), sgp4 loop over `Satrec.sgp4` | {fmt(peer_s / n)} | {fmt(cpu[0] / n)} | 1.00 | |",
            f"| pairwise, kelvara `propagate(..., pairwise=True)`, 2 threads | {fmt(ours_s / n)} | {fmt(cpu[1] / n)} | {peer_s / ours_s:.2f} | >= 1.0 |"]


GEO = ("1 41866U 16071A   26341.50000000 -.00000100  00000-0  00000+0 0  9992",
       "2 41866   0.0300  90.0000 0002000 180.0000 180.0000  1.00270000 12349")


def unsorted_case():
    n = 432_000
    minutes = 64 * 525960 + np.arange(float(n))
    shuffled = np.random.default_rng(0).permutation(minutes)
    ours = Elements(*GEO)
    sat = Satrec.twoline2rv(*GEO)
    # the peer restarts its integrator from the epoch whenever a time goes back: a sample of
    # the shuffled times, per point
    few = shuffled[:400]
    cpu = []
    peer_sorted = best_of(lambda: [sat.sgp4_tsince(float(m)) for m in minutes[:20000]], repeat=2, cpu=cpu) / 20000
    peer_shuffled = best_of(lambda: [sat.sgp4_tsince(float(m)) for m in few], repeat=1, cpu=cpu) / len(few)
    _threads.set_num_threads(2)
    ours_sorted = best_of(lambda: ours.propagate(minutes=minutes), cpu=cpu) / n
    ours_shuffled = best_of(lambda: ours.propagate(minutes=shuffled), cpu=cpu) / n
    return [f"| GEO x {n:,} times 64 years out, in order, sgp4 `sgp4_tsince` loop | {fmt(peer_sorted)} | {fmt(cpu[0] / 20000)} | 1.00 | |",
            f"| the same shuffled, sgp4 (400 of them) | {fmt(peer_shuffled)} | {fmt(cpu[1] / len(few))} | {peer_sorted / peer_shuffled:.4f} | |",
            f"| in order, kelvara `Elements.propagate`, 2 threads | {fmt(ours_sorted)} | {fmt(cpu[2] / n)} | {peer_sorted / ours_sorted:.2f} | |",
            f"| shuffled, kelvara `Elements.propagate`, 2 threads | {fmt(ours_shuffled)} | {fmt(cpu[3] / n)} | "
            f"{peer_sorted / ours_shuffled:.2f} | within 3x of in order |"]


def main():
    before = _threads.get_num_threads()
    try:
        rows = unsorted_case()
        rows += grid_case("near-Earth (LEO)", catalogue_of(["LEO"]))
        rows += grid_case("deep space (GPS, Molniya, GEO, HEO)", catalogue_of(["GPS", "Molniya", "GEO", "HEO"]))
        rows += pairwise_case(catalogue_of(["LEO", "GPS", "Molniya", "GEO"]))
    finally:
        _threads.set_num_threads(before)
    lines = [
        f"{NSAT} satellites x {NT} epochs, times as a UTC Time; best of 3 runs. CPU: {cpu_model()}, "
        f"{os.cpu_count()} cores; load average at start {os.getloadavg()[0]:.1f} (a shared machine: with other",
        "work running, two threads cannot get two cores; equal CPU time per point on one and two threads",
        "means the work itself does not grow with the threads).",
        "",
        "| case | wall time per satellite-epoch | CPU time per satellite-epoch | speed vs sgp4 (wall) | goal |",
        "|---|---|---|---|---|",
        *rows,
    ]
    print("\n".join(lines))
    write_section("SGP4 propagation", lines)


if __name__ == "__main__":
    main()
