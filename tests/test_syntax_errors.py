"""Invalid source raises QuarelSyntaxError at the exact byte it went wrong;
syntax_errors lists every error, reading on after each."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

from strategies import UNICODE_WHITESPACE, documents
from tallix_cst import QuarelSyntaxError, parse_quarel, recovered_text, syntax_errors

COLON = "expected `:` after key"
NO_TERMINATOR = "expression is missing its `;;` terminator"
VALUE = "expected a value"
UNTERMINATED = "unterminated string"
CLOSE_BLOCK = "expected `}` or a `key:` pair"
ELEMENT = "expected a list element"
COMMA = "expected `,` or `]` in list"
PAIR = "expected a `key:` pair"
TOO_DEEP = "nesting deeper than 256 levels"

# (source, message, line, column, offset)
CASES = [
    # a key must be followed by inline space and a colon
    ("a", COLON, 1, 2, 1), ("a \t\n: b", COLON, 1, 4, 3), ("é\n", COLON, 1, 3, 2), ("a: b c", COLON, 1, 7, 6),
    ("sql: a ;; b ;;", COLON, 1, 13, 12),
    # carriage returns do not end lines when counting
    ("a: 1\rb", COLON, 1, 7, 6), ("a: 1\r\nb\r\n", COLON, 2, 2, 7),
    # expression keys need a terminator somewhere after the colon
    ("sql:", NO_TERMINATOR, 1, 5, 4), ("sql: a ; b", NO_TERMINATOR, 1, 5, 4),
    ("expression_custom_filter: x", NO_TERMINATOR, 1, 26, 25), ("a: b\nderived_sql: x", NO_TERMINATOR, 2, 13, 17),
    ("v: {\n  sql : x\n}\n", NO_TERMINATOR, 2, 8, 12),
    # a value must start after the colon
    ("a: ", VALUE, 1, 4, 3), ("a: # no value\n", VALUE, 2, 1, 14), ("a :: b", VALUE, 1, 4, 3),
    ("a: \u00a0b", VALUE, 1, 4, 3), ("a:\x0bb", VALUE, 1, 3, 2), ("a: #c\rb", VALUE, 1, 4, 3),
    ("a: {b: }", VALUE, 1, 8, 7),
    # strings must close; the error points at the opening quote
    ('a: "abc\\', UNTERMINATED, 1, 4, 3), ('a: "ab\\"', UNTERMINATED, 1, 4, 3),
    ('a: b\n  c: "', UNTERMINATED, 2, 6, 10), ('x: [a, "b]', UNTERMINATED, 1, 8, 7),
    # blocks must close
    ("view: v {\n  a: b\n", CLOSE_BLOCK, 3, 1, 17), ("a: { b: c \u00a0}", CLOSE_BLOCK, 1, 11, 10),
    ("a: {\n  # note\n  ,\n}", CLOSE_BLOCK, 3, 3, 16), ("a: { b: {} ", CLOSE_BLOCK, 1, 12, 11),
    # list elements
    ("x: [", ELEMENT, 1, 5, 4), ("x: [,]", ELEMENT, 1, 5, 4), ("x: [a,,]", ELEMENT, 1, 7, 6),
    ("x: [a: b: ]", ELEMENT, 1, 11, 10), ("x: [a: {}]", ELEMENT, 1, 8, 7), ("x: [#c\r]", ELEMENT, 1, 5, 4),
    ("x: [\u00a0]", ELEMENT, 1, 5, 4),
    # list separators
    ("x: [a b]", COMMA, 1, 7, 6), ("x: [a # c]", COMMA, 1, 11, 10), ("x: [a\n: b]", COMMA, 2, 1, 6),
    ('x: ["a" : b]', COMMA, 1, 9, 8), ("x: [[a] [b]]", COMMA, 1, 9, 8), ("日本: {\n  é: [a b]\n}", COMMA, 2, 10, 19),
    # something left over at the top level
    ("}", PAIR, 1, 1, 0), ("\u00a0a: b", PAIR, 1, 1, 0), ("a: b\n}", PAIR, 2, 1, 5), ("a: b: c", PAIR, 1, 5, 4),
    ('a: "b" {}', PAIR, 1, 8, 7), ("a: {} {}", PAIR, 1, 7, 6), ("a: b\x0bc", PAIR, 1, 5, 4),
    ("sql: a;;;", PAIR, 1, 9, 8),
    # a comment may not end in a lone carriage return
    ("#a\rb", PAIR, 1, 1, 0), ("a: b # c\r\n# d\r", PAIR, 2, 1, 10),
]


@pytest.mark.parametrize("source,message,line,column,offset", CASES)
def test_syntax_error_position(source, message, line, column, offset):
    with pytest.raises(QuarelSyntaxError) as info:
        parse_quarel(source)
    exc = info.value
    assert (exc.line, exc.column, exc.offset) == (line, column, offset)
    assert str(exc) == f"{message} at line {line}, column {column}"
    assert exc.args == (str(exc),) and isinstance(exc, ValueError)


# Whitespace that trivia does not take ends a bare token and then stands
# where a key should: the document cannot continue past it.
@pytest.mark.parametrize("ch", sorted(UNICODE_WHITESPACE - set(" \t\r\n")), ids=lambda c: f"U+{ord(c):04X}")
def test_non_trivia_whitespace_ends_a_token(ch):
    with pytest.raises(QuarelSyntaxError, match=f"^{PAIR} at line 1, column 5$"):
        parse_quarel("a: b" + ch + "c")


# Anything at all either parses and prints back, or fails at a position that
# agrees with itself. Mutated documents reach deeper into the grammar than
# random text does.
def _mutations(source):
    return st.one_of(
        st.integers(0, len(source)).map(lambda i: source[:i]),
        st.tuples(st.integers(0, len(source)), st.sampled_from(list('"#,:;[]{}\r\n \x0b\u00a0ab;;'))).map(
            lambda t: source[: t[0]] + t[1] + source[t[0] :]),
        st.integers(0, max(len(source) - 1, 0)).map(lambda i: source[:i] + source[i + 1 :]),
    )


@given(st.one_of(st.text(st.characters(codec="utf-8"), max_size=40),
                 st.text(st.sampled_from('ab :#"\\[]{},;\r\n\t\x0b\u00a0é'), max_size=40),
                 documents(depth=1, max_pairs=3).flatmap(_mutations)))
def test_any_text_parses_or_reports_a_consistent_position(source):
    try:
        doc = parse_quarel(source)
    except QuarelSyntaxError as exc:
        data = source.encode("utf-8")
        # The position is a character boundary, never inside a UTF-8 sequence.
        assert 0 <= exc.offset <= len(data) and (exc.offset == len(data) or not 0x80 <= data[exc.offset] <= 0xBF)
        before = data[: exc.offset]
        assert (exc.line, exc.column) == (1 + before.count(b"\n"), exc.offset - before.rfind(b"\n"))
        assert str(exc).endswith(f" at line {exc.line}, column {exc.column}")
    else:
        assert doc.to_string() == source


# (source nested one level too deep, offset of the opening that crosses the limit)
NESTINGS = {
    "blocks": ("a: {" * 257 + "}" * 257, 4 * 256 + 3),
    "lists": ("x: " + "[" * 257 + "]" * 257, 3 + 256),
    "list pairs": ("x: [" + "k: " * 256 + "v]", 4 + 3 * 255),  # the list is one level, each list-pair key one more
    "blocks and lists": ("a: {" * 128 + "x: " + "[" * 129 + "]" * 129 + "}" * 128, 4 * 128 + 3 + 128),
}


@pytest.mark.parametrize("source, offset", NESTINGS.values(), ids=NESTINGS.keys())
def test_nesting_limit(source, offset):
    with pytest.raises(QuarelSyntaxError) as info:
        parse_quarel(source)
    assert str(info.value) == f"{TOO_DEEP} at line 1, column {offset + 1}"
    assert (info.value.line, info.value.offset) == (1, offset)


def test_siblings_do_not_count_as_nesting():
    source = "a: {} " * 300 + "x: [" + "k: v, [], " * 300 + "]" + "a: {" + "b: {} " * 300 + "}"
    assert parse_quarel(source).to_string() == source


# Every error of a document: after one, reading goes on at the next line that
# starts a key no deeper than the failing line (in the innermost block whose
# line is indented less), or at a `}` line indented less, which closes the
# block. (source, [(message, line, column)])
SEVERAL = {
    "one block": ("view: v {\n  a: [x y]\n  b: ok\n  c: ,\n  d: }\n}\n",
                  [(COMMA, 2, 9), (VALUE, 4, 6), (VALUE, 5, 6)]),
    "nested blocks": ("a: {\n  b: {\n    c: [1 2]\n    d: e\n  }\n  f: :\n}\ng: h\n",
                      [(COMMA, 3, 11), (VALUE, 6, 6)]),
    "back out to an outer block": ("a: {\n  b: { c: [x y]\n  d: e\n}\nf: ,\n", [(COMMA, 2, 14), (VALUE, 5, 4)]),
    "a deeper brace does not close": ("a: {\n  b: x y {\n    d: e\n  }\n  f: ,\n}\n", [(COLON, 2, 10), (VALUE, 5, 6)]),
    "a brace at the failing line's indentation does not close": ("v: {\n  a: 1\n  b 2\n  }\n  c: 3\n}\n", [(COLON, 3, 5)]),
    "not a key in a block": ("a: {\n  # note\n  ,\n  b: [x y]\n}\n", [(CLOSE_BLOCK, 3, 3), (COMMA, 4, 9)]),
    "unterminated string": ('a: "open\nb: [x y]\n', [(UNTERMINATED, 1, 4)]),
    "a string skipped whole": ('a: [x y] "\nb: ,\n"\nc: ,\n', [(COMMA, 1, 7), (VALUE, 4, 4)]),
    "missing terminator": ("v: {\n  sql: select 1\n  b: [x y]\n}\n", [(NO_TERMINATOR, 2, 7), (COMMA, 3, 9)]),
    "unclosed blocks": ("a: {\n  b: {\n    c: d\n", [(CLOSE_BLOCK, 4, 1)]),
    "stray braces": ("a: b\n}\nc: d\n}\n", [(PAIR, 2, 1), (PAIR, 4, 1)]),
    "lists": ("x: [a, , b]\ny: [c: ]\nz: [d e]\n", [(ELEMENT, 1, 8), (ELEMENT, 2, 8), (COMMA, 3, 7)]),
    "CRLF": ("a: [x y]\r\nb: ,\r\nc: d\r\n", [(COMMA, 1, 7), (VALUE, 2, 4)]),
    "too deep, then more": ("a: " + "[" * 257 + "\nb: ,\n", [(TOO_DEEP, 1, 260), (VALUE, 2, 4)]),
}


@pytest.mark.parametrize("source, expected", SEVERAL.values(), ids=SEVERAL.keys())
def test_every_error(source, expected):
    errors = syntax_errors(source)
    assert [(e.message, e.line, e.column) for e in errors] == expected
    assert all(isinstance(e, QuarelSyntaxError) and str(e) == f"{e.message} at line {e.line}, column {e.column}"
               for e in errors)


# The pairs each text of SEVERAL keeps when what recovery skipped is taken out.
KEPT = {
    "one block": ["view", "b"], "nested blocks": ["a", "b", "d", "g"],
    "back out to an outer block": ["a", "b", "d"], "a deeper brace does not close": ["a", "b"],
    "a brace at the failing line's indentation does not close": ["v", "a", "c"],
    "not a key in a block": ["a"], "unterminated string": [], "a string skipped whole": [],
    "missing terminator": ["v"], "unclosed blocks": ["a", "b", "c"], "stray braces": ["a", "c"],
    "lists": [], "CRLF": ["c"], "too deep, then more": [],
}


@pytest.mark.parametrize("name", KEPT)
def test_recovered_pairs(name):
    source = SEVERAL[name][0]
    mended, moves = recovered_text(source)
    assert [pair.key for pair in parse_quarel(mended).walk()] == KEPT[name]


# The mended text parses; it is the text with stretches blanked (line breaks kept) and
# `}` put in, and each pair it holds stands, moved back, where its key stood.
@given(st.one_of(st.text(st.sampled_from('ab :#"\\[]{},;\r\n\t'), max_size=40),
                 documents(depth=2, max_pairs=4).flatmap(_mutations)), st.booleans())
def test_recovered_text_parses_where_the_text_was(source, as_file):
    text = (b"\xef\xbb\xbf" if as_file else b"") + source.encode()
    mended, moves = recovered_text(text if as_file else source)
    doc = parse_quarel(mended)
    taken_out = bytearray(mended)
    for start, end, length in moves:
        assert length == 0 and set(taken_out[start:end]) <= set(b"\n}")
        del taken_out[start:end]
    assert len(taken_out) == len(text)
    assert all(new == old if old in b"\r\n" else new in (old, 32) for old, new in zip(text, taken_out))

    def back(offset):
        for start, end, _ in moves:
            offset -= min(max(offset - start, 0), end - start)
        return offset

    for pair in doc.walk():
        assert text[back(pair.location.offset):].startswith(pair.key.encode())


# Valid text has no errors; in any other the first is the one the parse
# raises, and the rest follow in order. Bytes are a file's, byte-order mark
# and all.
@given(documents(depth=2, max_pairs=4))
def test_valid_documents_have_no_errors(source):
    assert syntax_errors(source) == [] and syntax_errors(b"\xef\xbb\xbf" + source.encode()) == []


@given(documents(depth=2, max_pairs=4).flatmap(_mutations), st.booleans())
def test_first_error_is_the_parse_error(source, as_file):
    text = b"\xef\xbb\xbf" + source.encode() if as_file else source
    errors = syntax_errors(text)
    try:
        parse_quarel(text)
    except QuarelSyntaxError as exc:
        first = errors[0]
        assert (str(first), first.message, first.line, first.column, first.offset) == (
            str(exc), exc.message, exc.line, exc.column, exc.offset)
        offsets = [e.offset for e in errors]
        assert offsets == sorted(set(offsets)) and offsets[-1] <= len(source.encode()) + 3 * as_file
    else:
        assert errors == []
