"""Python values becoming Quarel values: kinds, quoting, list styles."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tallix_cst import parse_quarel


class Spaced(int):
    def __str__(self):
        return "a b"


class Comma(float):
    def __str__(self):
        return "1,5"


def added(key, value, kind=None):
    """The pair text and Python value that add() makes of value."""
    pair = parse_quarel("").add(key, value, kind=kind)
    return pair.to_string(), pair.value, pair.kind


@pytest.mark.parametrize(
    "key, value, text, kind",
    [
        ("type", True, "type: yes", "literal"),
        ("type", False, "type: no", "literal"),
        ("type", 10, "type: 10", "literal"),
        ("type", -7, "type: -7", "literal"),
        ("type", 2.5, "type: 2.5", "literal"),
        ("type", 1e20, "type: 1e+20", "literal"),
        ("type", float("inf"), "type: inf", "literal"),
        ("type", "number", "type: number", "literal"),
        ("type", "a b", 'type: "a b"', "string"),
        ("type", "a/b", 'type: "a/b"', "string"),  # bare token, but no literal character set
        ("type", "", 'type: ""', "string"),
        ("type", 'say "hi"', r'type: "say \"hi\""', "string"),
        ("type", "C:\\temp\\new", r'type: "C:\temp\new"', "string"),
        ("type", "a\\", r'type: "a\\"', "string"),
        ("label", "Users", 'label: "Users"', "string"),  # always quoted
        ("url", "x", 'url: "x"', "string"),
        ("value_format_name", "usd", "value_format_name: usd", "literal"),  # whole key only
        ("hidden", "yes", "hidden: yes", "literal"),
        ("sql", "  amount * 2  ", "sql: amount * 2 ;;", "expr"),
        ("sql", "", "sql:  ;;", "expr"),
        ("type", [1, "x y", ("k", "v")], 'type: [1, "x y", k: "v"]', "list"),
        ("type", {"a": "b"}, 'type: [a: "b"]', "list"),
        ("type", ("a", "b"), "type: [a, b]", "list"),
        ("type", [], "type: []", "list"),
        ("type", [True, 1.5, -2], "type: [yes, 1.5, -2]", "list"),
        ("type", [["a b", ("k", [1])]], 'type: [["a b", k: [1]]]', "list"),
        ("type", [("a", True), ("b", 2)], "type: [a: yes, b: 2]", "list"),
        ("type", {"k": ["x", "y z"]}, 'type: [k: [x, "y z"]]', "list"),
    ],
)
def test_inferred_kind(key, value, text, kind):
    assert added(key, value)[::2] == (text, kind)


@pytest.mark.parametrize(
    "value, kind, text",
    [
        (3, "literal", "type: 3"),
        ("a/b", "literal", "type: a/b"),
        (3, "string", 'type: "3"'),
        (True, "string", 'type: "yes"'),
        ("number", "string", 'type: "number"'),
        (["x"], "list", "type: [x]"),
        ({"k": 1}, "list", "type: [k: 1]"),
    ],
)
def test_explicit_kind(value, kind, text):
    assert added("type", value, kind)[0] == text


@pytest.mark.parametrize(
    "key, value, kind, error, message",
    [
        ("type", "a b", "literal", ValueError, '"a b" is not a valid Quarel literal'),
        ("type", "", "literal", ValueError, '"" is not a valid Quarel literal'),
        ("sql", "x ;; y", "expr", ValueError, "an expression cannot contain `;;`"),
        ("sql", "a;;b", None, ValueError, "an expression cannot contain `;;`"),
        ("type", "x", "block", ValueError, "block values are created with add(key, name=...)"),
        ("type", "x", "list", TypeError, "a list value must be a list, tuple or dict"),
        ("type", "x", "foo", ValueError, 'unknown kind "foo"; expected literal, string, expr, list or block'),
        ("type", "x", 'a"\\\n\r\t\0\x01', ValueError,
         r'unknown kind "a\"\\\n\r\t\0\u{1}"; expected literal, string, expr, list or block'),
        ("type", [1], "foo", ValueError, 'unknown kind "foo"; expected literal, string, expr, list or block'),
        ("type", [1], "string", TypeError, "value must be a str, bool, number, list or dict"),
        ("type", b"x", None, TypeError, "value must be a str, bool, number, list or dict"),
        ("type", {1, 2}, None, TypeError, "value must be a str, bool, number, list or dict"),
        ("type", [(1, 2, 3)], None, ValueError, "list pairs must be (key, value) tuples"),
        ("type", [{"a": 1}], None, TypeError, "list elements must be str, bool, number, (key, value) or list"),
        ("type", [None], None, TypeError, "list elements must be str, bool, number, (key, value) or list"),
        ("type", [("a b", "x")], None, ValueError, '"a b" is not a valid Quarel key'),
        ("type", {"": "x"}, None, ValueError, '"" is not a valid Quarel key'),
        ("type", [("k", ("a", "b"))], None, TypeError, None),
        ("type", [(1, "x")], None, TypeError, None),
        ("type", [("k", None)], None, TypeError, None),
        # kinds that a key cannot hold
        ("type", "x", "expr", ValueError, "`type` is not an expression key; only expression keys hold expr values"),
        ("sql", "x", "string", ValueError, "`sql` is an expression key; its value must be an expr"),
        ("sql", "x", "literal", ValueError, "`sql` is an expression key; its value must be an expr"),
        ("sql_x", ["x"], None, ValueError, "`sql_x` is an expression key; its value must be an expr"),
        # numbers whose text is no literal
        ("type", Spaced(1), None, ValueError, '"a b" is not a valid Quarel literal'),
        ("type", Comma(1), None, ValueError, '"1,5" is not a valid Quarel literal'),
        ("type", Spaced(1), "literal", ValueError, '"a b" is not a valid Quarel literal'),
        ("type", [Spaced(1)], None, ValueError, '"a b" is not a valid Quarel literal'),
        ("type", [("k", Comma(1))], None, ValueError, '"1,5" is not a valid Quarel literal'),
        ("type", {"k": Spaced(1)}, None, ValueError, '"a b" is not a valid Quarel literal'),
    ],
)
def test_refused_values(key, value, kind, error, message):
    doc = parse_quarel("a: 1\n")
    with pytest.raises(error) as e:
        doc.add(key, value, kind=kind)
    if message is not None:
        assert str(e.value) == message
    assert doc.to_string() == "a: 1\n"


def test_number_text_checked_on_every_path():
    doc = parse_quarel('n: 1\ns: "x"\nl: [1]\n')
    paths = [
        lambda: doc.add("x", Spaced(1)),
        lambda: doc.__setitem__("x", Spaced(1)),
        lambda: doc.__setitem__("n", Spaced(1)),
        lambda: setattr(doc.find("n"), "value", Spaced(1)),
        lambda: doc.find("n").set_value(Spaced(1)),
        lambda: doc.find("s").set_value(Spaced(1), kind="literal"),
        lambda: setattr(doc.find("l"), "value", [Spaced(1)]),
        lambda: setattr(doc.find("l"), "value", [("k", Spaced(1))]),
    ]
    for path in paths:
        with pytest.raises(ValueError, match='^"a b" is not a valid Quarel literal$'):
            path()
    assert doc.to_string() == 'n: 1\ns: "x"\nl: [1]\n'
    doc.find("s").value = Spaced(1)  # a string holds any text
    assert doc.find("s").to_string() == 's: "a b"'


@pytest.mark.parametrize(
    "before, value, after",
    [
        ('tags: ["a", "b"]', ["c"], 'tags: ["c"]'),
        ("tags: [a, b]", ["c", "d e"], 'tags: [c, "d e"]'),
        ("tags: [[x], k: v, \"a\"]", ["c"], 'tags: ["c"]'),  # nested lists and pairs skipped
        ("tags: [k: v]", ["c"], "tags: [c]"),  # no plain element: bare
        ("filters: [x: open]", [("y", "closed")], "filters: [y: closed]"),
        ('filters: [x: "open"]', [("y", "closed")], 'filters: [y: "closed"]'),
        ("filters: [x: [1], y: open]", [("y", "closed")], "filters: [y: closed]"),
        ("filters: [x: a: b, y: open]", [("y", "closed")], "filters: [y: closed]"),
        ("filters: [a]", [("y", "closed")], 'filters: [y: "closed"]'),  # no pair: quoted
        ('filters: [["a"]]', [["c"]], "filters: [[c]]"),  # nested lists take the defaults
    ],
)
def test_list_styles_follow_the_old_list(before, value, after):
    doc = parse_quarel(before)
    doc.children[0].value = value
    assert doc.to_string() == after


@pytest.mark.parametrize(
    "before, value, after",
    [
        ("type: number", "string", "type: string"),
        ("type: number", "two words", 'type: "two words"'),
        ("type: number", "a/b", "type: a/b"),  # assignment checks tokens, not literal characters
        ("type: number", "", 'type: ""'),
        ("type: number", True, "type: yes"),
        ("type: number", 1.5, "type: 1.5"),
        ('label: "x"', 5, 'label: "5"'),
        ('label: "x"', "y", 'label: "y"'),
        ("label: x", "y", "label: y"),  # a literal stays one
        ("sql: a ;;", "b", "sql: b ;;"),
        ("sql: a ;;", 5, "sql: 5 ;;"),
        ("l: [a]", ("x", ("k", "v")), 'l: [x, k: "v"]'),
        ("l: [a]", {"k": 1}, "l: [k: 1]"),
    ],
)
def test_assignment_keeps_the_kind(before, value, after):
    doc = parse_quarel(before)
    doc.children[0].value = value
    assert doc.to_string() == after


@pytest.mark.parametrize(
    "before, value, error, message",
    [
        ("v: {}", 1, TypeError, "`v` is a block; edit its children or use set_value()"),
        ("t: x", [1], TypeError, '`t` holds a literal; use set_value(value, kind="list") to change it'),
        ("t: x", {"a": 1}, TypeError, '`t` holds a literal; use set_value(value, kind="list") to change it'),
        ('t: "x"', [5], TypeError, '`t` holds a string; use set_value(value, kind="list") to change it'),
        ("sql: a ;;", ["b"], TypeError, '`sql` holds a expr; use set_value(value, kind="list") to change it'),
        ("t: x", (1,), TypeError, "value must be a str, bool, number, list or dict"),
        ("sql: a ;;", "a;;b", ValueError, "an expression cannot contain `;;`"),
        ("l: [a]", "x", TypeError, "a list value must be a list, tuple or dict"),
        ("t: x", None, TypeError, "value must be a str, bool, number, list or dict"),
    ],
)
def test_assignment_refusals(before, value, error, message):
    doc = parse_quarel(before)
    for assign in (lambda: setattr(doc.children[0], "value", value), lambda: doc.__setitem__(doc.children[0].key, value)):
        with pytest.raises(error) as e:
            assign()
        assert str(e.value) == message
        assert doc.to_string() == before


@pytest.mark.parametrize(
    "before, value, kind, after",
    [
        ("type: number", [1, 2], None, "type: [1, 2]"),
        ("type: number", "x", "string", 'type: "x"'),
        ("sql: a ;;", "b", None, "sql: b ;;"),
        ("view: users { a: 1 }", "x", None, "view: x"),
        ("t: [a]", "x", None, "t: x"),
        ("t: number", [("y", "closed")], None, 't: [y: "closed"]'),  # no old list to follow
    ],
)
def test_set_value_changes_the_kind(before, value, kind, after):
    doc = parse_quarel(before)
    doc.children[0].set_value(value, kind=kind)
    assert doc.to_string() == after
    with pytest.raises(ValueError, match=r"^block values are created with add\(key, name=\.\.\.\)$"):
        doc.children[0].set_value(None, kind="block")
    assert doc.to_string() == after


@settings(max_examples=100, deadline=None)
@given(st.text(), st.sampled_from([None, "string"]))
def test_text_reads_back_as_given(text, kind):
    doc = parse_quarel("k: 1\n")
    doc.find("k").set_value(text, kind=kind)
    assert doc.find("k").value == text
    assert parse_quarel(doc.to_string()).find("k").value == text


@settings(max_examples=100, deadline=None)
@given(st.text().filter(lambda t: ";;" not in t))
def test_expression_text_reads_back_trimmed(text):
    doc = parse_quarel("sql:x;;\n")
    doc["sql"] = text
    value = doc.find("sql").value
    assert parse_quarel(doc.to_string()).find("sql").value == value
    assert value in text
