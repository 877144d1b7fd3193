"""What trials on real files called for around the formatter: the style a whole file
shows, edits, editor answers and the edits formatting makes, each pinned against text
written out by hand (the layout rules they called for are in test_format.py)."""

from __future__ import annotations

import itertools
import json
import re

import pytest
from hypothesis import given, strategies as st

from strategies import documents

from tallix_cst import format_text, parse_quarel
from tallix_cst.format_options import project_options

STYLE = [
    # (source, the style edits write in)
    ("# header\r\na: 1\nb: 2\nc: 3\n", ("\n", "  ")),
    ("a: 1\r\nb: 2\r\nc: {\n\tx: 1\n}\r\n", ("\r\n", "\t")),
    ("a: {\n    x: 1\n}\nb: {\n  y: 1\n  z: 1\n}\n", ("\n", "  ")),
    ("a: {\n    x: 1\n}\nb: {\n  y: 1\n}\n", ("\n", "    ")),
    ("sql: a\r\n  b ;;", ("\r\n", "  ")),  # only the expression shows a line break
    ("a: 1\rb: 2\r", ("\n", "  ")),
    ("v: {\n \r a: 1\n}\n", ("\n", " ")),
]


@pytest.mark.parametrize("source, style", STYLE)
def test_edits_write_in_the_style_of_the_whole_file(source, style):
    doc = parse_quarel(source)
    assert (doc.newline, doc.indent) == style
    doc.add("v", name="n").add("k", "1")
    newline, step = style
    assert f"v: n {{{newline}{step}k: 1{newline}}}" in doc.to_string()


@pytest.mark.parametrize("editorconfig, expected", [
    ("[*]\nindent_style = space\nindent_size = tab\n", {}),
    ("[*]\nindent_size = tab\ntab_width = 8\n", {"indent": " " * 8}),
    ("[*]\nindent_style = tab\n", {"indent": "\t"}),
])
def test_editorconfig_indent(tmp_path, editorconfig, expected):
    (tmp_path / ".editorconfig").write_text("root = true\n" + editorconfig)
    assert project_options(tmp_path / "f.quarel") == expected
    if not expected:  # the file's own style stays
        text = "a: {\n\tb: 1\n}\n"
        assert format_text(text, **project_options(tmp_path / "f.quarel")) == text


def test_editorconfig_search_stops_at_root(tmp_path):
    (tmp_path / ".editorconfig").write_text("[*]\nmax_line_length = 40\nindent_size = 3\n")
    inner = tmp_path / "project"
    inner.mkdir()
    (inner / ".editorconfig").write_text("root = true\n[*]\nmax_line_length = 50\n")
    assert project_options(inner / "f.quarel") == {"column_width": 50}
    (inner / ".editorconfig").write_text("[*]\nmax_line_length = 50\n")
    assert project_options(inner / "f.quarel") == {"column_width": 50, "indent": "   "}


def applied(text, edits, encoding):
    """The text with the edits made, as an editor makes them: lines end at LF, CR LF or a
    lone CR, characters count in the encoding's units."""
    lines = re.split(r"(?<=\r\n)|(?<=\n)|(?<=\r)(?!\n)", text)
    starts = list(itertools.accumulate([0] + [len(line) for line in lines]))
    width = {"utf-8": lambda c: len(c.encode()), "utf-16": lambda c: 2 if ord(c) > 0xFFFF else 1,
             "utf-32": lambda c: 1}[encoding]

    def offset(position):
        line, units = lines[position["line"]], 0
        for n, char in enumerate(line):
            if units >= position["character"]:
                return starts[position["line"]] + n
            units += width(char)
        return starts[position["line"]] + len(line)

    for edit in reversed(edits):
        start, end = offset(edit["range"]["start"]), offset(edit["range"]["end"])
        text = text[:start] + edit["newText"] + text[end:]
    return text


@given(documents(), st.sampled_from(["utf-8", "utf-16", "utf-32"]), st.fixed_dictionaries({}, optional={
    "indent": st.sampled_from(["\t", "  "]), "newline": st.sampled_from(["\n", "\r\n"]),
    "column_width": st.integers(1, 30), "lines": st.tuples(st.integers(1, 4), st.integers(4, 9)),
}))
def test_format_edits_turn_the_text_into_the_formatted_one(source, encoding, options):
    doc = parse_quarel(source)
    edits = json.loads(doc.format_edits_json(encoding, **options))
    assert applied(source, edits, encoding) == doc.to_string()
    assert all(not edit["newText"].strip(" \t\r\n") for edit in edits)  # whitespace alone
    if "lines" not in options:  # (the lines of a range move as it is formatted)
        assert json.loads(doc.format_edits_json(encoding, **options)) == []


@pytest.mark.parametrize("source, encoding, edits", [
    ("a:1\r\n", "utf-16", [((0, 2), (0, 2), " ")]),
    ('é😀: "x"    # c\n', "utf-16", [((0, 10), (0, 12), "")]),
    ('é😀: "x"    # c\n', "utf-8", [((0, 13), (0, 15), "")]),
    ("v: {\r\n      a: 1\r\n  b: 2\r\n  c: 3\r\n}\r\n", "utf-32", [((1, 2), (1, 6), "")]),
    ("a: 1\rb: 2", "utf-16", [((0, 4), (1, 0), "\n"), ((1, 4), (1, 4), "\n")]),
])
def test_format_edits_by_hand(source, encoding, edits):
    written = json.loads(parse_quarel(source).format_edits_json(encoding))
    assert [((e["range"]["start"]["line"], e["range"]["start"]["character"]),
             (e["range"]["end"]["line"], e["range"]["end"]["character"]), e["newText"]) for e in written] == edits
