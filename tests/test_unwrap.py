"""Document.unwrap: the plain value of a document, by the language's rules and, with a
schema, the literal readings and lists of one that the schema asks for."""

import pytest
from hypothesis import given

from tallix_cst import Schema, parse_quarel
from strategies import documents


def reference(pairs):
    """The plain value of to_data()'s pairs, as the README states the rules."""
    out, named = {}, {}
    for pair in pairs:
        key, is_named = pair["key"], pair["name"] is not None
        named.setdefault(key, is_named)
        if named[key] != is_named:
            continue  # the first form of a key decides
        if is_named:
            out.setdefault(key, {}).setdefault(pair["name"], reference(pair["children"]))
        else:
            value = reference(pair["children"]) if pair["kind"] == "block" else element(pair["value"])
            out.setdefault(key, []).append(value)
    return {key: value if named[key] or len(value) > 1 else value[0] for key, value in out.items()}


def element(value):
    if not isinstance(value, list):
        return value
    pairs = [item for item in value if isinstance(item, dict)]
    if value and len(pairs) == len(value):
        collected = {}
        for (key, item), in (pair.items() for pair in pairs):
            collected.setdefault(key, []).append(element(item))
        return {key: items[0] if len(items) == 1 else items for key, items in collected.items()}
    return [{k: element(v) for k, v in item.items()} if isinstance(item, dict) else element(item) for item in value]


@given(documents())
def test_unwrap_follows_the_rules(text):
    doc = parse_quarel(text)
    assert doc.unwrap() == reference(doc.to_data())
    for pair in doc.children:
        assert pair.unwrap() == (reference(pair.to_data()["children"]) if pair.kind == "block" else element(pair.to_data()["value"]))


@pytest.mark.parametrize("source, expected", [
    ("", {}),
    ('a: 1 b: "x y" sql: select 1 ;;', {"a": "1", "b": "x y", "sql": "select 1"}),
    ("view: users { dimension: id { type: number } }", {"view": {"users": {"dimension": {"id": {"type": "number"}}}}}),
    ("t: a t: b t: c", {"t": ["a", "b", "c"]}),
    ("d: x { } d: y { } d: x { n: 2 }", {"d": {"x": {}, "y": {}}}),  # a name again: the first stands
    ("d: x { } d: 5", {"d": {"x": {}}}),  # the first form decides
    ("d: 5 d: x { } d: 6", {"d": ["5", "6"]}),
    ("l: [a, [b], 'c']", {"l": ["a", ["b"], "'c'"]}),
    ("f: [s: open, t: a, t: b]", {"f": {"s": "open", "t": ["a", "b"]}}),
    ("m: [a, k: v, k: [w: x]]", {"m": ["a", {"k": "v"}, {"k": {"w": "x"}}]}),
    ("e: [] b: { }", {"e": [], "b": {}}),
    ('s: "a\\"b\\\\c"', {"s": 'a"b\\c'}),
])
def test_unwrap_table(source, expected):
    assert parse_quarel(source).unwrap() == expected


def schema_of(value):
    """A schema whose key `v` takes `value`."""
    return Schema({"properties": {"v": value}})


BOOL, INT, NUM, STR = {"type": "boolean"}, {"type": "integer"}, {"type": "number"}, {"type": "string"}


@pytest.mark.parametrize("literal, schema, expected", [
    ("yes", BOOL, True), ("true", BOOL, True), ("no", BOOL, False), ("false", BOOL, False),
    ("Yes", BOOL, "Yes"), ("maybe", BOOL, "maybe"), ("1", BOOL, "1"),
    ("-12", INT, -12), ("0", INT, 0), ("-0", NUM, 0), ("012", INT, "012"), ("1.5", INT, 1.5), ("1e3", INT, 1000.0),
    ("1.5e3", NUM, 1500.0), ("2E-2", NUM, 0.02), (".5", NUM, ".5"), ("5.", NUM, "5."), ("+1", NUM, "+1"),
    ("0x10", NUM, "0x10"), ("1e400", NUM, "1e400"), ("NaN", NUM, "NaN"), ("Infinity", NUM, "Infinity"),
    ("9223372036854775807", INT, 9223372036854775807), ("9223372036854775808", INT, 9.223372036854776e18),
    # Where a string is accepted too, a literal stays text.
    ("yes", {"type": ["boolean", "string"]}, "yes"), ("5", {"type": ["integer", "string"]}, "5"),
    ("5", {"anyOf": [STR, INT]}, "5"), ("5", {"anyOf": [BOOL, INT]}, 5), ("yes", {"anyOf": [BOOL, INT]}, True),
    ("5", {"enum": [5, 6]}, 5), ("5", {"enum": ["5", 6]}, "5"), ("yes", {"const": True}, True),
    ("5", {"allOf": [{"$ref": "#/$defs/n"}]}, 5), ("5", {"not": STR}, "5"), ("5", {}, "5"), ("5", False, "5"),
    ("5", {"type": "array", "items": INT}, [5]),  # a key's one value is wrapped where a list is wanted
    ("5", {"type": "array", "items": STR}, ["5"]),
    ("5", {"type": ["array", "integer"], "items": STR}, 5),
    ("5", {"type": ["array", "string"]}, "5"),
])
def test_literal_readings(literal, schema, expected):
    schema = Schema({"properties": {"v": schema}, "$defs": {"n": INT}})
    value = parse_quarel(f"v: {literal}").unwrap(schema)["v"]
    assert value == expected and type(value) is type(expected)


@pytest.mark.parametrize("source, schema, expected", [
    ('v: "5"', INT, "5"),  # quoted text is never a number
    ("sql: 5 ;;", INT, "5"),
    ("v: [1, yes, x]", {"items": {"type": ["integer", "boolean"]}}, [1, True, "x"]),
    ("v: [1, 2]", {"prefixItems": [INT], "items": STR}, [1, "2"]),
    ("v: [n: 1, n: 2]", {"properties": {"n": INT}}, {"n": ["1", "2"]}),
    ("v: [n: 1, n: 2]", {"properties": {"n": {"type": "array", "items": STR}}}, {"n": ["1", "2"]}),
    ("v: { n: 1 }", {"additionalProperties": INT}, {"n": 1}),
    ("v: { n1: 1 m: 2 }", {"patternProperties": {"^n": INT}}, {"n1": 1, "m": "2"}),
    ("v: x { n: 1 } v: y { n: 2 }", {"additionalProperties": {"properties": {"n": INT}}}, {"x": {"n": 1}, "y": {"n": 2}}),
    ("v: x { n: 1 }", {"type": "array", "items": {"additionalProperties": {"properties": {"n": INT}}}}, [{"x": {"n": 1}}]),
    ("v: []", {"type": "object"}, {}),
    ("v: []", {"type": ["object", "array"]}, []),
    ("v: 1 v: 2", INT, ["1", "2"]),  # a key given twice is a list: not what the schema takes
    ("v: 1 v: 2", {"type": "array", "items": INT}, [1, 2]),
    ("v: 1", {"$ref": "#/$defs/l"}, [1]),
])
def test_schema_places(source, schema, expected):
    schema = Schema({"additionalProperties": schema, "$defs": {"l": {"type": "array", "items": INT}}})
    (value,) = parse_quarel(source).unwrap(schema).values()
    assert value == expected


def test_draft_7_items_list():
    schema = Schema({"$schema": "http://json-schema.org/draft-07/schema#",
                     "properties": {"v": {"items": [INT], "additionalItems": BOOL}}})
    assert parse_quarel("v: [1, no, 3]").unwrap(schema)["v"] == [1, False, "3"]


def test_pair_unwrap_takes_the_schema_of_its_value():
    doc = parse_quarel("view: v { n: 5 t: [1] }")
    schema = Schema({"properties": {"n": INT, "t": {"items": INT}}})
    assert doc.find("view").unwrap(schema) == {"n": 5, "t": [1]}
    assert doc.find("view").find("n").unwrap(Schema(INT)) == 5


@pytest.mark.parametrize("method", ["unwrap", "validate"])
@pytest.mark.parametrize("arg", [{}, "schema.json", 5])
def test_what_is_no_schema_is_refused(method, arg):
    with pytest.raises(TypeError, match=f"^{method}\\(\\) argument 'schema' must be a tallix_cst.Schema, not {type(arg).__name__}$"):
        getattr(parse_quarel("a: 1"), method)(arg)


@pytest.mark.parametrize("source, at, path", [
    ("view: users { dimension: id { type: number } }", "number", ["view", "users", "dimension", "id", "type"]),
    ("view: users { dimension: id { type: number } }", "id {", ["view", "users", "dimension", "id"]),
    ("view: users { dimension: id {  } }", "  }", ["view", "users", "dimension", "id"]),
    ("view: users { x: 1 }", "users", ["view", "users"]),
    ("t: a t: b", "b", ["t", 1]),
    ("f: [s: open, t: a, t: b]", "b]", ["f", "t", 1]),
    ("m: [a, k: v, [x, y]]", "v,", ["m", 1, "k"]),
    ("m: [a, k: v, [x, y]]", "y]", ["m", 2, 1]),
    ("d: x { } d: 5", "5", []),  # left out of the plain value
    ("a: 1\n\nb: 2", "\nb", []),
])
def test_path_at(source, at, path):
    doc = parse_quarel(source)
    assert doc.path_at(source.encode().index(at.encode())) == path
