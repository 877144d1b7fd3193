"""A document's problems against its schema, where they stand in the current text.

They are worked out once for each text that parses (and schema), and kept with that
parse: while the text does not parse, the problems of the last text that did are shown,
moved through the edits made since. A problem whose text an edit has touched is left
out, as nothing tells whether it still holds.
"""

from __future__ import annotations

from typing import List, NamedTuple, Optional, Sequence, Tuple

from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.parsed import Move, Parsed
from tallix_cst.schema.problems import Problem
from tallix_cst.schema.schema import Schema


class Shown(NamedTuple):
    """A problem and where it stands in the current text (byte offsets)."""

    start: int
    end: int
    problem: Problem


def current(document: OpenDocument) -> List[Shown]:
    """The problems of the document against its schema, at their places in its text; none
    for a document without a usable schema or that has never parsed."""
    schema, parsed = document.schema.schema, document.last_good
    if schema is None or parsed is None:
        return []
    shown = []
    for problem in _checked(parsed, schema):
        span = moved(problem.location.offset, problem.location.end_offset, parsed.moves)
        if span is not None:
            shown.append(Shown(*span, problem))
    return shown


def _checked(parsed: Parsed, schema: Schema) -> List[Problem]:
    """The problems of a parse against a schema, worked out once."""
    kept = parsed.checked
    if kept is None or kept[0] is not schema:
        kept = parsed.checked = (schema, parsed.doc.validate(schema))
    return kept[1]


def moved(start: int, end: int, moves: Sequence[Move]) -> Optional[Tuple[int, int]]:
    """A stretch of a parsed text as it stands after the moves, (start, end); None when a
    move replaced any of it or put text inside it. Text put in at either edge stays
    outside."""
    for at, until, length in moves:
        if at == until and not length:
            continue  # an edit that changed nothing, as editors sometimes send
        if until <= start:
            start, end = start + length - (until - at), end + length - (until - at)
        elif at < end:
            return None
    return start, end
