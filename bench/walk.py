"""The walk of a repository's folders, with its ignore rules against without them
(`--no-ignore`): 10,000 small files in 200 folders under a `.gitignore`.

    .venv/bin/python bench/walk.py [FILES]

Best of seven of each, in one process, and their ratio: the cost of the rules per file
is what the ratio shows, whatever the machine's speed.
"""

from __future__ import annotations

import os
import pathlib
import sys
import tempfile
import time

from tallix_cst import walk


def repository(folder: pathlib.Path, count: int) -> None:
    (folder / ".git").mkdir()
    (folder / ".gitignore").write_text("gen/\n*.tmp.quarel\n")
    for i in range(count):
        sub = folder / f"v{i // 1000}" / f"s{i // 50 % 20}"
        sub.mkdir(parents=True, exist_ok=True)
        (sub / f"f{i % 50}.quarel").write_text("a: 1\n")


def best_of(runs: int, ignore: bool) -> float:
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        list(walk.quarel_files(["."], ignore))
        times.append(time.perf_counter() - start)
    return min(times)


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    with tempfile.TemporaryDirectory() as folder:
        repository(pathlib.Path(folder), count)
        os.chdir(folder)
        ruled, plain = best_of(7, True), best_of(7, False)
    print(f"{count} files: {ruled * 1000:.0f} ms with the ignore rules, {plain * 1000:.0f} ms without, "
          f"ratio {ruled / plain:.2f}")


if __name__ == "__main__":
    main()
