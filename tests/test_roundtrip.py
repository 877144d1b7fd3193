"""Every valid source prints back exactly as it was read, as text and as bytes."""

import pytest
from hypothesis import given

from strategies import counted_documents
from tallix_cst import Document, loads, parse_quarel


@given(counted_documents())
def test_generated_documents_print_back_unchanged(generated):
    source, count = generated
    doc = parse_quarel(source)
    assert doc.to_string() == str(doc) == Document.parse(source).to_string() == source
    data = source.encode()
    assert loads(data).to_bytes() == loads(bytearray(data)).to_bytes() == doc.to_bytes() == data
    # Only top-level pairs count, however deep the blocks go; walk() reaches every pair once.
    assert len(doc) == count
    assert repr(doc) == f"<Document with {count} pairs>"
    pairs = doc.walk()
    assert len(pairs) == count + sum(len(p) for p in pairs if p.kind == "block")
    assert all(p.to_string(include_leading=True) in source for p in pairs)
    assert_outdented_pairs_read_alone(pairs)


def assert_outdented_pairs_read_alone(pairs):
    """A pair printed at the margin is source of its own: that one pair."""
    for pair in pairs:
        alone = parse_quarel(pair.to_string(dedent=True))
        assert [(p.key, p.name, p.kind) for p in alone] == [(pair.key, pair.name, pair.kind)]


# Sources the generator reaches rarely, or that sit on a rule's edge.
TRICKY_SOURCES = [
    "", "  \t\r\n", "#", "# c\r\n", "# one\n\n  # two\r\n\t# three\n", "a: b#comment right after a token", "a: b\n#",
    # pairs that follow without a line break
    "a: b c: d", 'a: "x"b: y', "a: {}b: c", "a: [x]b: c", "sql: x;;b: c", "a: b \r c: d", "a: b\r",
    # named blocks: the brace may stand anywhere after trivia
    "a: b{}", "a:{}", "dimension: id # the id\n{\n}\n", "dimension: id\r\n# note\r\n\r\n{ type: number }",
    "a: { b: { c: {} } }", "a: { b: c d: e f: g }",
    # expressions
    "sql:;;", "sql: a ;; b: c", "sql: ; ;;", "sql:\u00a0x\u3000;;", "sql_: a;; _sql: b;;", "expression_custom_filter: ${a} > 1 ;;",
    "sql:\n  select *\n  from t # not a comment\n  where x = \"a;b\" and y = '{'\n;;\n",
    # keys that are no expression keys take ordinary values
    "SQL: a b: c", "sq: a b: c", "htmls: a b: c", "expressions: a b: c", "my_sql_x: a b: c",
    # lists
    "x: []", "x: [\n]", "x: [a, b, ]", "x: [a ,b ,]", "x: [a # one\n, b # two\n]", "x: [a: b: c]", "x: [a :b]",
    "x: [a:\n  b]", "x: [sql: select]", "x: [[a, [b]], [], [[]]]", 'x: ["a, b", "]", "#"]',
    # strings
    'a: ""', 'a: "a\\"b"', 'a: "\\\\"', 'a: "multi\nline # not a comment { ;;"', 'a: "\\\n"',
    # characters: format and control characters that are no whitespace stay in a token
    "\ufeffa: b", "a: b\u200bc", "a: \x00b\x1f", "\x1c: \x1d", "a: b\u180ec\u200cd\u200de\u2060f\u00adg\x80h\x9fi",
    "日本語: \"値\" # コメント\n名前: é\n", "emoji: 😀 # 🎉\n",
    # the deepest nesting the parser reads
    "a: {" * 256 + "}" * 256, "x: " + "[" * 256 + "]" * 256, "x: [" + "k: " * 255 + "v]",
    # texts on either side of the lengths a text keeps inline (7), in its own word (127) and in front of its bytes
    *(f"# {'c' * n}\n{'k' * n}: {'v' * n}\nk: \"{'s' * n}\"\nsql: {'e' * n};;\nn: {'m' * n} {{}}\nx: [{'i' * n}]{' ' * n}"
      for n in (7, 8, 15, 16, 17, 127, 128)),
]


@pytest.mark.parametrize("source", TRICKY_SOURCES)
def test_tricky_sources_print_back_unchanged(source):
    doc = parse_quarel(source)
    assert doc.to_string() == source and doc.to_bytes() == source.encode()
    assert all(p.to_string(include_leading=True) in source for p in doc.walk())
    assert_outdented_pairs_read_alone(doc.walk())


# However far an edit moves the size of the text from its last print, both prints follow, before
# and after the new size is known.
@pytest.mark.parametrize("grown", [True, False])
@pytest.mark.parametrize("bytes_first", [True, False])
def test_prints_follow_edits_of_any_size(grown, bytes_first):
    big = "b: " + "x" * 100_000 + "\n"
    doc = parse_quarel("a: 1\n" + ("" if grown else big))
    if grown:
        doc.add("b", "x" * 100_000)
    else:
        doc.remove("b")
    expected = "a: 1\n" + (big if grown else "")
    prints = [doc.to_bytes, lambda: doc.to_string().encode()]
    for _ in range(2):
        assert [p() for p in (prints if bytes_first else prints[::-1])] == [expected.encode()] * 2


# Short texts are printed as whole 8-byte words where the room allows: the last texts of a print,
# of every length and at every distance from the end, into memory of exactly the printed size,
# that the sanitized run of `make test` watches.
@pytest.mark.parametrize("end", ["", "\n", "\n\n", " # ", "  # c", "  # cc", "  # ccc", "  # cccc", "\n# ccccc"])
def test_short_texts_print_up_to_the_end(end):
    for k in range(1, 10):
        for v in range(1, 10):
            tail = f"{'k' * k}: {'v' * v}{end}"
            doc = parse_quarel("a: 1\n" + tail)
            assert doc.to_bytes() == ("a: 1\n" + tail).encode()
            doc.find("a").value = "b" * 5000  # past the room kept from the last print
            text = "a: " + "b" * 5000 + "\n" + tail
            assert doc.to_string() == text and doc.to_bytes() == text.encode()
            assert doc.children[1].to_string(include_leading=True) == "\n" + tail[: k + 2 + v]
