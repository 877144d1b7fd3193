"""`quarel check` with a schema beside `quarel check` without one, end to end: each run a
fresh process, on the 10 MB configuration document and on 2,000 small files of it
(`.venv/bin/python bench/check_schema.py [RUNS]`).

The schema is bench/schema.py's realistic one (views, fields, enums, additionalProperties:
false). Runs with and without it alternate, so that a change of load falls on both alike;
the figures are the best of RUNS each, and their ratio (the target: 2 at most).
"""

from __future__ import annotations

import json
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))

import corpus  # noqa: E402
from schema import SCHEMA  # noqa: E402

QUAREL = Path(sys.executable).parent / "quarel"


def once(args: list[str]) -> float:
    start = time.perf_counter()
    done = subprocess.run([str(QUAREL), "check", *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit(f"quarel check {' '.join(args)}: {done.stderr.decode()}")
    return seconds


def compared(runs: int, name: str, paths: list[str], schema: str) -> None:
    plain: list[float] = []
    checked: list[float] = []
    for _ in range(runs):
        plain.append(once(paths))
        checked.append(once(["--schema", schema, *paths]))
    print(f"{name:28} without {min(plain):6.3f} s   with --schema {min(checked):6.3f} s   "
          f"ratio {min(checked) / min(plain):.2f}")


def main(runs: int) -> None:
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        schema = folder / "schema.json"
        schema.write_text(json.dumps(SCHEMA))
        big = folder / "big.quarel"
        big.write_text(corpus.config_document(10_000_000))
        small = folder / "small"
        source = corpus.config_document(2_000 * 2_000)
        views = ["view: " + text for text in source.split("\nview: ")[1:]]  # a view a file
        for i in range(2_000):
            sub = small / f"d{i // 100:02}"
            sub.mkdir(parents=True, exist_ok=True)
            (sub / f"f{i:04}.quarel").write_text(views[i % len(views)])
        compared(runs, "10 MB, one file", [str(big)], str(schema))
        compared(runs, "2,000 small files", [str(small)], str(schema))


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 5)
