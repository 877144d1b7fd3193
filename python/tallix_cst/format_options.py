"""Where a file's formatting options come from.

The command line wins, then the `[tool.quarel.format]` table of the nearest pyproject.toml
above the file, then what .editorconfig sets for it; an option none of them sets is the
file's own (what `Document.format` does with it left out). Each option is named as
`Document.format` names it, and every value is checked by the formatter itself before a
file is touched, so that a bad one names the place it came from.
"""

from __future__ import annotations

import functools
import os
import sys
from pathlib import Path
from typing import Dict, Mapping, Optional, Union

import editorconfig

from tallix_cst._native import parse_quarel

if sys.version_info >= (3, 11):
    import tomllib
else:
    import tomli as tomllib

OPTIONS = ("indent", "newline", "max_blank_lines", "column_width", "final_newline")
NEWLINES = {"lf": "\n", "crlf": "\r\n"}
TAB = "tab"

Options = Dict[str, object]


def options(path: Path, given: Mapping[str, object]) -> Options:
    """The options to format the file with: those `given` on the command line over the
    project's."""
    return {**project_options(path), **given}


def project_options(path: Path) -> Options:
    """The options the project's configuration sets for the file at `path`: pyproject.toml
    over .editorconfig. ValueError, naming the file and the key, for a value that is not
    valid. Each folder's pyproject.toml is read once per process."""
    absolute = os.path.abspath(path)
    return {**_editorconfig_options(absolute), **_pyproject_options(os.path.dirname(absolute))}


def indent_string(value: Union[int, str]) -> str:
    """The indent that `indent = 2`, `"tab"` or `"  "` stands for."""
    if isinstance(value, str):
        return "\t" if value == TAB else value
    if isinstance(value, bool) or value < 1:
        raise ValueError('expected a number of spaces from 1, "tab" or the indent itself')
    return " " * value


def checked(key: str, value: object) -> object:
    """The value, once the formatter accepts it for the option; else ValueError with the
    formatter's reason."""
    try:
        parse_quarel("").format(**{key: value})
    except (TypeError, ValueError) as e:
        raise ValueError(str(e)) from None
    return value


# pyproject.toml


@functools.lru_cache(maxsize=None)
def _pyproject_options(folder: str) -> Options:
    """The options of the nearest pyproject.toml in the folder or above it."""
    found = os.path.join(folder, "pyproject.toml")
    if os.path.isfile(found):
        return _read_pyproject(found)
    parent = os.path.dirname(folder)
    return {} if parent == folder else _pyproject_options(parent)


def _read_pyproject(path: str) -> Options:
    try:
        with open(path, "rb") as f:
            table: object = tomllib.load(f)
    except (OSError, UnicodeDecodeError, tomllib.TOMLDecodeError) as e:
        raise ValueError(f"{path}: error: {getattr(e, 'strerror', None) or e}") from None
    for name in ("tool", "quarel", "format"):
        table = table.get(name, {}) if isinstance(table, dict) else None
    where = "[tool.quarel.format]"
    if not isinstance(table, dict):
        raise ValueError(f"{path}: error: {where} is not a table")
    found: Options = {}
    for key, value in table.items():
        if key not in OPTIONS:
            raise ValueError(f"{path}: error: {where} has no option `{key}`")
        try:
            found[key] = checked(key, _api_value(key, value))
        except ValueError as e:
            raise ValueError(f"{path}: error: {where} {key} = {value!r}: {e}") from None
    return found


def _api_value(key: str, value: object) -> object:
    """A pyproject value as `Document.format` takes it."""
    if key == "indent" and isinstance(value, (int, str)):
        return indent_string(value)
    if key == "newline" and isinstance(value, str):
        if value not in NEWLINES:
            raise ValueError('expected "lf" or "crlf"')
        return NEWLINES[value]
    return value


# .editorconfig


def _editorconfig_options(path: str) -> Options:
    """The options .editorconfig sets for the file. The library reads every .editorconfig
    above the file for each file, so files with none above them skip it."""
    if not _has_editorconfig(os.path.dirname(path)):
        return {}
    try:
        properties = editorconfig.get_properties(path)
    except editorconfig.ParsingError as e:
        line, text = e.errors[0]
        raise ValueError(f"{e.source}: error: line {line} is not a setting: {text}") from None
    found: Options = {}
    for key, value in _from_editorconfig(properties).items():
        try:
            found[key] = checked(key, value)
        except ValueError as e:
            raise ValueError(f"{path}: error: its .editorconfig sets {_names[key]}: {e}") from None
    return found


@functools.lru_cache(maxsize=None)
def _has_editorconfig(folder: str) -> bool:
    if os.path.isfile(os.path.join(folder, ".editorconfig")):
        return True
    parent = os.path.dirname(folder)
    return parent != folder and _has_editorconfig(parent)


# The .editorconfig properties that each option comes from, for messages.
_names = {
    "indent": "indent_style/indent_size",
    "newline": "end_of_line",
    "final_newline": "insert_final_newline",
    "column_width": "max_line_length",
}


def _from_editorconfig(properties: Mapping[str, str]) -> Options:
    """The options that the properties set. trim_trailing_whitespace has no option: the
    formatter always trims, outside strings and expressions; end_of_line = cr has none
    either."""
    found: Options = {}
    indent = _editorconfig_indent(properties)
    if indent is not None:
        found["indent"] = indent
    if properties.get("end_of_line") in NEWLINES:
        found["newline"] = NEWLINES[properties["end_of_line"]]
    final = properties.get("insert_final_newline")
    if final is not None:
        found["final_newline"] = {"true": True, "false": False}.get(final, final)
    width = properties.get("max_line_length")
    if width is not None and width != "off":
        found["column_width"] = int(width) if width.isdigit() else width
    return found


def _editorconfig_indent(properties: Mapping[str, str]) -> Optional[str]:
    """A tab for indent_style = tab; spaces for indent_style = space, or for an
    indent_size alone (the library puts tab_width for indent_size = tab)."""
    style, size = properties.get("indent_style"), properties.get("indent_size")
    if style == TAB:
        return "\t"
    if size is None or style not in (None, "space"):
        return None
    if size == TAB:  # without a tab_width, no number of spaces
        return None
    return " " * int(size) if size.isdigit() else size  # the check refuses the others
