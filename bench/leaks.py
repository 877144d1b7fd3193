"""Memory held across many rounds of every kind of call: it must not grow.

Run: .venv/bin/python bench/leaks.py [ROUNDS]   (default 100000)

Each round parses a document, reads, walks, adds, removes, replaces values,
detaches pairs and edits comments, makes calls that fail, lists tokens, the
outline (also as the JSON of symbols, semantic tokens and folding ranges) and
every syntax error of a broken text, and keeps a few Pair objects until the
next round, after their Document is gone. After a
warm-up the script reports resident memory, the bytes that malloc holds
(the tree lives in C++ allocations), and the blocks that Python's allocator
holds (every live Python object); tests/test_leaks.py runs fewer rounds and
asserts that the last two stay flat.
"""

from __future__ import annotations

import ctypes
import gc
import os
import sys
import time

from tallix_cst import QuarelSyntaxError, Schema, parse_quarel, syntax_errors

SCHEMA = Schema({"properties": {"view": {"additionalProperties": {
    "properties": {"dimension": {"additionalProperties": {"properties": {"type": {"enum": ["string"]}}}},
                   "filters": {"type": "object", "additionalProperties": {"type": "integer"}}},
    "additionalProperties": False}}}})

SOURCE = """\
# header
view: users {
  label: "Users"  # menu
  dimension: id {
    type: number
    sql: ${TABLE}.id ;;
  }
  filters: [status: open, tier: "gold", [a, b]]
  sql_table_name: people ;;
}
top: 1
"""


def one_round() -> list:
    """Exercises the module once; returns Pair objects that outlive the round."""
    doc = parse_quarel(SOURCE)
    view = doc.find("view", "users")
    for pair in doc.walk():
        (pair.key, pair.name, pair.kind, pair.value, pair.comments, pair.parent)
        (repr(pair), str(pair), pair.to_string(include_leading=True), pair == view)
    (view["label"], view.get("missing", 0), "label" in view, len(view), list(view))
    (doc.find_all("top"), doc.children, repr(doc), len(doc))
    (doc.unwrap(), doc.unwrap(SCHEMA), view.unwrap(), doc.validate(SCHEMA), doc.path_at(30))
    (doc._locate(["view", "users", "filters", "tier"]), doc._left_out())

    dimension = view.add("dimension", name="age", index=1)
    dimension.add("type", "number")
    dimension.add("tags", ["a", ("k", "v"), ["n", 1.5, True]])
    view.add_source("# counted\nmeasure: count {\n  type: count\n}\n")
    doc["top"] = 2
    doc["new"] = {"a": 1, "b": [2]}
    view.find("label").set_value("People")
    view.find("filters").value = [("status", "closed"), "x"]
    view.find("sql_table_name").set_value(" other ")
    view.find("label").comments = ["# one", "two\nthree"]
    view.name = "people"

    gone = view.find("dimension", "id")
    gone.detach()
    gone.find("type").set_value("string")
    gone.add("hidden", "yes")
    view.remove("measure")
    del doc["top"]

    for fail in (
        lambda: parse_quarel("a: [b c]"),
        lambda: doc.add_source("x: {"),
        lambda: doc.add("a b", "1"),
        lambda: doc.add("a", object()),
        lambda: doc.add("sql", "a ;; b"),
        lambda: doc["missing"],
        lambda: gone.find("type").find("x"),
        lambda: setattr(gone, "key", "sql"),
        lambda: doc.symbols_json(b"", "utf-16", [(0, 0, 1), (1, 0, 0)], (1,) * 6),
        lambda: doc.semantic_tokens_json(b"", "utf-8", [], (0, -1)),
    ):
        try:
            fail()
        except (QuarelSyntaxError, ValueError, TypeError, KeyError):
            pass
    doc.to_string()
    data = doc.to_bytes()
    (doc.tokens(), doc.outline(), doc.symbols_json(data, "utf-16", [(0, 1, 2)], (1,) * 6))
    doc.semantic_tokens_json(data, "utf-32", [(0, 1, 2)], (0, len(data) // 2))
    doc.folding_ranges_json(data, [(0, 1, 2)])
    (doc.pairs_at(len(data) // 2), doc.token_at(len(data) // 2), doc.key_counts())
    syntax_errors('a: [b c]\nd: ,\ne: {\n  f: "g')
    return [gone, dimension.find("tags"), view]


class _Mallinfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                     "uordblks", "fordblks", "keepcost")
    ]


_libc = ctypes.CDLL(None)
_libc.mallinfo2.restype = _Mallinfo2
# Under AddressSanitizer (make sanitize) malloc is its own: mallinfo2 reads 0,
# and freed memory is held back for a while, so resident memory grows.
_sanitizer_count = getattr(_libc, "__sanitizer_get_current_allocated_bytes", None)
if _sanitizer_count:
    _sanitizer_count.restype = ctypes.c_size_t
SANITIZED = _sanitizer_count is not None


def heap_in_use() -> int:
    """Bytes handed out by malloc and not yet freed (small and mmapped blocks)."""
    if _sanitizer_count:
        return _sanitizer_count()
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


def resident() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def snapshot() -> dict:
    gc.collect()
    return {"rss": resident(), "heap": heap_in_use(), "blocks": sys.getallocatedblocks()}


def run(rounds: int, warmup: int) -> tuple[dict, dict]:
    """Memory after `warmup` rounds and after `rounds` more."""
    kept: list = []
    for _ in range(warmup):
        kept = one_round()
    before = snapshot()
    for _ in range(rounds):
        kept = one_round()
    return before, snapshot()


def main() -> None:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    start = time.perf_counter()
    before, after = run(rounds, warmup=max(rounds // 100, 200))
    print(f"{rounds} rounds in {time.perf_counter() - start:.1f} s")
    for key, unit in (("rss", 2**20), ("heap", 2**20), ("blocks", 1)):
        scale = "MiB" if unit > 1 else ""
        print(f"{key:>6}: {before[key] / unit:10.2f} {scale} -> {after[key] / unit:10.2f} {scale}")


if __name__ == "__main__":
    main()
