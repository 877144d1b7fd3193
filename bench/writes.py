"""What the checks of a safe write cost: `write_file` with what was read (checked as the
last step before the rename: the same file, size, modification time and bytes) against the
same write unchecked, on 300 small files and on the 10 MB configuration document, each
also rewritten in place (a second hard link).

    .venv/bin/python bench/writes.py

Best of 5 rounds, the two ways alternating; the ratio is checked over unchecked.
"""

from __future__ import annotations

import os
import pathlib
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import corpus  # noqa: E402

from tallix_cst.files import read_source  # noqa: E402
from tallix_cst.writing import write_file  # noqa: E402


def rounds(paths: list[pathlib.Path], checked: bool) -> float:
    start = time.perf_counter()
    for path in paths:
        data, read = read_source(path, None)
        write_file(path, data, read if checked else None)
    return time.perf_counter() - start


def measure(name: str, paths: list[pathlib.Path]) -> None:
    times: dict[bool, list[float]] = {False: [], True: []}
    for _ in range(5):
        for checked, samples in times.items():
            samples.append(rounds(paths, checked))
    plain, checked = min(times[False]), min(times[True])
    each = 1000 / len(paths)
    print(f"  {name:28} {plain * each:8.2f} ms {checked * each:8.2f} ms  {checked / plain:5.2f}")


def main() -> None:
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        small = [folder / f"f{i:03}.quarel" for i in range(300)]
        for path in small:
            path.write_bytes(b"view: v {\n  label: x\n}\n" * 20)
        large = folder / "config.quarel"
        large.write_bytes(corpus.config_document(10_000_000).encode())
        print(f"{'':30} {'unchecked':>11} {'checked':>11}  ratio (per file)")
        measure("small files", small)
        measure("10 MB document", [large])
        for path in [*small, large]:
            os.link(path, path.with_suffix(".link"))
        measure("small files, hard-linked", small)
        measure("10 MB document, hard-linked", [large])


if __name__ == "__main__":
    main()
