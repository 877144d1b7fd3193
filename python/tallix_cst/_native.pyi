import os
from collections.abc import Callable, Iterator, Sequence
from typing import (
    IO,
    Any,
    ClassVar,
    Iterable,
    Literal,
    NamedTuple,
    NoReturn,
    Protocol,
    TypeVar,
    final,
    overload,
)

from tallix_cst.values import (
    Kind,
    NewValue,
    OutlineEntry,
    PairData,
    PathStep,
    PlainData,
    TokenKind,
    Value,
    ValueKind,
)

_T = TypeVar("_T")
_P = TypeVar("_P")

class _Places(Protocol):
    """What unwrap() asks of a schema's places (see tallix_cst.schema.places.Places)."""

    def describe(
        self, number: int
    ) -> tuple[Sequence[str], dict[str, int] | None, int, Sequence[int], int]: ...
    def child(self, number: int, key: str) -> int: ...

class _Schema(Protocol):
    @property
    def places(self) -> _Places: ...

class _Checker(Protocol[_P]):
    def problems(self, document: Document) -> list[_P]: ...

_Span = tuple[int, int, int, int, int, int]
_Segments = list[tuple[str, str | None]]

__all__ = ["Document", "Pair", "parse_quarel", "QuarelSyntaxError"]

# The engine's tables of names: kinds and token kinds in its order, and the formatter's
# options with their defaults.
KINDS: tuple[Kind, ...]
TOKEN_KINDS: tuple[TokenKind, ...]
FORMAT_OPTIONS: tuple[tuple[str, object], ...]

def parse_quarel(source: str | bytes | bytearray) -> Document:
    """Parses Quarel source into a Document: text (str), or the UTF-8 bytes of a
    file (bytes or bytearray), whose byte-order mark stays apart from the first key."""

def syntax_errors(text: str | bytes | bytearray) -> list[QuarelSyntaxError]:
    """Every syntax error of Quarel source, in order, as QuarelSyntaxError objects
    (empty when it parses): the first is the one parse_quarel raises; after each,
    reading goes on at the next line that starts a `key:` no deeper than the
    failing one, or that closes the block with `}`. Takes what parse_quarel takes."""

def recovered_text(text: str | bytes | bytearray) -> tuple[bytes, list[tuple[int, int, int]]]:
    """The text as the recovering parse of syntax_errors() reads it, and how to
    read its offsets in the text given: (mended, moves), the UTF-8 bytes of the text
    with every stretch the recovery skipped blanked out (line breaks kept) and a `}`
    put in where it closed a block, so that they parse as the pairs it kept, at
    their offsets; moves, (start, end, length) replacements made in order, take out
    what was put in. Takes what parse_quarel takes."""

class QuarelSyntaxError(ValueError):
    """Raised when Quarel source cannot be parsed. Has message (without the position), line,
    column and offset attributes."""

    message: str
    line: int
    column: int
    offset: int

class Location(NamedTuple):
    """Where a pair stands in its document's text, from its key to the end of its value: lines
    and columns from 1, offsets from 0, columns and offsets in bytes of the UTF-8 text
    (to_bytes()); a byte-order mark counts in offsets but not in columns. The end is the
    position just past the value."""

    line: int
    column: int
    offset: int
    end_line: int
    end_column: int
    end_offset: int

class _Container:
    @property
    def children(self) -> list[Pair]:
        """The pairs directly inside this container."""
    def find(self, key: str, name: str | None = None) -> Pair | None:
        """The first child with key, and block name when given, or None."""
    def find_all(self, key: str, name: str | None = None) -> list[Pair]:
        """Every child with key, and block name when given."""
    @overload
    def get(self, key: str) -> Value: ...
    @overload
    def get(self, key: str, default: _T) -> Value | _T: ...
    def add(
        self,
        key: str,
        value: NewValue | None = None,
        *,
        name: str | None = None,
        kind: Kind | None = None,
        index: int | None = None,
    ) -> Pair:
        """Adds a child pair and returns it. Without a value the child is a block, named
        when name is given. kind forces the value's form: literal, string, expr, list
        or block. index defaults to the end."""
    def add_source(self, source: str, index: int | None = None) -> list[Pair]:
        """Parses a Quarel snippet and inserts its pairs, re-indented to fit, returning them."""
    def remove(self, target: Pair | str, name: str | None = None) -> bool:
        """Removes a child given its Pair, or the first child with a key (and name).
        Returns whether a child was removed."""
    def walk(self) -> list[Pair]:
        """Every pair under this container, depth first in source order."""
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Pair]: ...
    def __getitem__(self, key: str, /) -> Value: ...
    def __setitem__(self, key: str, value: NewValue, /) -> None: ...
    def __delitem__(self, key: str, /) -> None: ...
    def __contains__(self, key: str, /) -> bool: ...

@final
class Document(_Container):
    """A parsed Quarel file. str() returns the source, including any edits."""

    @staticmethod
    def parse(source: str | bytes | bytearray) -> Document:
        """Parses Quarel source into a Document: text (str), or the UTF-8 bytes of a
        file (bytes or bytearray), whose byte-order mark stays apart from the first key."""
    def to_string(self) -> str:
        """The document as Quarel source."""
    def to_bytes(self) -> bytes:
        """The document as Quarel source encoded in UTF-8."""
    def dump(self, target: str | os.PathLike[str] | IO[bytes]) -> None:
        """Writes the document to a path or a binary file object; see tallix_cst.dump."""
    def to_data(self) -> list[PairData]:
        """The document as plain data: the list of its pairs' to_data()."""
    def unwrap(self, schema: _Schema | None = None) -> dict[str, PlainData]:
        """The document as plain data: a dict of its pairs (see the README for the rules),
        with lists, str, and, where the schema (a tallix_cst.Schema) accepts no string
        but accepts them, int, float and bool."""
    def validate(self, schema: _Checker[_P]) -> list[_P]:
        """The document's problems against the schema (a tallix_cst.Schema), in
        position order: schema.problems(document)."""
    def path_at(self, offset: int) -> list[PathStep]:
        """The path into unwrap()'s value (keys and indexes) of the innermost value
        whose text holds a byte offset of to_bytes(): inside a block, the place of its
        pairs; on a key or a name, its pair's value. Empty for the document."""
    def _locate(
        self, path: Sequence[PathStep], as_key: bool = False
    ) -> tuple[str, _Span, _Span | None, int, str | None, _Segments] | None:
        """Where the value at a path of unwrap()'s value stands (schema checks)."""
    def _left_out(self) -> list[tuple[str, _Span, int, _Segments]]:
        """The pairs unwrap() leaves out (schema checks)."""
    def _unwrap_marked(
        self, names: Callable[[], dict[str, Any]], literal: Callable[[str], str]
    ) -> dict[str, Any]:
        """unwrap() with named blocks and literals marked (schema inference)."""
    def tokens(self) -> list[tuple[int, int, TokenKind]]:
        """The document's tokens in text order, for highlighting: (offset, length, kind)
        tuples, offset and length in bytes of to_bytes(). kind is key, name (of a
        block), literal, string (with its quotes), expr (the expression's text),
        comment or punctuation (: { } [ ] , ;;). Whitespace is no token."""
    def token_at(self, offset: int) -> tuple[int, int, TokenKind] | None:
        """The token of tokens() that holds a byte offset or ends at it, or None."""
    def key_counts(self, *, repeated: bool = False) -> dict[str | None, dict[str, int]]:
        """For each block key, and None for the top of the document, how many such blocks
        hold each key, as {block key: {key: count}}: a key counts once per block however
        often it repeats there. With repeated, how many hold it more than once."""
    def outline(self) -> list[OutlineEntry]:
        """Every pair in walk order, for an editor's outline: (key, name, kind, preview,
        depth, line, column, offset, end_line, end_column, end_offset, key_end_column)
        tuples. name is a block's name or None; preview is the value in one line (its
        first, each run of spaces made one, a string unescaped, a list as [a, k: v], cut
        at 40 characters with … where text is left out), None for a block; depth is 0
        at the top level and one more inside each block. Positions are a Location's; the
        key ends at key_end_column on the first line."""
    def pairs_at(self, offset: int) -> list[Pair]:
        """The pairs whose location holds a byte offset of to_bytes(), its end included,
        in walk order: each block's pair before the pairs inside it, so the last is the
        innermost. Only the blocks that hold the offset are entered."""
    def symbols_json(
        self,
        text: bytes,
        encoding: str,
        moves: Iterable[tuple[int, int, int]],
        kinds: tuple[int, ...],
        *,
        limit: int | None = None,
    ) -> bytes:
        """The outline as a language server's document symbols: the UTF-8 bytes of a JSON
        list of DocumentSymbol, a block holding the pairs inside it as children, named
        `key name` when it has a name, other pairs with their preview as detail. The
        document's offsets are moved through `moves`, (start, end, length) replacements
        made in order since it was parsed, into `text` (bytes), where lines end at LF,
        CR LF or a lone CR and characters count in `encoding` (utf-8, utf-16 or utf-32).
        `kinds` are the symbol kinds of a literal, string, expr, list, block and named
        block. With a limit, at most that many symbols: all down to the depth where the
        next level would not fit, then the first of that level that fit."""
    def semantic_tokens_json(
        self,
        text: bytes,
        encoding: str,
        moves: Iterable[tuple[int, int, int]],
        within: tuple[int, int] | None = None,
    ) -> bytes:
        """The tokens as a language server's semantic tokens: the UTF-8 bytes of the JSON
        {"data": [...]}, five numbers a token in the protocol's relative encoding, a
        token over several lines cut into one a line, its type the index of its kind in
        key, name, literal, string, expr, comment, punctuation. Offsets are moved and
        positions counted as symbols_json() does; `within`, a (start, end) of offsets
        of `text`, keeps only the tokens that meet it. A token an edit has emptied is
        left out."""
    def folding_ranges_json(
        self, text: bytes, moves: Iterable[tuple[int, int, int]], *, limit: int | None = None
    ) -> bytes:
        """Folding ranges as a language server gives them: the UTF-8 bytes of a JSON list
        of FoldingRange. A block or list folds up to the line before its closing
        bracket; a string or expression over several lines through its last line; a
        run of comment lines, as kind "comment". Offsets are moved and lines counted
        as symbols_json() does; a limit keeps the outermost ranges as symbols_json()
        keeps symbols, depth counted in brackets around a range."""
    def format(
        self,
        *,
        indent: str | None = ...,
        newline: Literal["\n", "\r\n"] | None = ...,
        max_blank_lines: int = ...,
        column_width: int = ...,
        final_newline: bool = ...,
        lines: tuple[int, int] | None = ...,
    ) -> bool:
        """Lays the document out regularly, in place, changing whitespace only, and returns
        whether its text changed."""
    def format_edits_json(
        self,
        encoding: str,
        *,
        indent: str | None = ...,
        newline: Literal["\n", "\r\n"] | None = ...,
        max_blank_lines: int = ...,
        column_width: int = ...,
        final_newline: bool = ...,
        lines: tuple[int, int] | None = ...,
    ) -> bytes:
        """Formats the document as format() does, and returns what changed as a language
        server's edits: the UTF-8 bytes of a JSON list of TextEdit, in text order, each the
        smallest stretch of the text as printed before that changed and its new text.
        Positions are counted in that text as symbols_json() counts them, in `encoding`
        (utf-8, utf-16 or utf-32). An empty list when nothing changed."""
    @property
    def newline(self) -> Literal["\n", "\r\n"]:
        """The line break that edits write: "\\n" or "\\r\\n", as the document shows it."""
    @property
    def indent(self) -> str:
        """The indentation that edits add per level of nesting, as the document shows it."""
    def __reduce__(self) -> tuple[Callable[[bytes], Document], tuple[bytes]]:
        """Pickles the document as its bytes."""

@final
class Pair(_Container):
    """A `key: value` entry in a document, such as `type: number` or `dimension: id { ... }`."""

    __hash__: ClassVar[None]  # type: ignore[assignment]
    @property
    def key(self) -> str: ...
    @key.setter
    def key(self, value: str) -> None: ...
    @property
    def name(self) -> str | None:
        """The block name, as in users for `view: users { ... }`, or None."""
    @name.setter
    def name(self, value: str | None) -> None: ...
    @property
    def kind(self) -> Kind:
        """One of literal, string, expr, list or block."""
    @property
    def value(self) -> Value:
        """The value: str for literals, strings and expressions, a list for lists (with
        (key, value) tuples for pairs such as filters) and None for blocks. Assigning keeps
        the current kind."""
    @value.setter
    def value(self, value: NewValue) -> None: ...
    @property
    def comments(self) -> list[str]:
        """The comment lines directly above this pair, including their `#`."""
    @comments.setter
    def comments(self, value: Sequence[str]) -> None: ...
    @property
    def parent(self) -> Document | Pair | None:
        """The block or document containing this pair, or None for a pair that was never attached."""
    def set_value(self, value: NewValue, kind: ValueKind | None = None) -> None:
        """Replaces the value, optionally changing its kind: literal, string, expr or list."""
    def detach(self) -> bool:
        """Removes this pair from its parent, returning whether it was still attached."""
    def to_string(self, include_leading: bool = False, *, dedent: bool = False) -> str:
        """The pair as Quarel source, without the whitespace and comments before it unless
        include_leading is set. With dedent set, the lines lose the indentation of the pair's
        own line, as if it stood at the top level (text inside strings stays as it is)."""
    @property
    def end_comment(self) -> str | None:
        """The comment at the end of the line where the value ends, including its `#`, or
        None. Assigning None, or text that is only whitespace, removes it."""
    @end_comment.setter
    def end_comment(self, value: str | None) -> None: ...
    @property
    def location(self) -> Location | None:
        """Where the pair stands in its document's text as printed now, a Location; None
        for a detached pair."""
    def move_to(self, target: Document | Pair, index: int | None = None) -> None:
        """Moves this pair, with its comments, into target, a Document or block Pair, at
        index (the end by default), re-indented to fit there."""
    def unwrap(self, schema: _Schema | None = None) -> PlainData:
        """The pair's value as plain data, as Document.unwrap() gives it, the schema
        (a tallix_cst.Schema) standing for the value."""
    def to_data(self) -> PairData:
        """The pair as plain data: a dict of key, name, kind, value (a pair inside a list
        as {key: value}) and children (for a block, its pairs' to_data())."""
    def __copy__(self) -> Pair:
        """A detached copy of the pair, as __deepcopy__."""
    def __deepcopy__(self, memo: Any) -> Pair:
        """A detached copy of the pair, with its comments and end-of-line comment."""
    def __reduce__(self) -> NoReturn:
        """Refused: a Pair cannot be pickled."""
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
