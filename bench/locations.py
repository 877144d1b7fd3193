"""`walk()` plus `location` of every pair, against `walk()` alone, on the
10 MB configuration document.

Run: .venv/bin/python bench/locations.py

The first `location` read after an edit works out every pair's place in one
printing pass and keeps it until the next edit; "cold" times that pass (a
rename before each sample discards the kept one, untimed), "warm" reads
locations already worked out. Times are medians of CPU time, as in run.py.
"""

from __future__ import annotations

import gc
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
import tallix_cst  # noqa: E402

CONFIG_BYTES = 10_000_000  # the document of run.py's throughput and memory tables


def sample(doc: tallix_cst.Document, fn, cold: bool, repeat: int = 7) -> float:
    first = doc.children[0]
    times = []
    gc.collect()
    gc.disable()
    try:
        for _ in range(repeat):
            if cold:
                first.key = first.key  # any edit: the kept locations go
            start = time.process_time()
            result = fn()
            times.append(time.process_time() - start)
            del result
    finally:
        gc.enable()
    return statistics.median(times)


def main() -> None:
    doc = tallix_cst.parse_quarel(corpus.config_document(CONFIG_BYTES))
    pairs = len(doc.walk())
    walk = sample(doc, doc.walk, cold=False)
    located = lambda: [p.location for p in doc.walk()]  # noqa: E731
    cold, warm = sample(doc, located, cold=True), sample(doc, located, cold=False)
    rows = [
        ["`walk()`", f"{walk * 1e3:.1f}", "1.00×"],
        ["`walk()` + `location` of every pair, cold", f"{cold * 1e3:.1f}", f"{cold / walk:.2f}×"],
        ["`walk()` + `location` of every pair, warm", f"{warm * 1e3:.1f}", f"{warm / walk:.2f}×"],
    ]
    print(f"{pairs:,} pairs\n")
    print("| operation | ms | of `walk()` |\n|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
