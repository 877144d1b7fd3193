"""The outline of a document: block pairs hold the pairs inside them, every pair is a
symbol named after its key (a named block `key name`, as in `dimension id`), with its value
in short beside it."""

from __future__ import annotations

from json.encoder import encode_basestring_ascii as quoted
from typing import List, Optional, Tuple

from lsprotocol.types import SymbolKind

from tallix_cst._native import Location
from tallix_cst.lsp.documents import Parsed
from tallix_cst.lsp.positions import LineIndex
from tallix_cst.lsp.protocol import RawJson

PREVIEW = 40

# By kind and whether the pair has a name (only blocks do).
_KINDS = {
    ("block", True): SymbolKind.Class.value,
    ("block", False): SymbolKind.Struct.value,
    ("literal", False): SymbolKind.Constant.value,
    ("string", False): SymbolKind.String.value,
    ("expr", False): SymbolKind.Function.value,
    ("list", False): SymbolKind.Array.value,
}


def symbol_name(key: str, name: Optional[str]) -> str:
    return key if name is None else f"{key} {name}"


def symbol_kind(kind: str, name: Optional[str]) -> int:
    return _KINDS[kind, name is not None]


def preview(value: object, limit: int = PREVIEW) -> str:
    """A value in one short line: its first line, cut with an ellipsis."""
    line, _, rest = _flat(value).strip().partition("\n")
    if len(line) > limit or rest:
        return line[:limit].rstrip() + "…"
    return line


def _flat(value: object) -> str:
    if isinstance(value, list):
        return "[" + ", ".join(_flat(item) for item in value) + "]"
    if isinstance(value, tuple):
        return f"{value[0]}: {_flat(value[1])}"
    return "" if value is None else str(value)


def document_symbols(parsed: Parsed, index: LineIndex) -> RawJson:
    """The outline as JSON, nested by the pairs' extents in walk order: a block stays open
    until a pair starts at or past its end. Written out in one loop, as this is the
    request whose time grows with the document: a pair on a line of ASCII takes its
    positions from the engine's line and column as they are."""
    out = ["["]
    ends: List[int] = []  # where each open block ends
    first = True
    engine_lines = index.engine_lines and not parsed.moved
    non_ascii = index.non_ascii
    for pair, location in parsed.located():
        line, column, offset, end_line, end_column, end_offset = location
        line, column, end_line, end_column = line - 1, column - 1, end_line - 1, end_column - 1
        while ends and ends[-1] <= offset:
            ends.pop()
            out.append("]}")
        key, kind, name = pair.key, pair.kind, pair.name
        if engine_lines and line not in non_ascii and end_line not in non_ascii:
            key_end = column + len(key)
        else:
            line, column, end_line, end_column, key_end = _moved(parsed, index, location, key)
        start = f'{{"line":{line},"character":{column}}}'
        out.append(
            f'{"," if not first else ""}{{"name":{quoted(key if name is None else key + " " + name)},'
            f'"kind":{symbol_kind(kind, name)},'
            f'"range":{{"start":{start},"end":{{"line":{end_line},"character":{end_column}}}}},'
            f'"selectionRange":{{"start":{start},"end":{{"line":{line},"character":{key_end}}}}}'
        )
        if kind == "block":
            out.append(',"children":[')
            ends.append(end_offset)
            first = True
        else:
            value = pair.value
            if type(value) is not str or len(value) > PREVIEW or "\n" in value:
                value = preview(value)
            out.append(f',"detail":{quoted(value)}}}')
            first = False
    out.append("]}" * len(ends) + "]")
    return RawJson("".join(out))


def _moved(
    parsed: Parsed, index: LineIndex, location: Location, key: str
) -> Tuple[int, int, int, int, int]:
    """Start line and character, end line and character, and the character where the key
    ends, from the offsets moved into the current text."""
    start = parsed.current(location.offset)
    line, column = index.position(start)
    end_line, end_column = index.position(parsed.current(location.end_offset))
    key_line, key_end = index.position(start + len(key.encode()))
    return line, column, end_line, end_column, key_end if key_line == line else column
