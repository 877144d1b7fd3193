"""Wall-clock figures of one build, to set beside another's in the same run.

Best of 9 with the collector off; results are freed outside the timing.
Run alternately with an older build first on PYTHONPATH:

    PYTHONPATH=/path/to/old/build .venv/bin/python bench/compare.py old
    .venv/bin/python bench/compare.py new
"""

from __future__ import annotations

import gc
import os
import sys
import time
import timeit
from typing import Callable

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
import tallix_cst  # noqa: E402


def best(fn: Callable[[], object], repeat: int = 9) -> float:
    fastest = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        fastest = min(fastest, time.perf_counter() - start)
        del result
    return fastest


def main() -> None:
    label = sys.argv[1] if len(sys.argv) > 1 else tallix_cst.__file__
    text = corpus.config_document(10_000_000)
    data = text.encode()
    doc = tallix_cst.parse_quarel(text)
    pairs = len(doc.walk())
    small = tallix_cst.parse_quarel("".join(f"key_{i}: value_{i}\n" for i in range(1000)))
    gc.collect()
    gc.disable()
    figures = {
        "parse_quarel(str) MB/s": len(data) / best(lambda: tallix_cst.parse_quarel(text)) / 1e6,
        "loads(bytes) MB/s": len(data) / best(lambda: tallix_cst.loads(data)) / 1e6,
        "to_string() MB/s": len(data) / best(doc.to_string) / 1e6,
        "to_bytes() MB/s": len(data) / best(doc.to_bytes) / 1e6,
        "walk() ns per pair": best(doc.walk) / pairs * 1e9,
        "find µs, 1,000 children":
            min(timeit.repeat(lambda: small.find("key_999"), number=2000, repeat=7)) / 2000 * 1e6,
    }
    print(label, "  ".join(f"{k}: {v:.1f}" for k, v in figures.items()))


if __name__ == "__main__":
    main()
