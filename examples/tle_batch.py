"""Decode a batch of Two-Line Element sets: satellite numbers, epochs (ISO, UTC) and checksums.

    .venv/bin/python examples/tle_batch.py                # the element sets below
    .venv/bin/python examples/tle_batch.py elements.txt   # a file of 2-line or 3-line entries

The built-in batch holds the International Space Station, a piece of debris, Vanguard 1 (catalogue
number 00005, the oldest satellite still in orbit) and an object numbered in the Alpha-5 scheme
(E0427 = 140427), whose number comes back as text. The debris and Alpha-5 elements are made up
for the example.
"""

import sys

from kelvara.propagators.analytical.sgp4.tle import TLE
from kelvara.time.time import Time

ELEMENTS = """\
ISS (ZARYA)
1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927
2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537
COSMOS 2251 DEB
1 34454U 93036SX  24135.18302766  .00002181  00000-0  80915-3 0  9997
2 34454  74.0196 211.3452 0051806 150.4357 209.9733 14.49781347774360
VANGUARD 1
1 00005U 58002B   00179.78495062  .00000023  00000-0  28098-4 0  4753
2 00005  34.2682 348.7242 1859667 331.7664  19.3264 10.82419157413667
ALPHA-5 EXAMPLE
1 E0427U 24075B   24135.52410475  .00010153  00000-0  52171-3 0  9993
2 E0427  43.0026 117.5608 0001402 270.2251  89.8616 15.20812366 12098
"""


def read_entries(text: str) -> list[tuple[str, str, str]]:
    """(name, line 1, line 2) for each entry; a line before a '1 ' line, if any, is the name."""
    lines = [line.rstrip() for line in text.splitlines() if line.strip()]
    entries, name = [], ""
    i = 0
    while i < len(lines):
        if lines[i].startswith("1 ") and i + 1 < len(lines) and lines[i + 1].startswith("2 "):
            entries.append((name, lines[i], lines[i + 1]))
            name, i = "", i + 2
        else:
            name, i = lines[i].strip(), i + 1
    return entries


def checksum_ok(line: str) -> bool:
    """Column 69 is the sum of the digits of columns 1-68 (a minus sign counts 1), modulo 10.

    TLE stores lines as given and does not check them, so a reader of files does it here."""
    if len(line) < 69 or not line[68].isdigit():
        return False
    total = sum(int(c) if c.isdigit() else c == "-" for c in line[:68])
    return total % 10 == int(line[68])


def main() -> None:
    text = open(sys.argv[1], encoding="ascii").read() if len(sys.argv) > 1 else ELEMENTS
    entries = read_entries(text)
    tles = [TLE(line1, line2) for _, line1, line2 in entries]

    # all epochs in one Time, to sort them and to measure their age against the newest
    epochs = Time([tle.epoch for tle in tles])
    age_days = (epochs[int(epochs.jd.argmax())] - epochs) / 86400.0

    print(f"{'name':<18} {'cols 3-7':<8} {'satno':>6} {'kind':<8} {'epoch (UTC)':<26} {'age (d)':>9}"
          " checksums")
    for i in sorted(range(len(tles)), key=lambda i: epochs.jd[i]):
        tle, name = tles[i], entries[i][0]
        kind = "catalog" if isinstance(tle.satno, int) else "alpha-5"
        checks = "ok" if checksum_ok(tle.line1) and checksum_ok(tle.line2) else "BAD"
        print(f"{name:<18} {tle.line1[2:7]:<8} {tle.satno!s:>6} {kind:<8} {epochs[i].iso:<26}"
              f" {age_days[i]:9.3f} {checks}")


if __name__ == "__main__":
    main()
