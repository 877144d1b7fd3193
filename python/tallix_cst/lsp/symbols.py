"""The outline of a document: block pairs hold the pairs inside them, every pair is a
symbol named after its key (a named block `key name`, as in `dimension id`), with its value
in short beside it."""

from __future__ import annotations

from json.encoder import encode_basestring_ascii as quoted
from typing import List, Optional, Tuple

from lsprotocol.types import SymbolKind

from tallix_cst.lsp.documents import Parsed
from tallix_cst.lsp.positions import LineIndex
from tallix_cst.lsp.protocol import RawJson

_BLOCK, _NAMED_BLOCK = SymbolKind.Struct.value, SymbolKind.Class.value
_KINDS = {
    "literal": SymbolKind.Constant.value,
    "string": SymbolKind.String.value,
    "expr": SymbolKind.Function.value,
    "list": SymbolKind.Array.value,
}


def symbol_name(key: str, name: Optional[str]) -> str:
    return key if name is None else f"{key} {name}"


def symbol_kind(kind: str, name: Optional[str]) -> int:
    if kind == "block":
        return _BLOCK if name is None else _NAMED_BLOCK
    return _KINDS[kind]


def document_symbols(parsed: Parsed, index: LineIndex) -> RawJson:
    """The outline as JSON, nested by the pairs' depths. Written out in one loop, as this is
    the request whose time grows with the document: a pair on a line of ASCII takes its
    positions from the engine's line and column as they are, their texts looked up rather
    than formatted one by one."""
    out = ["["]
    open_blocks = 0
    comma = ""
    engine_lines = index.engine_lines and not parsed.moved
    non_ascii = index.non_ascii
    texts = _texts_from_1(len(index.starts) + 256)
    limit = len(texts)
    for (
        key, name, kind, detail, depth, line, column, offset, end_line, end_column, end_offset, key_end
    ) in parsed.doc.outline():
        if depth < open_blocks:
            out.append("]}" * (open_blocks - depth))
            open_blocks, comma = depth, ","
        if (
            engine_lines
            and key_end < limit
            and end_column < limit
            and not (non_ascii and (line - 1 in non_ascii or end_line - 1 in non_ascii))
        ):
            at = texts[line]
            start = f'{{"line":{at},"character":{texts[column]}}}'
            place = (
                f'"range":{{"start":{start},"end":{{"line":{texts[end_line]},'
                f'"character":{texts[end_column]}}}}},"selectionRange":{{"start":{start},'
                f'"end":{{"line":{at},"character":{texts[key_end]}}}}}'
            )
        else:
            place = _converted(parsed, index, offset, end_offset, key_end - column)
        if detail is None:
            out.append(
                f'{comma}{{"name":{quoted(key if name is None else key + " " + name)},'
                f'"kind":{_BLOCK if name is None else _NAMED_BLOCK},{place},"children":['
            )
            open_blocks, comma = open_blocks + 1, ""
        else:
            out.append(
                f'{comma}{{"name":{quoted(key)},"kind":{_KINDS[kind]},{place},'
                f'"detail":{quoted(detail)}}}'
            )
            comma = ","
    out.append("]}" * open_blocks + "]")
    return RawJson("".join(out))


# The text of n - 1 at n: the engine counts lines and columns from 1, the protocol from 0.
_TEXTS: List[str] = []


def _texts_from_1(count: int) -> List[str]:
    if len(_TEXTS) < count:
        _TEXTS.extend(map(str, range(len(_TEXTS) - 1, count - 1)))
    return _TEXTS


def _converted(
    parsed: Parsed, index: LineIndex, offset: int, end_offset: int, key_size: int
) -> str:
    """The range and selection range as JSON, from the offsets moved into the current text
    and converted to the client's encoding."""
    start = parsed.current(offset)
    line, column = index.position(start)
    end_line, end_column = index.position(parsed.current(end_offset))
    key_line, key_end = index.position(start + key_size)
    start_ = f'{{"line":{line},"character":{column}}}'
    return (
        f'"range":{{"start":{start_},"end":{{"line":{end_line},"character":{end_column}}}}},'
        f'"selectionRange":{{"start":{start_},'
        f'"end":{{"line":{line},"character":{key_end if key_line == line else column}}}}}'
    )
