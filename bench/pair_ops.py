"""Operations on one pair, over every pair of a block of 1,000 to 80,000:
the time per pair should not grow with the block.

Run: .venv/bin/python bench/pair_ops.py [--cli] [--instructions]

Each figure is the best of several samples of CPU time, divided by the number
of pairs; the block is parsed afresh for each sample, untimed. The last
column is the time per pair at the largest size over that at the smallest.
With --cli, `quarel set view:v/a 2` is also timed on a file of 20,000 to
80,000 matching pairs (wall time of the command, in a process of its own).
With --instructions, callgrind counts the instructions per pair of
`set_value` and of reading `end_comment` (a script doing the loop, minus the
same script without it), which do not move with the machine's load.
"""

from __future__ import annotations

import gc
import os
import subprocess
import sys
import tempfile
import time
from typing import Callable

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tallix_cst  # noqa: E402
from instructions import callgrind  # noqa: E402

SIZES = (1_000, 20_000, 80_000)
CLI_SIZES = (20_000, 40_000, 80_000)


def block(n: int, key: Callable[[int], str] = lambda i: "k") -> str:
    return "view: v {\n" + "".join(f"  {key(i)}: 1  # c{i}\n" for i in range(n)) + "}\n"


Pairs = Callable[[tallix_cst.Document], list]
CHILDREN: Pairs = lambda doc: doc.find("view").children  # noqa: E731
# The pairs a loop may get otherwise, for set_value.
SOURCES: dict[str, Pairs] = {
    "from `find_all(key)`": lambda doc: doc.find("view").find_all("k"),
    "from `walk()`": lambda doc: doc.walk()[1:],
}

OPERATIONS: dict[str, Callable[[tallix_cst.Pair], object]] = {
    "`set_value(\"2\")`": lambda p: p.set_value("2"),
    "`value = \"2\"`": lambda p: setattr(p, "value", "2"),
    "read `end_comment`": lambda p: p.end_comment,
    "write `end_comment`": lambda p: setattr(p, "end_comment", "x"),
    "read `comments`": lambda p: p.comments,
    "write `comments`": lambda p: setattr(p, "comments", ["# x"]),
    "rename (`key =`)": lambda p: setattr(p, "key", "z"),
    "`to_string()`": lambda p: p.to_string(),
    "`location`": lambda p: p.location,
    "`detach()`": lambda p: p.detach(),
}


def per_pair_us(n: int, operation: Callable[[tallix_cst.Pair], object], pairs_of: Pairs = CHILDREN,
                repeat: int = 5) -> float:
    source = block(n)
    best = float("inf")
    for _ in range(repeat):
        pairs = pairs_of(tallix_cst.parse_quarel(source))
        gc.collect()
        gc.disable()
        try:
            start = time.process_time()
            for p in pairs:
                operation(p)
            best = min(best, time.process_time() - start)
        finally:
            gc.enable()
    return best / n * 1e6


def cli_seconds(n: int, repeat: int = 3) -> float:
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "v.quarel")
        best = float("inf")
        for _ in range(repeat):
            with open(path, "w") as f:
                f.write(block(n, key=lambda i: "a"))
            start = time.perf_counter()
            subprocess.run([sys.executable, "-m", "tallix_cst", "set", "view:v/a", "2", "-i", path],
                           check=True, stdout=subprocess.DEVNULL)
            best = min(best, time.perf_counter() - start)
    return best


# The loop over every child, run when the second argument is 1.
LOOP = """\
import sys, tallix_cst
n, run = int(sys.argv[1]), sys.argv[2] == "1"
source = "view: v {{\\n" + "".join(f"  k: 1  # c{{i}}\\n" for i in range(n)) + "}}\\n"
pairs = tallix_cst.parse_quarel(source).find("view").children
if run:
    for p in pairs:
        {operation}
"""

COUNTED = {"`set_value(\"2\")`": "p.set_value('2')", "read `end_comment`": "p.end_comment"}


def instructions_per_pair(n: int, operation: str) -> float:
    script = LOOP.format(operation=operation)
    runs = [callgrind([sys.executable, "-c", script, str(n), run]) for run in ("1", "0")]
    return (runs[0] - runs[1]) / n


def main() -> None:
    print("| operation | " + " | ".join(f"µs/pair at {n:,}" for n in SIZES) + " | ratio |")
    print("|---|" + "---|" * (len(SIZES) + 1))
    for name, operation in OPERATIONS.items():
        times = [per_pair_us(n, operation) for n in SIZES]
        print(f"| {name} | " + " | ".join(f"{t:.2f}" for t in times)
              + f" | {times[-1] / times[0]:.2f}× |")
    for name, pairs_of in SOURCES.items():
        times = [per_pair_us(n, lambda p: p.set_value("2"), pairs_of) for n in SIZES]
        print(f"| `set_value(\"2\")`, pairs {name} | " + " | ".join(f"{t:.2f}" for t in times)
              + f" | {times[-1] / times[0]:.2f}× |")
    if "--instructions" in sys.argv:
        sizes = (SIZES[0], SIZES[-1])
        print("\n| instructions per pair | " + " | ".join(f"{n:,} pairs" for n in sizes)
              + " | ratio |\n|---|" + "---|" * (len(sizes) + 1))
        for name, operation in COUNTED.items():
            counts = [instructions_per_pair(n, operation) for n in sizes]
            print(f"| {name} | " + " | ".join(f"{c:,.0f}" for c in counts)
                  + f" | {counts[-1] / counts[0]:.3f}× |")
    if "--cli" in sys.argv:
        print("\n| `quarel set view:v/a 2 -i` | " + " | ".join(f"{n:,} pairs" for n in CLI_SIZES)
              + " |\n|---|" + "---|" * len(CLI_SIZES))
        print("| seconds | " + " | ".join(f"{cli_seconds(n):.2f}" for n in CLI_SIZES) + " |")


if __name__ == "__main__":
    main()
