"""Writes the seed corpora of the fuzzers.

Run: python3 fuzz/seed_corpus.py OUT_DIR
Creates OUT_DIR/parse, OUT_DIR/recover and OUT_DIR/edit, one file per seed named by its
SHA-1, as libFuzzer names the inputs it keeps. The seeds are the bundled
examples and small hand-written sources that reach every rule of the
grammar and every syntax error; the edit seeds wrap sources in short edit
scripts encoded as edit_fuzzer.cpp decodes them.
"""

from __future__ import annotations

import hashlib
import pathlib
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Valid sources: one per layout feature, kept small so that mutations stay
# near the grammar's boundaries.
VALID = [
    "",
    "\n",
    "# only a comment",
    "# one\n\n  # two\r\n",
    "a: b",
    "a: b c: d",
    'a: "x"b: y',
    "a:b\n",
    "a\t : b\n",
    'label: "say \\"hi\\"\\\\"\n',
    'a: "multi\nline"\n',
    "sql: amount * 2 ;;\n",
    "sql:;;\n",
    "sql: a ;; b: c\n",
    "html: <b>#not a comment</b> ;;\n",
    "sql_trigger_value: now() ;;\nderived_sql: x;;\n",
    "expression: a\n  b ;;\n",
    "x: []\n",
    "x: [ ]\n",
    "x: [a, b, ]\n",
    "x: [a, b ]\n",
    'filters: [status: "open", tier: gold]\n',
    "x: [a: b: c, [d, [e]], \"f\"]\n",
    "x: [\n  a, # first\n  b\n]\n",
    "link: { }\n",
    "a: b{}\n",
    "dimension: id\n{\n  type: number\n}\n",
    "view: users # the users\n{ }\n",
    "view: users {\n  measure: total {\n    sql: amount * 2 ;;\n  }\n}\n",
    "a: { b: { c: { d: 1 } } }\n",
    "a: 1\r\nb: 2\r\n",
    "key: \u00e9t\u00e9\n\u65e5\u672c: \u8a9e\n",
    "\ufeffa: b\n",
    "a: x\x00y\x01\n",
    "a: b # comment at the end, no line break",
]

# Invalid sources: each syntax error at least once.
INVALID = [
    "a\n: b",
    "a:",
    "a: }",
    "}",
    "view: v {",
    'a: "b" {}',
    "view {",
    "sql: select 1",
    'a: "abc',
    'a: "abc\\',
    "x: [a b]",
    "x: [,]",
    "x: [a: ]",
    "x: [a",
    "a: 1\nb\n",
    "\u00e9\n",
    "a\r\n: b",
    "#a\rb: c",
    "a: \x0bb",
    "a: \u00a0b",
    "a: " + "[" * 300,
    "a: " + "{b: " * 300,
]


# Sources with several errors, for the recovering parse: in one block and in
# nested ones, errors that run to the end, stray and missing braces.
SEVERAL = [
    "a: [x y]\nb: ,\nc: d\n",
    "view: v {\n  a: [x y]\n  b: c\n  d: }\n  e: f\n}\n",
    "a: {\n  b: {\n    c: ,\n  d: e\n}\nf: [\n",
    "a: {\n  sql: select 1\n  b: c\n",
    "a: b\n}\nc: d\n}\n",
    'a: "open\nb: c\n',
    "x: [a, b: , [c d]]\ny: {\n  # note\n  ,\n  z: 1\n}\n",
]


def examples() -> list[str]:
    return [p.read_text(encoding="utf-8") for p in sorted((ROOT / "examples").rglob("*.quarel"))]


def parse_seeds() -> list[bytes]:
    sources = VALID + INVALID + examples()
    crlf = [s.replace("\n", "\r\n") for s in sources if "\n" in s]
    return [s.encode() for s in sources + crlf]


# The edit script encoding of edit_fuzzer.cpp.
ADD, ADD_SOURCE, REMOVE, REPLACE, COMMENT, RENAME, RENAME_BLOCK = range(7)
INFER, STRING, LITERAL, EXPR, LIST, BLOCK = range(6)


def text(s: str) -> bytes:
    data = s.encode()
    assert len(data) < 256
    return bytes([len(data)]) + data


def list_of(*elements: str) -> bytes:
    """A list of plain text elements, quoted unless they may stand bare."""
    return bytes([LIST, len(elements)]) + b"".join(b"\0" + text(e) for e in elements)


def document(source: str, *edits: bytes) -> bytes:
    data = source.encode()
    return struct.pack("<H", len(data)) + data + b"".join(edits)


SCRIPTS = [
    # Add a literal, a string, an expression, a list and a named block.
    bytes([ADD, 0, 255]) + text("type") + bytes([INFER]) + text("number"),
    bytes([ADD, 0, 0]) + text("label") + bytes([STRING]) + text('say "hi"'),
    bytes([ADD, 1, 1]) + text("sql") + bytes([EXPR]) + text(" a + b "),
    bytes([ADD, 0, 2]) + text("tags") + list_of("a", "b c", ""),
    bytes([ADD, 1, 0]) + text("dimension") + bytes([BLOCK, 1]) + text("id"),
    bytes([ADD, 2, 9]) + text("link") + bytes([BLOCK, 0]),
    bytes([ADD_SOURCE, 1, 1]) + text("# note\nmeasure: total {\n  sql: x ;;\n}\nb: 2"),
    bytes([ADD_SOURCE, 0, 0]) + text("broken: [a b]"),
    # Snippets in a unit of their own: siblings cut out of a block, a list
    # and a block, an expression's next lines in tabs.
    bytes([ADD_SOURCE, 1, 9]) + text("  type: n\n  sql: a\n      b ;;"),
    bytes([ADD_SOURCE, 2, 1]) + text("a: [x,\n      y]\nb: {\n  c: 1\n}"),
    bytes([ADD_SOURCE, 0, 9]) + text("\tsql: a\n\t\t b ;;\nd: {\n\te: 1\n}"),
    bytes([REMOVE, 0, 0]),
    bytes([REMOVE, 1, 2]),
    bytes([REPLACE, 0, LITERAL]) + text("a/b"),
    bytes([REPLACE, 1]) + list_of("x", "y", "z"),
    bytes([REPLACE, 2, INFER]) + text("two words"),
    bytes([COMMENT, 0, 2]) + text("first") + text("# second"),
    bytes([COMMENT, 1, 1]) + text("a\nb"),
    bytes([COMMENT, 2, 0]),
    bytes([RENAME, 0]) + text("renamed"),
    bytes([RENAME_BLOCK, 0, 1]) + text("named"),
    bytes([RENAME_BLOCK, 0, 0]),
    # Take out a block, then edit inside it.
    bytes([REMOVE, 0, 3, ADD_SOURCE, 255, 0]) + text("c: 3"),
]


def edit_seeds() -> list[bytes]:
    sources = [s for s in VALID if len(s.encode()) < 200] + examples()
    seeds = [document(s) for s in sources]
    seeds += [document(source, script) for source in sources for script in SCRIPTS]
    seeds.append(document(examples()[0], *SCRIPTS))
    return seeds


def write(directory: pathlib.Path, seeds: list[bytes]) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    for seed in seeds:
        (directory / hashlib.sha1(seed).hexdigest()).write_bytes(seed)


def main() -> None:
    out = pathlib.Path(sys.argv[1])
    write(out / "parse", parse_seeds())
    write(out / "recover", parse_seeds() + [s.encode() for s in SEVERAL])
    write(out / "edit", edit_seeds())


if __name__ == "__main__":
    main()
