"""Files per second of `quarel check` and of `quarel apply` with a one-line edit, over a
folder of small files, in one process and with -j.

    .venv/bin/python bench/cli_check.py [FILES]

Each run is a fresh `quarel` process, so the figures include start-up and the folder walk.
`apply` alone edits every file and writes none; `apply -i` writes every file, and the
files are made anew before each of its runs. The runs of `apply` at -j 1 and -j 2
alternate, best of seven each, and the ratio of the two is printed.
"""

from __future__ import annotations

import os
import pathlib
import subprocess
import sys
import tempfile
import time

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
QUAREL = pathlib.Path(sys.executable).parent / "quarel"
EDIT = 'def edit(doc, path):\n    doc["edited"] = "yes"\n'


def small_files(folder: pathlib.Path, count: int) -> None:
    """`count` files of 0.3-0.6 kB, copies of the bundled examples, 100 to a folder."""
    texts = [p.read_bytes() for p in sorted(EXAMPLES.rglob("*.quarel"))]
    for i in range(count):
        sub = folder / f"d{i // 100:03}"
        sub.mkdir(exist_ok=True)
        (sub / f"f{i:05}.quarel").write_bytes(texts[i % len(texts)])


def best_of(runs: int, args: list[str], prepare=lambda: None) -> float:
    return min(once(args, prepare) for _ in range(runs))


def once(args: list[str], prepare=lambda: None) -> float:
    prepare()
    start = time.perf_counter()
    subprocess.run(
        [str(QUAREL), *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
    )
    return time.perf_counter() - start


def alternating(runs: int, args: list[str]) -> dict[str, float]:
    """Best of `runs` at -j 1 and at -j 2, taken in turns so that a change of load falls
    on both alike."""
    times: dict[str, list[float]] = {"1": [], "2": []}
    for _ in range(runs):
        for jobs, samples in times.items():
            samples.append(once([*args, "-j", jobs]))
    return {jobs: min(samples) for jobs, samples in times.items()}


def report(name: str, jobs: str, seconds: float, count: int) -> None:
    label = "auto" if jobs == "0" else jobs
    print(f"  {name:13} -j {label:4}  {seconds:6.3f} s  {count / seconds:8.0f} files/s")


def main() -> None:
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp) / "files"
        script = pathlib.Path(tmp) / "edit.py"
        script.write_text(EDIT)
        folder.mkdir()
        small_files(folder, count)
        print(f"{count} files, {os.cpu_count()} cores")
        for jobs in ["1", "2", "0"]:
            report("check", jobs, best_of(3, ["check", "-j", jobs, str(folder)]), count)
        best = alternating(7, ["apply", str(script), str(folder)])
        for jobs, seconds in best.items():
            report("apply", jobs, seconds, count)
        print(f"  apply -j 1 / -j 2: {best['1'] / best['2']:.2f}")
        for jobs in ["1", "2"]:
            seconds = best_of(
                3,
                ["apply", str(script), str(folder), "-j", jobs, "-i"],
                lambda: small_files(folder, count),
            )
            report("apply -i", jobs, seconds, count)


if __name__ == "__main__":
    main()
