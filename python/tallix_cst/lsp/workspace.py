"""The workspace: every `*.quarel` file below the workspace folders, read on a thread of
its own and read again when the editor says a file was created, changed or saved; the
documents open in the editor, which stand for their files as they are typed; and the
editor's settings. It serves workspace symbols (the block pairs) and the keys that blocks
of each key hold.

No file is read on the thread that answers requests: a file that cannot be read (a
special file, one over the size the package reads, one that vanished) or parsed is left
out of the index."""

from __future__ import annotations

import collections
import logging
import os
import queue
import threading
from pathlib import Path
from typing import Callable, Counter, Dict, Iterable, List, NamedTuple, Optional, Set, Tuple

from lsprotocol import types
from pygls.uris import from_fs_path

from tallix_cst._native import Document, Pair
from tallix_cst.files import read_file
from tallix_cst.lsp.parsed import Parsed
from tallix_cst.lsp.positions import UTF16, LineIndex
from tallix_cst.lsp.schemas import SchemaLookup
from tallix_cst.lsp.symbol_kinds import symbol_kind, symbol_name
from tallix_cst.walk import quarel_files

# More matches than this are left out of a workspace symbol query.
MAX_SYMBOLS = 1000

# For each block key (None for the top of a document), how many such blocks hold each key.
KeyCounts = Dict[Optional[str], Counter[str]]
# A block pair: its name lower-cased for matching, and its symbol.
Row = Tuple[str, types.WorkspaceSymbol]
log = logging.getLogger(__name__)


class Keys(NamedTuple):
    """What blocks of one key hold across the workspace: how many blocks hold each key,
    and how many hold it more than once."""

    used: Counter[str]
    repeated: Counter[str]


class _File(NamedTuple):
    rows: List[Row]
    counts: KeyCounts
    repeats: KeyCounts


class Workspace:
    def __init__(self, encoding: str = UTF16) -> None:
        self.encoding = encoding
        # Formatting takes the editor's tab size and spaces where the project sets no
        # indent (the setting `format.editorIndent`); else the file keeps its own.
        self.editor_indent = False
        # The most folding ranges the editor takes, when it says.
        self.folding_limit: Optional[int] = None
        self.schemas = SchemaLookup()
        # Whether the editor takes completions as snippets, with fields to fill in.
        self.snippets = False
        # Whether it shows completions' documentation as markdown (else as plain text).
        self.markdown = False
        # Called when the schemas may have changed: the server checks the open documents
        # again.
        self.schemas_changed: Callable[[], None] = lambda: None
        self._lock = threading.Lock()
        self._files: Dict[str, _File] = {}  # as read from disk
        self._totals = _File([], _counts(), _counts())
        self._open: Dict[str, Tuple[str, Parsed, LineIndex]] = {}  # path: uri, parse, lines
        self._folders: Set[str] = set()  # each ends with a separator
        self._removed: Set[str] = set()  # folders whose walks must stop
        self._stopped = False
        self._jobs: queue.SimpleQueue[Tuple[str, str]] = queue.SimpleQueue()
        self._reader: Optional[threading.Thread] = None

    def configure(self, settings: object) -> None:
        """Takes the editor's settings, `{"format": {"editorIndent": bool}, "schemas":
        {path: globs}}`, given bare or under "quarel"; calls `schemas_changed` when the
        schemas did."""
        if isinstance(settings, dict) and isinstance(settings.get("quarel"), dict):
            settings = settings["quarel"]
        if not isinstance(settings, dict):
            return
        formatting = settings.get("format")
        if isinstance(formatting, dict) and isinstance(formatting.get("editorIndent"), bool):
            self.editor_indent = formatting["editorIndent"]
        if self.schemas.configure(settings.get("schemas")):
            self.schemas_changed()

    # What the editor tells: each is queued for the reading thread, or done at once
    # where nothing is read.

    def start(self, folders: Iterable[str]) -> None:
        """Indexes the `*.quarel` files below the folders."""
        for folder in folders:
            with self._lock:
                self._folders.add(os.path.join(folder, ""))
                self._removed.discard(os.path.join(folder, ""))
                self.schemas.folders.append(folder)
            self._queue("walk", folder)

    def changed(self, path: str) -> None:
        """Reads the file again, as it is on disk."""
        self._queue("read", path)

    def deleted(self, path: str) -> None:
        with self._lock:
            self._forget(path)

    def forget(self, folder: str) -> None:
        """Leaves out the files below a folder that is no longer in the workspace."""
        below = os.path.join(folder, "")
        with self._lock:
            self._folders.discard(below)
            self.schemas.folders = [f for f in self.schemas.folders if f != folder]
            self._removed.add(below)
            for path in [path for path in self._files if path.startswith(below)]:
                self._forget(path)
            for path in [path for path in self._open if path.startswith(below)]:
                del self._open[path]

    def show(self, path: str, uri: str, parsed: Parsed, index: LineIndex) -> None:
        """Lets a document open in the editor, as last parsed, stand for its file: one in
        the workspace's folders, or any in an editor that has none."""
        with self._lock:
            if not self._folders or any(path.startswith(folder) for folder in self._folders):
                self._open[path] = (uri, parsed, index)

    def hide(self, path: str) -> None:
        """Lets the file stand for itself again once its document is closed."""
        with self._lock:
            self._open.pop(path, None)
        self.changed(path)

    def stop(self) -> None:
        """Ends the reading thread once it is done with the file in hand (at shutdown)."""
        with self._lock:
            self._stopped = True
            reader = self._reader
        if reader is not None:
            self._jobs.put(("stop", ""))
            reader.join()

    # Reading, on a thread of its own.

    def _queue(self, job: str, path: str) -> None:
        self._jobs.put((job, path))
        with self._lock:
            if self._reader is None and not self._stopped:
                self._reader = threading.Thread(target=self._read_jobs, daemon=True)
                self._reader.start()

    def _read_jobs(self) -> None:
        while True:
            job, path = self._jobs.get()
            if job == "stop":
                return
            try:
                if job == "walk":
                    self._walk(path)
                else:
                    self._read(path)
            except Exception:  # the index goes on with the next file
                log.exception("indexing %s failed", path)

    def _walk(self, folder: str) -> None:
        if not os.path.isdir(folder):
            return
        for path in quarel_files([folder]):
            with self._lock:
                if self._stopped or self._left(path):
                    return
            self._read(path)

    def _left(self, path: str) -> bool:
        """Whether a folder that holds the path has left the workspace (under the lock)."""
        return any(path.startswith(folder) for folder in self._removed)

    def _read(self, path: str) -> None:
        """Reads a file; one that cannot be read or parsed leaves the index."""
        try:
            data = read_file(path)  # refuses special and oversized files
            doc = Document.parse(data)
        except (OSError, ValueError):
            self.deleted(path)
            return
        read = _file(from_fs_path(path) or path, doc, LineIndex(data, self.encoding))
        with self._lock:
            if self._left(path):
                return
            self._forget(path)
            self._files[path] = read
            _add(self._totals, read, +1)

    def _forget(self, path: str) -> None:
        forgotten = self._files.pop(path, None)
        if forgotten is not None:
            _add(self._totals, forgotten, -1)

    # What the requests ask.

    def symbols(self, query: str) -> List[types.WorkspaceSymbol]:
        """The block pairs whose `key name` holds the query, in any case, in file order; an
        open document's as it was last parsed."""
        query = query.lower()
        with self._lock:
            files = [(path, entry.rows) for path, entry in self._files.items()]
            shown = dict(self._open)
        read = {path for path, _ in files}
        found: List[types.WorkspaceSymbol] = []
        for path, rows in files + [(path, []) for path in shown if path not in read]:
            if path in shown:
                uri, parsed, index = shown[path]
                rows = parsed.kept("workspace rows", lambda: _rows(uri, parsed.doc, index))
            found.extend(symbol for name, symbol in rows if query in name)
            if len(found) >= MAX_SYMBOLS:
                break
        return found[:MAX_SYMBOLS]

    def keys(self, block_key: Optional[str], current: Optional[Tuple[str, Parsed]] = None) -> Keys:
        """What blocks of a key hold across the workspace, the open documents counted as
        they were last parsed rather than as saved, and `current` (path, parse), the
        document being completed, in the workspace or not, as it stands."""
        with self._lock:
            used = collections.Counter(self._totals.counts.get(block_key, {}))
            repeated = collections.Counter(self._totals.repeats.get(block_key, {}))
            shown = {shown_path: parsed for shown_path, (_, parsed, _) in self._open.items()}
            if current is not None:
                shown[current[0]] = current[1]
            on_disk = [self._files.get(shown_path) for shown_path in shown]
        for read in on_disk:
            if read is not None:
                used.subtract(read.counts.get(block_key, {}))
                repeated.subtract(read.repeats.get(block_key, {}))
        for parsed in shown.values():
            counts, repeats = parsed.kept("key counts", lambda: _key_counts(parsed.doc))
            used.update(counts.get(block_key, {}))
            repeated.update(repeats.get(block_key, {}))
        return Keys(+used, +repeated)


def _counts() -> KeyCounts:
    return collections.defaultdict(collections.Counter)


def _key_counts(doc: Document) -> Tuple[KeyCounts, KeyCounts]:
    """How many blocks hold each key, and how many hold it more than once."""
    both = _counts(), _counts()
    for counts, repeated in zip(both, (False, True)):
        for block_key, keys in doc.key_counts(repeated=repeated).items():
            counts[block_key].update(keys)
    return both


def _file(uri: str, doc: Document, index: LineIndex) -> _File:
    return _File(_rows(uri, doc, index), *_key_counts(doc))


def _rows(uri: str, doc: Document, index: LineIndex) -> List[Row]:
    return [_row(uri, index, pair) for pair in doc.walk() if pair.kind == "block"]


def _add(totals: _File, read: _File, sign: int) -> None:
    for total, counts in ((totals.counts, read.counts), (totals.repeats, read.repeats)):
        for key, counter in counts.items():
            if sign > 0:
                total[key].update(counter)
            else:
                total[key].subtract(counter)


def _row(uri: str, index: LineIndex, pair: Pair) -> Row:
    location = pair.location
    assert location is not None
    name = symbol_name(pair.key, pair.name)
    symbol = types.WorkspaceSymbol(
        name=name,
        kind=types.SymbolKind(symbol_kind("block", pair.name)),
        location=types.Location(uri=uri, range=index.range(location.offset, location.end_offset)),
        container_name=None if not isinstance(pair.parent, Pair) else _container(pair.parent),
    )
    return name.lower(), symbol


def _container(pair: Pair) -> str:
    return symbol_name(pair.key, pair.name)
