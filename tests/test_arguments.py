"""Arguments of the wrong type are refused with the right exception, and
subclasses of the right types are taken for what they hold."""

import pytest

from conftest import SOURCE, assert_consistent
from tallix_cst import Document, parse_quarel, recovered_text, syntax_errors


class Str(str):
    def __str__(self):
        return "not this"


class Int(int):
    pass


class List(list):
    pass


class Dict(dict):
    def items(self):
        raise AssertionError("the dict's own entries are read")


class Exploding(list):
    def __iter__(self):
        yield "fine"
        raise ZeroDivisionError("from __iter__")


class RaisingPlaces:
    @property
    def places(self):
        raise ZeroDivisionError("from places")


class Nonsense:
    class places:
        @staticmethod
        def describe(number):
            return ("object",), {"a": "not a place"}, -1, (), -1


# Every place a str goes in, with a text that the call takes.
STR_PLACES = {
    "parse": (lambda d, s: parse_quarel(s), "a: 1"), "parse by keyword": (lambda d, s: parse_quarel(source=s), "a: 1"),
    "syntax_errors": (lambda d, s: syntax_errors(s), "a:"), "syntax_errors by keyword": (lambda d, s: syntax_errors(text=s), "a:"),
    "recovered_text": (lambda d, s: recovered_text(s), "a:"), "recovered_text by keyword": (lambda d, s: recovered_text(text=s), "a:"),
    "key": (lambda d, s: d.add(s, "1"), "k"), "value": (lambda d, s: d.add("k", s), "v"),
    "name": (lambda d, s: d.add("k", name=s), "n"), "kind": (lambda d, s: d.add("k", "1", kind=s), "string"),
    "list element": (lambda d, s: d.add("k", ["a", s]), "b"),
    "list pair key": (lambda d, s: d.add("k", [(s, "a")]), "b"), "dict key": (lambda d, s: d.add("k", {s: "a"}), "b"),
    "snippet": (lambda d, s: d.find("v").add_source(s), "k: 1"),
    "set_value": (lambda d, s: d.find("a").set_value(s), "v"),
    "value =": (lambda d, s: setattr(d.find("a"), "value", s), "v"), "item": (lambda d, s: d.__setitem__("a", s), "v"),
    "item key": (lambda d, s: d.__setitem__(s, "1"), "k"), "rename": (lambda d, s: setattr(d.find("a"), "key", s), "k"),
    "block name": (lambda d, s: setattr(d.find("v"), "name", s), "n"),
    "comment line": (lambda d, s: setattr(d.find("a"), "comments", ["ok", s]), "c"),
    "find": (lambda d, s: d.find(s), "a"), "find name": (lambda d, s: d.find_all("v", s), "users"),
    "get": (lambda d, s: d.get(s), "a"), "read item": (lambda d, s: d[s], "a"), "in": (lambda d, s: s in d, "a"),
    "remove": (lambda d, s: d.remove(s), "a"), "remove by name": (lambda d, s: d.remove("v", s), "users"),
    "del": (lambda d, s: d.__delitem__(s), "a"),
}
STR_FORMS = {"bytes": (str.encode, TypeError), "lone surrogate": (lambda s: s + "\udc80", UnicodeEncodeError), "str subclass": (Str, ...)}

# (call, what the edited pair reads back, ... for "works", or an exception type)
ARGUMENTS = {
    f"{place}: {form}": (lambda d, call=call, text=text, make=make: call(d, make(text)), expected)
    for place, (call, text) in STR_PLACES.items()
    for form, (make, expected) in STR_FORMS.items()
}
# The parse functions take the bytes of a file as well (test_files.py).
for place in ("parse", "parse by keyword", "syntax_errors", "syntax_errors by keyword", "recovered_text", "recovered_text by keyword"):
    ARGUMENTS[f"{place}: bytes"] = (ARGUMENTS[f"{place}: bytes"][0], ...)
ARGUMENTS.update({
    "parse None": (lambda d: parse_quarel(None), TypeError),
    "parse no argument": (lambda d: Document.parse(), TypeError),
    "parse two arguments": (lambda d: parse_quarel("a: b", "c: d"), TypeError),
    "parse unknown keyword": (lambda d: parse_quarel(text="a: b"), TypeError),
    "parse source twice": (lambda d: parse_quarel("a: b", source="a: b"), TypeError),
    "syntax_errors None": (lambda d: syntax_errors(None), TypeError),
    "syntax_errors bytes not UTF-8": (lambda d: syntax_errors(b"a: \xff"), UnicodeDecodeError),
    "recovered_text None": (lambda d: recovered_text(None), TypeError),
    "key_counts repeated int": (lambda d: d.key_counts(repeated=1), TypeError),
    "key_counts repeated by position": (lambda d: d.key_counts(True), TypeError),
    "key int": (lambda d: d.add(1, "x"), TypeError), "value None is a block": (lambda d: d.add("k", None), None),
    "value bool": (lambda d: d.add("k", True), "yes"), "value int subclass": (lambda d: d.add("k", Int(7)), "7"),
    "value list subclass": (lambda d: d.add("k", List([1, Str("s")])), ["1", "s"]),
    "value dict subclass": (lambda d: d.add("k", Dict(a=Int(1))), [("a", "1")]),
    "value whose iteration raises": (lambda d: d.add("k", Exploding()), ZeroDivisionError),
    "list pair value None": (lambda d: d.add("k", [("k", None)]), TypeError),
    "list pair key int": (lambda d: d.add("k", [(1, "x")]), TypeError),
    "list pair value a pair": (lambda d: d.add("k", [("k", ("a", "b"))]), TypeError),
    "name int": (lambda d: d.add("k", name=3), TypeError), "kind int": (lambda d: d.add("k", "1", kind=1), TypeError),
    "set_value kind int": (lambda d: d.find("a").set_value("x", kind=1), TypeError),
    "index float": (lambda d: d.add("k", "1", index=1.0), TypeError),
    "index overflow": (lambda d: d.add("k", "1", index=2**63), OverflowError),
    "index int subclass": (lambda d: d.add("k", "1", index=Int(0)), "1"),
    "snippet index str": (lambda d: d.add_source("k: 1", index="0"), TypeError),
    "comments a str": (lambda d: setattr(d.find("a"), "comments", "# x"), TypeError),
    "comments None": (lambda d: setattr(d.find("a"), "comments", None), TypeError),
    "comment line int": (lambda d: setattr(d.find("a"), "comments", [1]), TypeError),
    "rename int": (lambda d: setattr(d.find("a"), "key", 1), TypeError),
    "block name int": (lambda d: setattr(d.find("v"), "name", 3), TypeError),
    "block name None on a literal": (lambda d: setattr(d.find("a"), "name", None), TypeError),
    "remove None": (lambda d: d.remove(None), TypeError), "find int": (lambda d: d.find(1), TypeError),
    "find name int": (lambda d: d.find("a", 2), TypeError), "find_all None": (lambda d: d.find_all(None), TypeError),
    "read item int": (lambda d: d[0], TypeError), "in int": (lambda d: 1 in d, TypeError),
    "del int": (lambda d: d.__delitem__(1), TypeError), "item key int": (lambda d: d.__setitem__(1, "1"), TypeError),
    "include_leading int": (lambda d: d.find("a").to_string(include_leading=1), TypeError),
    "include_leading by position": (lambda d: d.find("a").to_string(1), TypeError),
    **{f"symbols_json {case}": (lambda d, args=args: d.symbols_json(*args), error) for case, args, error in [
        ("text str", ("a", "utf-8", [], (1,) * 6), TypeError),
        ("encoding unknown", (b"", "latin-1", [], (1,) * 6), ValueError),
        ("encoding bytes", (b"", b"utf-8", [], (1,) * 6), TypeError),
        ("move backwards", (b"", "utf-8", [(2, 1, 0)], (1,) * 6), ValueError),
        ("move of two", (b"", "utf-8", [(0, 1)], (1,) * 6), TypeError),
        ("moves not iterable", (b"", "utf-8", 3, (1,) * 6), TypeError),
        ("five kinds", (b"", "utf-8", [], (1,) * 5), TypeError),
        ("negative kind", (b"", "utf-8", [], (-1,) * 6), ValueError),
    ]},
    **{f"{name} limit {case}": (lambda d, call=call, limit=limit: call(d, limit), error)
       for name, call in [("symbols_json", lambda d, limit: d.symbols_json(b"", "utf-8", [], (1,) * 6, limit=limit)),
                          ("folding_ranges_json", lambda d, limit: d.folding_ranges_json(b"", [], limit=limit))]
       for case, limit, error in [("negative", -1, ValueError), ("float", 1.0, TypeError), ("bool", True, TypeError),
                                  ("overflow", 2**64, OverflowError)]},
    **{f"semantic_tokens_json {case}": (lambda d, args=args: d.semantic_tokens_json(*args), error) for case, args, error in [
        ("text bytearray", (bytearray(), "utf-8", []), TypeError),
        ("encoding unknown", (b"", "utf-7", []), ValueError),
        ("move negative", (b"", "utf-8", [(-1, 0, 0)]), ValueError),
        ("within of one", (b"", "utf-8", [], (1,)), TypeError),
        ("within negative", (b"", "utf-8", [], (-1, 2)), ValueError),
    ]},
    "pairs_at str": (lambda d: d.pairs_at("1"), TypeError), "token_at bool": (lambda d: d.token_at(True), TypeError),
    "pairs_at past any text": (lambda d: d.pairs_at(2**70), ...), "token_at negative": (lambda d: d.token_at(-1), ...),
    "folding_ranges_json text str": (lambda d: d.folding_ranges_json("", []), TypeError),
    "folding_ranges_json moves None": (lambda d: d.folding_ranges_json(b"", None), TypeError),
    "unwrap schema a dict": (lambda d: d.unwrap({}), TypeError),
    "unwrap schema whose places raise": (lambda d: d.find("v").unwrap(RaisingPlaces()), ZeroDivisionError),
    "unwrap places that describe nonsense": (lambda d: d.unwrap(Nonsense()), TypeError),
    "validate without problems()": (lambda d: d.validate(object()), TypeError),
    "path_at str": (lambda d: d.path_at("0"), TypeError), "path_at past any text": (lambda d: d.path_at(2**70), ...),
    "_locate path of floats": (lambda d: d._locate([1.0]), TypeError),
    "_locate negative index": (lambda d: d._locate(["l", -1]), ValueError),
})


@pytest.mark.parametrize("call, expected", ARGUMENTS.values(), ids=ARGUMENTS.keys())
def test_argument_types(call, expected):
    doc = parse_quarel(SOURCE)
    if isinstance(expected, type):
        with pytest.raises(expected):
            call(doc)
        assert doc.to_string() == SOURCE
        return
    result = call(doc)
    if expected is not ...:
        assert result.value == expected
    assert "not this" not in assert_consistent(doc)


# The formatter's options are refused in the words of the method they were given to.
@pytest.mark.parametrize("method, args", [("format", ()), ("format_edits_json", ("utf-8",))])
@pytest.mark.parametrize("option, value, error", [
    ("indent", 4, TypeError), ("max_blank_lines", -1, ValueError), ("final_newline", 1, TypeError),
    ("lines", (2, 1), ValueError), ("lines", [1, 2], TypeError),
])
def test_format_options_are_refused_in_the_methods_name(method, args, option, value, error):
    doc = parse_quarel(SOURCE)
    with pytest.raises(error, match=f"^{method}\\(\\) argument '{option}' "):
        getattr(doc, method)(*args, **{option: value})
    assert doc.to_string() == SOURCE
