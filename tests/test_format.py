"""Document.format and format_text: layout made regular, meaning kept.

Every case of the rule tables is written once with LF line breaks and two
spaces per level, and runs in LF and CRLF with tab, two- and four-space
steps: the source and the expected text are restyled alike.
"""

from __future__ import annotations

import re

import pytest
from hypothesis import assume, given, strategies as st

from strategies import documents
from tallix_cst import format_text, parse_quarel

STYLES = [(nl, step) for nl in ("\n", "\r\n") for step in ("\t", "  ", "    ")]
STYLE_IDS = [f"{'crlf' if len(nl) == 2 else 'lf'}-{'tab' if step == chr(9) else len(step)}" for nl, step in STYLES]


def restyle(text, nl, step):
    """Each pair of leading spaces becomes a step, each line feed `nl`."""
    lines = []
    for line in text.split("\n"):
        spaces = len(line) - len(line.lstrip(" "))
        lines.append(step * (spaces // 2) + " " * (spaces % 2) + line[spaces:])
    return nl.join(lines)


RULES = [
    # depth x step: pairs, comment lines, closing braces
    ("a: {\n  b: 1\n      c: {\n d: 2\n}\n}\n", "a: {\n  b: 1\n  c: {\n    d: 2\n  }\n}\n"),
    ("  a: 1\n   b: 2\n", "a: 1\nb: 2\n"),
    ("a: {\n  b: 1\n# about c\n        c: 2\n    # end\n}\n   # tail\n", "a: {\n  b: 1\n  # about c\n  c: 2\n  # end\n}\n# tail\n"),
    # blank lines: collapsed, none at the start or end of a body or the file
    ("\n\n a: 1\n\n\n\nb: 2\n\n\n", "a: 1\n\nb: 2\n"),
    ("v: {\n\n  a: 1\n\n\n  b: 2\n\n}\n", "v: {\n  a: 1\n\n  b: 2\n}\n"),
    ("a: [\n\n  x,\n\n\n  y\n\n]\n", "a: [\n  x,\n\n  y\n]\n"),
    # no spaces at line ends; comment text kept but for them
    ("a: 1   \n# note  \t\nb: 2 #  eol  \n", "a: 1\n# note\nb: 2  #  eol\n"),
    # within a line
    ("a :1\nb:   2\nc:\n  3\n", "a: 1\nb: 2\nc: 3\n"),
    ("a:# why\n  1\n", "a:  # why\n  1\n"),
    ("view:   v{\n  a: 1\n}\nw: x\n{\n  a: 1\n}\ny: z # c\n{\n  a: 1\n}\n", "view: v {\n  a: 1\n}\nw: x {\n  a: 1\n}\ny: z  # c\n{\n  a: 1\n}\n"),
    ("a: 1    b: 2\n", "a: 1 b: 2\n"),
    ("a: {b: 1     c: 2}\nd:{ }\ne: [ ]\nf: {\n}\n", "a: { b: 1 c: 2 }\nd: {}\ne: []\nf: {}\n"),
    ("a: { b: 1\n  c: 2   d: 3 }\n", "a: {\n  b: 1\n  c: 2 d: 3\n}\n"),
    # lists
    ("a: [ x ,y,[ p ] , k :v , s:  \"q\" ]\n", "a: [x, y, [p], k: v, s: \"q\"]\n"),
    ("a: [x, y ,]\n", "a: [x, y,]\n"),
    ("a: [x,\n        y]\n", "a: [\n  x,\n  y\n]\n"),
    ("a: [ # open\n  x, # about x\n  # before y\n      y,\n]\n", "a: [  # open\n  x,  # about x\n  # before y\n  y,\n]\n"),
    ("a: [[p, q], [r,\ns]]\n", "a: [\n  [p, q],\n  [\n    r,\n    s\n  ]\n]\n"),
    # expressions: continuation lines move with their pair, in steps
    ("sql:a;;\nhtml:   b   ;;\nsql_x:;;\n", "sql: a ;;\nhtml: b ;;\nsql_x: ;;\n"),
    ("sql:\n    a\n  ;;\n", "sql:\n    a\n  ;;\n"),
    ("v: {\n  a: 1\n      sql: x\n        + y  \n\n          - z  \n      ;;\n}\n", "v: {\n  a: 1\n  sql: x\n    + y  \n\n      - z\n  ;;\n}\n"),
    ("v: {\n  a: 1\n    sql: x\n + y ;;\n}\n", "v: {\n  a: 1\n  sql: x\n + y ;;\n}\n"),
]


@pytest.mark.parametrize("nl, step", STYLES, ids=STYLE_IDS)
@pytest.mark.parametrize("source, expected", RULES)
def test_rules(source, expected, nl, step):
    """Each rule, for the whole document and for a range of lines that holds all of it (a
    range formats as that part of the whole file would); a second run changes nothing."""
    text = restyle(source, nl, step)
    for lines in (None, (1, text.count("\n") + 1)):
        doc = parse_quarel(text)
        assert doc.format(indent=step, newline=nl, lines=lines) == (source != expected)
        assert doc.to_string() == restyle(expected, nl, step)
        assert not doc.format(indent=step, newline=nl, lines=lines)


# (source, options, expected): each also runs in CR LF where it has line feeds, no CR
# and no newline option, and for a range of lines that holds all of it.
LAYOUT = [
    ("a: 1\n\n\nb: 2\n", {"max_blank_lines": 0}, "a: 1\nb: 2\n"),
    ("a: 1\n\n\n\nb: 2\n", {"max_blank_lines": 2}, "a: 1\n\n\nb: 2\n"),
    # a blank line after a comment line makes it a header
    ("# header\n\n\na: 1\n# about b\nb: 2\n", {"max_blank_lines": 0}, "# header\n\na: 1\n# about b\nb: 2\n"),
    ("v: {\n  # end\n\n}\n", {"max_blank_lines": 0}, "v: {\n  # end\n}\n"),
    ("a: 1\n\n", {"final_newline": False}, "a: 1"),
    ("a: 1 # c", {}, "a: 1  # c\n"),
    ("", {}, ""),
    ("\n \n", {}, ""),
    # the document's own step and line break
    ("a: {\r\n\tb: 1\r\n\t\tc: 2 }", {}, "a: {\r\n\tb: 1\r\n\tc: 2\r\n}\r\n"),
    ("sql: a\r\n  b;;", {}, "sql: a\r\n  b ;;\r\n"),
    # without a step of its own, a document's expression lines count in the new one
    ("sql: a\r\n  b;;", {"newline": "\n", "indent": "\t"}, "sql: a\n  b ;;\n"),
    ("v: {\n  sql: a\n    b;;\n}", {"indent": "\t"}, "v: {\n\tsql: a\n\t\tb ;;\n}\n"),
    # strings never change
    ('a:   "x \r\n   y"\nb: 1\n', {}, 'a: "x \r\n   y"\nb: 1\n'),
    ("\ufeff  a: 1", {}, "\ufeffa: 1\n"),
    # column width
    ("a: [xx, yy, zz]\n", {"column_width": 10}, "a: [\n  xx,\n  yy,\n  zz\n]\n"),
    ("a: [xx, yy]\n", {"column_width": 11}, "a: [xx, yy]\n"),
    ("a: { b: 1 c: 2 }\n", {"column_width": 10}, "a: {\n  b: 1\n  c: 2\n}\n"),
    # pairs sharing a line too wide for it go on lines of their own
    ("a: [[x, y], [z]] b: [w]\n", {"column_width": 12}, "a: [\n  [x, y],\n  [z]\n]\nb: [w]\n"),
    ("a: { b: [x, y] }\n", {"column_width": 12}, "a: {\n  b: [x, y]\n}\n"),
    ("aaaa: [] b: {}\n", {"column_width": 3}, "aaaa: []\nb: {}\n"),
    ("a: [x] # a long comment\n", {"column_width": 6}, "a: [x]  # a long comment\n"),
    ("é: [ü]\n", {"column_width": 6}, "é: [ü]\n"),  # code points, not bytes
    ("v: {\n  a: [x]\n}\n", {"column_width": 8}, "v: {\n  a: [x]\n}\n"),
    # lone CRs are line breaks (written as the file's newline), in strings the user's text
    ("a: 1\rb: 2\r", {}, "a: 1\nb: 2\n"),
    ("a: 1\r# c\nb: {\r  x: [p,\r q]\r}\r", {}, "a: 1\n# c\nb: {\n  x: [\n    p,\n    q\n  ]\n}\n"),
    ('a: "x\ry"\rb: 2', {}, 'a: "x\ry"\nb: 2\n'),
    # ... and do not vote for the newline: a file of them gets LF, or what else it shows
    ("a: 1\rb: 2\rc: 3\r\n", {}, "a: 1\r\nb: 2\r\nc: 3\r\n"),
    # expression lines that start inside a literal keep their bytes, line break included
    ("view: orders {\n  dimension: note {\n      sql: SELECT 'a\n      b' ;;\n  }\n}\n", {},
     "view: orders {\n  dimension: note {\n    sql: SELECT 'a\n      b' ;;\n  }\n}\n"),
    ("v: {\n    sql: 'it''s\n      x' AND\n        y ;;\n}\n", {"indent": "  "},
     "v: {\n  sql: 'it''s\n      x' AND\n    y ;;\n}\n"),
    ('v: {\n    sql: "a\n  b" ;;\n}\n', {"indent": "\t"}, 'v: {\n\tsql: "a\n  b" ;;\n}\n'),
    ("sql: 'a\r\n  b' ;;\n", {"newline": "\n"}, "sql: 'a\r\n  b' ;;\n"),
    ("v: {\n    html: <pre>\n      x\n          y</pre>\n        <b>z</b> ;;\n}\n", {"indent": "  "},
     "v: {\n  html: <pre>\n      x\n          y</pre>\n    <b>z</b> ;;\n}\n"),
    ("v: {\n    html: <PRE class=a>\n      x</pre>\n        <b>\n  </b> ;;\n}\n", {"indent": "  "},
     "v: {\n  html: <PRE class=a>\n      x</pre>\n    <b>\n  </b> ;;\n}\n"),
    # expression indentation in columns: whole steps in the new unit, no tab among spaces
    ("v: {\n    a: 1\n    sql: CASE\n\t        WHEN x ;;\n}\n", {"indent": "  "},
     "v: {\n  a: 1\n  sql: CASE\n      WHEN x ;;\n}\n"),
    ("v: {\n\ta: 1\n\tsql: CASE\n\t\t    WHEN x ;;\n}\n", {"indent": "  "},
     "v: {\n  a: 1\n  sql: CASE\n      WHEN x ;;\n}\n"),
    ("v: {\n  a: 1\n  sql: CASE\n      WHEN x\n       AND y ;;\n}\n", {"indent": "\t"},
     "v: {\n\ta: 1\n\tsql: CASE\n\t\t\tWHEN x\n\t\t\t AND y ;;\n}\n"),
    # the newline and the indent step by majority over the whole file, ties to the first
    ("# header\r\na: 1\nb: 2\nc: 3\n", {}, "# header\na: 1\nb: 2\nc: 3\n"),
    ("a: {\n    x: 1\n}\nb: {\n  y: 1\n  z: 1\n}\nc: {\n  w: 1\n}\n", {},
     "a: {\n  x: 1\n}\nb: {\n  y: 1\n  z: 1\n}\nc: {\n  w: 1\n}\n"),
    ("a: {\n    x: 1\n}\nb: {\n  y: 1\n}\n", {}, "a: {\n    x: 1\n}\nb: {\n    y: 1\n}\n"),
    # ... from what an editor shows: what follows a lone CR in front of a key
    ("v: {\n \r a: 1\n}\n", {}, "v: {\n a: 1\n}\n"),
    # width: East Asian wide characters count two columns, combining marks none, a tab four
    ("a: [注文, 数量]\n", {"column_width": 14}, "a: [\n  注文,\n  数量\n]\n"),
    ("a: [注文, 数量]\n", {"column_width": 15}, "a: [注文, 数量]\n"),
    ("a: [e\u0301, x]\n", {"column_width": 9}, "a: [e\u0301, x]\n"),
    ("v: {\n\ta: [x]\n}\n", {"column_width": 9}, "v: {\n\ta: [\n\t\tx\n\t]\n}\n"),
    ("v: {\n\ta: [x]\n}\n", {"column_width": 10}, "v: {\n\ta: [x]\n}\n"),
    # ... a CR in front of its LF none (the lines of strings are `a: "xyz` and `" b: 1`)
    ('a: "xyz\n" b: 1\n', {"column_width": 7}, 'a: "xyz\n" b: 1\n'),
    ('a: ["xyz\n", b]\n', {"column_width": 8}, 'a: ["xyz\n", b]\n'),
    # a structure that fits once those around it expand stays whole
    ("a: [[[x, y]]]\n", {"column_width": 10}, "a: [\n  [[x, y]]\n]\n"),
    ("a: " + "[" * 30 + "x" + "]" * 30 + "\n", {"column_width": 32},
     "a: [\n" + "".join("  " * (d + 1) + "[\n" for d in range(29)) + "  " * 30 + "x\n"
     + "".join("  " * d + "]\n" for d in range(29, -1, -1))),
    # pairs sharing a line too wide for it each go on a line of their own
    ("type: number primary_key: yes hidden: no\n", {"column_width": 20},
     "type: number\nprimary_key: yes\nhidden: no\n"),
    ("v: {\n  a: 1 b: 2\n  c: xxxxxxxxxx d: yyyyyyyyyy\n}\n", {"column_width": 20},
     "v: {\n  a: 1 b: 2\n  c: xxxxxxxxxx\n  d: yyyyyyyyyy\n}\n"),
    ("a: { b: 1 c: 2 } d: 3\n", {"column_width": 16}, "a: { b: 1 c: 2 }\nd: 3\n"),
]


def in_both_newlines(rows):
    for source, options, expected in rows:
        yield source, options, expected
        if "\n" in source and "\r" not in source + expected and "newline" not in options:
            yield source.replace("\n", "\r\n"), options, expected.replace("\n", "\r\n")


@pytest.mark.parametrize("source, options, expected", list(in_both_newlines(LAYOUT)))
def test_layout(source, options, expected):
    for lines in (None, (1, source.count("\n") + 1)):
        assert format_text(source, **options, lines=lines) == expected
        assert format_text(expected, **options, lines=lines) == expected


RANGE_SOURCE = "a:   1 # one\n  b:    2\nv: {\n      x:    [1,2]\n   y:   3\n}\nc:   4\n\n\n"
RANGES = [
    ((2, 2), "a:   1 # one\nb: 2\nv: {\n      x:    [1,2]\n   y:   3\n}\nc:   4\n\n\n"),
    ((1, 1), "a: 1 # one\n  b:    2\nv: {\n      x:    [1,2]\n   y:   3\n}\nc:   4\n\n\n"),
    ((4, 5), "a:   1 # one\n  b:    2\nv: {\n  x: [1, 2]\n  y: 3\n}\nc:   4\n\n\n"),
    ((3, 3), "a:   1 # one\n  b:    2\nv: {\n  x: [1, 2]\n  y: 3\n}\nc:   4\n\n\n"),
    ((7, 7), "a:   1 # one\n  b:    2\nv: {\n      x:    [1,2]\n   y:   3\n}\nc: 4\n\n\n"),
    ((7, 9), "a:   1 # one\n  b:    2\nv: {\n      x:    [1,2]\n   y:   3\n}\nc: 4\n"),
    ((6, 6), RANGE_SOURCE),
]


@pytest.mark.parametrize("lines, expected", RANGES)
def test_range(lines, expected):
    doc = parse_quarel(RANGE_SOURCE)
    assert doc.format(lines=lines, indent="  ") == (expected != RANGE_SOURCE)
    assert doc.to_string() == expected


REFUSED = [
    ({"indent": ""}, ValueError),
    ({"indent": " \t"}, ValueError),
    ({"indent": 2}, TypeError),
    ({"newline": "\r"}, ValueError),
    ({"max_blank_lines": -1}, ValueError),
    ({"max_blank_lines": 1.0}, TypeError),
    ({"column_width": 0}, ValueError),
    ({"final_newline": 1}, TypeError),
    ({"lines": (0, 2)}, ValueError),
    ({"lines": (3, 2)}, ValueError),
    ({"lines": [1, 2]}, TypeError),
    ({"lines": (1,)}, TypeError),
    ({"colour": 1}, TypeError),
]


@pytest.mark.parametrize("options, error", REFUSED)
def test_refused(options, error):
    doc = parse_quarel("a:   1\n")
    with pytest.raises(error):
        doc.format(**options)
    with pytest.raises(TypeError):
        doc.format(None)
    assert doc.to_string() == "a:   1\n"


def test_document_after_format():
    """Pairs taken before stay attached and editable; the document shows its new style."""
    doc = parse_quarel("v: {a: 1}\nw:   2\n")
    v, w = doc.find("v"), doc.find("w")
    doc.format(column_width=5, indent="\t", newline="\r\n")
    assert (doc.indent, doc.newline) == ("\t", "\r\n")
    v.add("b", "3")
    w.value = "4"
    assert doc.to_string() == "v: {\r\n\ta: 1\r\n\tb: 3\r\n}\r\nw: 4\r\n"
    assert doc.find("v") == v


# Properties over generated documents.

OPTION_SETS = st.fixed_dictionaries({}, optional={
    "indent": st.sampled_from(["\t", " ", "  ", "    "]),
    "newline": st.sampled_from(["\n", "\r\n"]),
    "max_blank_lines": st.integers(0, 2),
    "column_width": st.integers(1, 40),
    "final_newline": st.booleans(),
})


def meaning(doc):
    """Values in order, expression lines without indentation or CR, and the comments of every pair
    without the spaces that end their lines."""
    def plain(data):
        if isinstance(data, dict):
            if data.get("kind") == "expr":
                data = dict(data, value=[line.lstrip(" \t") for line in re.split(r"\r*\n", data["value"])])
            return {k: plain(v) for k, v in data.items()}
        return [plain(v) for v in data] if isinstance(data, list) else data
    def trimmed(comment):
        return comment and comment.rstrip(" \t")
    return plain(doc.to_data()), [([trimmed(c) for c in p.comments], trimmed(p.end_comment)) for p in doc.walk()]


# A lone CR is a line break to the formatter, as to every editor, while the comments of
# pairs count lines by LF: around comments, the two may differ on whose a comment is
# (tests/test_format_layout.py has those cases).
LONE_CR = re.compile(r"\r(?!\n)")


@given(documents(), OPTION_SETS)
def test_safe_and_idempotent(source, options):
    assume("#" not in source or not LONE_CR.search(source))
    doc = parse_quarel(source)
    before = meaning(doc)
    doc.format(**options)
    once = doc.to_string()
    assert meaning(parse_quarel(once)) == before == meaning(doc)
    again = parse_quarel(once)
    assert not again.format(**options)
    assert again.to_string() == once


@given(documents(), st.integers(1, 12), st.integers(0, 6))
def test_range_keeps_what_precedes(source, first, span):
    assume("#" not in source or not LONE_CR.search(source))
    doc = parse_quarel(source)
    before = meaning(doc)
    doc.format(lines=(first, first + span))
    kept = "".join(line + "\n" for line in source.split("\n")[: first - 1])
    assert doc.to_string().startswith(kept[: len(source)])
    assert meaning(doc) == before


def one_line_strings_and_expressions(doc):
    def strings(value):
        if isinstance(value, str):
            yield value
        elif isinstance(value, (list, tuple)):
            for v in value:
                yield from strings(v)
    return all("\n" not in p.to_string() if p.kind == "expr" else not any("\n" in s or "\r" in s for s in strings(p.value))
               for p in doc.walk() if p.kind != "block")


@given(documents(), st.data())
def test_whitespace_outside_strings_is_forgotten(source, data):
    doc = parse_quarel(source)
    assume(one_line_strings_and_expressions(doc))
    options = {"indent": "  ", "newline": "\n"}
    doc.format(**options)
    formatted = doc.to_string()
    lines = []
    for line in formatted.split("\n"):
        indent = data.draw(st.sampled_from(["", " ", "\t", "    "]))
        trailing = data.draw(st.sampled_from(["", " ", "\t "]))
        lines.append(indent + line.lstrip(" ") + (trailing if line.strip() else ""))
        if not line.strip():
            lines.extend([""] * data.draw(st.integers(0, 2)))
    nl = data.draw(st.sampled_from(["\n", "\r\n"]))
    assert format_text(nl.join(lines), **options) == formatted
