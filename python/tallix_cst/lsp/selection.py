"""Selection ranges: from the token under the cursor out to the pair, the blocks around it
and the whole document."""

from __future__ import annotations

from typing import List, Optional, Tuple

from lsprotocol import types

from tallix_cst.lsp.documents import OpenDocument


def selection_ranges(
    document: OpenDocument, params: types.SelectionRangeParams
) -> List[types.SelectionRange]:
    """A chain for each position, each range strictly inside the next."""
    return [_chain(document, document.offset(position)) for position in params.positions]


def _chain(document: OpenDocument, offset: int) -> types.SelectionRange:
    index, parsed = document.index, document.view
    spans = [(0, len(index.data))]
    if parsed is not None:
        at = parsed.parsed(offset)
        for _, location in parsed.enclosing(at):
            spans.append((parsed.current(location.offset), parsed.current(location.end_offset)))
        token = parsed.token_at(at)
        if token is not None:
            spans.append((parsed.current(token[0]), parsed.current(token[0] + token[1])))
    chain: Optional[types.SelectionRange] = None
    for start, end in _nested(spans):
        chain = types.SelectionRange(range=index.range(start, end), parent=chain)
    assert chain is not None
    return chain


def _nested(spans: List[Tuple[int, int]]) -> List[Tuple[int, int]]:
    """The spans, outermost first, each strictly inside the one before."""
    kept = [spans[0]]
    for start, end in spans[1:]:
        outer = kept[-1]
        if outer[0] <= start and end <= outer[1] and (start, end) != outer:
            kept.append((start, end))
    return kept
