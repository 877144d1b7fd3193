"""Edits keep each comment with its owner and write in the file's own style.

Every case is written once with LF line breaks and a tab per level of
indentation, and runs in LF and CRLF files indented by tabs, two and four
spaces. `␤` stands for a line feed inside a string, which no style changes.
"""

import pytest

from conftest import add, assign, at, comments, remove, source
from tallix_cst import parse_quarel

STYLES = [(nl, step) for nl in ("\n", "\r\n") for step in ("\t", "  ", "    ")]
STYLE_IDS = [f"{'crlf' if nl == chr(13) + chr(10) else 'lf'}-{'tab' if step == chr(9) else len(step)}" for nl, step in STYLES]


def render(text, nl, step):
    """The case in a style: leading tabs become steps, line feeds `nl`."""
    lines = [step * (len(line) - len(line.lstrip("\t"))) + line.lstrip("\t") for line in text.split("\n")]
    return nl.join(lines).replace("␤", "\n")


def copy_block(from_path, to_path):
    return lambda d: at(d, *to_path).add_source(at(d, *from_path).to_string())


NESTED = "n: {\n\tm: 1\n}\n"  # shows the file's indent step

CASES = {
    # 1. an end-of-line comment belongs to the pair on whose line it stands
    "new pair below the comment ending the last line": ("d: a {\n\tsql: x ;;   # raw column\n}\n",
        lambda d: d.find("d").__setitem__("hidden", "yes"), "d: a {\n\tsql: x ;;   # raw column\n\thidden: yes\n}\n"),
    "new pair below the comment, mid-body": ("a: 1  # one\nb: 2\n", add(args=("c", "3"), index=1), "a: 1  # one\nc: 3\nb: 2\n"),
    "removed pair takes its comment": ("a: 1\nb: 2  # two\n", remove("b"), "a: 1\n"),
    "removed pair takes its comment, mid-body": ("a: 1\nb: 2  # two\nc: 3\n", remove("b"), "a: 1\nc: 3\n"),
    "comment of the line above stays": ("a: 1  # one\nb: 2\nc: 3\n", remove("b"), "a: 1  # one\nc: 3\n"),
    "rewritten comments keep the line above": ("a: 1  # one\nb: 2\n", comments(["new"], "b"), "a: 1  # one\n# new\nb: 2\n"),
    "removed comments keep the line above": ("a: 1  # one\n# b\nb: 2\n", comments([], "b"), "a: 1  # one\nb: 2\n"),
    "comments start a line for a same-line pair": ("a: 1 b: 2\n", comments(["x"], "b"), "a: 1\n# x\nb: 2\n"),
    "replaced value keeps its comment": ("a: 1  # one\nb: 2\n", assign("5", "a"), "a: 5  # one\nb: 2\n"),
    "`{` comment stays on its line, index 0": ("v: {  # main\n\ta: 1\n}\n", add("v", args=("x", "1"), index=0),
        "v: {  # main\n\tx: 1\n\ta: 1\n}\n"),
    "`{` comment stays when the first pair goes": ("v: {  # main\n\ta: 1\n\tb: 2\n}\n", remove("v", "a"), "v: {  # main\n\tb: 2\n}\n"),
    "`{` comment stays above a first pair": (NESTED + "v: {  # main\n}\n", add("v", args=("a", "1")),
        NESTED + "v: {  # main\n\ta: 1\n}\n"),
    # 2. comments set off by a blank line are nobody's
    "header stays when the first pair goes": ("# Copyright X\n# SPDX: MIT\n\nconnection: \"w\"\nview: v {}\n",
        remove("connection"), "# Copyright X\n# SPDX: MIT\n\nview: v {}\n"),
    "section heading stays": ("a: 1\n\n# Section\n\nb: 2\nc: 3\n", remove("b"), "a: 1\n\n# Section\n\nc: 3\n"),
    "header stays when comments are rewritten": ("# H\n\n# about a\na: 1\n", comments(["x"], "a"), "# H\n\n# x\na: 1\n"),
    "new first pair below the header": ("# H\n\na: 1\n", add(args=("x", "1"), index=0), "# H\n\nx: 1\na: 1\n"),
    "new first pair below a block's heading": ("v: {\n\t# Section\n\n\ta: 1\n}\n", add("v", args=("x", "1"), index=0),
        "v: {\n\t# Section\n\n\tx: 1\n\ta: 1\n}\n"),
    # 3. and 4. composed text in the file's line breaks and indent step
    "empty block opens at the step": (NESTED + "w: {}\n", add("w", args=("b", "2")), NESTED + "w: {\n\tb: 2\n}\n"),
    "child of a new nested block": ("v: {\n\td: a {\n\t\ttype: x\n\t}\n}\n",
        lambda d: d.find("v").add("d", name="b").add("type", "time"),
        "v: {\n\td: a {\n\t\ttype: x\n\t}\n\n\td: b {\n\t\ttype: time\n\t}\n}\n"),
    "snippet re-indented level by level": ("v: {\n\ta: 1\n}\n", source("d: x {\n  type: number\r\n  sql: a\n       b ;;\n}", "v"),
        "v: {\n\ta: 1\n\n\td: x {\n\t\ttype: number\n\t\tsql: a\n\t\t\t\t b ;;\n\t}\n}\n"),
    "pairs below comment lines indented unlike them": ("\n\t# a\n# b\n", lambda d: (d.add("x", "1"), d.add("y", "2")),
        "\n\t# a\n# b\nx: 1\ny: 2\n"),
    "pair below a comment, not on the blank last line": ("# c\n\n\t", add(args=("x", "1")), "# c\n\nx: 1\n\t"),
    "snippet's stray CR before a line break": (NESTED, source("b: 2\r\r\nc: 3"), NESTED + "b: 2\nc: 3\n"),
    "tab snippet": ("v: {\n\ta: 1\n}\n", source("b: {\n\tc: {\n\t\td: 1\n\t}\n}", "v"), "v: {\n\ta: 1\n\tb: {\n\t\tc: {\n\t\t\td: 1\n\t\t}\n\t}\n}\n"),
    "string in a snippet unchanged": (NESTED, source('d: {\n  s: "a\n  b"\n}'), NESTED + 'd: {\n\ts: "a␤  b"\n}\n'),
    "block copied out of a nested body": ("v: {\n\td: x {\n\t\ttype: n\n\t}\n}\nw: {\n\ta: 1\n}\n", copy_block(("v", "d"), ("w",)),
        "v: {\n\td: x {\n\t\ttype: n\n\t}\n}\nw: {\n\ta: 1\n\n\td: x {\n\t\ttype: n\n\t}\n}\n"),
    "block copied to the root": ("v: {\n\td: x {\n\t\ttype: n\n\t}\n}\n", copy_block(("v", "d"), ()),
        "v: {\n\td: x {\n\t\ttype: n\n\t}\n}\n\nd: x {\n\ttype: n\n}\n"),
    "comment lines": ("v: {\n\ta: 1\n}\n", comments(["x", "y\nz"], "v", "a"), "v: {\n\t# x\n\t# y\n\t# z\n\ta: 1\n}\n"),
    # 5. replaced lists keep their shape and the comments of unchanged items
    "unchanged item keeps its comment": ("a: [\n\tx,  # first\n\ty\n]\n", assign(["x", "z"], "a"), "a: [\n\tx,  # first\n\tz\n]\n"),
    "changed item drops its comment": ("a: [\n\tx,  # first\n\ty\n]\n", assign(["w", "y"], "a"), "a: [\n\tw,\n\ty\n]\n"),
    "list grows below the comment": ("a: [\n\tx,\n\ty  # last\n]\n", assign(["x", "y", "z"], "a"),
        "a: [\n\tx,\n\ty,  # last\n\tz\n]\n"),
    "list shrinks to the commented item": ("a: [\n\tx,  # first\n\ty\n]\n", assign(["x"], "a"), "a: [\n\tx  # first\n]\n"),
    "`[` comment stays": ("a: [  # ids\n\tx,\n\ty\n]\n", assign(["p", "q", "r"], "a"), "a: [  # ids\n\tp,\n\tq,\n\tr\n]\n"),
}


@pytest.mark.parametrize("nl, step", STYLES, ids=STYLE_IDS)
@pytest.mark.parametrize("before, edit, after", CASES.values(), ids=CASES.keys())
def test_edit_in_style(before, edit, after, nl, step):
    doc = parse_quarel(render(before, nl, step))
    edit(doc)
    assert doc.to_string() == render(after, nl, step)
    assert parse_quarel(doc.to_string()).to_string() == doc.to_string()


READ = {
    "not the comment ending the line above": ("a: 1  # one\nb: 2\n", ("b",), []),
    "not the comment on the `{` line": ("v: {  # main\n\ta: 1\n}\n", ("v", "a"), []),
    "only the lines directly above": ("# H\n\n# about a\na: 1\n", ("a",), ["# about a"]),
    "a header directly above the first pair": ("# about a\na: 1\n", ("a",), ["# about a"]),
    "in a block": ("v: {\n\tx: 1  # x\n\n\t# s\n\n\t# b1\n\t# b2\n\tb: 2\n}\n", ("v", "b"), ["# b1", "# b2"]),
}


@pytest.mark.parametrize("nl, step", STYLES, ids=STYLE_IDS)
@pytest.mark.parametrize("text, path, expected", READ.values(), ids=READ.keys())
def test_comments_read(text, path, expected, nl, step):
    assert at(parse_quarel(render(text, nl, step)), *path).comments == expected


# Snippets written in a unit of their own (a tab per level here), cut out of
# a deeper block or not, and what they become at the end of `v` (written in
# the document's steps).
SNIPPETS = {
    "siblings cut out of a block": ("\ttype: number\n\tsql: ${x} ;;", "\ttype: number\n\tsql: ${x} ;;"),
    "siblings and a block, two levels down": ("\n\t\td: {\n\t\t\ttype: n\n\t\t}\n\t\te: 1", "\td: {\n\t\ttype: n\n\t}\n\te: 1"),
    "comment lines cut with their pair": ("\t# about x\n\tx: 1", "\t# about x\n\tx: 1"),
    "the step of the blocks, not of a list": ("a: [x,\n\t\t\ty]\nb: {\n\tc: 1\n}", "\ta: [x,\n\t\t\t\ty]\n\tb: {\n\t\tc: 1\n\t}"),
    "expression lines in steps, alignment kept": ("d: {\n\tsql: a\n\t\t\tb +\n\t\t\t c ;;\n}",
        "\td: {\n\t\tsql: a\n\t\t\t\tb +\n\t\t\t\t c ;;\n\t}"),
    "expression lines without blocks": ("sql: a\n\tb ;;", "\tsql: a\n\t\tb ;;"),
}
UNITS = {"snippet-tab": "\t", "snippet-2": "  ", "snippet-4": "    "}


@pytest.mark.parametrize("nl, step", STYLES, ids=STYLE_IDS)
@pytest.mark.parametrize("unit", UNITS.values(), ids=UNITS.keys())
@pytest.mark.parametrize("snippet, added", SNIPPETS.values(), ids=SNIPPETS.keys())
def test_snippet_takes_the_documents_steps(snippet, added, unit, nl, step):
    doc = parse_quarel(render("v: {\n\ta: 1\n}\n", nl, step))
    doc.find("v").add_source(render(snippet, "\n", unit))
    assert doc.to_string() == render(f"v: {{\n\ta: 1\n{added}\n}}\n", nl, step)
