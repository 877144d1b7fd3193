import os
from collections.abc import Iterator, Mapping, Sequence
from typing import IO, ClassVar, Literal, TypeVar, final, overload

from typing_extensions import TypeAlias

_T = TypeVar("_T")

_Kind: TypeAlias = Literal["literal", "string", "expr", "list", "block"]
_ValueKind: TypeAlias = Literal["literal", "string", "expr", "list"]

# Values as read: text for scalars, lists holding text, (key, value) pairs and lists.
_ListItem: TypeAlias = str | tuple[str, _ListItem] | list[_ListItem]
_Value: TypeAlias = str | list[_ListItem] | None

# Values accepted for writing: bools and numbers are written as literals, tuples of two
# as list pairs, and a dict as a list of pairs.
_Scalar: TypeAlias = str | int | float
_NewItem: TypeAlias = _Scalar | tuple[str, _NewPairValue] | Sequence[_NewItem]
_NewPairValue: TypeAlias = _Scalar | Sequence[_NewItem]
_NewValue: TypeAlias = _Scalar | Sequence[_NewItem] | Mapping[str, _NewPairValue]

__all__ = ["Document", "Pair", "parse_quarel", "QuarelSyntaxError"]

def parse_quarel(source: str) -> Document:
    """Parses Quarel source into a Document."""

class QuarelSyntaxError(ValueError):
    """Raised when Quarel source cannot be parsed. Has message (without the position), line,
    column and offset attributes."""

    message: str
    line: int
    column: int
    offset: int

class _Container:
    @property
    def children(self) -> list[Pair]:
        """The pairs directly inside this container."""
    def find(self, key: str, name: str | None = None) -> Pair | None:
        """The first child with key, and block name when given, or None."""
    def find_all(self, key: str, name: str | None = None) -> list[Pair]:
        """Every child with key, and block name when given."""
    @overload
    def get(self, key: str) -> _Value: ...
    @overload
    def get(self, key: str, default: _T) -> _Value | _T: ...
    def add(
        self,
        key: str,
        value: _NewValue | None = None,
        *,
        name: str | None = None,
        kind: _Kind | None = None,
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
    def __getitem__(self, key: str, /) -> _Value: ...
    def __setitem__(self, key: str, value: _NewValue, /) -> None: ...
    def __delitem__(self, key: str, /) -> None: ...
    def __contains__(self, key: str, /) -> bool: ...

@final
class Document(_Container):
    """A parsed Quarel file. str() returns the source, including any edits."""

    @staticmethod
    def parse(source: str | bytes | bytearray) -> Document:
        """Parses Quarel source into a Document."""
    def to_string(self) -> str:
        """The document as Quarel source."""
    def to_bytes(self) -> bytes:
        """The document as Quarel source encoded in UTF-8."""
    def dump(self, target: str | os.PathLike[str] | IO[bytes]) -> None:
        """Writes the document to a path or a binary file object; see tallix_cst.dump."""

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
    def kind(self) -> _Kind:
        """One of literal, string, expr, list or block."""
    @property
    def value(self) -> _Value:
        """The value: str for literals, strings and expressions, a list for lists (with
        (key, value) tuples for pairs such as filters) and None for blocks. Assigning keeps
        the current kind."""
    @value.setter
    def value(self, value: _NewValue) -> None: ...
    @property
    def comments(self) -> list[str]:
        """The comment lines directly above this pair, including their `#`."""
    @comments.setter
    def comments(self, value: Sequence[str]) -> None: ...
    @property
    def parent(self) -> Document | Pair | None:
        """The block or document containing this pair, or None for a pair that was never attached."""
    def set_value(self, value: _NewValue, kind: _ValueKind | None = None) -> None:
        """Replaces the value, optionally changing its kind: literal, string, expr or list."""
    def detach(self) -> bool:
        """Removes this pair from its parent, returning whether it was still attached."""
    def to_string(self, include_leading: bool = False, *, dedent: bool = False) -> str:
        """The pair as Quarel source, without the whitespace and comments before it unless
        include_leading is set. With dedent set, the lines lose the indentation of the pair's
        own line, as if it stood at the top level (text inside strings stays as it is)."""
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
