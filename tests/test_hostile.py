"""Hostile input and hostile callers: every call either works or raises a clear
Python exception, and a call that raises leaves the document as it was.

Sizes: the suite uses an 8 MiB string and a 100,000-element list; set
TALLIX_HOSTILE_FULL=1 for the full 100 MiB and 1,000,000 elements.
"""

import gc
import os
import random
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from functools import partial

import pytest

from conftest import SOURCE, assert_consistent, calling
from tallix_cst import QuarelSyntaxError, parse_quarel

FULL = os.environ.get("TALLIX_HOSTILE_FULL") == "1"
BIG_STRING = (100 if FULL else 8) * 2**20
LONG_LIST = 1_000_000 if FULL else 100_000
DEEP = 1_000_000
TOO_DEEP = "nesting deeper than 256 levels"

# -- size ------------------------------------------------------------------

DEEP_SOURCES = {
    "lists": "a: " + "[" * DEEP,
    "closed lists": "a: " + "[" * DEEP + "]" * DEEP,
    "list pairs": "a: [" + "b: " * DEEP + "c]",
    "blocks": "a: {" * DEEP,
    "closed blocks": "a: {" * DEEP + "}" * DEEP,
}


@pytest.mark.parametrize("source", DEEP_SOURCES.values(), ids=DEEP_SOURCES.keys())
def test_million_levels_are_refused(source):
    with pytest.raises(QuarelSyntaxError, match=TOO_DEEP) as e:
        parse_quarel(source)
    assert (e.value.line, e.value.offset) == (1, e.value.column - 1)
    doc = parse_quarel(SOURCE)
    for container in (doc, doc.find("v")):
        with pytest.raises(QuarelSyntaxError, match=TOO_DEEP):
            container.add_source(source)
    assert doc.to_string() == SOURCE


def test_huge_values():
    text = "x" * BIG_STRING
    doc = parse_quarel(f'a: "{text}"\nl: [x]\n')
    assert doc["a"] == text
    doc["a"] = text + '"'
    assert doc.find("a").to_string() == f'a: "{text}\\""'
    doc.find("l").set_value(list(range(LONG_LIST)))
    reread = parse_quarel(assert_consistent(doc))
    assert (reread["a"], reread["l"]) == (text + '"', [str(i) for i in range(LONG_LIST)])


# -- characters --------------------------------------------------------------

ODD_CHARACTERS = [chr(c) for c in range(0x20)] + ["\x7f", "\x85", "\xa0", "\u2028", "\ufeff", "\u200b"]

# Each edit is given text holding the character; `read` is what the edited
# pair must read back when the edit works.
EDITS = {
    "key": (lambda d, t: d.add(f"k{t}", "1"), None),
    "inferred": (lambda d, t: d.add("k", f"a{t}b"), lambda p, t: p.value == f"a{t}b"),
    "string": (lambda d, t: d.add("k", f"a{t}b", kind="string"), lambda p, t: p.value == f"a{t}b"),
    "literal": (lambda d, t: d.add("k", f"a{t}b", kind="literal"), lambda p, t: p.value == f"a{t}b"),
    "expr": (lambda d, t: d.add("sql_k", f"a{t}b"), lambda p, t: p.value == f"a{t}b".strip()),
    "list": (lambda d, t: d.add("k", [t, (f"k{t}", t)]), lambda p, t: p.value == [t, (f"k{t}", t)]),
    "name": (lambda d, t: d.add("k", name=f"n{t}"), lambda p, t: p.name == f"n{t}"),
    "snippet": (lambda d, t: d.find("v").add_source(f"k: a{t}b"), None),
    "comments": (lambda d, t: setattr(d.find("a"), "comments", [f"x{t}y", t]), None),
    "rename": (lambda d, t: setattr(d.find("a"), "key", f"k{t}"), None),
    "rename block": (lambda d, t: setattr(d.find("v"), "name", f"n{t}"), None),
}


@pytest.mark.parametrize("char", ODD_CHARACTERS, ids=[f"U+{ord(c):04X}" for c in ODD_CHARACTERS])
@pytest.mark.parametrize("edit, read", EDITS.values(), ids=EDITS.keys())
def test_control_and_space_characters(edit, read, char):
    doc = parse_quarel(SOURCE)
    try:
        pair = edit(doc, char)
    except (ValueError, TypeError):
        assert doc.to_string() == SOURCE
        return
    assert_consistent(doc)
    assert read is None or read(pair, char)


# -- Python code that runs in the middle of a call ----------------------------

# What that code does to the document; `me` is the value being converted.
REENTRY = {
    "changes the kind": lambda d, me: d.find("a").set_value([1]),
    "assigns itself again": lambda d, me: setattr(d.find("a"), "value", me),
    "renames": lambda d, me: setattr(d.find("a"), "key", "z"),
    "removes": lambda d, me: d.remove("a"),
    "detaches": lambda d, me: d.find("a").detach(),
    "puts a block in its place": lambda d, me: (d.remove("a"), d.add("a", index=0)),
    "adds": lambda d, me: d.add("q", "1"),
    "reads": lambda d, me: d.to_string() and d.walk(),
    "sets the list": lambda d, me: d.find("l").set_value(["q"]),
    "replaces the block": lambda d, me: d.find("v").set_value("x"),
    "adds to the block": lambda d, me: d.find("v").add("w", [1]),
}

# Every call that converts a Python value, given that value.
CONVERTING = {
    "value =": lambda d, v: setattr(d.find("a"), "value", v),
    "set_value": lambda d, v: d.find("a").set_value(v),
    "item": lambda d, v: d.__setitem__("a", v),
    "add": lambda d, v: d.add("new", v),
    "list element": lambda d, v: d.find("a").set_value([v]),
    "dict entry": lambda d, v: setattr(d.find("l"), "value", {"x": 1, "y": v}),
    "block item": lambda d, v: d.find("v").__setitem__("c", v),
    "block add": lambda d, v: d.find("v").add("c", v),
}


def interfered_with(run):
    """Runs a call that other code edits the document under; it either works or refuses cleanly."""
    try:
        run()
    except (RuntimeError, KeyError):  # in use, too deep a recursion, or the pair went meanwhile
        pass
    except TypeError as e:  # only when the other code turned the container into a literal
        assert str(e).endswith("not a block")


@pytest.mark.parametrize("callback", REENTRY.values(), ids=REENTRY.keys())
@pytest.mark.parametrize("call", CONVERTING.values(), ids=CONVERTING.keys())
def test_conversion_that_edits_the_document(call, callback, watchdog):
    doc = parse_quarel(SOURCE)
    interfered_with(lambda: call(doc, calling(lambda me: callback(doc, me))))
    assert_consistent(doc)


def test_kind_changed_meanwhile_stores_nothing():
    doc = parse_quarel("a: 1\n")
    with pytest.raises(RuntimeError):
        doc.find("a").value = calling(lambda me: doc.find("a").set_value([1]))
    assert doc.to_string() == "a: [1]\n"


FAILING = {"__str__ raises": (lambda me: 1 / 0, "5", ZeroDivisionError), "__str__ returns an int": (lambda me: None, 5, TypeError)}


@pytest.mark.parametrize("callback, text, error", FAILING.values(), ids=FAILING.keys())
@pytest.mark.parametrize("call", CONVERTING.values(), ids=CONVERTING.keys())
def test_failing_conversions_change_nothing(call, callback, text, error):
    doc = parse_quarel(SOURCE)
    with pytest.raises(error):
        call(doc, calling(callback, text))
    assert doc.to_string() == SOURCE


DICT_CHANGES = {
    "grows": lambda d: d.update(z=1),
    "shrinks": lambda d: d.pop("c"),
    "swaps a key": lambda d: (d.pop("c"), d.update(z=1)),
    "empties": lambda d: d.clear(),
}


@pytest.mark.parametrize("change", DICT_CHANGES.values(), ids=DICT_CHANGES.keys())
def test_dict_changed_while_converted(change):
    doc = parse_quarel(SOURCE)
    entries = {"a": 1}
    entries.update(b=calling(lambda me: change(entries)), c=3)
    try:
        doc.find("l").value = entries
    except RuntimeError:
        assert doc.to_string() == SOURCE
        return
    assert_consistent(doc)


class Finalizer:
    """Garbage in a reference cycle whose __del__ edits the document."""

    def __init__(self, edit, outcomes):
        self.cycle, self.edit, self.outcomes = self, edit, outcomes

    def __del__(self):
        try:
            self.edit()
            self.outcomes.append("done")
        except RuntimeError as e:  # the document is in use by the interrupted call
            self.outcomes.append(str(e))


# Calls that allocate Python objects, and so may run the collector, while
# they read or convert; each is looked up before the garbage is made.
ALLOCATING = {
    "list value": lambda d: partial(getattr, d.find("l"), "value"),
    "get": lambda d: partial(d.get, "l"),
    "walk": lambda d: d.walk,
    "children": lambda d: partial(getattr, d.find("v"), "children"),
    "comments": lambda d: partial(getattr, d.find("v").find("sql"), "comments"),
    "add a list": lambda d: partial(d.find("v").add, "n", [[1], [2]]),
    "set a list": lambda d: partial(d.find("l").set_value, [[1], ("k", [2])]),
}


def collecting_at_first_allocation(run):
    """Up to 3.11 the collector runs at an allocation: with a threshold of 1, at
    the first inside `run`. Later versions run it between bytecodes, after it."""
    threshold = gc.get_threshold()
    gc.set_threshold(1)
    try:
        run()  # no Python frame between the threshold and the call
    finally:
        gc.set_threshold(*threshold)


@pytest.mark.parametrize("edit", REENTRY.values(), ids=REENTRY.keys())
@pytest.mark.parametrize("call", ALLOCATING.values(), ids=ALLOCATING.keys())
def test_collector_finalizer_edits_during_a_call(call, edit, watchdog):
    doc = parse_quarel(SOURCE)
    run, outcomes = call(doc), []
    gc.collect()
    Finalizer(lambda: edit(doc, 7), outcomes)
    interfered_with(partial(collecting_at_first_allocation, run))
    gc.collect()  # where the collector has not run yet
    assert outcomes in (["done"], ["document is in use by an operation in progress"],
                        ["pair is in use by an operation in progress"])
    assert_consistent(doc)


def test_threads_edit_and_print_one_document(watchdog):
    doc = parse_quarel(SOURCE)
    texts, failures = [], []
    yielding = calling(lambda me: time.sleep(0))  # lets other threads run in the middle of a conversion
    steps = [
        lambda key: doc.add(key, yielding),
        lambda key: doc.remove(key),
        lambda key: doc.find("v").add(key, [yielding, (key, yielding)]),
        lambda key: doc.__setitem__("a", yielding),
        lambda key: setattr(doc.find("l"), "value", [yielding] * (len(texts) % 4)),
        lambda key: doc.find("v").remove(key),
        lambda key: texts.append(doc.to_string()),
    ]

    def work(seed):
        rng = random.Random(seed)
        for _ in range(300):
            try:
                rng.choice(steps)(f"t{seed}")
            except RuntimeError:  # a switch met a call in progress
                pass
            except Exception as e:
                failures.append(e)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        with ThreadPoolExecutor(4) as pool:
            list(pool.map(work, range(4)))
    finally:
        sys.setswitchinterval(interval)
    assert failures == []
    for text in texts:
        parse_quarel(text)
    assert_consistent(doc)
