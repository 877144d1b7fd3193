"""How edits lay themselves out: the whole text before and after each edit."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import add, assign, at, comments, remove, set_value, shape, source
from strategies import documents
from tallix_cst import parse_quarel


def name(new, *path):
    return lambda d: setattr(at(d, *path), "name", new)


NESTED = "x: {\n    y: {\n        view: v {}\n    }\n}\n"
VIEW4 = "view: v {\n    a: 1\n}\n"

CASES = {
    # -- adding ----------------------------------------------------------
    "empty root": ("", add(args=("type", "number")), "type: number\n"),
    "end without final newline": ("a: 1", add(args=("b", "2")), "a: 1\nb: 2"),
    "empty block opens": ("view: v {}\n", add("view", args=("a", "1")), "view: v {\n  a: 1\n}\n"),
    "empty block two levels down": (NESTED, add("x", "y", "view", args=("a", "1")),
        "x: {\n    y: {\n        view: v {\n            a: 1\n        }\n    }\n}\n"),
    "inner space of { } goes": ("view: v { }\n", add("view", args=("a", "1")), "view: v {\n  a: 1\n}\n"),
    "single-line block stays": ("view: v { a: 1 }\n", add("view", args=("b", "2")), "view: v { a: 1 b: 2 }\n"),
    "named block set off": ("v: {\n  a: 1\n  b: 2\n}\n", add("v", args=("dim",), name="c"),
        "v: {\n  a: 1\n  b: 2\n\n  dim: c {}\n}\n"),
    "unnamed block not set off": ("v: {\n  a: 1\n  b: 2\n}\n", add("v", args=("dim",)), "v: {\n  a: 1\n  b: 2\n  dim: {}\n}\n"),
    "named block at top level": ("a: 1\nb: 2\n", add(args=("view",), name="u"), "a: 1\nb: 2\n\nview: u {}\n"),
    "named block set off, inserted": ("a: 1\nb: 2\n", add(args=("view",), name="u", index=1), "a: 1\n\nview: u {}\nb: 2\n"),
    "named block set off by one blank line": ("a: 1\n\nb: 2\n", add(args=("view",), name="u"), "a: 1\n\nb: 2\n\nview: u {}\n"),
    "same key beats nearer pairs": ("v: {\n  dimension: a {}\n\n  dimension: b {}\n  type: x\n}\n",
        add("v", args=("dimension",), name="c"), "v: {\n  dimension: a {}\n\n  dimension: b {}\n  type: x\n\n  dimension: c {}\n}\n"),
    "the first pair is no model": ("a: 1\nb: 2\n\n\nc: 3", add(args=("d", "4"), index=1), "a: 1\nd: 4\nb: 2\n\n\nc: 3"),
    "step of the first block among equals": ("v: {\n    a: 1\n}\nw: {\n  b: 1\n}\nx: {}\n", add("x", args=("c", "1")),
        "v: {\n    a: 1\n}\nw: {\n  b: 1\n}\nx: {\n    c: 1\n}\n"),
    "blank line copied from the pair after the gap": ("a: 1\n\nb: 2\n", add(args=("c", "3"), index=1), "a: 1\n\nc: 3\n\nb: 2\n"),
    "index 0 at top level": ("a: 1\nb: 2\n", add(args=("c", "3"), index=0), "c: 3\na: 1\nb: 2\n"),
    "index 0 keeps the head comment with its pair": ("# head\na: 1\n\nb: 2\n", add(args=("c", "3"), index=0),
        "c: 3\n\n# head\na: 1\n\nb: 2\n"),
    "index 0 before a same-line pair": ("a: 1 b: 2\n", add(args=("c", "3"), index=0), "c: 3\na: 1 b: 2\n"),
    "index 0 in a block": ("v: {\n  a: 1\n  b: 2\n}\n", add("v", args=("c", "3"), index=0), "v: {\n  c: 3\n  a: 1\n  b: 2\n}\n"),
    "index 0 in a single-line block": ("v: { a: 1 }", add("v", args=("c", "3"), index=0), "v: { c: 3 a: 1 }"),
    "index 0 in a tight block": ("v: {a: 1}", add("v", args=("c", "3"), index=0), "v: {c: 3 a: 1}"),
    "header comment stays a header": ("# header\n", add(args=("x", "1")), "# header\nx: 1\n"),
    "whitespace-only root": ("\n\n", add(args=("x", "1")), "x: 1\n\n"),
    # -- adding source ------------------------------------------------------
    "snippet re-indented, comments kept": (VIEW4, source("# lead\nx: 1\ny: {\n  z: 1\n}\n# dropped\n", "view"),
        "view: v {\n    a: 1\n    # lead\n    x: 1\n    y: {\n        z: 1\n    }\n}\n"),
    "snippet into an empty nested block": ("x: {\n    view: v { }\n}\n", source("a: 1\nb: 2", "x", "view"),
        "x: {\n    view: v {\n        a: 1\n        b: 2\n    }\n}\n"),
    "snippet's leftover tab is a step": (VIEW4, source("d: {\n  sql: a\n    \t b ;;\n}", "view"),
        "view: v {\n    a: 1\n    d: {\n        sql: a\n                 b ;;\n    }\n}\n"),
    "snippet at index 0": (VIEW4, source("x: 1\ny: 2", "view", index=0), "view: v {\n    x: 1\n    y: 2\n    a: 1\n}\n"),
    "snippet comment at index 0 of the root": ("a: 1\n", source("# c\nx: 1", index=0), "# c\nx: 1\na: 1\n"),
    # -- removing -----------------------------------------------------------
    "only pair of a block": ("dimension: id {\n  type: number\n}\n", remove("dimension", "type"), "dimension: id {}\n"),
    "only pair of a single-line block": ("v: { a: 1 }", remove("v", "a"), "v: {}"),
    "only pair of the document": ("a: 1\n", remove("a"), "\n"),
    "first pair of the document": ("a: 1\n\n# c\nb: 2\n", remove("a"), "# c\nb: 2\n"),
    "first pair of a block": ("v: {\n  a: 1\n\n  b: 2\n}\n", remove("v", "a"), "v: {\n  b: 2\n}\n"),
    "middle pair with its comment": ("a: 1\n# about b\nb: 2\nc: 3\n", remove("b"), "a: 1\nc: 3\n"),
    "last pair": ("a: 1\n# about b\nb: 2\n", remove("b"), "a: 1\n"),
    "end-of-line comment before an expression": ("a: x # c\nsql: y;;b: 1\n", remove("sql"), "a: x # c\nb: 1\n"),
    "comment on the brace line": ("view: v { # main\n  a: 1\n}\n", remove("view", "a"), "view: v { # main\n}\n"),
    # -- tokens never fuse ---------------------------------------------------
    "fusion: removal": ("a: x\nsql: y;;b: 1", remove("sql"), "a: x b: 1"),
    "fusion: assigned literal": ('a: "x"b: 1\n', set_value("y", "a"), "a: y b: 1\n"),
    "fusion: block becomes literal": ("a: {}b: 1\n", set_value("y", "a"), "a: y b: 1\n"),
    "fusion: inserted literal": ("sql: y;;b: 1", add(args=("z", "q"), index=1), "sql: y;;\nz: q b: 1"),
    "fusion: inserted snippet": ("sql: y;;b: 1", source("z: q", index=1), "sql: y;;\nz: q b: 1"),
    "no fusion: string stays tight": ('a: "x"b: 1\n', assign("y", "a"), 'a: "y"b: 1\n'),
    # -- replacing values -----------------------------------------------------
    "expression keeps its spacing": ("sql: x  ;;\n", assign("amount * 2", "sql"), "sql: amount * 2  ;;\n"),
    "tight expression stays tight": ("sql:x;;", assign("y", "sql"), "sql:y;;"),
    "expression ending in ;": ("sql:x;;\n", assign("a;", "sql"), "sql:a; ;;\n"),
    "multi-line list": ("fields: [\n  a,\n  b\n]\n", assign(list("wxyz"), "fields"), "fields: [\n  w,\n  x,\n  y,\n  z\n]\n"),
    "one multi-line item to two": ("f: [\n  a\n]\n", assign(list("xy"), "f"), "f: [\n  x,\n  y\n]\n"),
    "trailing comma kept": ("f: [a, b,]\n", assign(list("xyz"), "f"), "f: [x, y, z,]\n"),
    "comments in items dropped": ("f: [a # c\n , b]\n", assign(list("xyz"), "f"), "f: [x , y , z]\n"),
    "emptied multi-line list": ("f: [\n  a,\n  b,\n]\n", assign([], "f"), "f: [\n]\n"),
    "emptied spaced list": ("f: [ a ]\n", assign([], "f"), "f: [ ]\n"),
    "old list without items": ("f: [ ]\n", assign(list("xy"), "f"), "f: [x, y]\n"),
    "scalar to list keeps after_colon": ("t:  x\n", set_value(["x"], "t"), "t:  [x]\n"),
    # -- line endings ---------------------------------------------------------
    "CRLF spacing copied": ("a: 1\r\n\r\nb: 2\r\n", add(args=("c", "3")), "a: 1\r\n\r\nb: 2\r\n\r\nc: 3\r\n"),
    # -- comments -------------------------------------------------------------
    "no comments keeps same-line separation": ("a: 1 b: 2\n", comments([], "b"), "a: 1 b: 2\n"),
    "no comments keeps the line break": ("c: 3 # note\nd: 4\n", comments([], "d"), "c: 3 # note\nd: 4\n"),
    "no comments keeps the line break, indented": ("c: 3 # note\n  d: 4\n", comments([], "d"), "c: 3 # note\n  d: 4\n"),
    "no comments on the first pair": ("# top\na: 1\n", comments([], "a"), "a: 1\n"),
    "blank lines before comments kept": ("\n\n# top\na: 1\n", comments([], "a"), "\n\na: 1\n"),
    "lines at the key's indentation": ("v: {\n  a: 1\n\n  # one\n  b: 2\n}\n", comments(["x", "# y"], "v", "b"),
        "v: {\n  a: 1\n\n  # x\n  # y\n  b: 2\n}\n"),
    "line breaks split": ("a: 1\nb: 2\n", comments(["l1\nl2", "l3\r\nl4\rl5"], "b"), "a: 1\n# l1\n# l2\n# l3\n# l4\n# l5\nb: 2\n"),
    "blank and hash lines": ("a: 1\nb: 2\n", comments(["", "#x", "  #  y  "], "b"), "a: 1\n# \n#x\n#  y\nb: 2\n"),
    "CRLF head kept": ("a: 1\r\n  b: 2\r\n", comments(["x"], "b"), "a: 1\r\n  # x\r\n  b: 2\r\n"),
    # -- names and keys ---------------------------------------------------------
    "name on an unnamed block": ("link: { }\n", name("users", "link"), "link: users { }\n"),
    "name removed keeps spaces": ("view: users {}\n", name(None, "view"), "view:  {}\n"),
    "name replaced": ("view: users\n{}\n", name("x", "view"), "view: x\n{}\n"),
    "key renamed in place": ("a: 1\ntype  : number\n", lambda d: setattr(d.find("type"), "key", "t"), "a: 1\nt  : number\n"),
}


@pytest.mark.parametrize("before, edit, after", CASES.values(), ids=CASES.keys())
def test_layout(before, edit, after):
    doc = parse_quarel(before)
    edit(doc)
    assert doc.to_string() == after
    assert parse_quarel(after).to_string() == after


@given(documents(depth=2, max_pairs=3), st.sampled_from(["  ", "\t", "    "]))
def test_snippet_values_survive_reindenting(snippet, indent):
    """Strings, lists and nesting arrive as written; only expressions change."""
    doc = parse_quarel(f"outer: {{\n{indent}inner: {{\n{indent * 2}a: 1\n{indent}}}\n}}\n")
    added = doc.find("outer").find("inner").add_source(snippet)
    assert shape(added, exprs=False) == shape(parse_quarel(snippet).children, exprs=False)
    assert shape(parse_quarel(doc.to_string()).children) == shape(doc.children)
