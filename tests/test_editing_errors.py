"""Refused edits: the right error, and not a byte of the document changed.

Also callbacks that re-enter the document while a value is converted, and
edits that would nest deeper than the parser reads.
"""

import faulthandler

import pytest

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


def view(d):
    return d.find("view")


def top(d):
    return d.find("top")


def dimension(d):
    return view(d).find("dimension")


def sql(d):
    return view(d).find("measure").find("sql")


def setter(get, attr, value):
    return lambda d: setattr(get(d), attr, value)


def deleter(get, attr):
    return lambda d: delattr(get(d), attr)


def item(get, key, value):
    return lambda d: get(d).__setitem__(key, value)


def delete(get, key):
    return lambda d: get(d).__delitem__(key)


NOT_BLOCK = "`top` is a literal, not a block"
NO_DELETER = "property has no deleter"

# (edit, exception type, exact message or None for the binding's own wording)
ERRORS = {
    # add
    "add: key type": (lambda d: d.add(1, "x"), TypeError, "add() argument 'key' must be str, not int"),
    "add: key token": (lambda d: d.add("a b", "1"), ValueError, '"a b" is not a valid Quarel key'),
    "add: empty key": (lambda d: d.add("", "1"), ValueError, '"" is not a valid Quarel key'),
    "add: name with value": (lambda d: d.add("x", "1", name="y"), ValueError, "name can only be given for a block value"),
    "add: kind without value": (lambda d: d.add("x", kind="string"), ValueError, "a string value needs a value"),
    "add: unknown kind without value": (
        lambda d: d.add("x", kind="nope"), ValueError, 'unknown kind "nope"; expected literal, string, expr, list or block',
    ),
    "add: name token": (lambda d: d.add("x", name="a b"), ValueError, '"a b" is not a valid Quarel block name'),
    "add: name type": (lambda d: d.add("x", name=3), TypeError, None),
    "add: kind type": (lambda d: d.add("x", "1", kind=1), TypeError, None),
    "add: index type": (lambda d: d.add("x", "1", index="0"), TypeError, None),
    "add: index below -n": (lambda d: d.add("x", "1", index=-3), IndexError, "index out of range"),
    "add: index overflow": (lambda d: d.add("x", "1", index=2**63), OverflowError, None),
    "add: index in block": (lambda d: view(d).add("x", "1", index=-4), IndexError, "index out of range"),
    "add: expr key as block": (lambda d: d.add("sql"), ValueError, "`sql` is an expression key; its value must be an expr"),
    "add: expr key as named block": (
        lambda d: d.add("sql_x", name="y"), ValueError, "`sql_x` is an expression key; its value must be an expr",
    ),
    "add: expr for other key": (
        lambda d: d.add("type", "x", kind="expr"), ValueError,
        "`type` is not an expression key; only expression keys hold expr values",
    ),
    "add: not a block": (lambda d: top(d).add("x", "1"), TypeError, NOT_BLOCK),
    "add: key checked before block": (lambda d: top(d).add("a b", "1"), ValueError, '"a b" is not a valid Quarel key'),
    "add: kind checked before block": (lambda d: top(d).add("x", kind="list"), ValueError, "a list value needs a value"),
    "add: value checked before block": (
        lambda d: top(d).add("x", object()), TypeError, "value must be a str, bool, number, list or dict",
    ),
    "add: block checked before index": (lambda d: top(d).add("x", "1", index=-9), TypeError, NOT_BLOCK),
    # add_source
    "add_source: syntax, re-indented position": (
        lambda d: view(d).add_source("x: 1\ny"), QuarelSyntaxError, "expected `:` after key at line 2, column 4",
    ),
    "add_source: unclosed block": (lambda d: d.add_source("x: {"), QuarelSyntaxError, "expected `}` or a `key:` pair at line 1, column 5"),
    "add_source: index": (lambda d: d.add_source("x: 1", index=-3), IndexError, "index out of range"),
    "add_source: index before parse": (lambda d: d.add_source("x", index=-3), IndexError, "index out of range"),
    "add_source: type": (lambda d: d.add_source(1), TypeError, None),
    "add_source: not a block": (lambda d: top(d).add_source("x: 1"), TypeError, NOT_BLOCK),
    # remove and del
    "remove: target type": (lambda d: d.remove(3), TypeError, "remove() takes a Pair or a key"),
    "remove: target type on literal": (lambda d: top(d).remove(3), TypeError, "remove() takes a Pair or a key"),
    "remove: not a block": (lambda d: top(d).remove("x"), TypeError, NOT_BLOCK),
    "del: missing": (delete(lambda d: d, "missing"), KeyError, "'missing'"),
    "del: key type": (delete(lambda d: d, 1), TypeError, None),
    "del: not a block": (delete(top, "x"), TypeError, NOT_BLOCK),
    # item assignment
    "item: None": (item(lambda d: d, "new", None), TypeError, "value must be a str, bool, number, list or dict"),
    "item: new key token": (item(lambda d: d, "a b", "1"), ValueError, '"a b" is not a valid Quarel key'),
    "item: key type": (item(lambda d: d, 1, "1"), TypeError, None),
    "item: block child": (item(lambda d: d, "view", "x"), TypeError, "`view` is a block; edit its children or use set_value()"),
    "item: kind kept": (
        item(view, "label", [1]), TypeError, '`label` holds a string; use set_value(value, kind="list") to change it',
    ),
    "item: new expr key": (item(lambda d: d, "sql", ["x"]), ValueError, "`sql` is an expression key; its value must be an expr"),
    "item: not a block": (item(top, "x", "1"), TypeError, NOT_BLOCK),
    # key
    "key: type": (setter(top, "key", 1), TypeError, None),
    "key: token": (setter(top, "key", "a b"), ValueError, '"a b" is not a valid Quarel key'),
    "key: to expression key": (
        setter(top, "key", "sql"), ValueError,
        "cannot rename `top` to `sql`: expression keys and other keys hold different kinds of value",
    ),
    "key: from expression key": (
        setter(sql, "key", "type"), ValueError,
        "cannot rename `sql` to `type`: expression keys and other keys hold different kinds of value",
    ),
    "key: delete": (deleter(top, "key"), AttributeError, NO_DELETER),
    # name
    "name: type": (setter(view, "name", 3), TypeError, None),
    "name: token": (setter(view, "name", "a b"), ValueError, '"a b" is not a valid Quarel block name'),
    "name: empty": (setter(view, "name", ""), ValueError, '"" is not a valid Quarel block name'),
    "name: token before kind": (setter(top, "name", "a b"), ValueError, '"a b" is not a valid Quarel block name'),
    "name: not a block": (setter(top, "name", "x"), TypeError, NOT_BLOCK),
    "name: remove on literal": (setter(top, "name", None), TypeError, NOT_BLOCK),
    "name: delete": (deleter(view, "name"), AttributeError, NO_DELETER),
    # value and set_value
    "value: block": (setter(dimension, "value", "x"), TypeError, "`dimension` is a block; edit its children or use set_value()"),
    "value: list for literal": (
        setter(top, "value", [1]), TypeError, '`top` holds a literal; use set_value(value, kind="list") to change it',
    ),
    "value: expression with ;;": (setter(sql, "value", "a;;b"), ValueError, "an expression cannot contain `;;`"),
    "value: delete": (deleter(top, "value"), AttributeError, NO_DELETER),
    "set_value: kind type": (lambda d: top(d).set_value("x", kind=1), TypeError, None),
    "set_value: block kind": (
        lambda d: dimension(d).set_value("x", kind="block"), ValueError, "block values are created with add(key, name=...)",
    ),
    "set_value: string for expression key": (
        lambda d: sql(d).set_value("x", kind="string"), ValueError, "`sql` is an expression key; its value must be an expr",
    ),
    "set_value: list for expression key": (
        lambda d: sql(d).set_value(["x"]), ValueError, "`sql` is an expression key; its value must be an expr",
    ),
    "set_value: expr for other key": (
        lambda d: top(d).set_value("x", kind="expr"), ValueError,
        "`top` is not an expression key; only expression keys hold expr values",
    ),
    # comments
    "comments: a str": (setter(top, "comments", "abc"), TypeError, None),
    "comments: not str lines": (setter(top, "comments", [1]), TypeError, None),
    "comments: not a sequence": (setter(top, "comments", 5), TypeError, None),
    "comments: delete": (deleter(top, "comments"), AttributeError, NO_DELETER),
}


@pytest.mark.parametrize("edit, error, message", ERRORS.values(), ids=ERRORS.keys())
@pytest.mark.parametrize("newline", ["\n", "\r\n"])
def test_refused_edit_changes_nothing(edit, error, message, newline):
    source = DOC.replace("\n", newline)
    doc = parse_quarel(source)
    with pytest.raises(error) as e:
        edit(doc)
    assert type(e.value) is error
    if message is not None:
        assert str(e.value) == message
    assert doc.to_string() == source


def test_dictionary_changing_size_is_refused():
    doc = parse_quarel("l: [a]\n")
    entries = {"a": 1}

    class Grow(int):
        def __str__(self):
            entries["b%d" % len(entries)] = 2
            return "1"

    entries["a"] = Grow(1)
    with pytest.raises(Exception):
        doc["l"] = entries
    assert doc.to_string() == "l: [a]\n"


# -- callbacks that re-enter ---------------------------------------------

SOURCE = "a: 1\nb: 2\nv: {\n  c: 3\n}\n"

CALLBACKS = {
    "changes the kind": lambda d: d.find("a").set_value([1]),
    "quotes the value": lambda d: d.find("a").set_value("x y"),
    "renames": lambda d: setattr(d.find("a"), "key", "z"),
    "removes": lambda d: d.remove("a"),
    "assigns": lambda d: d.__setitem__("a", 7),
    "adds": lambda d: d.add("q", "1"),
    "comments": lambda d: setattr(d.find("a"), "comments", ["hi"]),
    "reads": lambda d: d.to_string() and d.walk(),
    "replaces the block": lambda d: d.find("v").set_value("x"),
    "adds to the block": lambda d: d.find("v").add("q", "1"),
}

EDITS = {
    "value =": lambda d, n: setattr(d.find("a"), "value", n),
    "set_value": lambda d, n: d.find("a").set_value(n),
    "item": lambda d, n: d.__setitem__("a", n),
    "new item": lambda d, n: d.__setitem__("new", n),
    "add": lambda d, n: d.add("new", n),
    "list element": lambda d, n: d.find("a").set_value([n]),
    "block item": lambda d, n: d.find("v").__setitem__("c", n),
    "block add": lambda d, n: d.find("v").add("c", n),
}


def shape(pairs):
    return [(p.key, p.name, p.kind, shape(p.children) if p.kind == "block" else p.value) for p in pairs]


@pytest.fixture
def watchdog():
    """A lock waited on forever would hang the run: fail it loudly instead."""
    faulthandler.dump_traceback_later(60, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()


@pytest.mark.parametrize("callback", CALLBACKS.values(), ids=CALLBACKS.keys())
@pytest.mark.parametrize("edit", EDITS.values(), ids=EDITS.keys())
def test_reentrant_number_finishes_consistently(edit, callback, watchdog):
    doc = parse_quarel(SOURCE)

    class Meddling(int):
        def __str__(self):
            callback(doc)
            return "5"

    try:
        edit(doc, Meddling(1))
    except RuntimeError:
        pass
    except TypeError:
        # Only a container that the callback turned into a literal refuses.
        assert edit is EDITS["block add"] and callback is CALLBACKS["replaces the block"]
    text = doc.to_string()
    assert shape(parse_quarel(text).children) == shape(doc.children)


def test_kind_changed_meanwhile_stores_nothing():
    doc = parse_quarel("a: 1\n")

    class Meddling(int):
        def __str__(self):
            doc.find("a").set_value([1])
            return "5"

    with pytest.raises(RuntimeError):
        doc.find("a").value = Meddling(0)
    assert doc.to_string() == "a: [1]\n"


# -- depth -----------------------------------------------------------------

TOO_DEEP = "nesting deeper than 256 levels"


def nested(levels, inner="x"):
    for _ in range(levels):
        inner = [inner]
    return inner


def deepest_block(levels):
    doc = parse_quarel("a: {" * levels + "}" * levels)
    return doc, doc.walk()[-1]


def test_blocks_stop_at_the_parser_limit():
    doc = parse_quarel("")
    pair = doc
    with pytest.raises(ValueError, match=TOO_DEEP):
        for _ in range(300):
            pair = pair.add("a")
    assert len(doc.walk()) == 256
    before = doc.to_string()
    with pytest.raises(ValueError, match=TOO_DEEP):
        pair.add_source("b: {}")
    assert doc.to_string() == before
    parse_quarel(before)


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
    doc.find("a").set_value(nested(256))
    parse_quarel(doc.to_string())


def child(container, value):
    """The child `k`, added with value the first time."""
    found = container.find("k")
    return container.add("k", value) if found is None else found


def blocks(levels):
    return "x: " + "{ y: " * levels + "1" + " }" * levels


# Each edit is accepted at `fits` levels and refused one level deeper: a new
# list or snippet counts from the depth of the pair that receives it, and
# list pairs count as the parser counts them.
DEPTHS = {
    "list in a deep block": (250, lambda p, n: p.add("k", nested(n)), 6),
    "list assigned in a deep block": (250, lambda p, n: setattr(child(p, ["x"]), "value", nested(n)), 6),
    "list set in a deep block": (250, lambda p, n: child(p, "x").set_value(nested(n)), 6),
    "list pair under lists": (0, lambda d, n: d.add("k", nested(n - 1, [("a", "b")])), 255),
    "lists under a dict entry": (0, lambda d, n: d.add("k", {"a": nested(n)}), 254),
    "lists under a list pair": (0, lambda d, n: d.add("k", [("a", nested(n))]), 254),
    "snippet in a deep block": (200, lambda p, n: p.add_source(blocks(n)), 56),
}


@pytest.mark.parametrize("levels, edit, fits", DEPTHS.values(), ids=DEPTHS.keys())
def test_no_edit_nests_deeper_than_the_parser_reads(levels, edit, fits):
    if levels:
        doc, target = deepest_block(levels)
    else:
        doc = target = parse_quarel("")
    edit(target, fits)
    before = doc.to_string()
    parse_quarel(before)
    with pytest.raises(ValueError) as e:
        edit(target, fits + 1)
    assert str(e.value).startswith(TOO_DEEP)
    assert doc.to_string() == before


def test_flat_snippet_at_the_deepest_level():
    doc, deepest = deepest_block(256)
    deepest.add("x", "1")
    deepest.add_source("y: 1")
    assert [p.key for p in deepest.children] == ["x", "y"]
    with pytest.raises(ValueError, match=TOO_DEEP):
        deepest.add_source("z: []")
    parse_quarel(doc.to_string())


def test_removals_that_find_nothing_change_nothing():
    doc = parse_quarel(DOC)
    other = parse_quarel(DOC).find("top")
    deep = dimension(doc).find("type")
    assert doc.remove("missing") is False
    assert doc.remove(other) is False  # another document's pair
    assert doc.remove(deep) is False  # not a direct child
    assert doc.remove("view", "nobody") is False
    assert doc.to_string() == DOC
    gone = top(doc)
    assert gone.detach() is True
    text = doc.to_string()
    assert (gone.detach(), doc.remove(gone)) == (False, False)
    assert doc.to_string() == text
    inner = view(doc).find("measure").find("sql")
    view(doc).find("measure").set_value("gone")
    text = doc.to_string()
    assert inner.detach() is False  # its block is no more
    assert doc.to_string() == text
