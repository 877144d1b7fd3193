"""Folding ranges: blocks and lists, expressions and strings over several lines, and runs
of comment lines, from the engine's tokens of the last text that parsed."""

from __future__ import annotations

from tallix_cst.lsp.documents import Parsed
from tallix_cst.lsp.positions import LineIndex
from tallix_cst.lsp.protocol import RawJson


def folding_ranges(parsed: Parsed, index: LineIndex) -> RawJson:
    """A bracketed value folds up to the line before its closing bracket, which stays in
    sight; an expression or a string folds through its last line. The engine writes
    them, in the current text's lines."""
    return RawJson(parsed.doc.folding_ranges_json(index.data, parsed.moves))
