"""Folding ranges: blocks and lists, expressions and strings over several lines, and runs
of comment lines, from the engine's tokens."""

from __future__ import annotations

from typing import Optional

from lsprotocol import types

from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.protocol import RawJson

# A document folds in at most this many ranges, or fewer if the editor asks: the outermost.
MAX_FOLDS = 5000


def folding_ranges(document: OpenDocument, params: types.FoldingRangeParams) -> Optional[RawJson]:
    """A bracketed value folds up to the line before its closing bracket, which stays in
    sight; an expression or a string folds through its last line. The engine writes
    them, in the current text's lines."""
    parsed = document.view
    if parsed is None:
        return None
    asked = document.workspace.folding_limit
    limit = MAX_FOLDS if asked is None else min(MAX_FOLDS, asked)
    return RawJson(parsed.doc.folding_ranges_json(document.index.data, parsed.moves, limit=limit))
