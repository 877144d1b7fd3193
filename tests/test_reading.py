"""Reading documents and block pairs: lookups, values, the Pair view."""

import json
import re

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from strategies import UNICODE_WHITESPACE, documents
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
    assert (key in view) == bool(view.find_all(key))


@given(st.lists(st.text("ab_", min_size=1, max_size=10), min_size=1, max_size=8), st.text("ab_", min_size=1, max_size=10))
def test_lookup_compares_whole_keys(keys, wanted):
    # Short keys are compared as words holding the bytes that follow them in the source too.
    doc = parse_quarel("".join(f"{k}: {i}\n" for i, k in enumerate(keys)))
    first = doc.find(wanted)
    assert (first.value if first is not None else None) == (str(keys.index(wanted)) if wanted in keys else None)


# An expression loses the White_Space around it, whatever its length in UTF-8 (1 to 3
# bytes), and keeps the characters that only look like space.
@pytest.mark.parametrize("space", sorted(UNICODE_WHITESPACE))
def test_expressions_are_trimmed_of_unicode_space(space):
    for before, after in [(space, space), (" " + space, space * 2), ("", space + " ")]:
        assert parse_quarel(f"sql:{before}x{after};;\nb: 1")["sql"] == "x"


@pytest.mark.parametrize("source, value", [
    ("sql: x\u3000;;", "x"), ("sql:\u3000\u200bx\u3000\u200b;;", "\u200bx\u3000\u200b"),
    ("sql: \ufeffx\ufeff ;;", "\ufeffx\ufeff"), ("sql: \x1cx\x1f;;", "\x1cx\x1f"), ("sql: \u180ex\u2060;;", "\u180ex\u2060"),
    ("sql: a\u3000\u3000b\u00a0;;", "a\u3000\u3000b"), ("sql:\u2029\u3000;;", ""),
])
def test_expressions_keep_what_is_not_white_space(source, value):
    assert parse_quarel(source)["sql"] == value


# A parse keeps each key longer than 7 bytes once, in a table that grows (and stops growing
# at some thousands): every key reads back as written, and renaming one renames no other.
@settings(max_examples=25, deadline=None)
@example(prefix="", suffix="", distinct=9000, repeat=2)
@given(st.text("ab_é", max_size=9), st.text("ab_é", max_size=9), st.integers(65, 700), st.integers(1, 3))
def test_every_key_reads_back_as_written(prefix, suffix, distinct, repeat):
    keys = [f"{prefix}key{i % distinct:05d}{suffix}" for i in range(distinct * repeat)]
    doc = parse_quarel("".join(f"{key}: {i}\n" for i, key in enumerate(keys)))
    assert [pair.key for pair in doc] == keys
    assert doc.find(keys[-1]).value == str(distinct - 1)
    for pair in doc.children[::3]:
        pair.key += "x"
    renamed = [key + "x" if i % 3 == 0 else key for i, key in enumerate(keys)]
    assert [pair.key for pair in doc] == [pair.key for pair in parse_quarel(doc.to_string())] == renamed


def test_values_as_python_objects(view):
    measure = view.find("measure", "total")
    assert (view["label"], view.get("label"), view["dimension"]) == ('Users "all"', 'Users "all"', None)
    assert measure["sql"] == "amount * 2"
    assert measure["filters"] == [("status", "open"), "a b", ("t", ["x", "y"])]
    assert (measure["nested"], measure["empty"]) == ([("a", ("b", "c"))], [])
    sentinel = object()
    assert (view.get("missing"), view.get("missing", sentinel)) == (None, sentinel)
    with pytest.raises(KeyError) as e:
        view["missing"]
    assert e.value.args == ("missing",)


def test_pair_properties(view):
    dim = view.find("dimension", "id")
    assert (dim.key, dim.name, dim.kind, dim.value) == ("dimension", "id", "block", None)
    label = view.find("label")
    assert (label.kind, label.name, label.comments) == ("string", None, [])
    assert view.find("measure").find("sql").kind == "expr"
    # An end-of-line comment is stored in the next pair's leading text, but
    # belongs to the pair on whose line it stands.
    assert dim.comments == []
    assert view.comments == ["# Users."]
    assert len(view) == 5 and bool(view)
    assert [p.key for p in view] == [p.key for p in view.children]
    assert dim.to_string() == str(dim) == "dimension: id {\n    type: number\n  }"
    assert dim.to_string(include_leading=True) == "  # shown in menus\n  dimension: id {\n    type: number\n  }"
    for read_only in ("kind", "parent"):
        with pytest.raises(AttributeError):
            setattr(label, read_only, "x")


@pytest.mark.parametrize(
    "operation",
    [len, bool, iter, lambda p: p.children, lambda p: p.find("x"), lambda p: p.find_all("x"), lambda p: p.get("x"),
     lambda p: p["x"], lambda p: "x" in p, lambda p: p.walk()],
)
@pytest.mark.parametrize("source, kind", [("type: number", "literal"), ("l: [1]", "list")])
def test_pair_that_is_not_a_block(operation, source, kind):
    pair = parse_quarel(source).children[0]
    with pytest.raises(TypeError, match=f"^`{pair.key}` is a {kind}, not a block$"):
        operation(pair)


# walk()'s order: test_outline pins the outline's, test_outline_agrees_with_the_pairs walk()'s.
def test_walk_gives_parents(doc):
    pairs = doc.walk()
    assert [p.key for p in pairs[:4]] == ["view", "label", "dimension", "type"]
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
    for refused in (lambda: a < a, lambda: hash(a), lambda: Pair(), lambda: Document("a: b")):
        with pytest.raises(TypeError):
            refused()
    # Documents compare and hash by identity, even when another object reaches the same one.
    other = doc.find("view").parent
    assert other is not doc and other != doc and other.to_string() == doc.to_string()
    assert doc == doc and hash(doc) == object.__hash__(doc) and len({doc, other, doc}) == 2


# Named blocks and literals: test_matching_rule. Lengths count characters, not bytes.
@pytest.mark.parametrize("source, expected", [
    ("k: " + "x" * 60, "<Pair k: " + "x" * 60 + ">"), ("k: " + "é" * 61, "<Pair k: " + "é" * 60 + "...>"),
    ("sql: amount * 2 ;;", "<Pair sql: amount * 2 ;;>"), ("v: {}", "<Pair v: {...}>"), ("l: [ a,\n b ]", "<Pair l: [ a,\n b ]>"),
])
def test_repr(source, expected):
    assert repr(parse_quarel(source).children[0]) == expected



P = "punctuation"
# (source, [(kind, the token's text)]), in text order.
TOKENS = {
    "block, comment, expression": ("view: users { # c\n  sql: a * 2 ;;\n}\n", [
        ("key", "view"), (P, ":"), ("name", "users"), (P, "{"), ("comment", "# c"),
        ("key", "sql"), (P, ":"), ("expr", "a * 2"), (P, ";;"), (P, "}")]),
    "list": ('x: [a, k: "s" ,[b]] # end', [
        ("key", "x"), (P, ":"), (P, "["), ("literal", "a"), (P, ","), ("key", "k"), (P, ":"),
        ("string", '"s"'), (P, ","), (P, "["), ("literal", "b"), (P, "]"), (P, "]"), ("comment", "# end")]),
    "multi-line string and expression": ('a: "l1\nl2"\nhtml:\n  <b>\n  x ;;\n', [
        ("key", "a"), (P, ":"), ("string", '"l1\nl2"'), ("key", "html"), (P, ":"), ("expr", "<b>\n  x"), (P, ";;")]),
    "empty expression": ("sql:;;", [("key", "sql"), (P, ":"), (P, ";;")]),
    "CRLF and unnamed block": ("# top\r\na: {}\r\n#end\r\n", [
        ("comment", "# top"), ("key", "a"), (P, ":"), (P, "{"), (P, "}"), ("comment", "#end")]),
    "comment in a value's trivia": ("a: # c\n  b", [("key", "a"), (P, ":"), ("comment", "# c"), ("literal", "b")]),
    "non-ASCII": ("é: ü", [("key", "é"), (P, ":"), ("literal", "ü")]),
    "byte-order mark, counted": ("\ufeffa: b", [("key", "a"), (P, ":"), ("literal", "b")]),
    "empty": ("", []),
}


@pytest.mark.parametrize("source, expected", TOKENS.values(), ids=TOKENS.keys())
def test_tokens(source, expected):
    data = source.encode()
    assert [(kind, data[o:o + n].decode()) for o, n, kind in parse_quarel(data).tokens()] == expected


# Tokens stand in order, apart, inside the text; what lies between them is
# whitespace, also after an edit.
@given(documents(depth=2, max_pairs=4))
def test_tokens_cover_all_but_whitespace(source):
    doc = parse_quarel(source)
    for _ in range(2):
        data, at = doc.to_bytes(), 0
        for offset, length, _kind in doc.tokens():
            assert at <= offset and length > 0
            assert set(data[at:offset].decode()) <= UNICODE_WHITESPACE
            at = offset + length
        assert at <= len(data) and set(data[at:].decode()) <= UNICODE_WHITESPACE
        doc.add("added", ["x", "y"])


# (source, the first pair's preview): one line, spaces run together, strings unescaped,
# lists flattened, cut at 40 code points with an ellipsis wherever text is left out.
PREVIEWS = {
    "literal": ("a: 1", "1"),
    "string unescaped": ('a: "x \\"q\\" \\\\ y"', 'x "q" \\ y'),
    "list": ('a: [b, k: "v w", [c, d]]', "[b, k: v w, [c, d]]"),
    "multi-line list": ("a: [\n  b, # c\n  d\n]", "[b, d]"),
    "empty list and string": ('a: []\nb: ""', "[]"),
    "expression, spaces and lines": ("sql:   x  \t +\n  y ;;", "x +…"),
    "leading lines": ('a: "\n  hi  \n"', "hi"),
    "lone carriage return": ('a: "x\ry"', "x…"),
    "40 characters": ('a: "' + "é" * 40 + '"', "é" * 40),
    "41 characters": ('a: "' + "é" * 41 + '"', "é" * 40 + "…"),
    "cut at a space": ('a: "' + "x" * 39 + ' y"', "x" * 39 + "…"),
    "block": ("a: b { c: 1 }", None),
}


@pytest.mark.parametrize("source, expected", PREVIEWS.values(), ids=PREVIEWS.keys())
def test_outline_previews(source, expected):
    assert parse_quarel(source).outline()[0][3] == expected


# (source, outline): key, name, kind, preview, depth, line, column, offset, end_line,
# end_column, end_offset, key_end_column.
OUTLINES = {
    "nested": ("v: x {\n  a: 1\n  w: {}\n}\nz: [a]\n", [
        ("v", "x", "block", None, 0, 1, 1, 0, 4, 2, 23, 2),
        ("a", None, "literal", "1", 1, 2, 3, 9, 2, 7, 13, 4),
        ("w", None, "block", None, 1, 3, 3, 16, 3, 8, 21, 4),
        ("z", None, "list", "[a]", 0, 5, 1, 24, 5, 7, 30, 2),
    ]),
    "byte-order mark, non-ASCII key": (b"\xef\xbb\xbf\xc3\xa9: b", [
        ("é", None, "literal", "b", 0, 1, 1, 3, 1, 6, 8, 3),
    ]),
    "empty": ("# only\n", []),
}


@pytest.mark.parametrize("source, expected", OUTLINES.values(), ids=OUTLINES.keys())
def test_outline(source, expected):
    assert parse_quarel(source).outline() == expected


def _flat(value):
    if isinstance(value, list):
        return "[" + ", ".join(_flat(item) for item in value) + "]"
    if isinstance(value, tuple):
        return f"{value[0]}: {_flat(value[1])}"
    return value


SPACE = " \t\n\r\f\v"


def _preview(value):
    first, *rest = re.split("[\r\n]", _flat(value).strip(SPACE), maxsplit=1)
    line = re.sub("[ \t\f\v]+", " ", first)
    return line[:40].rstrip(SPACE) + "…" if len(line) > 40 or rest else line


def _depth(pair):
    return 0 if isinstance(pair.parent, Document) else 1 + _depth(pair.parent)


# The outline tells what walk(), location, key, name, kind and value tell, also after an edit.
@given(documents(depth=2, max_pairs=4))
def test_outline_agrees_with_the_pairs(source):
    doc = parse_quarel(source)
    for _ in range(2):
        expected = [
            (p.key, p.name, p.kind, None if p.kind == "block" else _preview(p.value), _depth(p),
             *p.location, p.location.column + len(p.key.encode()))
            for p in doc.walk()
        ]
        assert doc.outline() == expected
        doc.add("added", ["x", "y"])


# The symbol kinds a language server gives: literal, string, expr, list, block, named block.
KINDS = (14, 15, 12, 18, 23, 5)
KIND_OF = dict(zip(("literal", "string", "expr", "list", "block"), KINDS))
UNIT_BYTES = {"utf-8": ("utf-8", 1), "utf-16": ("utf-16-le", 2), "utf-32": ("utf-32-le", 4)}


def _editor_position(data, offset, encoding):
    """Where an offset stands for an editor: lines end at LF, CR LF or a lone CR."""
    *before, line = re.split(rb"\r\n|\r|\n", data[:offset])
    codec, size = UNIT_BYTES[encoding]
    return len(before), len(line.decode().encode(codec)) // size


def _symbols(doc, data, encoding, shift=lambda offset: offset):
    """The symbols as a tiny reference writes them, from outline() and the text."""
    top = []
    stack = [top]
    for key, name, kind, preview, depth, _, _, offset, _, _, end_offset, _ in doc.outline():
        del stack[depth + 1:]
        at = _editor_position(data, shift(offset), encoding)
        key_end = _editor_position(data, shift(offset) + len(key.encode()), encoding)
        symbol = {
            "name": key if name is None else f"{key} {name}",
            "kind": KINDS[5] if name is not None else KIND_OF[kind],
            "range": _range(at, _editor_position(data, shift(end_offset), encoding)),
            "selectionRange": _range(at, key_end if key_end[0] == at[0] else at),
        }
        if kind == "block":
            symbol["children"] = []
            stack.append(symbol["children"])
        else:
            symbol["detail"] = preview
        stack[depth].append(symbol)
    return top


def _range(start, end):
    return {"start": {"line": start[0], "character": start[1]}, "end": {"line": end[0], "character": end[1]}}


# Every document's symbols, in every encoding, agree with its outline and text.
@given(documents(depth=2, max_pairs=4), st.sampled_from(sorted(UNIT_BYTES)))
@example('k: "\\"\\\\\\u0001\\t" 😀x: v {\r\n  é\u0301: [a,\r  b]\n}', "utf-16")
@example('k: "\\"\\\\\\u0001\\t" 😀x: v {\r\n  é\u0301: [a,\r  b]\n}', "utf-32")
@example("a: {\n  b: {}\n}\nc: 1\n", "utf-16")  # an empty block that ends its parent
def test_symbols_json(source, encoding):
    doc = parse_quarel(source)
    data = doc.to_bytes()
    assert json.loads(doc.symbols_json(data, encoding, [], KINDS)) == _symbols(doc, data, encoding)


def _cut(symbols, limit):
    """The symbols an editor is given at most `limit` of: whole levels from the top, then
    the first of the next level in document order."""
    levels, level = [], symbols
    while level:
        levels.append(len(level))
        level = [child for symbol in level for child in symbol.get("children", [])]
    depth = 0
    while depth < len(levels) and sum(levels[: depth + 1]) <= limit:
        depth += 1
    room = [limit - sum(levels[:depth])]

    def kept(items, at):
        out = []
        for symbol in items:
            if at == depth:
                if room[0] == 0:
                    continue
                room[0] -= 1
            if at > depth:
                continue
            out.append({**symbol, "children": kept(symbol["children"], at + 1)} if "children" in symbol else symbol)
        return out

    return kept(symbols, 0)


@given(documents(depth=3, max_pairs=4), st.integers(0, 30))
def test_symbols_json_limit(source, limit):
    doc = parse_quarel(source)
    data = doc.to_bytes()
    assert json.loads(doc.symbols_json(data, "utf-8", [], KINDS, limit=limit)) == _cut(_symbols(doc, data, "utf-8"), limit)


# Offsets of the parsed text moved through later edits: (start, end, length) in order.
MOVES = {
    "inserted before": ([(0, 0, 3)], b"xy\na: 1\nb: 2\n"),
    "replaced around a key": ([(4, 7, 1)], b"a: 1\n 2\n"),
    "two in order": ([(0, 1, 0), (0, 0, 2)], b"zz: 1\nb: 2\n"),
}


@pytest.mark.parametrize("moves, text", MOVES.values(), ids=MOVES.keys())
def test_symbols_json_moves(moves, text):
    doc = parse_quarel("a: 1\nb: 2\n")

    def shift(offset):
        for start, end, length in moves:
            offset = offset + length - (end - start) if offset >= end else min(offset, start)
        return offset

    assert json.loads(doc.symbols_json(text, "utf-16", moves, KINDS)) == _symbols(doc, text, "utf-16", shift)


TOKEN_KINDS = ("key", "name", "literal", "string", "expr", "comment", "punctuation")


def _semantic_tokens(doc, data, encoding, within):
    """The protocol's relative encoding, from tokens() and the text: a piece a line."""
    codec, unit = UNIT_BYTES[encoding]
    numbers, last = [], (0, 0)
    for offset, length, kind in doc.tokens():
        if within and (offset + length <= within[0] or offset >= within[1]):
            continue
        line, character = _editor_position(data, offset, encoding)
        for number, piece in enumerate(re.split(rb"\r\n|\r|\n", data[offset:offset + length])):
            if number:
                line, character = line + 1, 0
            size = len(piece.decode().encode(codec)) // unit
            if size:
                numbers += [line - last[0], character - (last[1] if line == last[0] else 0), size,
                            TOKEN_KINDS.index(kind), 0]
                last = (line, character)
    return {"data": numbers}


@given(documents(depth=2, max_pairs=4), st.sampled_from(sorted(UNIT_BYTES)), st.integers(0, 60), st.integers(0, 60))
@example('k: "a\r\nb😀\rc" # é\r\nsql: x +\n  y ;;', "utf-16", 0, 0)
@example('a: "x\n\ny"\n', "utf-16", 0, 0)  # a string over an empty line: two pieces
def test_semantic_tokens_json(source, encoding, start, size):
    doc = parse_quarel(source)
    data = doc.to_bytes()
    within = (start, start + size) if size else None
    written = doc.semantic_tokens_json(data, encoding, [], within)
    assert json.loads(written) == _semantic_tokens(doc, data, encoding, within)


# (source, folds as (first line, last line, kind)): brackets fold to the line before the
# closing one, strings and expressions through their last line, runs of comment lines
# that stand alone; lines end at LF, CR LF or a lone CR.
FOLDS = {
    "nested brackets, in closing order": ("v: {\n  l: [a,\n    [b,\n     c]]\n}\n", [(1, 2, None), (0, 3, None)]),
    "bracket closing on the next line": ("a: [\n]\nb: {\n}", []),
    "string and expression": ('s: "x\r\ny\rz"\nsql: a\n  b ;;', [(0, 2, None), (3, 4, None)]),
    "comment runs": ("# a\n# b\nk: 1 # end\n# c\n\n# d\n# e", [(0, 1, "comment"), (5, 6, "comment")]),
    "end comment after a lone comment": ("# a\nk: 1 # b\n# c", []),
}


@pytest.mark.parametrize("source, expected", FOLDS.values(), ids=FOLDS.keys())
def test_folding_ranges_json(source, expected):
    doc = parse_quarel(source)
    folds = json.loads(doc.folding_ranges_json(doc.to_bytes(), []))
    assert [(f["startLine"], f["endLine"], f.get("kind")) for f in folds] == expected
    # Two lines typed above the parsed text move every fold down by two.
    moved = json.loads(doc.folding_ranges_json(b"\n\n" + doc.to_bytes(), [(0, 0, 2)]))
    assert [(f["startLine"] - 2, f["endLine"] - 2, f.get("kind")) for f in moved] == expected


# With a limit, the outermost folds: (limit, folds kept, in the order written).
FOLD_LIMITS = ("# a\n# b\nv: {\n  l: [a,\n    [b,\n     c]]\n  s: \"x\ny\"\n}\nw: {\n  k: 1\n}\n", [
    (None, [(3, 4), (6, 7), (2, 7), (9, 10), (0, 1)]),
    (3, [(2, 7), (9, 10), (0, 1)]),
    (4, [(3, 4), (2, 7), (9, 10), (0, 1)]),
    (1, [(2, 7)]),
    (0, []),
])


@pytest.mark.parametrize("limit, expected", FOLD_LIMITS[1])
def test_folding_ranges_limit(limit, expected):
    doc = parse_quarel(FOLD_LIMITS[0])
    folds = json.loads(doc.folding_ranges_json(doc.to_bytes(), [], limit=limit))
    assert [(f["startLine"], f["endLine"]) for f in folds] == expected


# pairs_at() and token_at() find what a scan of walk() and tokens() finds, at every offset.
@given(documents(depth=2, max_pairs=4))
@example("a: {}b: 1\nv: x { y: [1] }")
def test_pairs_and_token_at_an_offset(source):
    doc = parse_quarel(source)
    walked = [(pair, pair.location) for pair in doc.walk()]
    tokens = doc.tokens()
    for offset in range(-1, len(doc.to_bytes()) + 2):
        holding = [pair.key for pair, at in walked if at.offset <= offset <= at.end_offset]
        assert [pair.key for pair in doc.pairs_at(offset)] == holding
        touching = [token for token in tokens if token[0] <= offset <= token[0] + token[1]]
        assert doc.token_at(offset) == (touching[-1] if touching else None)


def test_pairs_at_gives_live_pairs():
    doc = parse_quarel("v: x {\n  a: 1\n}\n")
    outer, inner = doc.pairs_at(10)
    inner.value = "2"
    assert (outer.key, inner.parent.key, doc.to_string()) == ("v", "v", "v: x {\n  a: 2\n}\n")


# key_counts() counts what walk() shows: each key once per block of a key that holds it.
@given(documents(depth=2, max_pairs=4))
@example("a: 1 a: 2 v: { a: 1 a: 2 } v: x { } w: { v: { b: 1 } }")
def test_key_counts(source):
    doc = parse_quarel(source)
    expected, repeated = {None: {}}, {None: {}}
    for holder, children in [(None, doc.children)] + [(p.key, p.children) for p in doc.walk() if p.kind == "block"]:
        counts, repeats = expected.setdefault(holder, {}), repeated.setdefault(holder, {})
        keys = [child.key for child in children]
        for key in set(keys):
            counts[key] = counts.get(key, 0) + 1
            if keys.count(key) > 1:
                repeats[key] = repeats.get(key, 0) + 1
    assert doc.key_counts() == expected
    assert doc.key_counts(repeated=True) == repeated
