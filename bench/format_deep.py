"""Formatting deep one-line structures, against parsing them (what `quarel check` does):
fitting is linear in the size of the line when each structure's width is measured once.

Run: .venv/bin/python bench/format_deep.py
     PYTHONPATH=DIR .venv/bin/python bench/format_deep.py   (the tallix_cst in DIR, say a
     build of an earlier commit installed with `pip install --target DIR`)

The inputs nest 250 lists on one line around N elements, as
`a: [[[...x0, x1, ...]]]`: 69 KB (N = 10,000) and 790 KB (N = 100,000), and, for the
shape of the growth, 790 KB at depth 25; for the usual case, the 10 MB configuration
document of bench/corpus.py, tidy and made untidy. Seconds are the median of 3 runs of each, every
input in turn; the ratio is to parsing the same text in the same run.
"""

from __future__ import annotations

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
from run import median_times, table  # noqa: E402

import tallix_cst  # noqa: E402


def deep(depth: int, count: int) -> str:
    return "a: " + "[" * depth + ", ".join(f"x{i}" for i in range(count)) + "]" * depth + "\n"


def main() -> None:
    rows = []
    inputs = [(str(depth), deep(depth, count)) for depth, count in ((250, 10_000), (250, 100_000), (25, 100_000))]
    inputs += [("config", corpus.config_document(10_000_000)), ("untidy", corpus.untidy_document(10_000_000))]
    for depth, text in inputs:
        parse, fmt = median_times(
            [lambda: tallix_cst.parse_quarel(text), lambda: tallix_cst.format_text(text)], repeat=3
        )
        rows.append([f"{len(text.encode()) / 1000:,.0f} KB", depth, f"{parse:.3f}", f"{fmt:.3f}", f"{fmt / parse:.0f}×"])
    print(f"tallix_cst from {os.path.dirname(tallix_cst.__file__)}")
    print(table(["input", "depth", "parse (s)", "format (s)", "format / parse"], rows))


if __name__ == "__main__":
    main()
