"""Convert a billion points between geodetic and ECEF coordinates on Dask worker processes.

Random geodetic points are made chunk by chunk on the workers, taken to ECEF and back with
kelvara.geodesy, and only the largest round-trip error of each chunk comes back, so no machine
ever holds the whole data set. The ufuncs travel to the workers by name (they pickle as
`kelvara.geodesy.ufuncs.<name>`), so every worker needs kelvara installed.

    python examples/dask_geodesy.py                          # 1e9 points, a LocalCluster of 2 processes
    python examples/dask_geodesy.py --points 1e7 --workers 4
    python examples/dask_geodesy.py tcp://scheduler:8786     # an existing cluster
    python examples/dask_geodesy.py --points 1e6 --check     # also compare with this process, bit for bit
"""

import argparse
import logging
import os
import time

import numpy as np


def inputs(n: int, chunk: int):
    import dask.array as da

    rng = da.random.default_rng(2026)
    lat = rng.uniform(-90.0, 90.0, n, chunks=chunk)
    lon = rng.uniform(-180.0, 180.0, n, chunks=chunk)
    alt = rng.uniform(-1e4, 1e5, n, chunks=chunk)
    return lat, lon, alt


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("scheduler", nargs="?", help="address of a running Dask scheduler (default: a LocalCluster)")
    parser.add_argument("--points", type=float, default=1e9, help="number of points (default 1e9)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the LocalCluster (default 2)")
    parser.add_argument("--chunk", type=float, default=5e6, help="points per chunk (default 5e6)")
    parser.add_argument("--check", action="store_true", help="compare with a computation in this process")
    args = parser.parse_args()
    n, chunk = int(args.points), int(min(args.chunk, args.points))

    import dask.array as da
    from dask.distributed import Client, LocalCluster

    from kelvara import geodesy

    if args.scheduler:
        cluster = None
        client = Client(args.scheduler)
        print(f"scheduler: {args.scheduler}")
    else:
        # one kelvara thread per worker process: the processes are the parallelism
        os.environ["KELVARA_NUM_THREADS"] = "1"
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None, silence_logs=logging.ERROR)
        client = Client(cluster)
        print(f"workers: {args.workers} processes (LocalCluster)")
    try:
        lat, lon, alt = inputs(n, chunk)
        x, y, z = geodesy.geodetic2ecef(lat, lon, alt)
        lat2, lon2, alt2 = geodesy.ecef2geodetic(x, y, z)
        dlat = abs(lat2 - lat).max()
        dlon = abs((lon2 - lon + 180.0) % 360.0 - 180.0).max()
        dalt = abs(alt2 - alt).max()
        print(f"points: {n:,} in {len(lat.chunks[0])} chunks")
        start = time.perf_counter()
        if args.check:
            results = da.compute(lat2, lon2, alt2, dlat, dlon, dalt)
            *arrays, dlat, dlon, dalt = results
        else:
            dlat, dlon, dalt = da.compute(dlat, dlon, dalt)
        seconds = time.perf_counter() - start
        print(f"round trip: max |dlat| {dlat:.3g} deg, max |dlon| {dlon:.3g} deg, max |dalt| {dalt:.3g} m")
        print(f"time: {seconds:.2f} s, {seconds / n * 1e9:.1f} ns/point")
        if args.check:
            local = geodesy.ecef2geodetic(*geodesy.geodetic2ecef(*(c.compute() for c in inputs(n, chunk))))
            same = all(np.array_equal(a, b, equal_nan=True) for a, b in zip(arrays, local))
            print(f"identical to one process: {'yes' if same else 'NO'}")
            if not same:
                raise SystemExit(1)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    main()
