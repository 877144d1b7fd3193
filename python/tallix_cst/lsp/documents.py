"""The documents open in the editor: their text as it is typed, its syntax errors, and a
parse to read pairs from while the text does not parse (see `parsed.py`).

A change is applied to the text at once; the parse waits until something asks for it, and
each document's work runs on its own lane, so that a run of keystrokes queued behind a
parse of a large text is parsed once, as the newest text."""

from __future__ import annotations

from concurrent.futures import Future
from typing import Callable, Dict, List, Optional, Sequence, Tuple, TypeVar

from lsprotocol import types
from pygls.uris import to_fs_path

from tallix_cst._native import Document, QuarelSyntaxError, syntax_errors
from tallix_cst.lsp.lanes import Lane
from tallix_cst.lsp.parsed import Move, Parsed
from tallix_cst.lsp.positions import LineIndex
from tallix_cst.lsp.schemas import Found
from tallix_cst.lsp.workspace import Workspace

T = TypeVar("T")


class NotOpen(LookupError):
    """A request names a document that is not open."""


class OpenDocument:
    def __init__(self, uri: str, version: int, text: str, workspace: Workspace) -> None:
        self.uri = uri
        self.version = version
        self.workspace = workspace
        self.data = _encoded(text)
        self.index = LineIndex(self.data, workspace.encoding)
        self.errors: List[QuarelSyntaxError] = []
        self.last_good: Optional[Parsed] = None
        self.recovered: Optional[Parsed] = None
        self.published = False  # whether the editor has the errors of this version
        self.indexed: Optional[Parsed] = None  # the parse the workspace index was shown
        self.closed = False
        self.schema = Found()  # the schema of the text last parsed
        self._moves: List[Move] = []  # the changes not yet parsed
        self._unparsed = True

    @property
    def path(self) -> Optional[str]:
        """The file's path, for a document that is a file."""
        return to_fs_path(self.uri) if self.uri.startswith("file:") else None

    @property
    def parses(self) -> bool:
        self.settle()
        return not self.errors

    @property
    def view(self) -> Optional[Parsed]:
        """The parse that outline, folding, highlighting, hover, selection and completion
        read: the last text that parsed, moved through the edits since; for a text that has
        never parsed, the pairs the recovering parse keeps."""
        self.settle()
        return self.last_good if self.last_good is not None else self.recovered

    def offset(self, position: types.Position) -> int:
        """The byte offset of an editor's position in the current text."""
        return self.index.offset((position.line, position.character))

    def change(
        self, version: int, changes: Sequence[types.TextDocumentContentChangeEvent]
    ) -> None:
        """Applies the editor's changes, in order."""
        data, index = self.data, self.index
        for change in changes:
            new = _encoded(change.text)
            if isinstance(change, types.TextDocumentContentChangePartial):
                # A range given end first is read as editors read it, start first.
                start, end = sorted(
                    index.offset((position.line, position.character))
                    for position in (change.range.start, change.range.end)
                )
                # Editors re-send text that stays, as for Enter in mid-line: moving the
                # positions after it as if it were new would move them wrongly.
                head, tail, new = changed_span(data[start:end], new)
                start, end = start + head, start + tail
            else:
                start, end, new = changed_span(data, new)
            data = data[:start] + new + data[end:]
            self._moves.append((start, end, len(new)))
            index = index.edited(data, start, end, len(new))
        self.version = version
        self.data, self.index = data, index
        self._unparsed = True
        self.published = False

    def settle(self) -> bool:
        """Parses the text if it changed since it was last parsed; whether it did."""
        if not self._unparsed:
            return False
        self._unparsed = False
        self.schema = self.workspace.schemas.find(self.path, self.data)
        moves, self._moves = self._moves, []
        try:
            self.last_good = Parsed(Document.parse(self.data), self.data)
            self.errors, self.recovered = [], None
        except QuarelSyntaxError:
            self.errors = syntax_errors(self.data)
            if self.last_good is not None:
                self.last_good.moves.extend(moves)
            else:
                self.recovered = Parsed.recovered(self.data)
        return True

    def recheck(self) -> None:
        """Finds the schema again, and tells the editor the problems again: a schema, a
        configuration or a setting may have changed."""
        self.schema = self.workspace.schemas.find(self.path, self.data)
        self.published = False


def _encoded(text: str) -> bytes:
    # A lone surrogate, which JSON can carry, cannot be UTF-8: one `?` keeps the positions.
    return text.encode("utf-8", "replace")


def changed_span(old: bytes, new: bytes) -> Tuple[int, int, bytes]:
    """The stretch of `old` that `new` replaces: the text between their common start and
    their common end, which may not overlap."""
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
    """The open documents by URI, each with the lane its work runs on. `settled` runs
    when a document's lane has nothing more queued: it parses the newest text and tells
    the editor."""

    def __init__(self, workspace: Workspace, settled: Callable[[OpenDocument], None]) -> None:
        self._workspace = workspace
        self._settled = settled
        self._open: Dict[str, _Entry] = {}

    def open(self, item: types.TextDocumentItem) -> None:
        entry = _Entry()
        entry.lane = Lane(lambda: self._settled(entry.document) if entry.document else None)
        self._open[item.uri] = entry

        def opened() -> None:
            entry.document = OpenDocument(item.uri, item.version, item.text, self._workspace)

        entry.lane.submit(opened)

    def run(self, uri: str, work: Callable[[OpenDocument], T]) -> Future[T]:
        """Queues work on the open document at `uri`; NotOpen if none is."""
        entry = self._open.get(uri)
        if entry is None:
            raise NotOpen(f"{uri}: the document is not open")
        return entry.lane.submit(lambda: work(_opened(entry)))

    def each(self, work: Callable[[OpenDocument], None]) -> None:
        """Queues work on every open document."""
        for entry in list(self._open.values()):
            entry.lane.submit(lambda entry=entry: work(_opened(entry)))  # type: ignore[misc]

    def close(self, uri: str, closed: Callable[[OpenDocument], None]) -> None:
        entry = self._open.pop(uri, None)
        if entry is not None:
            entry.lane.submit(lambda: _close(_opened(entry), closed))


class _Entry:
    lane: Lane
    document: Optional[OpenDocument] = None


def _close(document: OpenDocument, closed: Callable[[OpenDocument], None]) -> None:
    document.closed = True
    closed(document)


def _opened(entry: _Entry) -> OpenDocument:
    assert entry.document is not None  # opening is the first work on each lane
    return entry.document
