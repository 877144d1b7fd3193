"""Hostile input: every call either works or raises a clear Python exception,
and a call that raises leaves the document byte for byte as it was.

Sizes: the suite uses an 8 MiB string and a 100,000-element list; set
TALLIX_HOSTILE_FULL=1 for the full 100 MiB and 1,000,000 elements.
(More callbacks re-entering an edit, and the nesting limits of edits, are
covered in test_editing_errors.py.)
"""

import faulthandler
import gc
import os
import random
import sys
import threading
import time
from functools import partial

import pytest

from tallix_cst import QuarelSyntaxError, parse_quarel

FULL = os.environ.get("TALLIX_HOSTILE_FULL") == "1"
BIG_STRING = (100 if FULL else 8) * 2**20
LONG_LIST = 1_000_000 if FULL else 100_000
DEEP = 1_000_000
TOO_DEEP = "nesting deeper than 256 levels"

SOURCE = """\
# header
a: 1
l: [x, [y], k: v]
v: users {
  c: "three"  # end
  sql: c * 2 ;;
}
"""


def shape(pairs):
    return [(p.key, p.name, p.kind, shape(p.children) if p.kind == "block" else p.value) for p in pairs]


def assert_consistent(doc):
    """The printed text parses back to the document that printed it."""
    text = doc.to_string()
    assert shape(parse_quarel(text).children) == shape(doc.children)
    return text


@pytest.fixture
def watchdog():
    """A lock waited on forever would hang the run: fail it loudly instead."""
    faulthandler.dump_traceback_later(120, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


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


def test_huge_string_value():
    text = "x" * BIG_STRING
    doc = parse_quarel(f'a: "{text}"\n')
    assert doc["a"] == text
    doc["a"] = text + '"'
    assert doc.to_string() == f'a: "{text}\\""\n'
    assert parse_quarel(doc.to_string())["a"] == text + '"'


def test_huge_list():
    doc = parse_quarel(SOURCE)
    doc.find("l").set_value(list(range(LONG_LIST)))
    text = assert_consistent(doc)
    assert parse_quarel(text)["l"] == [str(i) for i in range(LONG_LIST)]
    doc.find("l").set_value([])
    assert doc.to_string() == SOURCE.replace("[x, [y], k: v]", "[]")


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
    if read:
        assert read(pair, char)


SURROGATE = "\udc80"

# Every place a str goes in.
STR_ARGUMENTS = {
    "parse": lambda d: parse_quarel(f"a: {SURROGATE}"),
    "add key": lambda d: d.add(SURROGATE, "1"),
    "add value": lambda d: d.add("k", SURROGATE),
    "add name": lambda d: d.add("k", name=SURROGATE),
    "add kind": lambda d: d.add("k", "1", kind=SURROGATE),
    "list element": lambda d: d.add("k", ["a", SURROGATE]),
    "list pair key": lambda d: d.add("k", [(SURROGATE, "a")]),
    "dict key": lambda d: d.add("k", {SURROGATE: "a"}),
    "snippet": lambda d: d.add_source(f"k: {SURROGATE}"),
    "set_value": lambda d: d.find("a").set_value(SURROGATE),
    "value": lambda d: setattr(d.find("a"), "value", SURROGATE),
    "item": lambda d: d.__setitem__("a", SURROGATE),
    "new item": lambda d: d.__setitem__(SURROGATE, "1"),
    "key": lambda d: setattr(d.find("a"), "key", SURROGATE),
    "name": lambda d: setattr(d.find("v"), "name", SURROGATE),
    "comments": lambda d: setattr(d.find("a"), "comments", ["ok", SURROGATE]),
    "find": lambda d: d.find(SURROGATE),
    "get": lambda d: d.get(SURROGATE),
    "in": lambda d: SURROGATE in d,
    "remove": lambda d: d.remove(SURROGATE),
    "del": lambda d: d.__delitem__(SURROGATE),
}


@pytest.mark.parametrize("call", STR_ARGUMENTS.values(), ids=STR_ARGUMENTS.keys())
def test_lone_surrogates_are_refused(call):
    doc = parse_quarel(SOURCE)
    with pytest.raises(UnicodeEncodeError):
        call(doc)
    assert doc.to_string() == SOURCE


# -- argument types ----------------------------------------------------------


class Str(str):
    def __str__(self):
        return "not this"


class Int(int):
    pass


class Float(float):
    pass


class List(list):
    pass


class Dict(dict):
    def items(self):
        raise AssertionError("the dict's own entries are read")


# (call, what the edited pair reads back, or an exception type)
ARGUMENTS = {
    "parse bytes": (lambda d: parse_quarel(b"a: 1"), TypeError),
    "parse None": (lambda d: parse_quarel(None), TypeError),
    "parse str subclass": (lambda d: parse_quarel(Str("a: 1")).find("a"), "1"),
    "key bytes": (lambda d: d.add(b"k", "1"), TypeError),
    "key None": (lambda d: d.add(None, "1"), TypeError),
    "key str subclass": (lambda d: d.add(Str("k"), "1"), "1"),
    "value bytes": (lambda d: d.add("k", b"1"), TypeError),
    "value None is a block": (lambda d: d.add("k", None), None),
    "value str subclass": (lambda d: d.add("k", Str("s")), "s"),
    "value int subclass": (lambda d: d.add("k", Int(7)), "7"),
    "value bool": (lambda d: d.add("k", True), "yes"),
    "value float subclass": (lambda d: d.add("k", Float(1.5)), "1.5"),
    "value list subclass": (lambda d: d.add("k", List([1, Str("s")])), ["1", "s"]),
    "value dict subclass": (lambda d: d.add("k", Dict(a=Int(1))), [("a", "1")]),
    "value bytes in list": (lambda d: d.add("k", [b"1"]), TypeError),
    "value None in list": (lambda d: d.add("k", [None]), TypeError),
    "item None": (lambda d: d.__setitem__("k", None), TypeError),
    "set_value None": (lambda d: d.find("a").set_value(None), TypeError),
    "set_value bytes": (lambda d: d.find("a").set_value(b"x"), TypeError),
    "kind bytes": (lambda d: d.add("k", "1", kind=b"string"), TypeError),
    "kind str subclass": (lambda d: d.add("k", "1", kind=Str("string")), "1"),
    "name bytes": (lambda d: d.add("k", name=b"n"), TypeError),
    "index float": (lambda d: d.add("k", "1", index=1.0), TypeError),
    "index int subclass": (lambda d: d.add("k", "1", index=Int(0)), "1"),
    "snippet bytes": (lambda d: d.add_source(b"k: 1"), TypeError),
    "comments bytes": (lambda d: setattr(d.find("a"), "comments", b"# x"), TypeError),
    "comments None": (lambda d: setattr(d.find("a"), "comments", None), TypeError),
    "comments str subclass": (lambda d: setattr(d.find("a"), "comments", Str("# x")), TypeError),
    "rename bytes": (lambda d: setattr(d.find("a"), "key", b"b"), TypeError),
    "block name None": (lambda d: setattr(d.find("a"), "name", None), TypeError),
    "remove bytes": (lambda d: d.remove(b"a"), TypeError),
    "remove None": (lambda d: d.remove(None), TypeError),
    "find bytes": (lambda d: d.find(b"a"), TypeError),
    "item bytes": (lambda d: d[b"a"], TypeError),
    "in bytes": (lambda d: b"a" in d, TypeError),
    "include_leading int": (lambda d: d.find("a").to_string(include_leading=1), TypeError),
}


@pytest.mark.parametrize("call, expected", ARGUMENTS.values(), ids=ARGUMENTS.keys())
def test_argument_types(call, expected):
    doc = parse_quarel(SOURCE)
    if isinstance(expected, type):
        with pytest.raises(expected):
            call(doc)
        assert doc.to_string() == SOURCE
        return
    assert call(doc).value == expected
    assert_consistent(doc)


class Raising(int):
    def __str__(self):
        raise ZeroDivisionError("from __str__")


class NotText(int):
    def __str__(self):
        return 5


class Exploding(list):
    def __iter__(self):
        yield "fine"
        raise ZeroDivisionError("from __iter__")


FAILING_VALUES = {
    "__str__ raises": (Raising(1), ZeroDivisionError),
    "__str__ returns an int": (NotText(1), TypeError),
    "raises in a list": ([1, Raising(2)], ZeroDivisionError),
    "raises in a dict": ({"a": 1, "b": Raising(2)}, ZeroDivisionError),
    "iteration raises": (Exploding(), ZeroDivisionError),
}

def slot(value):
    """The pair whose kind takes the value: the list for lists and dicts."""
    return "l" if isinstance(value, (list, dict)) else "a"


ASSIGNMENTS = {
    "add": lambda d, v: d.add("k", v),
    "item": lambda d, v: d.__setitem__(slot(v), v),
    "value": lambda d, v: setattr(d.find(slot(v)), "value", v),
    "list element": lambda d, v: setattr(d.find("l"), "value", list(v.items()) if isinstance(v, dict) else [v]),
    "set_value": lambda d, v: d.find("a").set_value(v),
    "block add": lambda d, v: d.find("v").add("c", v),
}


@pytest.mark.parametrize("assign", ASSIGNMENTS.values(), ids=ASSIGNMENTS.keys())
@pytest.mark.parametrize("value, error", FAILING_VALUES.values(), ids=FAILING_VALUES.keys())
def test_failing_conversions_change_nothing(assign, value, error):
    doc = parse_quarel(SOURCE)
    with pytest.raises(error):
        assign(doc, value)
    assert doc.to_string() == SOURCE


# -- callbacks that edit the pair being assigned -----------------------------

MEDDLING = {
    "assigns itself again": lambda d, self: setattr(d.find("a"), "value", self),
    "detaches it": lambda d, self: d.find("a").detach(),
    "deletes it": lambda d, self: d.__delitem__("a"),
    "puts a block in its place": lambda d, self: (d.remove("a"), d.add("a", index=0)),
}


@pytest.mark.parametrize("meddle", MEDDLING.values(), ids=MEDDLING.keys())
@pytest.mark.parametrize("assign", ["value", "item", "set_value"])
def test_str_that_edits_the_pair_being_assigned(assign, meddle, watchdog):
    doc = parse_quarel(SOURCE)
    pair = doc.find("a")

    class Meddling(int):
        def __str__(self):
            meddle(doc, self)
            return "5"

    value = Meddling(1)
    try:
        if assign == "value":
            pair.value = value
        elif assign == "item":
            doc["a"] = value
        else:
            pair.set_value(value)
    except (RuntimeError, KeyError):  # RecursionError is a RuntimeError
        pass
    assert_consistent(doc)
    pair.to_string()


DICT_CHANGES = {
    "grows": lambda d: d.update(z=1),
    "shrinks": lambda d: d.pop("c"),
    "swaps a key": lambda d: (d.pop("c"), d.update(z=1)),
    "empties": lambda d: d.clear(),
}


@pytest.mark.parametrize("change", DICT_CHANGES.values(), ids=DICT_CHANGES.keys())
def test_dict_changed_while_converted(change):
    doc = parse_quarel(SOURCE)
    entries = {}

    class Changing(int):
        def __str__(self):
            change(entries)
            return "1"

    entries.update(a=1, b=Changing(2), c=3)
    try:
        doc.find("l").value = entries
    except RuntimeError:
        assert doc.to_string() == SOURCE
        return
    assert_consistent(doc)


# -- finalizers --------------------------------------------------------------


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


def finalizer_edits(doc):
    a, l, v = doc.find("a"), doc.find("l"), doc.find("v")
    return {
        "set the list": partial(l.set_value, ["q"]),
        "remove the block": partial(doc.remove, "v"),
        "add to the block": partial(v.add, "w", [1]),
        "detach": a.detach,
        "comment": partial(setattr, l, "comments", ["# gc"]),
    }


def interrupted_calls(doc):
    """Calls that allocate Python objects (so may collect) while reading."""
    l, v = doc.find("l"), doc.find("v")
    return {
        "list value": partial(getattr, l, "value"),
        "get": partial(doc.get, "l"),
        "item": partial(doc.__getitem__, "l"),
        "walk": doc.walk,
        "children": partial(getattr, v, "children"),
        "comments": partial(getattr, v.find("sql"), "comments"),
        "add a list": partial(v.add, "n", [[1], [2]]),
        "set a list": partial(l.set_value, [[1], ("k", [2])]),
    }


@pytest.mark.parametrize("call", interrupted_calls(parse_quarel(SOURCE)).keys())
@pytest.mark.parametrize("edit", finalizer_edits(parse_quarel(SOURCE)).keys())
def test_finalizer_edits_during_a_call(call, edit, watchdog):
    doc = parse_quarel(SOURCE)
    outcomes = []
    finalize, run = finalizer_edits(doc)[edit], interrupted_calls(doc)[call]
    # Fresh garbage waits, with the collector past its threshold, for the
    # first allocation inside the call.
    gc.disable()
    Finalizer(finalize, outcomes)
    allocations = [[] for _ in range(1000)]
    gc.enable()
    run()
    del allocations
    assert len(outcomes) == 1
    assert outcomes[0] in ("done", "document is in use by an operation in progress",
                           "pair is in use by an operation in progress")
    assert_consistent(doc)


# -- threads -----------------------------------------------------------------


class Yielding(int):
    """Lets other threads run in the middle of a conversion."""

    def __str__(self):
        time.sleep(0)
        return int.__str__(self)


def test_threads_edit_and_print_one_document(watchdog):
    doc = parse_quarel(SOURCE)
    texts, failures = [], []

    def work(seed):
        rng = random.Random(seed)
        key = f"t{seed}"
        for i in range(300):
            try:
                step = rng.randrange(7)
                if step == 0:
                    doc.add(key, Yielding(i))
                elif step == 1:
                    doc.remove(key)
                elif step == 2:
                    doc.find("v").add(key, [Yielding(i), (key, Yielding(i))])
                elif step == 3:
                    doc["a"] = Yielding(i)
                elif step == 4:
                    doc.find("l").value = [Yielding(i)] * rng.randrange(4)
                elif step == 5:
                    doc.find("v").remove(key)
                else:
                    texts.append(doc.to_string())
            except RuntimeError:  # a finalizer or a switch met a call in progress
                pass
            except Exception as e:
                failures.append(e)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=work, args=(seed,)) for seed in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    assert failures == []
    for text in texts:
        parse_quarel(text)
    assert_consistent(doc)


# -- found along the way -------------------------------------------------------


def test_end_of_line_comment_does_not_pull_new_pairs_onto_its_line():
    # The pair after the comment has only spaces before its `#`.
    doc = parse_quarel("v: {\n  a: 1  # note\n  b: 2\n}\n")
    doc.find("v").add("b", "3")
    assert doc.to_string() == "v: {\n  a: 1  # note\n  b: 2\n  b: 3\n}\n"
