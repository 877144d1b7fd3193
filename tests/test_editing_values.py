"""Python values becoming Quarel values: kinds, quoting, list styles."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

from tallix_cst import parse_quarel


def added(key, value, kind=None):
    pair = parse_quarel("").add(key, value, kind=kind)
    return pair.to_string(), pair.kind


# (key, value, kind given, text written, kind read back)
@pytest.mark.parametrize(
    "key, value, kind, text, read",
    [
        ("type", True, None, "type: yes", "literal"), ("type", False, None, "type: no", "literal"),
        ("type", 10, None, "type: 10", "literal"), ("type", -7, None, "type: -7", "literal"),
        ("type", 2.5, None, "type: 2.5", "literal"), ("type", 1e20, None, "type: 1e+20", "literal"),
        ("type", float("inf"), None, "type: inf", "literal"), ("type", "number", None, "type: number", "literal"),
        ("type", "a b", None, 'type: "a b"', "string"),
        ("type", "a/b", None, 'type: "a/b"', "string"),  # bare token, but no literal character set
        ("type", "", None, 'type: ""', "string"), ("type", 'say "hi"', None, r'type: "say \"hi\""', "string"),
        ("type", "C:\\temp\\new", None, r'type: "C:\temp\new"', "string"),
        ("type", "a\\", None, r'type: "a\\"', "string"),
        ("label", "Users", None, 'label: "Users"', "string"),  # always quoted
        ("url", "x", None, 'url: "x"', "string"),
        ("value_format_name", "usd", None, "value_format_name: usd", "literal"),  # whole key only
        ("hidden", "yes", None, "hidden: yes", "literal"),
        ("sql", "  amount * 2  ", None, "sql: amount * 2 ;;", "expr"), ("sql", "", None, "sql:  ;;", "expr"),
        ("type", [1, "x y", ("k", "v")], None, 'type: [1, "x y", k: "v"]', "list"),
        ("type", {"a": "b"}, None, 'type: [a: "b"]', "list"), ("type", ("a", "b"), None, "type: [a, b]", "list"),
        ("type", [], None, "type: []", "list"), ("type", [True, 1.5, -2], None, "type: [yes, 1.5, -2]", "list"),
        ("type", [["a b", ("k", [1])]], None, 'type: [["a b", k: [1]]]', "list"),
        ("type", [("a", True), ("b", 2)], None, "type: [a: yes, b: 2]", "list"),
        ("type", {"k": ["x", "y z"]}, None, 'type: [k: [x, "y z"]]', "list"),
        ("type", 3, "literal", "type: 3", "literal"), ("type", "a/b", "literal", "type: a/b", "literal"),
        ("type", 3, "string", 'type: "3"', "string"), ("type", True, "string", 'type: "yes"', "string"),
        ("type", "number", "string", 'type: "number"', "string"), ("type", ["x"], "list", "type: [x]", "list"),
        ("type", {"k": 1}, "list", "type: [k: 1]", "list"),
    ],
)
def test_new_values(key, value, kind, text, read):
    assert added(key, value, kind) == (text, read)


# (before, value, kind for set_value or ... for assignment, after): an assignment
# keeps the kind and follows the old list's style; set_value changes the kind.
@pytest.mark.parametrize(
    "before, value, kind, after",
    [
        ('tags: ["a", "b"]', ["c"], ..., 'tags: ["c"]'), ("tags: [a, b]", ["c", "d e"], ..., 'tags: [c, "d e"]'),
        ("tags: [[x], k: v, \"a\"]", ["c"], ..., 'tags: ["c"]'),  # nested lists and pairs skipped
        ("tags: [k: v]", ["c"], ..., "tags: [c]"),  # no plain element: bare
        ("filters: [x: open]", [("y", "closed")], ..., "filters: [y: closed]"),
        ('filters: [x: "open"]', [("y", "closed")], ..., 'filters: [y: "closed"]'),
        ("filters: [x: [1], y: open]", [("y", "closed")], ..., "filters: [y: closed]"),
        ("filters: [x: a: b, y: open]", [("y", "closed")], ..., "filters: [y: closed]"),
        ("filters: [a]", [("y", "closed")], ..., 'filters: [y: "closed"]'),  # no pair: quoted
        ('filters: [["a"]]', [["c"]], ..., "filters: [[c]]"),  # nested lists take the defaults
        ("type: number", "string", ..., "type: string"), ("type: number", "two words", ..., 'type: "two words"'),
        ("type: number", "a/b", ..., "type: a/b"),  # assignment checks tokens, not literal characters
        ("type: number", "", ..., 'type: ""'), ("type: number", True, ..., "type: yes"),
        ("type: number", 1.5, ..., "type: 1.5"), ('label: "x"', 5, ..., 'label: "5"'),
        ('label: "x"', "y", ..., 'label: "y"'),
        ("label: x", "y", ..., "label: y"),  # a literal stays one
        ("sql: a ;;", "b", ..., "sql: b ;;"), ("sql: a ;;", 5, ..., "sql: 5 ;;"),
        ("l: [a]", ("x", ("k", "v")), ..., 'l: [x, k: "v"]'), ("l: [a]", {"k": 1}, ..., "l: [k: 1]"),
        ("type: number", [1, 2], None, "type: [1, 2]"), ("type: number", "x", "string", 'type: "x"'),
        ("sql: a ;;", "b", None, "sql: b ;;"), ("view: users { a: 1 }", "x", None, "view: x"),
        ("t: [a]", "x", None, "t: x"),
        ("t: number", [("y", "closed")], None, 't: [y: "closed"]'),  # no old list to follow
    ],
)
def test_replaced_values(before, value, kind, after):
    doc = parse_quarel(before)
    if kind is ...:
        doc.children[0].value = value
    else:
        doc.children[0].set_value(value, kind=kind)
    assert doc.to_string() == after


@given(st.text(), st.sampled_from([None, "string"]))
def test_text_reads_back_as_given(text, kind):
    doc = parse_quarel("k: 1\n")
    doc.find("k").set_value(text, kind=kind)
    assert doc.find("k").value == text
    assert parse_quarel(doc.to_string()).find("k").value == text


@given(st.text().filter(lambda t: ";;" not in t))
def test_expression_text_reads_back_trimmed(text):
    doc = parse_quarel("sql:x;;\n")
    doc["sql"] = text
    value = doc.find("sql").value
    assert parse_quarel(doc.to_string()).find("sql").value == value
    assert value in text
