"""Every valid source prints back exactly as it was read."""

import pytest
from hypothesis import HealthCheck, given, settings

from strategies import counted_documents
from tallix_cst import Document, parse_quarel


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(counted_documents())
def test_generated_documents_print_back_unchanged(generated):
    source, count = generated
    doc = parse_quarel(source)
    assert doc.to_string() == source
    assert str(doc) == source
    assert Document.parse(source).to_string() == source
    # Only top-level pairs count, however deep the blocks go.
    assert len(doc) == count
    assert repr(doc) == f"<Document with {count} pairs>"


WORKED_EXAMPLE = (
    "view: users {\n"
    "  measure: total {\n"
    "    sql: amount * 2 ;;\n"
    "  }\n"
    "}\n"
)

# (source, number of top-level pairs)
TRICKY_SOURCES = [
    ("", 0),
    ("\n", 0),
    ("  \t\r\n", 0),
    ("# only a comment", 0),
    ("# one\n\n  # two\r\n\t# three\n", 0),
    ("#", 0),
    ("# c\r\n", 0),
    ("a: b # comment at the end, no line break", 1),
    ("a: b#comment right after a token", 1),
    ("a: b\n#", 1),
    ("a: b c: d", 2),
    ('a: "x"b: y', 2),
    ("a: {}b: c", 2),
    ("a: [x]b: c", 2),
    ("sql: x;;b: c", 2),
    ("a:b", 1),
    ("a\t : b", 1),
    ("a:\tb\t\n", 1),
    ("a: b\r", 1),
    ("a: b \r c: d", 2),
    ("a: b\r\nc: d\r\n", 2),
    ("a: b\n\n\n", 1),
    # named blocks: the brace may stand anywhere after trivia
    ("a: b{}", 1),
    ("a:b{}", 1),
    ("a:{}", 1),
    ("link: { }", 1),
    ("dimension: id\n{\n  type: number\n}\n", 1),
    ("dimension: id # the id\n{\n}\n", 1),
    ("dimension: id\r\n# note\r\n\r\n{ type: number }", 1),
    ("a: { b: { c: {} } }", 1),
    ("a: { b: c d: e f: g }", 1),
    (WORKED_EXAMPLE, 1),
    # expressions
    ("sql:;;", 1),
    ("sql: a ;; b: c", 2),
    ("sql:\n  select *\n  from t # not a comment\n  where x = \"a;b\" and y = '{'\n;;\n", 1),
    ("html: <p class=\"x\">#{a}</p>\r\n;;\r\n", 1),
    ("sql:\u00a0x\u3000;;", 1),
    ("expression_custom_filter: ${a} > 1 ;;", 1),
    ("sql_: a;; _sql: b;;", 2),
    ("sql_trigger_value: now() ;; derived_sql: a ;;", 2),
    ("sql: ; ;;", 1),
    # keys that are not expression keys take ordinary values
    ("SQL: a b: c", 2),
    ("sq: a b: c", 2),
    ("htmls: a b: c", 2),
    ("expressions: a b: c", 2),
    ("my_sql_x: a b: c", 2),
    # lists
    ("x: []", 1),
    ("x: [ ]", 1),
    ("x: [\n]", 1),
    ("x: [a, b, ]", 1),
    ("x: [a, b ]", 1),
    ("x: [a,b]", 1),
    ("x: [a ,b ,]", 1),
    ("x: [a # one\n, b # two\n]", 1),
    ('filters: [status: "open", tier: gold]', 1),
    ("x: [a: b: c]", 1),
    ("x: [a :b]", 1),
    ("x: [a:\n  b]", 1),
    ("x: [sql: select]", 1),
    ("x: [[a, [b]], [], [[]]]", 1),
    ('x: ["a, b", "]", "#"]', 1),
    # strings
    ('a: ""', 1),
    ('a: "a\\"b"', 1),
    ('a: "\\\\"', 1),
    ('a: "multi\nline # not a comment { ;;"', 1),
    ('a: "\\\n"', 1),
    # character classes
    ("a.b-c/d: e.f-g/h", 1),
    ("\ufeffa: b", 1),
    ("\u200ba: b", 1),
    ("a: b\u200bc", 1),
    ("a: \x00b\x1f", 1),
    ("\x1c: \x1d", 1),
    ("a: +*\\$'()=<>!?%&|^~", 1),
    # format and control characters that are not whitespace stay in a token
    ("a: b\u180ec\u200cd\u200de\u2060f\u00adg\x80h\x9fi", 1),
    ("日本語: \"値\" # コメント\n名前: é\n", 2),
    ("emoji: 😀 # 🎉\n", 1),
]


@pytest.mark.parametrize("source,count", TRICKY_SOURCES)
def test_tricky_sources_print_back_unchanged(source, count):
    doc = parse_quarel(source)
    assert doc.to_string() == source
    assert str(doc) == source
    assert len(doc) == count


def test_deeply_nested_source_prints_back():
    depth = 256
    blocks = "a: {" * depth + "}" * depth
    nested_list = "x: " + "[" * depth + "]" * depth
    list_pairs = "x: [" + "k: " * (depth - 1) + "v]"
    for source in (blocks, nested_list, list_pairs):
        doc = parse_quarel(source)
        assert doc.to_string() == source
        assert len(doc) == 1

