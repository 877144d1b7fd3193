"""A parse seen from the current text of a document: the last text that parsed, whose
offsets are moved through the edits made since, or, for a text that has never parsed, the
pairs that the recovering parse keeps."""

from __future__ import annotations

import threading
from typing import Any, Callable, Dict, List, Optional, Tuple, TypeVar, cast

from tallix_cst._native import Document, Location, Pair, QuarelSyntaxError, recovered_text

T = TypeVar("T")
# A token of the engine: offset, length, kind.
Token = Tuple[int, int, str]
# A replaced stretch of text: where it started, where it ended, how long the new text is.
Move = Tuple[int, int, int]


class Parsed:
    """A parsed text seen from the current text: its offsets are moved into the current
    text by `current` and back by `parsed`."""

    def __init__(self, doc: Document, text: bytes, moves: Optional[List[Move]] = None) -> None:
        self.doc = doc
        self.text = text  # what was parsed
        self.moves: List[Move] = moves or []
        self._kept: Dict[str, Tuple[int, Any]] = {}
        # The schema it was last checked against, and its problems (`problems.py`).
        self.checked: Optional[Tuple[Any, List[Any]]] = None
        self._lock = threading.Lock()

    @classmethod
    def recovered(cls, data: bytes) -> Optional[Parsed]:
        """The pairs of a text that does not parse that the recovering parse keeps, at
        their offsets; None if the text it mends does not parse either."""
        mended, moves = recovered_text(data)
        try:
            return cls(Document.parse(mended), mended, moves)
        except QuarelSyntaxError:
            return None

    def kept(self, name: str, compute: Callable[[], T]) -> T:
        """What `compute` gives, worked out again only after the text has changed: an
        editor asks for the outline of a text again and again as it switches views."""
        with self._lock:
            kept = self._kept.get(name)
            if kept is None or kept[0] != len(self.moves):
                kept = self._kept[name] = (len(self.moves), compute())
            return cast(T, kept[1])

    def token_at(self, offset: int) -> Optional[Token]:
        """The token that holds an offset of the parsed text, or ends at it."""
        return self.doc.token_at(offset)

    def enclosing(self, offset: int) -> List[Tuple[Pair, Location]]:
        """The pairs that hold an offset of the parsed text, the outermost first; a pair
        holds the offset just past its end too, where the cursor stands after typing it."""
        located = [(pair, pair.location) for pair in self.doc.pairs_at(offset)]
        return [(pair, location) for pair, location in located if location is not None]

    def current(self, offset: int) -> int:
        """Where an offset of the parsed text stands in the current text; inside a replaced
        stretch, at its start."""
        for start, end, length in self.moves:
            if offset >= end:
                offset += length - (end - start)
            elif offset > start:
                offset = start
        return offset

    def parsed(self, offset: int) -> int:
        """Where an offset of the current text stood in the parsed text."""
        for start, end, length in reversed(self.moves):
            if offset >= start + length:
                offset -= length - (end - start)
            elif offset > start:
                offset = start
        return offset
