"""Which schema applies to a file. The first of these that applies wins:

1. the schema given (`--schema PATH` on the command line);
2. a `#:schema PATH` directive among the comment lines before the file's first pair, the
   path relative to the file (a `file:` URI also works);
3. the first `[[schema]]` table of the project's configuration (`config`) whose globs
   match the file.

Each schema file is read once per `Schemas`; one that cannot be used is a SchemaError
naming it, and where it was named.
"""

from __future__ import annotations

import os
import re
from dataclasses import dataclass
from typing import Dict, Optional, Tuple, Union
from urllib.parse import unquote, urlsplit

from tallix_cst.config import Configs
from tallix_cst.files import read_file
from tallix_cst.schema.refs import SchemaError
from tallix_cst.schema.schema import Schema

DIRECTIVE = "#:schema"
# The blank and comment lines a file starts with, where the directive may stand: read up to
# there only, however long the file.
_HEAD = re.compile(rb"(?:[ \t]*(?:#[^\r\n]*)?(?:\r\n?|\n))*(?:[ \t]*#[^\r\n]*\Z)?")


@dataclass(frozen=True)
class Source:
    """A schema file and what named it: `--schema`, `file:LINE: #:schema`, or the
    configuration file."""

    path: str
    named_by: str


def directive(text: Union[bytes, str]) -> Optional[Tuple[str, int]]:
    """The `#:schema` directive among the comment lines before the first pair, as
    (value, line), or None."""
    data = text.encode() if isinstance(text, str) else text
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    head = data[: _HEAD.match(data).end()]  # type: ignore[union-attr]
    for number, line in enumerate(head.splitlines(), 1):
        stripped = line.strip()
        if stripped.startswith(DIRECTIVE.encode()):
            value = stripped[len(DIRECTIVE) :]
            if value[:1] in (b" ", b"\t"):
                return value.strip().decode("utf-8", "replace"), number
    return None


def schema_source(
    path: Union[str, "os.PathLike[str]"],
    text: Union[bytes, str, None] = None,
    schema: Union[str, "os.PathLike[str]", None] = None,
    configs: Optional[Configs] = None,
) -> Optional[Source]:
    """Where the schema of a file comes from, or None for a file without one. `text` is the
    file's content when it was read already; `schema` a schema given for every file."""
    if schema is not None:
        return Source(os.fspath(schema), "--schema")
    file = os.fspath(path)
    if text is None:
        text = read_file(file)
    found = directive(text)
    if found is not None:
        value, line = found
        return Source(_directive_path(file, value, line), f"{file}:{line}: {DIRECTIVE}")
    config = (configs or Configs()).for_file(file)
    for rule in config.schemas:
        if rule.matches(file):
            return Source(rule.path, f"{config.path}: {config.schema_table}")
    return None


def _directive_path(file: str, value: str, line: int) -> str:
    parts = urlsplit(value)
    if parts.scheme == "file":
        value = unquote(parts.path)
    elif len(parts.scheme) > 1:  # (a drive letter is no scheme)
        raise SchemaError(f"{file}:{line}: {DIRECTIVE} {value}: a remote schema, which is never fetched")
    if not value:
        raise SchemaError(f"{file}:{line}: {DIRECTIVE} names no schema file")
    return os.path.normpath(os.path.join(os.path.dirname(file), value))


class Schemas:
    """The schemas of a run, each file read and checked once."""

    def __init__(self) -> None:
        self._loaded: Dict[str, Union[Schema, SchemaError]] = {}

    def load(self, source: Source) -> Schema:
        key = os.path.abspath(source.path)
        if key not in self._loaded:
            try:
                self._loaded[key] = Schema.load(source.path)
            except SchemaError as e:
                self._loaded[key] = e
        loaded = self._loaded[key]
        if isinstance(loaded, SchemaError):
            shown = str(loaded)
            prefix = "" if source.named_by == "--schema" else f"{source.named_by}: "
            raise SchemaError(prefix + shown)
        return loaded

    def schema_for(
        self,
        path: Union[str, "os.PathLike[str]"],
        text: Union[bytes, str, None] = None,
        schema: Union[str, "os.PathLike[str]", None] = None,
        configs: Optional[Configs] = None,
    ) -> Optional[Schema]:
        """The schema of a file (see `schema_source`), loaded, or None."""
        source = schema_source(path, text, schema, configs)
        return None if source is None else self.load(source)

