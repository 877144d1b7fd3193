"""The project's configuration: the nearest `quarel.toml`, `.quarel.toml` or
`pyproject.toml` above a file, read and checked.

Searching upward from a file's folder, the first folder that holds one of the three files
holds the project's configuration; in it `quarel.toml` wins over `.quarel.toml`, and both
over `pyproject.toml`, whose settings stand under `[tool.quarel]`. The settings are:

- `format`: the formatter's options (checked by `format_options`);
- `schema`: a list of tables (`[[schema]]`), each `path` (the schema file), `include` and
  optional `exclude` (globs of the files it applies to), paths and globs relative to the
  configuration file's folder;
- `exclude`: what a walk of folders passes over instead of the usual folders (`USUAL`),
  and `extend-exclude`: what it passes over besides; each a list of patterns written as
  in `.gitignore`, relative to the configuration file's folder (see `walk`).

A file that cannot be read or parsed, or a key this tool does not know, is a ConfigError
naming the file and the key.
"""

from __future__ import annotations

import difflib
import json
import os
import re
import sys
from dataclasses import dataclass, field
from typing import Any, Dict, List, Mapping, Optional, Tuple

from tallix_cst.files import read_file

if sys.version_info >= (3, 11):
    import tomllib
else:
    import tomli as tomllib

#: The configuration files, in the order that one beats the next in the same folder.
FILES = ("quarel.toml", ".quarel.toml", "pyproject.toml")
SETTINGS = ("format", "schema", "exclude", "extend-exclude")
SCHEMA_KEYS = ("path", "include", "exclude")
#: The folders a walk passes over unless `exclude` says otherwise.
USUAL = (".git", ".venv", "venv", "node_modules", "__pycache__", "build", "dist")


class ConfigError(ValueError):
    """A configuration file that cannot be used; the message names it and the key."""


@dataclass(frozen=True)
class SchemaRule:
    """A `[[schema]]` table: the schema for the files its globs match."""

    #: The schema file, absolute.
    path: str
    include: Tuple[str, ...]
    exclude: Tuple[str, ...] = ()
    #: The configuration file's folder, which the globs are relative to.
    folder: str = ""

    def matches(self, file: str) -> bool:
        relative = os.path.relpath(os.path.abspath(file), self.folder).replace(os.sep, "/")
        if relative.startswith("../"):
            return False
        return any(glob_matches(g, relative) for g in self.include) and not any(
            glob_matches(g, relative) for g in self.exclude
        )


@dataclass(frozen=True)
class Config:
    """The settings of one configuration file (none: `path` is None)."""

    path: Optional[str]
    #: The formatter's options as the file writes them.
    format: Mapping[str, object] = field(default_factory=dict)
    schemas: Tuple[SchemaRule, ...] = ()
    #: The patterns of what a walk passes over instead of the usual folders (None: the
    #: usual folders), and besides.
    exclude: Optional[Tuple[str, ...]] = None
    extend_exclude: Tuple[str, ...] = ()
    #: Where the settings stand in the file: "" or, in pyproject.toml, "tool.quarel.".
    prefix: str = ""

    @property
    def format_table(self) -> str:
        return f"[{self.prefix}format]"

    @property
    def schema_table(self) -> str:
        return f"[[{self.prefix}schema]]"


NONE = Config(None)


def config_file(folder: str) -> Optional[str]:
    """The configuration file of a folder, if it holds one."""
    for name in FILES:
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            return path
    return None


class Configs:
    """The configuration of each folder of a run, each file read once."""

    def __init__(self) -> None:
        self._by_folder: Dict[str, Config] = {}

    def for_file(self, path: str) -> Config:
        """The configuration that applies to a file: the nearest above it."""
        return self.for_folder(os.path.dirname(os.path.abspath(path)))

    def for_folder(self, folder: str) -> Config:
        if folder not in self._by_folder:
            found, parent = config_file(folder), os.path.dirname(folder)
            if found is not None:
                self._by_folder[folder] = read_config(found)
            else:
                self._by_folder[folder] = NONE if parent == folder else self.for_folder(parent)
        return self._by_folder[folder]


def read_config(path: str) -> Config:
    """A configuration file's settings; ConfigError naming the file and key."""
    try:
        table: Any = tomllib.loads(read_file(path, 1 << 20).decode())
    except (OSError, UnicodeDecodeError, tomllib.TOMLDecodeError) as e:
        raise ConfigError(f"{path}: error: {getattr(e, 'strerror', None) or e}") from None
    prefix = ""
    if os.path.basename(path) == "pyproject.toml":
        table = table.get("tool", {}).get("quarel", {}) if isinstance(table.get("tool"), dict) else {}
        prefix = "tool.quarel."
        if not isinstance(table, dict):
            raise ConfigError(f"{path}: error: [tool.quarel] is not a table")
    for key in table:
        if key not in SETTINGS:
            where = f"[{prefix[:-1]}] has" if prefix else "has"
            close = difflib.get_close_matches(key, SETTINGS, 1)
            known = f"did you mean `{close[0]}`?" if close else "known: " + ", ".join(SETTINGS)
            raise ConfigError(f"{path}: error: {where} no setting `{key}` ({known})")
    format_table = table.get("format", {})
    if not isinstance(format_table, dict):
        raise ConfigError(f"{path}: error: [{prefix}format] is not a table")
    folder = os.path.dirname(os.path.abspath(path))
    rules = table.get("schema", [])
    if not isinstance(rules, list) or not all(isinstance(rule, dict) for rule in rules):
        raise ConfigError(f"{path}: error: `{prefix}schema` must be tables, written [[{prefix}schema]]")
    schemas = tuple(_schema_rule(path, folder, f"[[{prefix}schema]]", rule) for rule in rules)
    exclude = {key: _patterns(path, f"`{prefix}{key}`", table[key]) for key in SETTINGS[2:] if key in table}
    return Config(path, format_table, schemas, exclude.get("exclude"), exclude.get("extend-exclude", ()), prefix)


def _patterns(path: str, where: str, value: Any) -> Tuple[str, ...]:
    if not isinstance(value, list) or not all(isinstance(p, str) for p in value):
        raise ConfigError(f"{path}: error: {where} = {toml_text(value)}: expected a list of patterns, such as [\"build/\"]")
    return tuple(value)


def toml_text(value: Any) -> str:
    """A value as TOML writes it, near enough."""
    return "{...}" if isinstance(value, dict) else json.dumps(value, ensure_ascii=False, default=str)


def _schema_rule(path: str, folder: str, where: str, rule: Dict[str, Any]) -> SchemaRule:
    for key in rule:
        if key not in SCHEMA_KEYS:
            raise ConfigError(f"{path}: error: {where} has no key `{key}` (known: path, include, exclude)")
    if not isinstance(rule.get("path"), str) or not rule["path"]:
        raise ConfigError(f"{path}: error: {where} needs `path`, the schema file")
    globs: Dict[str, Tuple[str, ...]] = {}
    for key in ("include", "exclude"):
        value = rule.get(key, [])
        if isinstance(value, str):
            value = [value]
        if not isinstance(value, list) or not all(isinstance(g, str) and g for g in value):
            raise ConfigError(f"{path}: error: {where} `{key}` must be a list of globs")
        globs[key] = tuple(value)
    if not globs["include"]:
        raise ConfigError(f"{path}: error: {where} needs `include`, the globs of its files")
    return SchemaRule(os.path.join(folder, rule["path"]), globs["include"], globs["exclude"], folder)


def glob_matches(glob: str, path: str) -> bool:
    """Whether a `/`-separated relative path matches a glob: `*` and `?` within one folder's
    name, `**` any number of folders, `[...]` a class of characters."""
    return _glob_regex(glob).fullmatch(path) is not None


_compiled: Dict[str, "re.Pattern[str]"] = {}


def _glob_regex(original: str) -> "re.Pattern[str]":
    if original in _compiled:
        return _compiled[original]
    parts: List[str] = []
    i = 0
    glob = original[2:] if original.startswith("./") else original
    while i < len(glob):
        c = glob[i]
        if glob.startswith("**/", i):
            parts.append("(?:[^/]*/)*")
            i += 3
        elif glob.startswith("**", i):
            parts.append(".*")
            i += 2
        elif c == "*":
            parts.append("[^/]*")
            i += 1
        elif c == "?":
            parts.append("[^/]")
            i += 1
        elif c == "[" and "]" in glob[i + 2 :]:
            end = glob.index("]", i + 2)
            inner = glob[i + 1 : end]
            inner = "^" + inner[1:] if inner.startswith("!") else inner
            parts.append(f"[{inner.replace(chr(92), chr(92) * 2)}]")
            i = end + 1
        else:
            parts.append(re.escape(c))
            i += 1
    _compiled[original] = re.compile("".join(parts))
    return _compiled[original]
