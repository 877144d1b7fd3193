"""What an editor asks on each keystroke: `Document.tokens()` and
`syntax_errors()`, against `parse_quarel` of the same text, on the
configuration document at 1 MB and 10 MB; and `syntax_errors()` on text
with an error on every line.

Run: .venv/bin/python bench/editor.py

Times are medians of CPU time with the collector off, results freed outside
the timed part, as in run.py.
"""

from __future__ import annotations

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402
import tallix_cst  # noqa: E402
from run import median_time  # noqa: E402

SIZES = (1_000_000, 10_000_000)
BROKEN_LINES = 100_000


def main() -> None:
    print("| text | operation | ms | of the parse |\n|---|---|---|---|")
    for size in SIZES:
        text = corpus.config_document(size)
        doc = tallix_cst.parse_quarel(text)
        parse = median_time(lambda: tallix_cst.parse_quarel(text))
        rows = [("`parse_quarel`", parse),
                (f"`tokens()` ({len(doc.tokens()):,} tokens)", median_time(doc.tokens)),
                ("`syntax_errors` (none)", median_time(lambda: tallix_cst.syntax_errors(text)))]
        for name, seconds in rows:
            print(f"| {size / 1e6:g} MB | {name} | {seconds * 1e3:.1f} | {seconds / parse:.2f}× |")
    # Every line broken, so that every line is an error and a recovery.
    broken = "".join(f"key_{i}: [a b]\n" for i in range(BROKEN_LINES))
    valid = broken.replace("[a b]", "[a,b]")
    parse = median_time(lambda: tallix_cst.parse_quarel(valid))
    errors = median_time(lambda: tallix_cst.syntax_errors(broken))
    print(f"| {len(broken) / 1e6:.1f} MB, an error on each of {BROKEN_LINES:,} lines | `syntax_errors` "
          f"| {errors * 1e3:.1f} | {errors / parse:.2f}× (of the parse of the text made valid) |")


if __name__ == "__main__":
    main()
