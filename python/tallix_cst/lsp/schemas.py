"""Which schema an open document takes: as `quarel check` finds it (a `#:schema`
directive, the project's `[[schema]]`), else by the editor's setting `quarel.schemas`, a
map from schema file to the globs of the files it covers.

Nothing is kept past a change: the configuration is read again at each lookup, and a
schema file is loaded again once its modification time, size or inode has changed (or
when the editor says a file changed), so that an edited schema counts at once.
"""

from __future__ import annotations

import os
import threading
from typing import Dict, List, NamedTuple, Optional, Tuple
from urllib.parse import unquote, urlsplit

from tallix_cst.config import ConfigError, glob_matches
from tallix_cst.schema.association import Schemas, Source, schema_source
from tallix_cst.schema.refs import SchemaError
from tallix_cst.schema.schema import Schema

SETTING = "the setting `quarel.schemas`"

Stamp = Optional[Tuple[int, int, int]]


class Found(NamedTuple):
    """The schema a document takes (None for none), or why the one that applies cannot be
    used: a sentence naming the schema or configuration file."""

    schema: Optional[Schema] = None
    error: Optional[str] = None


class SchemaLookup:
    def __init__(self) -> None:
        # The setting: each schema file (as given) with the globs of its files.
        self.setting: List[Tuple[str, Tuple[str, ...]]] = []
        self.folders: List[str] = []  # the workspace folders, for the setting's paths
        self._lock = threading.Lock()
        self._schemas = Schemas()
        self._stamps: Dict[str, Stamp] = {}

    def configure(self, setting: object) -> bool:
        """Takes `quarel.schemas`: {schema path: glob or [globs]}, none when absent;
        whether it changed. Entries of another shape are left out."""
        taken = []
        for path, globs in (setting if isinstance(setting, dict) else {}).items():
            if isinstance(globs, str):
                globs = [globs]
            if isinstance(path, str) and path and isinstance(globs, list):
                taken.append((path, tuple(g for g in globs if isinstance(g, str) and g)))
        changed = taken != self.setting
        self.setting = taken
        return changed

    def forget(self) -> None:
        """Loads every schema again at its next use: a file it refers to may have changed."""
        with self._lock:
            self._schemas, self._stamps = Schemas(), {}

    def find(self, path: Optional[str], text: bytes) -> Found:
        """The schema of the file at `path`, whose text is `text`; a document that is no
        file takes none."""
        if path is None:
            return Found()
        try:
            source = schema_source(path, text) or self._from_setting(path)
        except (SchemaError, ConfigError) as e:
            return Found(error=str(e))
        if source is None:
            return Found()
        try:
            return Found(self._load(source))
        except SchemaError as e:
            return Found(error=str(e))

    def _load(self, source: Source) -> Schema:
        key = os.path.abspath(source.path)
        stamp = _stamp(key)
        with self._lock:
            if key in self._stamps and self._stamps[key] != stamp:
                self._schemas, self._stamps = Schemas(), {}
            self._stamps[key] = stamp
            return self._schemas.load(source)

    def _from_setting(self, path: str) -> Optional[Source]:
        base = self._base(path)
        relative = os.path.relpath(path, base).replace(os.sep, "/")
        name = os.path.basename(path)
        for schema, globs in self.setting:
            for glob in globs:
                # A glob without a folder matches the name in any folder, as in .gitignore.
                if (glob_matches(glob, name) if "/" not in glob else
                        not relative.startswith("../") and glob_matches(glob, relative)):
                    return Source(_schema_path(schema, base), f"{SETTING}: {schema}")
        return None

    def _base(self, path: str) -> str:
        """The workspace folder that holds a file (the innermost), else the first one, else
        the file's own folder."""
        holding = [f for f in self.folders if path.startswith(os.path.join(f, ""))]
        if holding:
            return max(holding, key=len)
        return self.folders[0] if self.folders else os.path.dirname(path)


def _schema_path(value: str, base: str) -> str:
    parts = urlsplit(value)
    if parts.scheme == "file":
        value = unquote(parts.path)
    return os.path.normpath(os.path.join(base, os.path.expanduser(value)))


def _stamp(path: str) -> Stamp:
    try:
        status = os.stat(path)
    except OSError:
        return None
    return status.st_mtime_ns, status.st_size, status.st_ino
