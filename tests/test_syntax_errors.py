"""Invalid source raises QuarelSyntaxError at the exact byte it went wrong."""

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from strategies import UNICODE_WHITESPACE, documents
from tallix_cst import Document, QuarelSyntaxError, parse_quarel

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
    ("a", COLON, 1, 2, 1),
    ("a\n: b", COLON, 1, 2, 1),
    ("a\r\n: b", COLON, 1, 2, 1),
    ("a \t\n: b", COLON, 1, 4, 3),
    ("view {", COLON, 1, 6, 5),
    ("a: 1\nb\n", COLON, 2, 2, 6),
    ("é\n", COLON, 1, 3, 2),
    ("a: b c", COLON, 1, 7, 6),
    ("a: {b}", COLON, 1, 6, 5),
    ("sql: a ;; b ;;", COLON, 1, 13, 12),
    # carriage returns do not end lines when counting
    ("a: 1\rb", COLON, 1, 7, 6),
    ("a: 1\r\nb\r\n", COLON, 2, 2, 7),
    # expression keys need a terminator somewhere after the colon
    ("sql: select 1", NO_TERMINATOR, 1, 5, 4),
    ("sql:", NO_TERMINATOR, 1, 5, 4),
    ("sql: a ; b", NO_TERMINATOR, 1, 5, 4),
    ("html: <b>;</b>", NO_TERMINATOR, 1, 6, 5),
    ("expression: x", NO_TERMINATOR, 1, 12, 11),
    ("expression_custom_filter: x", NO_TERMINATOR, 1, 26, 25),
    ("sql_: x", NO_TERMINATOR, 1, 6, 5),
    ("_sql: x", NO_TERMINATOR, 1, 6, 5),
    ("sql_trigger_value: x", NO_TERMINATOR, 1, 19, 18),
    ("a: b\nderived_sql: x", NO_TERMINATOR, 2, 13, 17),
    ("v: {\n  sql : x\n}\n", NO_TERMINATOR, 2, 8, 12),
    # a value must start after the colon
    ("a:", VALUE, 1, 3, 2),
    ("a: ", VALUE, 1, 4, 3),
    ("a: # no value\n", VALUE, 2, 1, 14),
    ("a: }", VALUE, 1, 4, 3),
    ("a: ]", VALUE, 1, 4, 3),
    ("a: ,", VALUE, 1, 4, 3),
    ("a :: b", VALUE, 1, 4, 3),
    ("a: ;", VALUE, 1, 4, 3),
    ("a: \u00a0b", VALUE, 1, 4, 3),
    ("a:\x0bb", VALUE, 1, 3, 2),
    ("a: \u3000", VALUE, 1, 4, 3),
    ("a: #c\rb", VALUE, 1, 4, 3),
    ("a: {b: }", VALUE, 1, 8, 7),
    # strings must close; the error points at the opening quote
    ('a: "abc', UNTERMINATED, 1, 4, 3),
    ('a: "abc\\', UNTERMINATED, 1, 4, 3),
    ('a: "ab\\"', UNTERMINATED, 1, 4, 3),
    ('a: "x\n\ny', UNTERMINATED, 1, 4, 3),
    ('a: b\n  c: "', UNTERMINATED, 2, 6, 10),
    ('x: [a, "b]', UNTERMINATED, 1, 8, 7),
    ('x: [k: "', UNTERMINATED, 1, 8, 7),
    # blocks must close
    ("view: v {", CLOSE_BLOCK, 1, 10, 9),
    ("a: {", CLOSE_BLOCK, 1, 5, 4),
    ("view: v {\n  a: b\n", CLOSE_BLOCK, 3, 1, 17),
    ("a: {b: c]", CLOSE_BLOCK, 1, 9, 8),
    ("a: { b: c \u00a0}", CLOSE_BLOCK, 1, 11, 10),
    ("a: {\n  # note\n  ,\n}", CLOSE_BLOCK, 3, 3, 16),
    ("a: { b: {} ", CLOSE_BLOCK, 1, 12, 11),
    # list elements
    ("x: [", ELEMENT, 1, 5, 4),
    ("x: [,]", ELEMENT, 1, 5, 4),
    ("x: [a,", ELEMENT, 1, 7, 6),
    ("x: [a,,]", ELEMENT, 1, 7, 6),
    ("x: [a: ]", ELEMENT, 1, 8, 7),
    ("x: [a: b: ]", ELEMENT, 1, 11, 10),
    ("x: [a:", ELEMENT, 1, 7, 6),
    ("x: [{}]", ELEMENT, 1, 5, 4),
    ("x: [a: {}]", ELEMENT, 1, 8, 7),
    ("x: [:]", ELEMENT, 1, 5, 4),
    ("x: [#c\r]", ELEMENT, 1, 5, 4),
    ("x: [\u00a0]", ELEMENT, 1, 5, 4),
    # list separators
    ("x: [a b]", COMMA, 1, 7, 6),
    ("x: [a", COMMA, 1, 6, 5),
    ("x: [a # c]", COMMA, 1, 11, 10),
    ("x: [a\n: b]", COMMA, 2, 1, 6),
    ('x: ["a" : b]', COMMA, 1, 9, 8),
    ("x: [[a] [b]]", COMMA, 1, 9, 8),
    ("x: [a; b]", COMMA, 1, 6, 5),
    ("x: [a}", COMMA, 1, 6, 5),
    ("日本: {\n  é: [a b]\n}", COMMA, 2, 10, 19),
    # something left over at the top level
    ("}", PAIR, 1, 1, 0),
    ("]", PAIR, 1, 1, 0),
    (":", PAIR, 1, 1, 0),
    (",", PAIR, 1, 1, 0),
    ('"a": b', PAIR, 1, 1, 0),
    ("\u00a0a: b", PAIR, 1, 1, 0),
    ("\x0c", PAIR, 1, 1, 0),
    ("a: b\n}", PAIR, 2, 1, 5),
    ("a: b: c", PAIR, 1, 5, 4),
    ("a: b,\n", PAIR, 1, 5, 4),
    ('a: "b" {}', PAIR, 1, 8, 7),
    ("a: [b] {}", PAIR, 1, 8, 7),
    ("a: {} {}", PAIR, 1, 7, 6),
    ('a: "x" "y"', PAIR, 1, 8, 7),
    ("a: b\u00a0", PAIR, 1, 5, 4),
    ("a: b\x0bc", PAIR, 1, 5, 4),
    ("sql: a;;;", PAIR, 1, 9, 8),
    # a comment may not end in a lone carriage return
    ("#a\rb", PAIR, 1, 1, 0),
    ("#a\r", PAIR, 1, 1, 0),
    ("a: b\n#c\r", PAIR, 2, 1, 5),
    ("a: b # c\r\n# d\r", PAIR, 2, 1, 10),
]


@pytest.mark.parametrize("source,message,line,column,offset", CASES)
def test_syntax_error_position(source, message, line, column, offset):
    with pytest.raises(QuarelSyntaxError) as info:
        parse_quarel(source)
    exc = info.value
    assert (exc.line, exc.column, exc.offset) == (line, column, offset)
    assert str(exc) == f"{message} at line {line}, column {column}"
    assert exc.args == (str(exc),)


# Whitespace that trivia does not take ends a bare token and then stands
# where a key should: the document cannot continue past it.
@pytest.mark.parametrize(
    "ch", sorted(UNICODE_WHITESPACE - set(" \t\r\n")), ids=lambda c: f"U+{ord(c):04X}"
)
def test_non_trivia_whitespace_ends_a_token(ch):
    with pytest.raises(QuarelSyntaxError) as info:
        parse_quarel("a: b" + ch + "c")
    assert str(info.value) == f"{PAIR} at line 1, column 5"
    assert info.value.offset == 4


def test_exception_shape():
    with pytest.raises(ValueError) as info:
        Document.parse("a:")
    exc = info.value
    assert type(exc) is QuarelSyntaxError
    assert str(exc) == "expected a value at line 1, column 3"
    for name in ("line", "column", "offset"):
        assert type(getattr(exc, name)) is int


# Anything at all: either it parses and prints back, or it fails with a
# position that agrees with itself. Mutated documents reach deeper into the
# grammar than random text does.
def _mutations(source):
    return st.one_of(
        st.integers(0, len(source)).map(lambda i: source[:i]),
        st.tuples(
            st.integers(0, len(source)), st.sampled_from(list('"#,:;[]{}\r\n \x0b\u00a0ab;;'))
        ).map(lambda t: source[: t[0]] + t[1] + source[t[0] :]),
        st.integers(0, max(len(source) - 1, 0)).map(lambda i: source[:i] + source[i + 1 :]),
    )


arbitrary_text = st.one_of(
    st.text(st.characters(codec="utf-8"), max_size=40),
    st.text(st.sampled_from('ab :#"\\[]{},;\r\n\t\x0b\u00a0é'), max_size=40),
    documents(depth=1, max_pairs=3).flatmap(_mutations),
)


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(arbitrary_text)
def test_any_text_parses_or_reports_a_consistent_position(source):
    try:
        doc = parse_quarel(source)
    except QuarelSyntaxError as exc:
        data = source.encode("utf-8")
        assert 0 <= exc.offset <= len(data)
        # The position is a character boundary, never inside a UTF-8 sequence.
        assert exc.offset == len(data) or not 0x80 <= data[exc.offset] <= 0xBF
        before = data[: exc.offset]
        assert exc.line == 1 + before.count(b"\n")
        assert exc.column == exc.offset - before.rfind(b"\n")
        assert str(exc).endswith(f" at line {exc.line}, column {exc.column}")
    else:
        assert doc.to_string() == source


# --- nesting limit ---------------------------------------------------------

LIMIT = 256


def _blocks(n):
    return "a: {" * n + "}" * n


def _lists(n):
    return "x: " + "[" * n + "]" * n


def _list_pairs(n):
    # The list is one level, each list-pair key one more.
    return "x: [" + "k: " * (n - 1) + "v]"


def _mixed(n):
    half = n // 2
    return "a: {" * half + "x: " + "[" * (n - half) + "]" * (n - half) + "}" * half


# (builder, offset of the opening that crosses the limit)
NESTINGS = [
    (_blocks, 4 * LIMIT + 3),
    (_lists, 3 + LIMIT),
    (_list_pairs, 4 + 3 * (LIMIT - 1)),
    (_mixed, 4 * (LIMIT // 2) + 3 + LIMIT // 2),
]


@pytest.mark.parametrize("build,offset", NESTINGS, ids=lambda v: getattr(v, "__name__", str(v)))
def test_nesting_limit(build, offset):
    assert parse_quarel(build(LIMIT)).to_string() == build(LIMIT)
    with pytest.raises(QuarelSyntaxError) as info:
        parse_quarel(build(LIMIT + 1))
    exc = info.value
    assert str(exc) == f"{TOO_DEEP} at line 1, column {offset + 1}"
    assert (exc.line, exc.column, exc.offset) == (1, offset + 1, offset)


@pytest.mark.parametrize(
    "source",
    [
        "a: {} " * 1000,
        "x: [" + ", ".join(["k: v"] * 1000) + "]",
        "x: [" + ", ".join(["[]"] * 1000) + "]",
        "a: {" + "b: {} " * 1000 + "}",
    ],
    ids=["blocks", "list-pairs", "lists", "inner-blocks"],
)
def test_siblings_do_not_count_as_nesting(source):
    assert parse_quarel(source).to_string() == source


@pytest.mark.parametrize(
    "source",
    [
        "x: " + "[" * 1_000_000,
        "a: {" * 1_000_000,
        "x: [" + "k: " * 1_000_000,
        "a: {" * 1_000_000 + "}" * 1_000_000,
    ],
    ids=["brackets", "braces", "list-pairs", "balanced-braces"],
)
def test_absurd_nesting_is_refused_not_crashed(source):
    with pytest.raises(QuarelSyntaxError) as info:
        parse_quarel(source)
    assert str(info.value).startswith(TOO_DEEP)


# --- arguments -------------------------------------------------------------


# Document.parse also takes UTF-8 bytes.
@pytest.mark.parametrize(
    "parse,bad",
    [(parse_quarel, b"a: b")]
    + [(parse, bad) for parse in (parse_quarel, Document.parse) for bad in (None, 1, ["a: b"])],
    ids=repr,
)
def test_source_must_be_str(parse, bad):
    with pytest.raises(TypeError, match="'source'"):
        parse(bad)


@pytest.mark.parametrize("source", ["\ud800", "a: \udfff", "# \ud83d\n"])
def test_lone_surrogate_cannot_be_encoded(source):
    with pytest.raises(UnicodeEncodeError):
        parse_quarel(source)


@pytest.mark.parametrize(
    "call",
    [
        lambda: parse_quarel(),
        lambda: parse_quarel("a: b", "c: d"),
        lambda: parse_quarel(text="a: b"),
        lambda: parse_quarel("a: b", source="a: b"),
        lambda: Document.parse(),
    ],
    ids=["missing", "surplus", "unknown-keyword", "twice", "static-missing"],
)
def test_bad_calls(call):
    with pytest.raises(TypeError):
        call()


def test_source_by_keyword():
    assert parse_quarel(source="a: b").to_string() == "a: b"
    assert Document.parse(source="a: b").to_string() == "a: b"
