"""Memory stays flat across rounds of every kind of call.

The rounds (bench/leaks.py) parse, read, walk, add, remove, replace values,
detach pairs, edit comments, fail on purpose, list tokens, outlines and syntax errors,
and keep Pair objects alive past their Document. The tree lives in C++
allocations, so malloc's own count of bytes in use is watched beside
Python's count of live blocks.
"""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "bench"))

import leaks  # noqa: E402
from tallix_cst import Document, parse_quarel  # noqa: E402

ROUNDS = 10_000


def test_rounds_leave_nothing_behind():
    before, after = leaks.run(ROUNDS, warmup=500)
    # A leak of one object or one tree node per round would show thousands.
    assert after["blocks"] - before["blocks"] < ROUNDS // 20
    assert after["heap"] - before["heap"] < ROUNDS * 16
    assert leaks.SANITIZED or after["rss"] - before["rss"] < 2**20


def test_last_pair_frees_the_document():
    baseline = leaks.snapshot()["heap"]
    # Small enough that the tree's memory comes from malloc, which the heap count sees (a
    # larger tree takes pages mapped on their own, and the count saw only a few hundred bytes
    # of it: allocator noise failed the test).
    doc = parse_quarel("view: v {\n" + "  a: {\n    b: [1, 2, 3]\n  }\n" * 3000 + "}\n")
    deep = doc.walk()[-1]
    detached = doc.find("view").find("a")
    detached.detach()
    size = leaks.snapshot()["heap"] - baseline
    del doc
    # The Pair objects keep the whole tree alive through their parents.
    assert leaks.snapshot()["heap"] - baseline > size // 2
    root = deep.parent.parent.parent
    assert isinstance(root, Document) and root.to_string().startswith("view: v {")
    del deep, detached, root
    assert leaks.snapshot()["heap"] - baseline < size // 100


def test_equal_keys_share_no_state():
    # A parse stores equal keys once; each pair must still own its key.
    doc = parse_quarel("long_key_name: 1\n" * 3 + "x: [long_key_name: 2]\n")
    first, second, third, _ = doc.children
    first.key = "another_long_key"
    second.detach()
    del doc
    assert [first.key, second.key, third.key] == ["another_long_key", "long_key_name", "long_key_name"]
    assert third.parent.to_string() == "another_long_key: 1\nlong_key_name: 1\nx: [long_key_name: 2]\n"
