"""The index of the workspace: every `*.quarel` file below the workspace folders, read in
the background and kept current by the editor's file change notifications. It serves
workspace symbols (the block pairs) and the keys that blocks of each key hold."""

from __future__ import annotations

import collections
import os
import threading
from typing import Counter, Dict, Iterable, List, Optional, Tuple

from lsprotocol import types
from pygls.uris import from_fs_path

from tallix_cst._native import Document, Pair
from tallix_cst.files import read_file
from tallix_cst.walk import quarel_files
from tallix_cst.lsp.positions import UTF16, LineIndex
from tallix_cst.lsp.symbols import symbol_kind, symbol_name

# More matches than this are left out of a workspace symbol query.
MAX_SYMBOLS = 1000

# For each block key (None for the top of a document), how many such blocks hold each key.
KeyCounts = Dict[Optional[str], Counter[str]]
# A block pair: its name lower-cased for matching, and its symbol.
Row = Tuple[str, types.WorkspaceSymbol]


def key_counts(doc: Document) -> KeyCounts:
    """A key counts once per block that holds it, however often it repeats there."""
    counts: KeyCounts = collections.defaultdict(collections.Counter)
    for block_key, keys in doc.key_counts().items():
        counts[block_key].update(keys)
    return counts


class Workspace:
    def __init__(self, encoding: str = UTF16) -> None:
        self.encoding = encoding
        self._lock = threading.Lock()
        self._symbols: Dict[str, List[Row]] = {}
        self._counts: Dict[str, KeyCounts] = {}
        self._totals: KeyCounts = collections.defaultdict(collections.Counter)

    def start(self, folders: Iterable[str]) -> None:
        """Indexes the folders in a background thread."""
        paths = list(folders)
        threading.Thread(target=self._index_all, args=(paths,), daemon=True).start()

    def _index_all(self, folders: List[str]) -> None:
        for path in quarel_files(folder for folder in folders if os.path.isdir(folder)):
            self.update(path)

    def forget(self, folder: str) -> None:
        """Leaves out the files below a folder that is no longer in the workspace."""
        below = os.path.join(folder, "")
        with self._lock:
            for path in [path for path in self._symbols if path.startswith(below)]:
                self._forget(path)

    def update(self, path: str) -> None:
        """Reads a file again; one that cannot be read or parsed leaves the index."""
        try:
            data = read_file(path)  # refuses special and oversized files
            doc = Document.parse(data)
        except (OSError, ValueError):
            self.remove(path)
            return
        uri = from_fs_path(path) or path
        index = LineIndex(data, self.encoding)
        rows = [_row(uri, index, pair) for pair in doc.walk() if pair.kind == "block"]
        counts = key_counts(doc)
        with self._lock:
            self._forget(path)
            self._symbols[path] = rows
            self._counts[path] = counts
            for key, counter in counts.items():
                self._totals[key].update(counter)

    def remove(self, path: str) -> None:
        with self._lock:
            self._forget(path)

    def _forget(self, path: str) -> None:
        self._symbols.pop(path, None)
        for key, counter in self._counts.pop(path, {}).items():
            self._totals[key].subtract(counter)

    def symbols(self, query: str) -> List[types.WorkspaceSymbol]:
        """The block pairs whose `key name` holds the query, in any case, in file order."""
        query = query.lower()
        with self._lock:
            found = [
                symbol for rows in self._symbols.values() for name, symbol in rows if query in name
            ]
        return found[:MAX_SYMBOLS]

    def key_counts(self, block_key: Optional[str], without: Optional[str] = None) -> Counter[str]:
        """How many blocks of a key hold each key across the workspace, the file at path
        `without` left out."""
        with self._lock:
            counts = collections.Counter(self._totals.get(block_key, {}))
            if without is not None and without in self._counts:
                counts.subtract(self._counts[without].get(block_key, {}))
        return +counts


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
