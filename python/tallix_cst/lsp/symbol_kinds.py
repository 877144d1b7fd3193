"""What a pair is called as a symbol, in the outline and among the workspace's symbols
alike: named after its key (a named block `key name`, as in `dimension id`), of the
protocol's kind for its own kind."""

from __future__ import annotations

from typing import Optional

from lsprotocol.types import SymbolKind

from tallix_cst._native import KINDS

_KINDS = {
    "literal": SymbolKind.Constant.value,
    "string": SymbolKind.String.value,
    "expr": SymbolKind.Function.value,
    "list": SymbolKind.Array.value,
    "block": SymbolKind.Struct.value,
}
_NAMED_BLOCK = SymbolKind.Class.value
# In the order the engine takes them: its kinds, then a named block.
ENGINE_KINDS = (*(_KINDS[kind] for kind in KINDS), _NAMED_BLOCK)


def symbol_name(key: str, name: Optional[str]) -> str:
    return key if name is None else f"{key} {name}"


def symbol_kind(kind: str, name: Optional[str]) -> int:
    return _NAMED_BLOCK if kind == "block" and name is not None else _KINDS[kind]
