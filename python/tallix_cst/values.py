"""Type aliases for the values that documents and pairs read and accept, so that
code handling them can be annotated:

    def labels(view: Pair) -> list[Value]: ...
"""

from typing import Dict, List, Literal, Mapping, Optional, Sequence, Tuple, TypedDict, Union

#: The kind of a value that `set_value` and `quarel set --kind` can give.
ValueKind = Literal["literal", "string", "expr", "list"]
#: A kind name, as `Pair.kind` reports it and `kind` arguments take it.
Kind = Literal[ValueKind, "block"]

#: An element of a list as read: text, a `(key, value)` pair, or a nested list.
ListItem = Union[str, Tuple[str, "ListItem"], List["ListItem"]]
#: A value as read: text for literals, strings and expressions, a list for lists,
#: None for blocks.
Value = Optional[Union[str, List[ListItem]]]

#: Text, or a bool or number written as a literal.
Scalar = Union[str, int, float]
#: An element of a new list: a scalar, a `(key, value)` pair, or a nested list.
NewItem = Union[Scalar, Tuple[str, "NewPairValue"], Sequence["NewItem"]]
#: The value of a pair inside a new list.
NewPairValue = Union[Scalar, Sequence[NewItem]]
#: A value as `add`, `set_value`, item assignment and `value` take it; a dict is a
#: list of pairs.
NewValue = Union[Scalar, Sequence[NewItem], Mapping[str, NewPairValue]]

#: What a token of `Document.tokens()` is, for highlighting. (The engine's order is
#: `tallix_cst._native.TOKEN_KINDS`, that of kinds `tallix_cst._native.KINDS`.)
TokenKind = Literal["key", "name", "literal", "string", "expr", "comment", "punctuation"]

#: A pair of `Document.outline()`: key, name, kind, preview, depth, then its place as a
#: `Location` gives it (line, column, offset, end_line, end_column, end_offset) and the
#: column where its key ends.
OutlineEntry = Tuple[
    str, Optional[str], Kind, Optional[str], int, int, int, int, int, int, int, int
]

class FormatOptions(TypedDict, total=False):
    """The options of `Document.format` and `format_text`, each optional: the engine
    holds their defaults (`tallix_cst._native.FORMAT_OPTIONS`)."""

    indent: Optional[str]
    newline: Optional[Literal["\n", "\r\n"]]
    max_blank_lines: int
    column_width: int
    final_newline: bool
    lines: Optional[Tuple[int, int]]


#: An element of a list value in plain data: a pair is a one-key dict.
DataItem = Union[str, Dict[str, "DataItem"], List["DataItem"]]


#: A document's plain value, as `Document.unwrap()` gives it.
PlainData = Union[Dict[str, "PlainData"], List["PlainData"], str, int, float, bool]
#: A step of a path into plain data: a dict's key or a list's index.
PathStep = Union[str, int]


class PairData(TypedDict):
    """A pair as plain data, as `Pair.to_data()` returns it."""

    key: str
    name: Optional[str]
    kind: Kind
    value: Optional[Union[str, List[DataItem]]]
    children: List["PairData"]


__all__ = [
    "DataItem",
    "FormatOptions",
    "Kind",
    "ListItem",
    "NewItem",
    "NewPairValue",
    "NewValue",
    "OutlineEntry",
    "PairData",
    "PathStep",
    "PlainData",
    "Scalar",
    "TokenKind",
    "Value",
    "ValueKind",
]
