"""Hypothesis strategies that generate valid Quarel source text.

Everything here builds text, not trees: the point is to hand the parser
layouts a person (or a careless tool) might write, and to check that they
survive a round trip byte for byte. Sizes are kept small so that a few
hundred examples run in seconds.

Public strategies:

- ``documents()``: a whole valid document, as ``str``.
- ``counted_documents()``: ``(text, number_of_top_level_pairs)``.
- building blocks: ``trivia()``, ``bare_tokens()``, ``keys()``,
  ``expr_keys()``, ``strings()``, ``expressions()``, ``lists()``,
  ``values()``, ``pairs()``, ``bodies()``.

Most of them take ``newlines``, the line breaks a document may use (a tuple
drawn from ``"\\n"`` and ``"\\r\\n"``), so that a document can be all LF, all
CRLF, or a mix. Strategy objects are cached: building and validating them
anew on every draw would cost more than the parsing under test.
"""

from __future__ import annotations

from functools import lru_cache
from typing import NamedTuple, Optional, Tuple

from hypothesis import strategies as st

# Characters with the Unicode White_Space property. Python's str.isspace
# disagrees on U+001C..U+001F (it calls them space; Quarel does not).
UNICODE_WHITESPACE = frozenset(
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000"
)
DELIMITERS = frozenset('"#,:;[]{}')

LF_ONLY = ("\n",)
CRLF_ONLY = ("\r\n",)
MIXED = ("\n", "\r\n")

# Hand-picked bare-token characters that sit on the class boundaries:
# punctuation that is not a delimiter, non-ASCII letters, a byte-order mark
# and a zero-width space (neither is whitespace), and control characters
# outside the TAB..CR range.
_BARE_SPECIALS = (
    "_.-+*/\\$'()=<>!?%&|^~"
    "éÄßøλЖ日本語中文ｱ😀"
    "\ufeff\u200b"
    "\x00\x01\x1c\x1f\x7f"
)


def is_expr_key(key: str) -> bool:
    return (
        key in ("sql", "html", "expression", "expression_custom_filter")
        or key.startswith("sql_")
        or key.endswith("_sql")
    )


def _chars_except(excluded) -> st.SearchStrategy[str]:
    return st.characters(codec="utf-8", exclude_characters="".join(sorted(excluded)))


_bare_char = st.one_of(
    st.sampled_from("abcdefghijklmnopqrstuvwxyz0123456789"),
    st.sampled_from(_BARE_SPECIALS),
    _chars_except(UNICODE_WHITESPACE | DELIMITERS),
)

newline_styles = st.sampled_from([LF_ONLY, CRLF_ONLY, MIXED])

_WORDS = [
    "a",
    "b",
    "id",
    "name",
    "type",
    "number",
    "yes",
    "10",
    "-3.5e+2",
    "a.b-c/d",
    "users",
    "dimension",
    "café",
    "名前",
    "\ufeffkey",
    "x\u200by",
    # near misses of expression keys
    "SQL",
    "sq",
    "htmls",
    "expressions",
    "my_sql_x",
]


@lru_cache(maxsize=None)
def bare_tokens(max_size: int = 8) -> st.SearchStrategy[str]:
    """A non-empty run of bare-token characters."""
    return st.one_of(
        st.sampled_from(_WORDS), st.text(_bare_char, min_size=1, max_size=max_size)
    )


@lru_cache(maxsize=None)
def keys() -> st.SearchStrategy[str]:
    """A key that takes an ordinary (non-expression) value."""
    return bare_tokens().filter(lambda k: not is_expr_key(k))


@lru_cache(maxsize=None)
def expr_keys() -> st.SearchStrategy[str]:
    return st.one_of(
        st.sampled_from(
            [
                "sql",
                "html",
                "expression",
                "expression_custom_filter",
                "sql_",
                "_sql",
                "sql_x",
                "x_sql",
                "sql_trigger_value",
                "derived_sql",
            ]
        ),
        bare_tokens(4).map(lambda t: "sql_" + t),
        bare_tokens(4).map(lambda t: t + "_sql"),
    )


@lru_cache(maxsize=None)
def _newline(newlines: Tuple[str, ...]) -> st.SearchStrategy[str]:
    return st.sampled_from(newlines)


@lru_cache(maxsize=None)
def comment_text() -> st.SearchStrategy[str]:
    """What follows a `#`: anything but a line break."""
    return st.one_of(
        st.sampled_from(["", " note", ' a: b { [ " ;; #', "\tcafé – 日本", " \u00a0\u2028x"]),
        st.text(_chars_except("\r\n"), max_size=12),
    )


@lru_cache(maxsize=None)
def trivia(
    newlines: Tuple[str, ...] = LF_ONLY, min_size: int = 0, max_items: int = 4
) -> st.SearchStrategy[str]:
    """Whitespace and comments; each comment is closed by a line break."""
    nl = _newline(newlines)
    item = st.one_of(
        st.sampled_from([" ", "  ", "\t", " \t "]),
        nl,
        nl.map(lambda n: n + "  "),
        nl.map(lambda n: n + n + "\t"),
        st.tuples(st.sampled_from(["", " ", "\t"]), comment_text(), nl).map(
            lambda t: t[0] + "#" + t[1] + t[2]
        ),
        # A carriage return on its own is whitespace too, as long as it does
        # not end a comment.
        st.just(" \r "),
    )
    return st.lists(item, min_size=min_size, max_size=max_items).map("".join)


@lru_cache(maxsize=None)
def _spacey_trivia(newlines: Tuple[str, ...]) -> st.SearchStrategy[str]:
    """Mostly the single space people write, sometimes anything."""
    return st.one_of(st.just(" "), st.just(" "), st.just(""), trivia(newlines))


@lru_cache(maxsize=None)
def _optional_trivia(newlines: Tuple[str, ...], max_items: int = 4) -> st.SearchStrategy[str]:
    return st.one_of(st.just(""), trivia(newlines, max_items=max_items))


_inline_space = st.sampled_from(["", "", "", " ", "\t", "  \t"])


@lru_cache(maxsize=None)
def strings(newlines: Tuple[str, ...] = LF_ONLY) -> st.SearchStrategy[str]:
    """A double-quoted string, escapes kept raw as written."""
    plain = st.one_of(
        st.sampled_from(
            ["abc", " ", "#not a comment", "{ [ ] }", ";;", "a: b", "é", "日本", "\u00a0", "\t"]
        ),
        _newline(newlines),
        st.text(_chars_except('"\\'), min_size=1, max_size=4),
    )
    escape = st.one_of(
        st.sampled_from(['\\"', "\\\\", "\\n", "\\t", "\\u00e9", "\\#", "\\é", "\\\n"]),
        st.characters(codec="utf-8").map(lambda c: "\\" + c),
    )
    return st.lists(st.one_of(plain, escape), max_size=5).map(lambda p: '"' + "".join(p) + '"')


@lru_cache(maxsize=None)
def expressions(newlines: Tuple[str, ...] = LF_ONLY) -> st.SearchStrategy[str]:
    """What follows the colon of an expression key, `;;` included.

    The raw text never contains `;;` and never ends in `;` (which would move
    the terminator): a semicolon only appears with something after it.
    """
    ws = st.lists(
        st.sampled_from([" ", "\t", "\u00a0", "\u3000", "\u2003", *newlines]), max_size=3
    ).map("".join)
    fragment = st.one_of(
        st.sampled_from(
            [
                "select",
                " ",
                "${TABLE}.id",
                "*",
                "# not a comment",
                '"quoted"',
                "'x'",
                "{ }",
                "[1, 2]",
                "a; b",
                ";x",
                "<b>",
                "é",
                "日本",
                "\t",
                "\u00a0",
                "a:b",
            ]
        ),
        _newline(newlines),
        st.text(_chars_except(";"), min_size=1, max_size=3),
    )
    body = st.lists(fragment, max_size=6).map("".join)
    return st.tuples(ws, body, ws).map(lambda t: "".join(t) + ";;")


class Rendered(NamedTuple):
    text: str
    # True when the text ends in a bare token, so a key may not follow it
    # directly (`a: bc: d` would read `bc` as the value).
    ends_in_token: bool


@lru_cache(maxsize=None)
def list_elements(newlines: Tuple[str, ...], depth: int) -> st.SearchStrategy[Rendered]:
    simple = [
        bare_tokens().map(lambda t: Rendered(t, True)),
        strings(newlines).map(lambda t: Rendered(t, False)),
    ]
    if depth <= 0:
        return st.one_of(simple)
    # Any bare token may key a list pair, expression keys included.
    pair = st.tuples(
        st.one_of(bare_tokens(), expr_keys()),
        _inline_space,
        _spacey_trivia(newlines),
        st.deferred(lambda: list_elements(newlines, depth - 1)),
    ).map(lambda t: Rendered(t[0] + t[1] + ":" + t[2] + t[3].text, t[3].ends_in_token))
    nested = st.deferred(lambda: lists(newlines, depth - 1)).map(lambda t: Rendered(t, False))
    return st.one_of(*simple, pair, nested)


@st.composite
def _list(draw, newlines: Tuple[str, ...], depth: int) -> str:
    n = draw(st.integers(0, 4))
    out = ["["]
    for i in range(n):
        out.append(draw(_optional_trivia(newlines)))
        out.append(draw(list_elements(newlines, depth)).text)
        # Every element but the last needs a comma; the last may have one.
        if i < n - 1 or draw(st.booleans()):
            out.append(draw(_optional_trivia(newlines, 2)))
            out.append(",")
    out.append(draw(_optional_trivia(newlines)))
    out.append("]")
    return "".join(out)


@lru_cache(maxsize=None)
def lists(newlines: Tuple[str, ...] = LF_ONLY, depth: int = 2) -> st.SearchStrategy[str]:
    """A bracketed list, possibly empty, possibly with a trailing comma."""
    return _list(newlines, depth)


@lru_cache(maxsize=None)
def values(newlines: Tuple[str, ...] = LF_ONLY, depth: int = 2) -> st.SearchStrategy[Rendered]:
    """An ordinary key's value (what follows the colon and its trivia)."""
    literal = bare_tokens().map(lambda t: Rendered(t, True))
    string = strings(newlines).map(lambda t: Rendered(t, False))
    lst = lists(newlines, min(depth, 2)).map(lambda t: Rendered(t, False))
    if depth <= 0:
        return st.one_of(literal, string, lst)
    block = st.deferred(lambda: bodies(newlines, depth - 1, 3)).map(lambda b: "{" + b + "}")
    unnamed = block.map(lambda b: Rendered(b, False))
    # The trivia between a block name and its brace may hold line breaks and
    # comments: the name still belongs to the block.
    named = st.tuples(
        bare_tokens(), st.one_of(st.just(" "), _optional_trivia(newlines)), block
    ).map(lambda t: Rendered("".join(t), False))
    return st.one_of(literal, literal, string, lst, unnamed, named)


@lru_cache(maxsize=None)
def pairs(newlines: Tuple[str, ...] = LF_ONLY, depth: int = 2) -> st.SearchStrategy[Rendered]:
    """One pair, without its leading trivia."""
    expr_pair = st.tuples(expr_keys(), _inline_space, expressions(newlines)).map(
        lambda t: Rendered(t[0] + t[1] + ":" + t[2], False)
    )
    plain_pair = st.tuples(keys(), _inline_space, _spacey_trivia(newlines), values(newlines, depth)).map(
        lambda t: Rendered(t[0] + t[1] + ":" + t[2] + t[3].text, t[3].ends_in_token)
    )
    return st.one_of(plain_pair, plain_pair, plain_pair, expr_pair)


@lru_cache(maxsize=None)
def _separator(newlines: Tuple[str, ...], after_token: bool) -> st.SearchStrategy[str]:
    """The leading trivia of a pair that follows another."""
    nl = _newline(newlines)
    usual = st.tuples(nl, st.sampled_from(["", "  ", "\t"])).map("".join)
    options = [usual, usual, trivia(newlines, min_size=1), st.just(" ")]
    if not after_token:
        options.append(st.just(""))  # `a: "x"b: y` and `a: {}b: c` are fine
    return st.one_of(options)


@st.composite
def _body_parts(draw, newlines: Tuple[str, ...], depth: int, max_pairs: int):
    count = draw(st.integers(0, max_pairs))
    out = []
    previous: Optional[Rendered] = None
    for _ in range(count):
        if previous is None:
            out.append(draw(_optional_trivia(newlines)))
        else:
            out.append(draw(_separator(newlines, previous.ends_in_token)))
        previous = draw(pairs(newlines, depth))
        out.append(previous.text)
    nl = _newline(newlines)
    out.append(draw(st.one_of(st.just(""), nl, nl, trivia(newlines))))
    return "".join(out), count


@lru_cache(maxsize=None)
def bodies(
    newlines: Tuple[str, ...] = LF_ONLY, depth: int = 2, max_pairs: int = 4
) -> st.SearchStrategy[str]:
    """Pairs and trivia as they stand inside braces or at the top level."""
    return _body_parts(newlines, depth, max_pairs).map(lambda t: t[0])


@st.composite
def _counted_document(draw, newlines: Optional[Tuple[str, ...]], depth: int, max_pairs: int):
    if newlines is None:
        newlines = draw(newline_styles)
    text, count = draw(_body_parts(newlines, depth, max_pairs))
    # A comment may close the file without a line break after it.
    if draw(st.integers(0, 5)) == 0:
        lead = draw(st.one_of(st.sampled_from(["", " "]), _newline(newlines)))
        text += lead + "#" + draw(comment_text())
    return text, count


@lru_cache(maxsize=None)
def counted_documents(
    newlines: Optional[Tuple[str, ...]] = None, depth: int = 2, max_pairs: int = 5
) -> st.SearchStrategy[Tuple[str, int]]:
    """A valid document and the number of its top-level pairs."""
    return _counted_document(newlines, depth, max_pairs)


@lru_cache(maxsize=None)
def documents(
    newlines: Optional[Tuple[str, ...]] = None, depth: int = 2, max_pairs: int = 5
) -> st.SearchStrategy[str]:
    """A valid Quarel document as source text.

    `newlines` fixes the line breaks used (by default LF, CRLF or both,
    drawn per document); `depth` bounds the nesting of blocks and lists.
    """
    return counted_documents(newlines, depth, max_pairs).map(lambda t: t[0])
