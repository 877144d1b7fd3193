"""Folding ranges: blocks and lists, expressions and strings over several lines, and runs
of comment lines, from the engine's tokens of the last text that parsed."""

from __future__ import annotations

from typing import Any, Dict, List, Optional

from lsprotocol.types import FoldingRangeKind

from tallix_cst.lsp.documents import Parsed
from tallix_cst.lsp.positions import LineIndex

def folding_ranges(parsed: Parsed, index: LineIndex) -> List[Dict[str, Any]]:
    """A bracketed value folds up to the line before its closing bracket, which stays in
    sight; an expression or a string folds through its last line."""
    ranges: List[Dict[str, Any]] = []
    opened: List[int] = []  # lines of the brackets not yet closed
    comments: Optional[List[int]] = None  # first and last line of the run of comment lines
    last_line = -1  # line of the last token
    data = parsed.data
    for offset, length, kind in parsed.doc.tokens():
        line = index.line_of(parsed.current(offset))
        if kind == "comment" and line > last_line:
            if comments is not None and comments[1] == line - 1:
                comments[1] = line
            else:
                _fold(ranges, comments, FoldingRangeKind.Comment)
                comments = [line, line]
        elif kind == "punctuation" and length == 1:
            bracket = data[offset : offset + 1]
            if bracket in (b"{", b"["):
                opened.append(line)
            elif bracket in (b"}", b"]") and opened:
                _fold(ranges, [opened.pop(), line - 1])
        elif kind in ("string", "expr") and data.count(b"\n", offset, offset + length):
            _fold(ranges, [line, index.line_of(parsed.current(offset + length))])
        last_line = line
    _fold(ranges, comments, FoldingRangeKind.Comment)
    return ranges


def _fold(
    ranges: List[Dict[str, Any]], lines: Optional[List[int]], kind: Optional[str] = None
) -> None:
    if lines is None or lines[1] <= lines[0]:
        return
    folded: Dict[str, Any] = {"startLine": lines[0], "endLine": lines[1]}
    if kind is not None:
        folded["kind"] = kind
    ranges.append(folded)
