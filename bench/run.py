"""The benchmark suite: tallix_cst beside json and tomlkit, in one run.

Run: make bench   (the same as .venv/bin/python bench/run.py)

Every time is the median of several samples, taken with the garbage
collector off (as timeit does). Times are CPU time of this process
(time.process_time): the machine is shared, and CPU time does not count the
moments another process has the core; on an idle machine it equals wall
time, as nothing here waits or runs threads. Inputs are built from fixed seeds
(corpus.py); memory is measured in fresh processes (memory.py). Throughput
counts the bytes of each library's own text: the Quarel source, the JSON,
the TOML. Instructions per byte are counted by callgrind (instructions.py),
which no load on the machine moves. The output is a set of markdown tables,
ending with the targets.
"""

from __future__ import annotations

import gc
import json
import os
import platform
import statistics
import sys
import time
from typing import Callable

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import tomlkit  # noqa: E402

import corpus  # noqa: E402
import tallix_cst  # noqa: E402
from instructions import OPERATIONS, format_growth, instructions_per_byte  # noqa: E402
from memory import memory_ratios  # noqa: E402

CONFIG_BYTES = 10_000_000  # the realistic document; scaling runs it at 1/4, 1/2, 1
# Instructions are counted on the document at a quarter of its size: the
# counts per byte are the same, and json.dumps under callgrind is slow.
COUNTED_BYTES = CONFIG_BYTES // 4
TOML_BYTES = 250_000  # tomlkit reads about a quarter of a megabyte per second
SMALL_FILES, SMALL_BYTES = 5_000, 2_000
DOUBLING_LIMIT = 2 * 1.3  # doubling the input may at most double the time, +30%


def median_times(fns: list[Callable[[], object]], repeat: int = 5, number: int = 1) -> list[float]:
    """Median seconds per call of each function, over `repeat` rounds that
    run every function in turn (`number` calls each), so that a change in
    the machine's load falls on all of them alike. Results are kept until a
    sample ends, so freeing them is not timed."""
    samples: list[list[float]] = [[] for _ in fns]
    gc.collect()
    gc.disable()
    try:
        for _ in range(repeat):
            for fn, times in zip(fns, samples):
                results = []
                start = time.process_time()
                for _ in range(number):
                    results.append(fn())
                times.append((time.process_time() - start) / number)
                del results
    finally:
        gc.enable()
    return [statistics.median(times) for times in samples]


def median_time(fn: Callable[[], object], repeat: int = 5, number: int = 1) -> float:
    return median_times([fn], repeat, number)[0]


def mb(text: str) -> float:
    return len(text.encode()) / 1e6


def table(header: list[str], rows: list[list]) -> str:
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(lines)


def machine() -> str:
    with open("/proc/cpuinfo") as f:
        cpu = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")),
                   platform.processor())
    return (f"{cpu}, {os.cpu_count()} cores, Linux {platform.release()}; Python "
            f"{platform.python_version()}; tallix_cst {tallix_cst.__version__}, "
            f"tomlkit {tomlkit.__version__}")


# Throughput against the peers


def throughput(results: dict) -> str:
    model = corpus.config_model(CONFIG_BYTES)
    source, json_text = corpus.to_quarel(model), corpus.to_json(model)
    doc, data = tallix_cst.parse_quarel(source), json.loads(json_text)
    printed, dumped = doc.to_string(), json.dumps(data, indent=2)
    rate = results.setdefault("rate", {})
    parse, loads = median_times([lambda: tallix_cst.parse_quarel(source),
                                 lambda: json.loads(json_text)])
    rate["parse"], rate["json.loads"] = mb(source) / parse, mb(json_text) / loads
    to_string, dumps = median_times([doc.to_string, lambda: json.dumps(data, indent=2)],
                                    repeat=3)
    rate["print"], rate["json.dumps"] = mb(printed) / to_string, mb(dumped) / dumps
    results["pairs"] = len(doc.walk())
    results["walk"] = median_time(doc.walk) / results["pairs"] * 1e9
    del doc

    small = corpus.config_model(TOML_BYTES)
    small_source, toml_text = corpus.to_quarel(small), corpus.to_toml(small)
    both, toml = median_times([lambda: tallix_cst.parse_quarel(small_source).to_string(),
                               lambda: tomlkit.dumps(tomlkit.parse(toml_text))], repeat=3)
    rate["parse+print"], rate["tomlkit"] = mb(small_source) / both, mb(toml_text) / toml

    files = corpus.small_files(SMALL_FILES, SMALL_BYTES)
    sources = [corpus.to_quarel(m) for m in files]
    jsons = [corpus.to_json(m) for m in files]
    parse, loads = median_times([lambda: [tallix_cst.parse_quarel(s) for s in sources],
                                 lambda: [json.loads(s) for s in jsons]])
    rate["small parse"] = sum(map(mb, sources)) / parse
    rate["small json.loads"] = sum(map(mb, jsons)) / loads

    rows = [
        ["`parse_quarel`", f"{mb(source):.1f} MB Quarel, {results['pairs']:,} pairs",
         f"{rate['parse']:.0f}"],
        ["`json.loads`", f"the same as {mb(json_text):.1f} MB of JSON",
         f"{rate['json.loads']:.0f}"],
        ["`to_string`", f"{mb(printed):.1f} MB Quarel", f"{rate['print']:.0f}"],
        ["`json.dumps(indent=2)`", f"{mb(dumped):.1f} MB of JSON", f"{rate['json.dumps']:.1f}"],
        ["`parse_quarel` + `to_string`", f"{mb(small_source) * 1000:.0f} KB Quarel",
         f"{rate['parse+print']:.0f}"],
        ["`tomlkit.parse` + `dumps`", f"the same as {mb(toml_text) * 1000:.0f} KB of TOML",
         f"{rate['tomlkit']:.2f}"],
        ["`parse_quarel`", f"{SMALL_FILES:,} files of {SMALL_BYTES // 1000} KB",
         f"{rate['small parse']:.0f}"],
        ["`json.loads`", "the same files as JSON", f"{rate['small json.loads']:.0f}"],
    ]
    return table(["operation", "input", "MB/s"], rows)


# Operations on bodies of a given size


def per_call_us(fn: Callable[[], object], number: int) -> float:
    return median_time(fn, repeat=7, number=number) * 1e6


def add_and_remove_us(doc: tallix_cst.Document, number: int = 500) -> tuple[float, float]:
    """Median µs per `add` at the end and per `remove` of the pair added."""
    adds, removes = [], []
    gc.disable()
    try:
        for _ in range(7):
            start = time.process_time()
            added = [doc.add("extra", "1") for _ in range(number)]
            adds.append(time.process_time() - start)
            start = time.process_time()
            for pair in reversed(added):
                doc.remove(pair)
            removes.append(time.process_time() - start)
    finally:
        gc.enable()
    return statistics.median(adds) / number * 1e6, statistics.median(removes) / number * 1e6


def add_source_us(doc: tallix_cst.Document, snippet: str, number: int = 10) -> float:
    """Median µs per `add_source`, over batches of `number` calls (each
    batch removed again untimed, so the body keeps its size)."""
    samples = []
    for _ in range(15):
        start = time.process_time()
        added = [doc.add_source(snippet) for _ in range(number)]
        samples.append((time.process_time() - start) / number)
        for pairs in added:
            for pair in pairs:
                doc.remove(pair)
    return statistics.median(samples) * 1e6


def operations(results: dict) -> str:
    thousand = tallix_cst.parse_quarel(corpus.flat_body(1_000))
    last = "key_999"  # the last child: lookups scan the whole body
    ops = results.setdefault("ops", {})
    ops["find"] = per_call_us(lambda: thousand.find(last), 2_000)
    ops["get"] = per_call_us(lambda: thousand.get(last), 2_000)
    ops["item"] = per_call_us(lambda: thousand[last], 2_000)
    ten_thousand = tallix_cst.parse_quarel(corpus.flat_body(10_000))
    ops["add"], ops["remove"] = add_and_remove_us(ten_thousand)
    snippet = corpus.snippet(20)
    ops["add_source"] = add_source_us(thousand, snippet)
    values = tallix_cst.parse_quarel(corpus.long_list(1_000)).find("values")
    ops["value"] = per_call_us(lambda: values.value, 200)
    rows = [
        ["`walk()`, per pair", f"{results['pairs']:,} pairs", f"{results['walk']:.0f} ns"],
        ["`find`, the last child", "1,000-child body", f"{ops['find']:.2f} µs"],
        ["`get`, the last child", "1,000-child body", f"{ops['get']:.2f} µs"],
        ["item access, the last child", "1,000-child body", f"{ops['item']:.2f} µs"],
        ["`add`, at the end", "10,000-child body", f"{ops['add']:.2f} µs"],
        ["`remove(pair)`, the last child", "10,000-child body", f"{ops['remove']:.2f} µs"],
        ["`add_source`", f"{snippet.count(chr(10))}-line snippet, 1,000-child body",
         f"{ops['add_source']:.1f} µs"],
        ["`value`", "1,000-element list", f"{ops['value']:.1f} µs"],
    ]
    return table(["operation", "input", "median"], rows)


# Memory, in fresh processes


def memory(results: dict) -> str:
    rows = []
    shapes = [("configuration", corpus.config_document(CONFIG_BYTES))]
    shapes += [(name, make(1)) for name, make in corpus.DEGENERATE.items()]
    for name, source in shapes:
        ratios = memory_ratios(source)
        results.setdefault("memory", ratios)  # the first: the configuration document
        rows.append([name, f"{mb(source):.1f} MB", f"{ratios['peak']:.2f}×",
                     f"{ratios['resident']:.2f}×"])
    return table(["document", "source", "peak growth of RSS / source",
                  "lasting growth / source"], rows)


# Scaling


def scaling(results: dict) -> str:
    shapes = {"configuration": lambda k: corpus.config_document(CONFIG_BYTES * k // 4)}
    shapes.update(corpus.DEGENERATE)
    rows = []
    worst = results.setdefault("worst doubling", [0.0, ""])
    for name, make in shapes.items():
        sources = [make(k) for k in (1, 2, 4)]
        docs = [tallix_cst.parse_quarel(s) for s in sources]
        counts = [len(d.walk()) for d in docs]
        ops = {
            "parse": [lambda s=s: tallix_cst.parse_quarel(s) for s in sources],
            "print": [d.to_string for d in docs],
        }
        if counts[0] != counts[-1]:  # walk scales with pairs, not bytes
            ops["walk"] = [d.walk for d in docs]
        for op, fns in ops.items():
            times = median_times(fns, repeat=9)
            steps = max(times[1] / times[0], times[2] / times[1])
            if steps > worst[0]:
                worst[:] = [steps, f"{op}, {name}"]
            rows.append([name, op, *(f"{t * 1e3:.2f}" for t in times), f"{steps:.2f}",
                         "yes" if steps <= DOUBLING_LIMIT else "**no**"])
        del docs
        rows[-len(ops)][0] += f" ({mb(sources[0]):.1f} MB)"
    return table(["shape (1× size)", "operation", "1× ms", "2× ms", "4× ms",
                  "worst time ratio per doubling", "linear"], rows)


# Instructions per byte, counted by callgrind


def instructions(results: dict) -> str:
    counts = results["instructions"] = instructions_per_byte(COUNTED_BYTES)
    return table(["operation", "instructions per byte"],
                 [[op.name, f"{counts[op.key]:.2f}"] for op in OPERATIONS])


def formatting(results: dict) -> str:
    growth = results["format"] = format_growth()
    rows = []
    for size, counts in growth.items():
        parse_print = counts["parse_quarel"] + counts["to_string"]
        rows.append([f"{size / 1e6:.1f} MB", f"{counts['format']:.2f}", f"{parse_print:.2f}",
                     f"{counts['format'] / parse_print:.2f}×"])
    return table(["document", "`format()` per byte", "parse + print per byte", "ratio"], rows)


# Targets


def format_ratio(growth: dict) -> float:
    counts = growth[max(growth)]
    return counts["format"] / (counts["parse_quarel"] + counts["to_string"])


def targets(results: dict) -> str:
    rate, ops = results["rate"], results["ops"]
    worst, where = results["worst doubling"]
    # (target, measured, bound, unit, whether the figure must reach the bound)
    counts = results["instructions"]
    checks = [
        ("parse: bytes/s of `json.loads`", rate["parse"] / rate["json.loads"], 5, "×", True),
        ("print: bytes/s of `json.dumps(indent=2)`", rate["print"] / rate["json.dumps"], 30, "×",
         True),
        ("parse + print: bytes/s of tomlkit's parse + dumps",
         rate["parse+print"] / rate["tomlkit"], 200, "×", True),
        ("`loads(bytes)`, instructions per byte", counts["loads_bytes"], 8, "", False),
        ("`to_bytes()`, instructions per byte", counts["to_bytes_py"], 2, "", False),
        ("`parse_quarel(str)`, instructions per byte beyond `str.encode()`",
         counts["parse_quarel"] - counts["encode"], 8, "", False),
        ("`to_string()`, instructions per byte beyond `bytes.decode()`",
         counts["to_string"] - counts["decode"], 2, "", False),
        ("`format()` on 10 MB, instructions / those of parse + print",
         format_ratio(results["format"]), 3, "×", False),
        ("memory of the parsed document / its source (peak)", results["memory"]["peak"], 3, "×",
         False),
        ("`walk()` per pair", results["walk"], 60, " ns", False),
        ("`find` on a 1,000-child body", ops["find"], 5, " µs", False),
        ("`add` on a 10k-child body", ops["add"], 20, " µs", False),
        ("`remove` on a 10k-child body", ops["remove"], 20, " µs", False),
        (f"time ratio per doubling of the input (worst: {where})", worst, DOUBLING_LIMIT, "×",
         False),
    ]
    rows = []
    for name, figure, bound, unit, at_least in checks:
        met = figure >= bound if at_least else figure <= bound
        rows.append([name, f"{figure:.2f}{unit}", f"{'≥' if at_least else '≤'} {bound:g}{unit}",
                     "met" if met else "**missed**"])
    return table(["target", "measured", "required", ""], rows)


def main() -> None:
    start = time.perf_counter()
    results: dict = {}
    print(f"Machine: {machine()}\n")
    for title, section in [("Throughput", throughput), ("Operations", operations),
                           ("Memory (fresh process per document)", memory),
                           ("Scaling (medians)", scaling),
                           ("Instructions per byte (callgrind, document of "
                            f"{COUNTED_BYTES / 1e6:.1f} MB)", instructions),
                           ("Formatting, instructions per byte (callgrind), at three sizes",
                            formatting),
                           ("Targets", targets)]:
        print(f"### {title}\n\n{section(results)}\n", flush=True)
    print(f"(the suite took {time.perf_counter() - start:.0f} s)")


if __name__ == "__main__":
    main()
