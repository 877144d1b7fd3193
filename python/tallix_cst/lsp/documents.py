"""The documents open in the editor: their text as it is typed, its syntax errors, and the
last text that parsed, whose positions are moved through the edits made since so that the
outline and folding stay put while the text does not parse."""

from __future__ import annotations

from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, TypeVar, cast

from lsprotocol import types

from tallix_cst._native import Document, Location, Pair, QuarelSyntaxError, syntax_errors
from tallix_cst.lsp.positions import UTF16, LineIndex

T = TypeVar("T")
# A token of the engine: offset, length, kind.
Token = Tuple[int, int, str]
# A replaced stretch of text: where it started, where it ended, how long the new text is.
Move = Tuple[int, int, int]


class Parsed:
    """The last parse that succeeded, seen from the current text: its offsets are moved
    into the current text by `current` and back by `parsed`."""

    def __init__(self, doc: Document) -> None:
        self.doc = doc
        self.moves: List[Move] = []
        self._kept: Dict[str, Tuple[int, Any]] = {}

    def kept(self, name: str, compute: Callable[[], T]) -> T:
        """What `compute` gives, worked out again only after the text has changed: an
        editor asks for the outline of a text again and again as it switches views."""
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

    @property
    def moved(self) -> bool:
        return bool(self.moves)

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


class OpenDocument:
    def __init__(self, uri: str, version: int, text: str, encoding: str = UTF16) -> None:
        self.uri = uri
        self.version = version
        self.encoding = encoding
        self.last_good: Optional[Parsed] = None
        data = _encoded(text)
        self._set(data, None, LineIndex(data, encoding))

    @property
    def parses(self) -> bool:
        return not self.errors

    def change(
        self, version: int, changes: Sequence[types.TextDocumentContentChangeEvent]
    ) -> None:
        """Applies the editor's changes, in order, and parses the result."""
        data = self.data
        index = self.index
        moves = []
        for change in changes:
            new = _encoded(change.text)
            if isinstance(change, types.TextDocumentContentChangePartial):
                start = index.offset((change.range.start.line, change.range.start.character))
                end = max(start, index.offset((change.range.end.line, change.range.end.character)))
            else:
                start, end, new = _changed_span(data, new)
            data = data[:start] + new + data[end:]
            moves.append((start, end, len(new)))
            index = index.edited(data, start, end, len(new))
        self.version = version
        self._set(data, moves, index)

    def _set(self, data: bytes, moves: Optional[List[Move]], index: LineIndex) -> None:
        self.data = data
        self.index = index
        try:
            self.last_good = Parsed(Document.parse(data))
            self.errors: List[QuarelSyntaxError] = []
        except QuarelSyntaxError:
            self.errors = syntax_errors(data)
            if self.last_good is not None and moves:
                self.last_good.moves.extend(moves)


def _encoded(text: str) -> bytes:
    # A lone surrogate, which JSON can carry, cannot be UTF-8: one `?` keeps the positions.
    return text.encode("utf-8", "replace")


def _changed_span(old: bytes, new: bytes) -> Tuple[int, int, bytes]:
    """The stretch of `old` that `new` replaces: the text between their common start and
    their common end, so that a client sending whole texts still moves positions little."""
    limit = min(len(old), len(new))
    low, high = 0, limit
    while low < high:  # the longest common start, by halves compared in C
        middle = (low + high + 1) // 2
        if old[:middle] == new[:middle]:
            low = middle
        else:
            high = middle - 1
    prefix = low
    low, high = 0, limit - prefix
    while low < high:
        middle = (low + high + 1) // 2
        if old[len(old) - middle :] == new[len(new) - middle :]:
            low = middle
        else:
            high = middle - 1
    return prefix, len(old) - low, new[prefix : len(new) - low]


class Documents:
    """The open documents by URI."""

    def __init__(self) -> None:
        self._open: Dict[str, OpenDocument] = {}
        self.encoding = UTF16

    def open(self, uri: str, version: int, text: str) -> OpenDocument:
        document = OpenDocument(uri, version, text, self.encoding)
        self._open[uri] = document
        return document

    def get(self, uri: str) -> Optional[OpenDocument]:
        return self._open.get(uri)

    def close(self, uri: str) -> None:
        self._open.pop(uri, None)
