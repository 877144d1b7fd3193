"""Reading documents and block pairs: lookups, values, the Pair view."""

import gc
import inspect

import pytest
from hypothesis import given, settings

from strategies import documents
from tallix_cst import Document, Pair, parse_quarel

VIEW = """\
# Users.
view: users {
  label: "Users \\"all\\""  # shown in menus
  dimension: id {
    type: number
  }
  dimension: id
  dimension: {
    type: string
  }
  measure: total {
    sql: amount * 2 ;;
    filters: [status: open, "a b", t: [x, y]]
    nested: [a: b: c]
    empty: []
  }
}
top: 1
"""


@pytest.fixture
def doc():
    return parse_quarel(VIEW)


@pytest.fixture
def view(doc):
    return doc.find("view", "users")


@pytest.mark.parametrize(
    "key, name, expected",
    [
        ("dimension", None, ["<Pair dimension: id {...}>", "<Pair dimension: id>", "<Pair dimension: {...}>"]),
        ("dimension", "id", ["<Pair dimension: id {...}>"]),  # a literal `id` is no block named id
        ("dimension", "other", []),
        ("Dimension", None, []),  # keys compare case-sensitively
        ("type", None, []),  # only direct children
    ],
)
def test_matching_rule(view, key, name, expected):
    assert [repr(p) for p in view.find_all(key, name)] == expected
    first = view.find(key, name)
    assert (repr(first) if first else None) == (expected[0] if expected else None)


@pytest.mark.parametrize(
    "key, value",
    [
        ("label", 'Users "all"'),
        ("dimension", None),
        ("missing", "DEFAULT"),
    ],
)
def test_get_and_item_access(view, key, value):
    assert view.get(key, "DEFAULT") == value
    if key == "missing":
        with pytest.raises(KeyError) as e:
            view[key]
        assert e.value.args == ("missing",)
        assert key not in view
    else:
        assert view[key] == value
        assert key in view


def test_values_as_python_objects(view):
    measure = view.find("measure", "total")
    assert measure["sql"] == "amount * 2"
    assert measure["filters"] == [("status", "open"), "a b", ("t", ["x", "y"])]
    assert measure["nested"] == [("a", ("b", "c"))]
    assert measure["empty"] == []
    assert view.get("missing") is None
    sentinel = object()
    assert view.get("missing", sentinel) is sentinel


def test_pair_properties(view):
    dim = view.find("dimension", "id")
    assert (dim.key, dim.name, dim.kind, dim.value) == ("dimension", "id", "block", None)
    label = view.find("label")
    assert (label.kind, label.name, label.comments) == ("string", None, [])
    assert view.find("measure").find("sql").kind == "expr"
    # An end-of-line comment belongs to the next pair's leading text.
    assert dim.comments == ["# shown in menus"]
    assert view.comments == ["# Users."]
    assert len(view) == 5 and bool(view)
    assert [p.key for p in view] == [p.key for p in view.children]


@pytest.mark.parametrize(
    "operation",
    [
        len,
        bool,
        iter,
        lambda p: p.children,
        lambda p: p.find("x"),
        lambda p: p.find_all("x"),
        lambda p: p.get("x"),
        lambda p: p["x"],
        lambda p: "x" in p,
        lambda p: p.walk(),
    ],
)
@pytest.mark.parametrize("source, kind", [("type: number", "literal"), ('t: "x"', "string"),
                                          ("sql: x ;;", "expr"), ("l: [1]", "list")])
def test_pair_that_is_not_a_block(operation, source, kind):
    pair = parse_quarel(source).children[0]
    with pytest.raises(TypeError, match=f"^`{pair.key}` is a {kind}, not a block$"):
        operation(pair)


@pytest.mark.parametrize(
    "call",
    [
        lambda d: d.find(1),
        lambda d: d.find("a", 2),
        lambda d: d.find_all(None),
        lambda d: d.get(b"a"),
        lambda d: d[0],
        lambda d: d[0:1],
        lambda d: 1 in d,
    ],
)
def test_argument_types(doc, call):
    with pytest.raises(TypeError):
        call(doc)


def test_parent_chain_outlives_document():
    doc = parse_quarel(VIEW)
    dim = doc.find("view").find("dimension")
    text = doc.to_string()
    assert dim.parent.parent.to_string() == text
    del doc
    gc.collect()
    assert isinstance(dim.parent.parent, Document)
    assert dim.parent.parent.to_string() == text
    assert dim.parent == dim.parent.parent.find("view")


def test_walk_is_preorder_with_parents(doc):
    pairs = doc.walk()
    assert [p.key for p in pairs] == [
        "view", "label", "dimension", "type", "dimension", "dimension", "type",
        "measure", "sql", "filters", "nested", "empty", "top",
    ]
    assert pairs[3].parent == pairs[2] and pairs[2].parent == pairs[0]
    assert isinstance(pairs[0].parent, Document)
    assert [p.key for p in doc.find("view").find("measure").walk()] == ["sql", "filters", "nested", "empty"]


def test_snapshots_do_not_follow_edits(doc):
    children, iterator = doc.children, iter(doc)
    doc.add("late", "1")
    assert len(children) == 2 and len(list(iterator)) == 2
    assert len(doc.children) == 3


def test_identity_and_comparison(doc):
    a, b = doc.find("view"), doc.find("view")
    assert a is not b and a == b and not (a != b)
    twins = parse_quarel("x: 1\nx: 1\n").find_all("x")
    assert twins[0] != twins[1]
    assert (a == "x", a != "x") == (False, True)
    with pytest.raises(TypeError):
        a < a
    with pytest.raises(TypeError):
        hash(a)
    other = doc.find("view").parent  # the same document, another object
    assert other is not doc and other != doc and other.to_string() == doc.to_string()


@pytest.mark.parametrize(
    "source, expected",
    [
        ("k: " + "x" * 60, "<Pair k: " + "x" * 60 + ">"),
        ("k: " + "x" * 100, "<Pair k: " + "x" * 60 + "...>"),
        ("k: " + "é" * 61, "<Pair k: " + "é" * 60 + "...>"),  # characters, not bytes
        ("sql: amount * 2 ;;", "<Pair sql: amount * 2 ;;>"),
        ("v: users {}", "<Pair v: users {...}>"),
        ("v: {}", "<Pair v: {...}>"),
        ("l: [ a,\n b ]", "<Pair l: [ a,\n b ]>"),
    ],
)
def test_repr(source, expected):
    assert repr(parse_quarel(source).children[0]) == expected


def test_to_string(view):
    dim = view.find("dimension", "id")
    assert dim.to_string() == str(dim) == "dimension: id {\n    type: number\n  }"
    assert dim.to_string(include_leading=True).startswith("  # shown in menus\n  dimension")
    with pytest.raises(TypeError, match="include_leading"):
        dim.to_string(1)


def test_docstrings_and_signatures():
    for cls in (Document, Pair):
        assert str(inspect.signature(cls.find)) == "(self, /, key, name=None)"
        assert str(inspect.signature(cls.get)) == "(self, /, key, default=None)"
        assert str(inspect.signature(cls.walk)) == "(self, /)"
        assert cls.children.__doc__ == "The pairs directly inside this container."
    assert str(inspect.signature(Pair.to_string)) == (
        "(self, /, include_leading=False, *, dedent=False)"
    )
    assert Pair.kind.__doc__ == "One of literal, string, expr, list or block."
    for read_only in ("kind", "parent"):
        with pytest.raises(AttributeError):
            setattr(parse_quarel("a: 1").children[0], read_only, "x")


@settings(max_examples=50, deadline=None)
@given(documents())
def test_walk_reaches_every_pair_once(source):
    doc = parse_quarel(source)
    pairs = doc.walk()
    blocks = [p for p in pairs if p.kind == "block"]
    assert len(pairs) == len(doc) + sum(len(b) for b in blocks)
    for p in pairs:
        assert p.to_string(include_leading=True) in source
