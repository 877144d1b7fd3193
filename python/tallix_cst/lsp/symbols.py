"""The outline of a document: block pairs hold the pairs inside them, every pair is a
symbol (`symbol_kinds.py`) with its value in short beside it."""

from __future__ import annotations

from typing import Optional

from lsprotocol import types

from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.protocol import RawJson
from tallix_cst.lsp.symbol_kinds import ENGINE_KINDS

# An outline holds at most this many symbols, as editors' own language servers cap theirs:
# the outermost, level by level, so that every top-level block of a huge file is listed.
MAX_SYMBOLS = 5000


def document_symbols(
    document: OpenDocument, params: types.DocumentSymbolParams
) -> Optional[RawJson]:
    """The outline as JSON, nested by the pairs' depths, in the current text's positions.
    The engine writes it: a large document has hundreds of thousands of pairs."""
    parsed = document.view
    if parsed is None:
        return None
    index = document.index
    return parsed.kept(
        "symbols",
        lambda: RawJson(
            parsed.doc.symbols_json(
                index.data, index.encoding, parsed.moves, ENGINE_KINDS, limit=MAX_SYMBOLS
            )
        ),
    )
