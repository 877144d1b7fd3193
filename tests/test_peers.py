"""What users of peer libraries reach for: locations, end-of-line comments, the
document's style, plain data, copies and moving pairs."""

import copy
import pickle

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import at
from strategies import documents, is_expr_key
from tallix_cst import Location, loads, parse_quarel


# Locations, against an independent computation: renaming a pair in a copy of
# the document changes the text first just past its old key.


def expected_locations(doc):
    text = doc.to_string().encode()

    def line_column(offset):
        return text.count(b"\n", 0, offset) + 1, offset - (text.rfind(b"\n", 0, offset) + 1) + 1

    found = []
    for i, pair in enumerate(doc.walk()):
        renamed = parse_quarel(doc.to_string())
        other = renamed.walk()[i]
        other.key = pair.key + ("_sql" if is_expr_key(pair.key) else "_x")
        new = renamed.to_string().encode()
        differs = next(k for k, (a, b) in enumerate(zip(text, new)) if a != b)
        start = differs - len(pair.key.encode())
        end = start + len(pair.to_string().encode())
        found.append(Location(*line_column(start), start, *line_column(end), end))
    return found


def edit(doc, data):
    """One random edit of the kinds that move text around."""
    pairs = doc.walk()
    blocks = [doc] + [p for p in pairs if p.kind == "block"]
    if not pairs:
        doc.add("a", "1")
        return
    pair = data.draw(st.sampled_from(pairs))
    op = data.draw(st.sampled_from(["add", "remove", "value", "comment", "move"]))
    if op == "add":
        data.draw(st.sampled_from(blocks)).add_source("n: 1  # new\nm: { k: v }", index=0)
    elif op == "remove":
        pair.detach()
    elif op == "value" and pair.kind in ("literal", "string", "expr"):
        pair.value = "a\nlonger value"
    elif op == "comment":
        pair.end_comment = "note"
    elif op == "move":
        target = data.draw(st.sampled_from(blocks))
        inside = [pair] + (pair.walk() if pair.kind == "block" else [])
        if not any(target == p for p in inside):
            pair.move_to(target, index=data.draw(st.integers(0, 3)))


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(documents(max_pairs=4), st.data())
def test_locations_match_the_printed_text_before_and_after_edits(source, data):
    doc = parse_quarel(source)
    for _ in range(3):
        assert [p.location for p in doc.walk()] == expected_locations(doc)
        edit(doc, data)
    assert [p.location for p in doc.walk()] == expected_locations(doc)


def test_location_fields_and_detached_pairs():
    doc = parse_quarel("a: 1\nview: v {\n  é: [x,\n    y]  # c\n}\n")
    inner = at(doc, "view", "é")
    loc = inner.location
    assert loc == (3, 3, 17, 4, 7, 31) and loc.end_column == 7
    assert doc.to_string().encode()[loc.offset : loc.end_offset] == inner.to_string().encode()
    at(doc, "view").detach()
    assert inner.location is None and at(doc, "a").location == (1, 1, 0, 1, 5, 4)
    # Columns of the first line count from after a byte-order mark; offsets count it.
    doc = loads(b"\xef\xbb\xbfa: 1\nb: 2")
    assert [p.location for p in doc] == [(1, 1, 3, 1, 5, 7), (2, 1, 8, 2, 5, 12)]


# End-of-line comments, in LF and CRLF files.

END_COMMENTS = [
    # source, path, assigned, comment read before, source after
    ("a: 1\nb: 2\n", ["a"], "x", None, "a: 1  # x\nb: 2\n"),
    ("a: 1   # old\nb: 2\n", ["a"], "# new", "# old", "a: 1   # new\nb: 2\n"),
    ("a: 1   # old\nb: 2\n", ["a"], None, "# old", "a: 1\nb: 2\n"),
    ("a: 1   # old\nb: 2\n", ["a"], "", "# old", "a: 1\nb: 2\n"),
    ("a: 1\nb: 2\n", ["a"], " \t", None, "a: 1\nb: 2\n"),
    ("a: 1\nb: 2\n", ["a"], "#", None, "a: 1  #\nb: 2\n"),
    ("a: 1 b: 2\n", ["a"], "x", None, "a: 1  # x\nb: 2\n"),
    ("v: { a: 1 }\n", ["v", "a"], "x", None, "v: { a: 1  # x\n}\n"),
    ("v: {\n  a: 1\n}  # end\n", ["v"], " y ", "# end", "v: {\n  a: 1\n}  # y\n"),
    ("v: {  # opens\n  a: 1\n}\n", ["v"], "x", None, "v: {  # opens\n  a: 1\n}  # x\n"),
    ("a: 1  # about a\n# about b\nb: 2", ["b"], "x", None, "a: 1  # about a\n# about b\nb: 2  # x"),
]


@pytest.mark.parametrize("nl", ["\n", "\r\n"], ids=["lf", "crlf"])
@pytest.mark.parametrize("source,path,assigned,before,after", END_COMMENTS)
def test_end_comment(nl, source, path, assigned, before, after):
    doc = parse_quarel(source.replace("\n", nl))
    pair = at(doc, *path)
    assert pair.end_comment == before
    pair.end_comment = assigned
    assert doc.to_string() == after.replace("\n", nl)
    text = (assigned or "").strip()
    assert pair.end_comment == (None if not text else text if text.startswith("#") else "# " + text)


# The document's style (more in test_format_layout.py): a block opened on its parent's
# line is a level deeper than that line, not than its parent.
def test_indent_of_a_block_opened_on_its_parents_line():
    doc = parse_quarel("a: { b: {\n\t\tc: 1\n\t} }\nd: {\n\te: 1\n}\n")
    assert (doc.newline, doc.indent) == ("\n", "\t")


# Plain data, against the mapping the command line prints.


def reference_data(pair):
    def value(v):
        if isinstance(v, tuple):
            return {v[0]: value(v[1])}
        return [value(i) for i in v] if isinstance(v, list) else v

    block = pair.kind == "block"
    children = [reference_data(c) for c in pair.children] if block else []
    return {"key": pair.key, "name": pair.name, "kind": pair.kind, "value": value(pair.value), "children": children}


@settings(max_examples=50, deadline=None)
@given(documents())
def test_to_data(source):
    doc = parse_quarel(source)
    assert doc.to_data() == [reference_data(p) for p in doc]
    assert [p.to_data() for p in doc.walk()] == [reference_data(p) for p in doc.walk()]


# Copies.


COPIES = {"copy": copy.copy, "deepcopy": copy.deepcopy} | {
    f"pickle {p}": lambda doc, p=p: pickle.loads(pickle.dumps(doc, p)) for p in range(pickle.HIGHEST_PROTOCOL + 1)
}


# source, the keys of every pair as written
@pytest.mark.parametrize("source, keys", [
    ("# head\nview: v {\r\n  a: 1  # c\n}", ["view", "a"]),
    ("\ufeffa: 1\n", ["a"]),
    ("\ufeff# c\nv: {\n  b: 2  # d\n}", ["v", "b"]),
    ("\ufeff\ufeffk: 1", ["\ufeffk"]),  # only the first is the mark
])
@pytest.mark.parametrize("make", COPIES.values(), ids=COPIES.keys())
def test_document_copies_are_equal_and_independent(source, keys, make):
    doc = loads(source.encode())
    other = make(doc)
    assert other.to_bytes() == doc.to_bytes() == source.encode()
    assert [p.key for p in other.walk()] == keys
    assert [p.to_data() for p in other] == [p.to_data() for p in doc]
    assert [p.location for p in other.walk()] == [p.location for p in doc.walk()]
    other.find(keys[0]).comments = ["new"]
    assert other.to_string() != doc.to_string() == source


def test_pair_copies_are_detached_with_their_comments():
    doc = parse_quarel("a: 1  # about a\n\n# about b\nb: { c: 2 }  # eol\n")
    b = doc.find("b")
    for other in (copy.deepcopy(b), copy.copy(b)):
        assert other != b and other.parent is None and other.location is None
        assert (other.comments, other.end_comment, other.to_string()) == (["# about b"], "# eol", "b: { c: 2 }")
        other.find("c").value = "3"
        assert b.find("c").value == "2"
    with pytest.raises(TypeError, match="pickle"):
        pickle.dumps(b)
    first = loads(b"\xef\xbb\xbf# about a\na: 1  # eol\n").find("a")
    for other in (copy.deepcopy(first), copy.copy(first)):
        assert (other.key, other.comments, other.end_comment, other.to_string()) == ("a", ["# about a"], "# eol", "a: 1")


# Moving pairs.

MOVES = [
    # source, pair path, target path (None: the document), index, source after
    ("a: 1\nb: 2\nc: 3\n", ["a"], None, 2, "b: 2\nc: 3\na: 1\n"),
    ("a: 1\nb: 2\nc: 3\n", ["c"], None, 0, "c: 3\na: 1\nb: 2\n"),
    ("v: {\n  # about x\n  x: 1  # eol x\n  y: 2\n}\n", ["v", "x"], ["v"], None, "v: {\n  y: 2\n  # about x\n  x: 1  # eol x\n}\n"),
    ("v: {\n  d: {\n    k: [1,\n      2]\n  }  # d\n}\nw: {\n  z: 1\n}\n", ["v", "d"], ["w"], 0,
     "v: {}\nw: {\n  d: {\n    k: [1,\n      2]\n  }  # d\n  z: 1\n}\n"),
    ("v: {\n  d: { x: 1 }\n}\n", ["v", "d"], None, None, "v: {}\nd: { x: 1 }\n"),
]


@pytest.mark.parametrize("source,path,target,index,after", MOVES)
def test_move_to(source, path, target, index, after):
    doc = parse_quarel(source)
    pair = at(doc, *path)
    to = at(doc, *target) if target else doc
    pair.move_to(to, index)
    assert doc.to_string() == after
    assert pair.parent == to if target else pair.parent.to_string() == after
    assert doc.to_string().encode()[pair.location.offset : pair.location.end_offset] == pair.to_string().encode()


def test_move_across_documents_of_different_styles():
    there = parse_quarel("v: {\r\n\td: x {\r\n\t\t# t\r\n\t\tt: 1  # one\r\n\t\tsql: a +\r\n\t\t  b ;;\r\n\t}\r\n}\r\n")
    here = parse_quarel("w: {\n    z: 1\n}\n")
    d = at(there, "v", "d")
    t = d.find("t")
    d.move_to(here.find("w"))
    assert there.to_string() == "v: {}\r\n"
    assert here.to_string() == (
        "w: {\n    z: 1\n\n    d: x {\n        # t\n        t: 1  # one\n        sql: a +\n          b ;;\n    }\n}\n"
    )
    t.value = "2"  # the pairs inside the moved one are the same pairs
    assert "t: 2  # one" in here.to_string()


def test_move_detached_pairs_and_copies():
    doc = parse_quarel("a: 1  # one\nv: {\n  b: 2\n}\n")
    a = doc.find("a")
    twin = copy.deepcopy(a)
    a.detach()
    assert a.end_comment == "# one" and doc.to_string() == "v: {\n  b: 2\n}\n"
    a.end_comment = "two"  # a detached pair keeps its end comment, and takes a new one
    a.move_to(doc.find("v"), 0)
    twin.move_to(doc)
    assert doc.to_string() == "v: {\n  a: 1  # two\n  b: 2\n}\na: 1  # one\n"


@pytest.mark.parametrize("target", [["v"], ["v", "w"], ["v", "w", "g"]])
def test_move_into_itself_is_refused(target):
    source = "v: {\n  w: { g: { x: 1 } }\n}\n"
    doc = parse_quarel(source)
    with pytest.raises(ValueError, match="into itself"):
        doc.find("v").move_to(at(doc, *target))
    with pytest.raises(TypeError):
        doc.find("v").move_to(at(doc, "v", "w", "g", "x"))
    with pytest.raises(IndexError):
        doc.find("v").move_to(doc, -3)
    assert doc.to_string() == source


STALE = {
    "end_comment read": lambda p, d: p.end_comment,
    "end_comment written": lambda p, d: setattr(p, "end_comment", "# x"),
    "moved again": lambda p, d: p.move_to(d),
}


@pytest.mark.parametrize("use", STALE.values(), ids=STALE.keys())
def test_an_object_left_behind_by_a_move_is_refused(use):
    doc = parse_quarel("a: 1  # one\nv: {\n  b: 2\n}\n")
    stale, moving = doc.find("a"), doc.find("a")
    moving.move_to(doc.find("v"))
    text = doc.to_string()
    assert stale.location == moving.location  # the pair is still in the document
    with pytest.raises(RuntimeError, match="no longer where this Pair object found it"):
        use(stale, doc)
    assert doc.to_string() == text


# Pair objects look for their pair first where they last saw it; whatever happened to the block
# since, they still find that pair and no other: its comment names it.
@settings(max_examples=60, deadline=None)
@given(st.integers(1, 8), st.lists(st.tuples(st.sampled_from(["add", "detach", "move"]), st.integers(0, 9)), max_size=6))
def test_pair_objects_find_their_pair_however_the_block_changed(n, edits):
    v = parse_quarel("v: {\n" + "".join(f"  k{i}: {i}  # k{i}\n" for i in range(n)) + "}\n").find("v")
    pairs = v.children + v.find_all("k0") + v.walk()
    for j, (op, i) in enumerate(edits):
        if op == "add":
            v.add_source(f"n{j}: 0  # n{j}", index=i)
        elif op == "detach":
            pairs[i % len(pairs)].detach()
        elif len(v):
            v.children[i % len(v)].move_to(v, 0)
    for p in pairs:
        assert p.end_comment == "# " + p.key
        p.set_value(p.key.upper())
    children = v.children
    assert all(v[p.key] == p.key.upper() for p in pairs if p in children)
