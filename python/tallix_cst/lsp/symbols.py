"""The outline of a document: block pairs hold the pairs inside them, every pair is a
symbol named after its key (a named block `key name`, as in `dimension id`), with its value
in short beside it."""

from __future__ import annotations

from typing import Optional

from lsprotocol.types import SymbolKind

from tallix_cst._native import KINDS
from tallix_cst.lsp.documents import Parsed
from tallix_cst.lsp.positions import LineIndex
from tallix_cst.lsp.protocol import RawJson

_KINDS = {
    "literal": SymbolKind.Constant.value,
    "string": SymbolKind.String.value,
    "expr": SymbolKind.Function.value,
    "list": SymbolKind.Array.value,
    "block": SymbolKind.Struct.value,
}
_NAMED_BLOCK = SymbolKind.Class.value
# In the order the engine takes them: its kinds, then a named block.
_ENGINE_KINDS = (*(_KINDS[kind] for kind in KINDS), _NAMED_BLOCK)


def symbol_name(key: str, name: Optional[str]) -> str:
    return key if name is None else f"{key} {name}"


def symbol_kind(kind: str, name: Optional[str]) -> int:
    return _NAMED_BLOCK if kind == "block" and name is not None else _KINDS[kind]


def document_symbols(parsed: Parsed, index: LineIndex) -> RawJson:
    """The outline as JSON, nested by the pairs' depths, in the current text's positions.
    The engine writes it: a large document has hundreds of thousands of symbols."""
    return RawJson(
        parsed.doc.symbols_json(index.data, index.encoding, parsed.moves, _ENGINE_KINDS)
    )
