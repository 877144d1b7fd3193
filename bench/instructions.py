"""Instructions per byte of parsing and printing, counted by callgrind.

Each operation is counted as a script that does it once minus the same
script doing it zero times, so that starting the interpreter, reading the
input and building what the operation needs cancel out. The counts do not
move with the machine's load, unlike times. json is counted in the same run
as the reference, on the JSON twin of the same document.

The engine's own parse and print are counted through bench/engine.cpp (built
by `make bench` into build/bench), without the interpreter: they are what
parsing from bytes and printing to bytes cost once the binding adds nothing
but the Python object around them.

Run alone: .venv/bin/python bench/instructions.py [SIZE]   (default 2.5 MB)
Formatting at 2.5, 5 and 10 MB: .venv/bin/python bench/instructions.py format
"""

from __future__ import annotations

import os
import re
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import corpus  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ENGINE = os.path.join(ROOT, "build", "bench", "engine_bench")

# The script run by the interpreter: SETUP, then OPERATION `times` times.
SCRIPT = """\
import json, sys
import tallix_cst
times = int(sys.argv[1])
with open({quarel!r}, "rb") as f:
    quarel_bytes = f.read()
with open({json!r}, "rb") as f:
    json_text = f.read().decode()
quarel = quarel_bytes.decode()
{setup}
for _ in range(times):
    result = {operation}
"""


@dataclass
class Operation:
    key: str
    name: str
    reads: str  # "quarel" or "json": whose bytes it is counted per
    setup: str = ""
    operation: str = ""  # a Python expression, or
    engine: str = ""  # an operation of the engine driver


OPERATIONS = [
    Operation("parse_quarel", "`parse_quarel(str)`", "quarel", operation="tallix_cst.parse_quarel(quarel)"),
    Operation("encode", "`str.encode()` (CPython, UTF-8)", "quarel", operation="quarel.encode()"),
    Operation("parse", "engine: `parse` of the bytes", "quarel", engine="parse"),
    Operation("loads", "engine: UTF-8 check and `parse` (what `loads(bytes)` costs)",
              "quarel", engine="loads"),
    Operation("loads_bytes", "`tallix_cst.loads(bytes)`", "quarel",
              operation="tallix_cst.loads(quarel_bytes)"),
    Operation("json.loads", "`json.loads`", "json", operation="json.loads(json_text)"),
    Operation("to_string", "`Document.to_string()`", "quarel",
              setup="doc = tallix_cst.parse_quarel(quarel)", operation="doc.to_string()"),
    Operation("decode", "`bytes.decode()` (CPython, UTF-8)", "quarel", operation="quarel_bytes.decode()"),
    Operation("to_bytes",
              "engine: print into a buffer of the size known from the parse (what `to_bytes()` costs)",
              "quarel", engine="print"),
    Operation("to_bytes_py", "`Document.to_bytes()`", "quarel",
              setup="doc = tallix_cst.parse_quarel(quarel)", operation="doc.to_bytes()"),
    Operation("tokens", "engine: the tokens of a parsed tree (what `tokens()` costs before its tuples)",
              "quarel", engine="tokens"),
    Operation("tokens_py", "`Document.tokens()`", "quarel",
              setup="doc = tallix_cst.parse_quarel(quarel)", operation="doc.tokens()"),
    Operation("syntax_errors", "`syntax_errors(str)` of text without errors", "quarel",
              operation="tallix_cst.syntax_errors(quarel)"),
    Operation("json.dumps", "`json.dumps(indent=2)`", "json",
              setup="data = json.loads(json_text)", operation="json.dumps(data, indent=2)"),
    Operation("format", "`Document.format()`", "quarel",
              setup="doc = tallix_cst.parse_quarel(quarel)", operation="doc.format()"),
]
# What formatting is measured against, at each size of FORMAT_SIZES.
FORMAT_OPERATIONS = [op for op in OPERATIONS if op.key in ("parse_quarel", "to_string", "format")]
FORMAT_SIZES = (2_500_000, 5_000_000, 10_000_000)


def callgrind(command: list[str]) -> int:
    """Instructions executed by the command."""
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", *command],
                       check=True, capture_output=True,
                       env={**os.environ, "PYTHONHASHSEED": "0"})
        with open(out) as f:
            return int(re.search(r"^(?:summary|totals): (\d+)", f.read(), re.M).group(1))


def count(op: Operation, paths: dict[str, str], times: int) -> int:
    if op.engine:
        return callgrind([ENGINE, paths["quarel"], op.engine, str(times)])
    script = SCRIPT.format(setup=op.setup, operation=op.operation, **paths)
    return callgrind([sys.executable, "-c", script, str(times)])


def instructions_per_byte(size: int, operations: list[Operation] = OPERATIONS) -> dict[str, float]:
    """Each operation's instructions per byte of its input, on the
    configuration document of about `size` bytes and its JSON twin."""
    model = corpus.config_model(size)
    texts = {"quarel": corpus.to_quarel(model).encode(), "json": corpus.to_json(model).encode()}
    with tempfile.TemporaryDirectory() as tmp:
        paths = {}
        for kind, text in texts.items():
            paths[kind] = os.path.join(tmp, kind)
            with open(paths[kind], "wb") as f:
                f.write(text)
        runs = [(op, times) for op in operations for times in (1, 0)]
        with ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
            counts = list(pool.map(lambda run: count(run[0], paths, run[1]), runs))
    return {op.key: (counts[2 * i] - counts[2 * i + 1]) / len(texts[op.reads])
            for i, op in enumerate(operations)}


def format_growth() -> dict[int, dict[str, float]]:
    """Instructions per byte of `Document.format()` beside `parse_quarel` and
    `to_string()`, at each of FORMAT_SIZES: a constant figure is linear growth."""
    return {size: instructions_per_byte(size, FORMAT_OPERATIONS) for size in FORMAT_SIZES}


if __name__ == "__main__":
    if sys.argv[1:] == ["format"]:
        for size, figures in format_growth().items():
            parse_print = figures["parse_quarel"] + figures["to_string"]
            print(f"{size / 1e6:5.1f} MB  format {figures['format']:7.2f}  parse + print "
                  f"{parse_print:6.2f}  ratio {figures['format'] / parse_print:.2f}")
        sys.exit()
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 2_500_000
    figures = instructions_per_byte(size)
    for op in OPERATIONS:
        print(f"{figures[op.key]:8.2f}  {op.name}")
