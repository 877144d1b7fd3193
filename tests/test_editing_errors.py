"""Refused edits: the right error, and not a byte of the document changed.

Also edits that would nest deeper than the parser reads.
"""

import pytest

from conftest import at, calling
from tallix_cst import QuarelSyntaxError, parse_quarel

DOC = """\
# header
view: users {
  label: "Users"  # menu
  dimension: id {
    type: number
  }
  measure: total {
    sql: amount * 2 ;;
    filters: [status: open, tier: "gold"]
  }
}
top: 1
"""


def reach(*path):
    return lambda d: at(d, *path)


view, top, dimension, label = reach("view"), reach("top"), reach("view", "dimension"), reach("view", "label")
sql, filters, root = reach("view", "measure", "sql"), reach("view", "measure", "filters"), reach()


def setter(get, attr, value):
    return lambda d: setattr(get(d), attr, value)


def item(get, key, value):
    return lambda d: get(d).__setitem__(key, value)


class Comma(float):
    def __str__(self):
        return "1,5"


SPACED = calling(lambda me: None, "a b")  # a number whose text is no literal
NOT_BLOCK = "`top` is a literal, not a block"
NOT_VALUE = "value must be a str, bool, number, list or dict"
NOT_ELEMENT = "list elements must be str, bool, number, (key, value) or list"
KEY_TOKEN = '"a b" is not a valid Quarel key'
NAME_TOKEN = '"a b" is not a valid Quarel block name'
LITERAL_TOKEN = '"a b" is not a valid Quarel literal'
SQL_IS_EXPR = "`sql` is an expression key; its value must be an expr"
HAS_SEMIS = "an expression cannot contain `;;`"
IS_BLOCK = "`dimension` is a block; edit its children or use set_value()"
BLOCK_KIND = "block values are created with add(key, name=...)"
EOL_BREAK = "an end-of-line comment cannot hold a line break"


def add(*args, **kw):
    return lambda d: d.add(*args, **kw)


# (edit, exception type, exact message)
ERRORS = {
    # keys, names and kinds
    "add: key token": (add("a b", "1"), ValueError, KEY_TOKEN),
    "add: empty key": (add("", "1"), ValueError, '"" is not a valid Quarel key'),
    "add: name token": (add("x", name="a b"), ValueError, NAME_TOKEN),
    "add: name with value": (add("x", "1", name="y"), ValueError, "name can only be given for a block value"),
    "add: kind without value": (add("x", kind="string"), ValueError, "a string value needs a value"),
    "add: unknown kind": (add("x", "1", kind="foo"), ValueError, 'unknown kind "foo"; expected literal, string, expr, list or block'),
    "add: unknown kind, escaped": (add("x", "1", kind='a"\\\n\r\t\0\x01'), ValueError,
                                   r'unknown kind "a\"\\\n\r\t\0\u{1}"; expected literal, string, expr, list or block'),
    "add: unknown kind, list value": (add("x", [1], kind="foo"), ValueError, 'unknown kind "foo"; expected literal, string, expr, list or block'),
    "add: unknown kind without value": (add("x", kind="nope"), ValueError, 'unknown kind "nope"; expected literal, string, expr, list or block'),
    "add: block kind": (add("x", "1", kind="block"), ValueError, BLOCK_KIND),
    "add: expr key as block": (add("sql"), ValueError, SQL_IS_EXPR),
    "add: expr for other key": (add("type", "x", kind="expr"), ValueError,
                                "`type` is not an expression key; only expression keys hold expr values"),
    "add: index below -n": (add("x", "1", index=-3), IndexError, "index out of range"),
    "add: index in block": (lambda d: view(d).add("x", "1", index=-4), IndexError, "index out of range"),
    # the order of the checks
    "add: not a block": (lambda d: top(d).add("x", "1"), TypeError, NOT_BLOCK),
    "add: key checked before block": (lambda d: top(d).add("a b", "1"), ValueError, KEY_TOKEN),
    "add: kind checked before block": (lambda d: top(d).add("x", kind="list"), ValueError, "a list value needs a value"),
    "add: value checked before block": (lambda d: top(d).add("x", object()), TypeError, NOT_VALUE),
    "add: block checked before index": (lambda d: top(d).add("x", "1", index=-9), TypeError, NOT_BLOCK),
    # values
    "add: literal with a space": (add("t", "a b", kind="literal"), ValueError, LITERAL_TOKEN),
    "add: empty literal": (add("t", "", kind="literal"), ValueError, '"" is not a valid Quarel literal'),
    "add: number whose text is no literal": (add("t", Comma(1)), ValueError, '"1,5" is not a valid Quarel literal'),
    "add: number in a list pair": (add("t", [("k", SPACED)]), ValueError, LITERAL_TOKEN),
    "add: expression with ;;": (add("sql", "a;;b"), ValueError, HAS_SEMIS),
    "add: text as a list": (add("t", "x", kind="list"), TypeError, "a list value must be a list, tuple or dict"),
    "add: list as a string": (add("t", [1], kind="string"), TypeError, NOT_VALUE),
    "add: set": (add("t", {1, 2}), TypeError, NOT_VALUE),
    "add: triple in a list": (add("t", [(1, 2, 3)]), ValueError, "list pairs must be (key, value) tuples"),
    "add: dict in a list": (add("t", [{"a": 1}]), TypeError, NOT_ELEMENT),
    "add: None in a list": (add("t", [None]), TypeError, NOT_ELEMENT),
    "add: list pair key token": (add("t", [("a b", "x")]), ValueError, KEY_TOKEN),
    "add: empty dict key": (add("t", {"": "x"}), ValueError, '"" is not a valid Quarel key'),
    # add_source
    "add_source: syntax, re-indented position": (lambda d: view(d).add_source("x: 1\ny"), QuarelSyntaxError,
                                                 "expected `:` after key at line 2, column 4"),
    "add_source: unclosed block": (lambda d: d.add_source("x: {"), QuarelSyntaxError,
                                   "expected `}` or a `key:` pair at line 1, column 5"),
    "add_source: index before parse": (lambda d: d.add_source("x", index=-3), IndexError, "index out of range"),
    "add_source: not a block": (lambda d: top(d).add_source("x: 1"), TypeError, NOT_BLOCK),
    # remove and del
    "remove: target type": (lambda d: d.remove(3), TypeError, "remove() takes a Pair or a key"),
    "remove: target type on literal": (lambda d: top(d).remove(3), TypeError, "remove() takes a Pair or a key"),
    "remove: not a block": (lambda d: top(d).remove("x"), TypeError, NOT_BLOCK),
    "del: missing": (lambda d: d.__delitem__("missing"), KeyError, "'missing'"),
    "del: not a block": (lambda d: top(d).__delitem__("x"), TypeError, NOT_BLOCK),
    # item assignment
    "item: None": (item(root, "new", None), TypeError, NOT_VALUE),
    "item: new key token": (item(root, "a b", "1"), ValueError, KEY_TOKEN),
    "item: new number whose text is no literal": (item(root, "x", SPACED), ValueError, LITERAL_TOKEN),
    "item: block child": (item(view, "dimension", "x"), TypeError, IS_BLOCK),
    "item: kind kept": (item(view, "label", [1]), TypeError, '`label` holds a string; use set_value(value, kind="list") to change it'),
    "item: new expr key": (item(root, "sql", ["x"]), ValueError, SQL_IS_EXPR),
    "item: not a block": (item(top, "x", "1"), TypeError, NOT_BLOCK),
    # key and name
    "key: token": (setter(top, "key", "a b"), ValueError, KEY_TOKEN),
    "key: to expression key": (setter(top, "key", "sql"), ValueError,
                               "cannot rename `top` to `sql`: expression keys and other keys hold different kinds of value"),
    "key: from expression key": (setter(sql, "key", "type"), ValueError,
                                 "cannot rename `sql` to `type`: expression keys and other keys hold different kinds of value"),
    "name: token": (setter(view, "name", "a b"), ValueError, NAME_TOKEN),
    "name: empty": (setter(view, "name", ""), ValueError, '"" is not a valid Quarel block name'),
    "name: token before kind": (setter(top, "name", "a b"), ValueError, NAME_TOKEN),
    "name: not a block": (setter(top, "name", "x"), TypeError, NOT_BLOCK),
    "name: remove on literal": (setter(top, "name", None), TypeError, NOT_BLOCK),
    # value and set_value
    "value: block": (setter(dimension, "value", "x"), TypeError, IS_BLOCK),
    "value: list for literal": (setter(top, "value", [1]), TypeError, '`top` holds a literal; use set_value(value, kind="list") to change it'),
    "value: list for expression": (setter(sql, "value", ["b"]), TypeError, '`sql` holds a expr; use set_value(value, kind="list") to change it'),
    "value: tuple for literal": (setter(top, "value", (1,)), TypeError, NOT_VALUE),
    "value: text for list": (setter(filters, "value", "x"), TypeError, "a list value must be a list, tuple or dict"),
    "value: number whose text is no literal": (setter(top, "value", SPACED), ValueError, LITERAL_TOKEN),
    "value: list element whose text is no literal": (setter(filters, "value", [SPACED]), ValueError, LITERAL_TOKEN),
    "value: expression with ;;": (setter(sql, "value", "a;;b"), ValueError, HAS_SEMIS),
    "end_comment: line break": (setter(label, "end_comment", "a\nb"), ValueError, EOL_BREAK),
    "end_comment: carriage return": (setter(label, "end_comment", "a\rb"), ValueError, EOL_BREAK),
    "end_comment: not text": (setter(label, "end_comment", 3), TypeError, "end_comment() argument 'end_comment' must be str, not int"),
    "set_value: block kind": (lambda d: dimension(d).set_value("x", kind="block"), ValueError, BLOCK_KIND),
    "set_value: None": (lambda d: top(d).set_value(None), TypeError, NOT_VALUE),
    "set_value: literal kind for a number": (lambda d: label(d).set_value(SPACED, kind="literal"), ValueError, LITERAL_TOKEN),
    "set_value: string for expression key": (lambda d: sql(d).set_value("x", kind="string"), ValueError, SQL_IS_EXPR),
    "set_value: list for expression key": (lambda d: sql(d).set_value(["x"]), ValueError, SQL_IS_EXPR),
    "set_value: expr for other key": (lambda d: top(d).set_value("x", kind="expr"), ValueError,
                                      "`top` is not an expression key; only expression keys hold expr values"),
}


@pytest.mark.parametrize("edit, error, message", ERRORS.values(), ids=ERRORS.keys())
def test_refused_edit_changes_nothing(edit, error, message):
    doc = parse_quarel(DOC)
    with pytest.raises(error) as e:
        edit(doc)
    assert type(e.value) is error
    assert str(e.value) == message
    assert doc.to_string() == DOC


@pytest.mark.parametrize("attr", ["key", "name", "value", "comments"])
def test_pair_attributes_cannot_be_deleted(attr):
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        delattr(view(parse_quarel(DOC)), attr)


def test_removals_that_find_nothing_change_nothing():
    doc = parse_quarel(DOC)
    assert doc.remove("missing") is False
    assert doc.remove(parse_quarel(DOC).find("top")) is False  # another document's pair
    assert doc.remove(dimension(doc).find("type")) is False  # not a direct child
    assert doc.remove("view", "nobody") is False
    assert doc.to_string() == DOC
    gone = top(doc)
    assert gone.detach() is True
    assert (gone.detach(), doc.remove(gone)) == (False, False)
    inner = sql(doc)
    view(doc).find("measure").set_value("gone")
    text = doc.to_string()
    assert inner.detach() is False  # its block is no more
    assert doc.to_string() == text


# -- depth -----------------------------------------------------------------

TOO_DEEP = "nesting deeper than 256 levels"


def nested(levels, inner="x"):
    for _ in range(levels):
        inner = [inner]
    return inner


def deepest_block(levels):
    doc = parse_quarel("a: {" * levels + "}" * levels)
    return doc, doc.walk()[-1]


def child(container, value):
    """The child `k`, added with value the first time."""
    found = container.find("k")
    return container.add("k", value) if found is None else found


# Each edit is accepted at `fits` levels and refused one level deeper: a new
# list or snippet counts from the depth of the pair that receives it, and
# list pairs count as the parser counts them.
DEPTHS = {
    "block in the deepest block": (256, lambda p, n: p.add("k", *[] if n else ["1"]), 0),
    "list in a deep block": (250, lambda p, n: p.add("k", nested(n)), 6),
    "list assigned in a deep block": (250, lambda p, n: setattr(child(p, ["x"]), "value", nested(n)), 6),
    "list set in a deep block": (250, lambda p, n: child(p, "x").set_value(nested(n)), 6),
    "list pair under lists": (0, lambda d, n: d.add("k", nested(n - 1, [("a", "b")])), 255),
    "lists under a dict entry": (0, lambda d, n: d.add("k", {"a": nested(n)}), 254),
    "lists under a list pair": (0, lambda d, n: d.add("k", [("a", nested(n))]), 254),
    "snippet in a deep block": (200, lambda p, n: p.add_source("x: " + "{ y: " * n + "1" + " }" * n), 56),
    "snippet with a list in the deepest block": (256, lambda p, n: p.add_source("z: " + "[" * n + "x" + "]" * n), 0),
}


@pytest.mark.parametrize("levels, edit, fits", DEPTHS.values(), ids=DEPTHS.keys())
def test_no_edit_nests_deeper_than_the_parser_reads(levels, edit, fits):
    doc, target = deepest_block(levels) if levels else (parse_quarel(""),) * 2
    edit(target, fits)
    before = doc.to_string()
    parse_quarel(before)
    with pytest.raises(ValueError) as e:
        edit(target, fits + 1)
    assert str(e.value).startswith(TOO_DEEP)
    assert doc.to_string() == before


@pytest.mark.parametrize("value", [nested(257), nested(100_000)], ids=["257", "100000"])
def test_deep_python_lists_are_refused(value):
    doc = parse_quarel("a: 1\n")
    with pytest.raises(ValueError, match=TOO_DEEP):
        doc.find("a").set_value(value)
    looped = []
    looped.append(looped)
    with pytest.raises(ValueError, match=TOO_DEEP):
        doc["b"] = looped
    assert doc.to_string() == "a: 1\n"
