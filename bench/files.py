"""`load` + `dump` against `open().read()` + parse + `to_string()` + write, on the 10 MB
configuration document.

    .venv/bin/python bench/files.py

Times are medians of 9 rounds of wall time, alternating the two ways; each write goes to a
file that exists, as an edit's would.
"""

from __future__ import annotations

import pathlib
import statistics
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import corpus  # noqa: E402

import tallix_cst  # noqa: E402

SIZE = 10_000_000


def through_files(path: pathlib.Path) -> None:
    tallix_cst.load(path).dump(path)


def through_text(path: pathlib.Path) -> None:
    with open(path, encoding="utf-8", newline="") as f:
        doc = tallix_cst.parse_quarel(f.read())
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(doc.to_string())


def main() -> None:
    source = corpus.config_document(SIZE)
    ways = {"load + dump": through_files, "read + parse + to_string + write": through_text}
    times: dict[str, list[float]] = {name: [] for name in ways}
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "config.quarel"
        path.write_bytes(source.encode())
        for _ in range(9):
            for name, way in ways.items():
                start = time.perf_counter()
                way(path)
                times[name].append(time.perf_counter() - start)
        assert path.read_bytes() == source.encode()
    megabytes = len(source.encode()) / 1e6
    print(f"{megabytes:.1f} MB document")
    for name, samples in times.items():
        median = statistics.median(samples)
        print(f"  {name:34} {median * 1000:7.1f} ms  {megabytes / median:6.0f} MB/s")


if __name__ == "__main__":
    main()
