"""Hypothesis strategies that build valid Quarel source text.

They build text, not trees: layouts a person (or a careless tool) might
write. Most take `newlines`, the line breaks a document may use (a tuple of
"\\n" and "\\r\\n"). Strategies are cached: building them anew on every draw
would cost more than the parsing under test.
"""

from functools import lru_cache, partial
from typing import NamedTuple

from hypothesis import strategies as st

# Characters with the Unicode White_Space property. Python's str.isspace
# disagrees on U+001C..U+001F (it calls them space; Quarel does not).
UNICODE_WHITESPACE = frozenset(
    "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
)
DELIMITERS = frozenset('"#,:;[]{}')
LF_ONLY = ("\n",)

# Bare-token characters on the class boundaries: punctuation that is no
# delimiter, non-ASCII letters, a byte-order mark and a zero-width space
# (neither is whitespace), control characters outside TAB..CR.
_BARE_SPECIALS = "_.-+*/\\$'()=<>!?%&|^~éÄßøλЖ日本語中文ｱ😀\ufeff\u200b\x00\x01\x1c\x1f\x7f"
# Ordinary words, and near misses of expression keys.
_WORDS = ["a", "b", "id", "name", "type", "number", "yes", "10", "-3.5e+2", "a.b-c/d", "users", "dimension",
          "café", "名前", "\ufeffkey", "x\u200by", "SQL", "sq", "htmls", "expressions", "my_sql_x"]
_EXPR_KEYS = ["sql", "html", "expression", "expression_custom_filter", "sql_", "_sql", "sql_x", "x_sql",
              "sql_trigger_value", "derived_sql"]


def is_expr_key(key):
    return key in ("sql", "html", "expression", "expression_custom_filter") or key.startswith("sql_") or key.endswith("_sql")


def _chars_except(excluded):
    return st.characters(codec="utf-8", exclude_characters="".join(sorted(excluded)))


_bare_char = st.one_of(st.sampled_from("abcdefghijklmnopqrstuvwxyz0123456789"), st.sampled_from(_BARE_SPECIALS),
                       _chars_except(UNICODE_WHITESPACE | DELIMITERS))
_inline_space = st.sampled_from(["", "", "", " ", "\t", "  \t"])


@lru_cache(maxsize=None)
def bare_tokens(max_size=8):
    return st.one_of(st.sampled_from(_WORDS), st.text(_bare_char, min_size=1, max_size=max_size))


@lru_cache(maxsize=None)
def keys():
    """A key that takes an ordinary (non-expression) value."""
    return bare_tokens().filter(lambda k: not is_expr_key(k))


@lru_cache(maxsize=None)
def expr_keys():
    return st.one_of(st.sampled_from(_EXPR_KEYS), bare_tokens(4).map("sql_".__add__), bare_tokens(4).map(lambda t: t + "_sql"))


@lru_cache(maxsize=None)
def comment_text():
    """What follows a `#`: anything but a line break."""
    return st.one_of(st.sampled_from(["", " note", ' a: b { [ " ;; #', "\tcafé – 日本", " \u00a0\u2028x"]),
                     st.text(_chars_except("\r\n"), max_size=12))


@lru_cache(maxsize=None)
def trivia(newlines=LF_ONLY, min_size=0, max_items=4):
    """Whitespace and comments; each comment is closed by a line break."""
    nl = st.sampled_from(newlines)
    item = st.one_of(
        st.sampled_from([" ", "  ", "\t", " \t "]), nl, nl.map(lambda n: n + "  "), nl.map(lambda n: n + n + "\t"),
        st.tuples(st.sampled_from(["", " ", "\t"]), comment_text(), nl).map(lambda t: t[0] + "#" + t[1] + t[2]),
        st.just(" \r "),  # a carriage return alone is whitespace, unless it ends a comment
    )
    return st.lists(item, min_size=min_size, max_size=max_items).map("".join)


@lru_cache(maxsize=None)
def _optional_trivia(newlines, max_items=4):
    return st.one_of(st.just(""), trivia(newlines, max_items=max_items))


@lru_cache(maxsize=None)
def _spacey_trivia(newlines):
    """Mostly the single space people write, sometimes anything."""
    return st.one_of(st.just(" "), st.just(" "), st.just(""), trivia(newlines))


@lru_cache(maxsize=None)
def strings(newlines=LF_ONLY):
    """A double-quoted string, escapes kept raw as written."""
    plain = st.one_of(st.sampled_from(["abc", " ", "#not a comment", "{ [ ] }", ";;", "a: b", "é", "\u00a0", "\t"]),
                      st.sampled_from(newlines), st.text(_chars_except('"\\'), min_size=1, max_size=4))
    escape = st.one_of(st.sampled_from(['\\"', "\\\\", "\\n", "\\u00e9", "\\#", "\\é", "\\\n"]),
                       st.characters(codec="utf-8").map("\\".__add__))
    return st.lists(st.one_of(plain, escape), max_size=5).map(lambda p: '"' + "".join(p) + '"')


@lru_cache(maxsize=None)
def expressions(newlines=LF_ONLY):
    """What follows the colon of an expression key, `;;` included.

    The raw text never holds `;;` and never ends in `;` (which would move the
    terminator).
    """
    ws = st.lists(st.sampled_from([" ", "\t", "\u00a0", "\u3000", "\u2003", *newlines]), max_size=3).map("".join)
    fragment = st.one_of(
        st.sampled_from(["select", " ", "${TABLE}.id", "*", "# not a comment", '"quoted"', "'x'", "{ }", "[1, 2]",
                         "a; b", ";x", "<b>", "日本", "\t", "\u00a0", "a:b"]),
        st.sampled_from(newlines), st.text(_chars_except(";"), min_size=1, max_size=3),
    )
    return st.tuples(ws, st.lists(fragment, max_size=6).map("".join), ws).map(lambda t: "".join(t) + ";;")


class Rendered(NamedTuple):
    text: str
    ends_in_token: bool  # then a key may not follow directly: `a: bc: d` reads `bc` as the value


_token, _closed = partial(Rendered, ends_in_token=True), partial(Rendered, ends_in_token=False)


@lru_cache(maxsize=None)
def _list_elements(newlines, depth):
    simple = [bare_tokens().map(_token), strings(newlines).map(_closed)]
    if depth <= 0:
        return st.one_of(simple)
    # Any bare token may key a list pair, expression keys included.
    pair = st.tuples(st.one_of(bare_tokens(), expr_keys()), _inline_space, _spacey_trivia(newlines),
                     st.deferred(lambda: _list_elements(newlines, depth - 1)))
    return st.one_of(*simple, pair.map(lambda t: Rendered(t[0] + t[1] + ":" + t[2] + t[3].text, t[3].ends_in_token)),
                     st.deferred(lambda: lists(newlines, depth - 1)).map(_closed))


@st.composite
def _list(draw, newlines, depth):
    n = draw(st.integers(0, 4))
    out = ["["]
    for i in range(n):
        out += [draw(_optional_trivia(newlines)), draw(_list_elements(newlines, depth)).text]
        if i < n - 1 or draw(st.booleans()):  # the last element may have a comma too
            out += [draw(_optional_trivia(newlines, 2)), ","]
    return "".join(out + [draw(_optional_trivia(newlines)), "]"])


@lru_cache(maxsize=None)
def lists(newlines=LF_ONLY, depth=2):
    return _list(newlines, depth)


@lru_cache(maxsize=None)
def values(newlines=LF_ONLY, depth=2):
    """An ordinary key's value (what follows the colon and its trivia)."""
    literal, string = bare_tokens().map(_token), strings(newlines).map(_closed)
    lst = lists(newlines, min(depth, 2)).map(_closed)
    if depth <= 0:
        return st.one_of(literal, string, lst)
    block = st.deferred(lambda: bodies(newlines, depth - 1, 3)).map(lambda b: "{" + b + "}")
    # The trivia between a block name and its brace may hold line breaks and
    # comments: the name still belongs to the block.
    named = st.tuples(bare_tokens(), st.one_of(st.just(" "), _optional_trivia(newlines)), block).map("".join)
    return st.one_of(literal, literal, string, lst, block.map(_closed), named.map(_closed))


@lru_cache(maxsize=None)
def pairs(newlines=LF_ONLY, depth=2):
    """One pair, without its leading trivia."""
    expr_pair = st.tuples(expr_keys(), _inline_space, expressions(newlines)).map(lambda t: _closed(t[0] + t[1] + ":" + t[2]))
    plain_pair = st.tuples(keys(), _inline_space, _spacey_trivia(newlines), values(newlines, depth)).map(
        lambda t: Rendered(t[0] + t[1] + ":" + t[2] + t[3].text, t[3].ends_in_token))
    return st.one_of(plain_pair, plain_pair, plain_pair, expr_pair)


@lru_cache(maxsize=None)
def _separator(newlines, after_token):
    """The leading trivia of a pair that follows another."""
    usual = st.tuples(st.sampled_from(newlines), st.sampled_from(["", "  ", "\t"])).map("".join)
    tight = [] if after_token else [st.just("")]  # `a: "x"b: y` and `a: {}b: c` are fine
    return st.one_of(usual, usual, trivia(newlines, min_size=1), st.just(" "), *tight)


@st.composite
def _body(draw, newlines, depth, max_pairs):
    count = draw(st.integers(0, max_pairs))
    out, previous = [], None
    for _ in range(count):
        out.append(draw(_optional_trivia(newlines) if previous is None else _separator(newlines, previous.ends_in_token)))
        previous = draw(pairs(newlines, depth))
        out.append(previous.text)
    nl = st.sampled_from(newlines)
    out.append(draw(st.one_of(st.just(""), nl, nl, trivia(newlines))))
    return "".join(out), count


@lru_cache(maxsize=None)
def bodies(newlines=LF_ONLY, depth=2, max_pairs=4):
    """Pairs and trivia as they stand inside braces or at the top level."""
    return _body(newlines, depth, max_pairs).map(lambda t: t[0])


@st.composite
def _document(draw, depth, max_pairs):
    newlines = draw(st.sampled_from([LF_ONLY, ("\r\n",), ("\n", "\r\n")]))
    text, count = draw(_body(newlines, depth, max_pairs))
    if draw(st.integers(0, 5)) == 0:  # a comment may close the file without a line break
        text += draw(st.sampled_from(["", " ", *newlines])) + "#" + draw(comment_text())
    return text, count


@lru_cache(maxsize=None)
def counted_documents(depth=2, max_pairs=5):
    """A valid document, all LF, all CRLF or mixed, and the number of its top-level pairs."""
    return _document(depth, max_pairs)


@lru_cache(maxsize=None)
def documents(depth=2, max_pairs=5):
    """A valid Quarel document as source text."""
    return counted_documents(depth, max_pairs).map(lambda t: t[0])
