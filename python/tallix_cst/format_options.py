"""Where a file's formatting options come from.

The command line wins, then the `[format]` table of the project's configuration (the
nearest quarel.toml, .quarel.toml or pyproject.toml above the file, see `config`; in
pyproject.toml `[tool.quarel.format]`), then what .editorconfig sets for it; an option
none of them sets is the file's own (what `Document.format` does with it left out). Each
option is named as `Document.format` names it, and every value is checked by the
formatter itself before a file is touched, so that a bad one names the place it came
from.
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import (
    Callable,
    Dict,
    List,
    Mapping,
    Optional,
    Tuple,
    cast,
)

import editorconfig
from editorconfig.ini import EditorConfigParser

from tallix_cst._native import FORMAT_OPTIONS, Document, parse_quarel
from tallix_cst.config import Config, Configs, toml_text
from tallix_cst.values import FormatOptions

# The engine's options and their defaults; a range of lines is no option of a file.
DEFAULTS: Dict[str, object] = dict(FORMAT_OPTIONS)
OPTIONS = tuple(name for name in DEFAULTS if name != "lines")
NEWLINES = {"lf": "\n", "crlf": "\r\n"}
TAB = "tab"

Options = Dict[str, object]
# The .editorconfig files that apply in a folder, nearest first, each with its sections.
Sections = Tuple[Tuple[str, Tuple[str, ...]], ...]


def project_options(path: Path) -> Options:
    """The options the project's configuration sets for the file at `path`: its
    configuration file over .editorconfig. ValueError, naming the file and the key, for a
    value that is not valid. The files are read afresh on each call."""
    return Configuration().project_options(path)


class Configuration:
    """The configuration files of a run over many files, each read once: the options of
    every folder's configuration file, and the sections of the .editorconfig files above
    it. The editorconfig library looks its files up again for every file, so it is
    asked once for all the files that its sections match alike."""

    def __init__(self) -> None:
        self._configs = Configs()
        self._project: Dict[Optional[str], Options] = {}  # by configuration file
        self._sections: Dict[str, Sections] = {}  # by folder
        self._editorconfig: Dict[Tuple[Sections, Tuple[bool, ...]], Options] = {}

    def options(self, path: Path, given: Mapping[str, object]) -> Options:
        """The options to format the file with: those `given` on the command line over the
        project's."""
        return {**self.project_options(path), **given}

    def project_options(self, path: Path) -> Options:
        """See `project_options`."""
        absolute = os.path.abspath(path)
        folder = os.path.dirname(absolute)
        return {**self._editorconfig_options(absolute, folder), **self._config_options(folder)}

    def _config_options(self, folder: str) -> Options:
        """The options of the configuration file of the folder, or of the nearest above."""
        config = self._configs.for_folder(folder)
        if config.path not in self._project:
            self._project[config.path] = _config_options(config)
        return self._project[config.path]

    def _editorconfig_options(self, path: str, folder: str) -> Options:
        sections = self._sections_above(folder)
        if not sections:
            return {}
        parser = EditorConfigParser(path)
        matched = tuple(
            parser.matches_filename(config, glob) for config, globs in sections for glob in globs
        )
        if (sections, matched) not in self._editorconfig:
            self._editorconfig[sections, matched] = _editorconfig_options(path)
        return self._editorconfig[sections, matched]

    def _sections_above(self, folder: str) -> Sections:
        """What the library reads for a file in the folder: each .editorconfig from there
        up to the first that says root = true."""
        if folder not in self._sections:
            found, parent = os.path.join(folder, ".editorconfig"), os.path.dirname(folder)
            here: Sections = ()
            root = parent == folder
            if os.path.isfile(found):
                reader = _SectionReader(found)
                try:
                    reader.read(found)
                except editorconfig.ParsingError as e:
                    raise _not_a_setting(e) from None
                here, root = ((found, tuple(reader.globs)),), root or reader.root_file
            self._sections[folder] = here + (() if root else self._sections_above(parent))
        return self._sections[folder]


class _SectionReader(EditorConfigParser):
    """Reads an .editorconfig file for its sections: the glob of each, in order."""

    def __init__(self, filename: str) -> None:
        super().__init__(filename)
        self.globs: List[str] = []

    def matches_filename(self, config_filename: str, glob: str) -> bool:
        self.globs.append(glob)
        return False


def indent_string(value: object) -> str:
    """The indent that `indent = 2`, `"tab"` or `"  "` stands for; ValueError for any
    other value."""
    if isinstance(value, str):
        return "\t" if value == TAB else value
    if isinstance(value, bool) or not isinstance(value, int) or value < 1:
        raise ValueError('expected a number of spaces from 1, "tab" or the indent itself')
    return " " * value


def format_document(
    doc: Document, options: Mapping[str, object], lines: Optional[Tuple[int, int]] = None
) -> bool:
    """Formats the document with the options, which the formatter checks, or only the pairs
    whose key stands on `lines`; whether its text changed."""
    return doc.format(**cast(FormatOptions, {**options, "lines": lines}))


def format_edits(
    doc: Document,
    encoding: str,
    options: Mapping[str, object],
    lines: Optional[Tuple[int, int]] = None,
) -> bytes:
    """Formats the document as `format_document` does; what changed as the JSON of a
    language server's TextEdit list, positions in `encoding`."""
    return doc.format_edits_json(encoding, **cast(FormatOptions, {**options, "lines": lines}))


def checked(key: str, value: object) -> object:
    """The value, once the formatter accepts it for the option; else ValueError with the
    formatter's reason."""
    try:
        format_document(parse_quarel(""), {key: value})
    except (TypeError, ValueError) as e:
        raise ValueError(str(e)) from None
    return value


# The configuration file


def _config_options(config: Config) -> Options:
    found: Options = {}
    for key, value in config.format.items():
        if key not in OPTIONS:
            raise ValueError(f"{config.path}: error: {config.format_table} has no option `{key}`")
        try:
            found[key] = checked(key, _api_value(key, value))
        except ValueError as e:
            raise ValueError(f"{config.path}: error: {config.format_table} {key} = {toml_text(value)}: {e}") from None
    return found


def _api_value(key: str, value: object) -> object:
    """A configured value as `Document.format` takes it; ValueError saying what is expected
    for a value of the wrong type."""
    if key == "indent":
        return indent_string(value)
    if key in ("max_blank_lines", "column_width") and (isinstance(value, bool) or not isinstance(value, int)):
        raise ValueError("expected a whole number")
    if key == "newline":
        if not isinstance(value, str) or value not in NEWLINES:
            raise ValueError('expected "lf" or "crlf"')
        return NEWLINES[value]
    if key == "final_newline" and not isinstance(value, bool):
        raise ValueError("expected true or false")
    return value


# .editorconfig


def _editorconfig_options(path: str) -> Options:
    """The options .editorconfig sets for the file. trim_trailing_whitespace has no
    option: the formatter always trims, outside strings and expressions."""
    try:
        properties = editorconfig.get_properties(path)
    except editorconfig.ParsingError as e:  # changed since its sections were read
        raise _not_a_setting(e) from None
    found: Options = {}
    for key, names, convert in _PROPERTIES:
        try:
            value = convert(properties)
            if value is not None:
                found[key] = checked(key, value)
        except ValueError as e:
            setting = ", ".join(f"{n} = {properties[n]}" for n in names if n in properties)
            raise ValueError(f"{_setting_file(path, names)}: error: {setting}: {e}") from None
    return found


def _setting_file(path: str, names: Tuple[str, ...]) -> str:
    """The .editorconfig that sets one of the properties for the file: the nearest that
    does (the nearest wins), up to the first that says root = true."""
    folder = os.path.dirname(path)
    while True:
        found = os.path.join(folder, ".editorconfig")
        if os.path.isfile(found):
            reader = EditorConfigParser(path)
            reader.read(found)
            if reader.root_file or any(name in reader.options for name in names):
                return found
        parent = os.path.dirname(folder)
        if parent == folder:
            return ".editorconfig"
        folder = parent


def _not_a_setting(error: editorconfig.ParsingError) -> ValueError:
    line, text = error.errors[0]
    return ValueError(f"{error.source}: error: line {line} is not a setting: {text}")


def _indent(properties: Mapping[str, str]) -> Optional[str]:
    """A tab for indent_style = tab; spaces for indent_style = space, or for an
    indent_size alone (the library puts tab_width for indent_size = tab)."""
    style, size = properties.get("indent_style"), properties.get("indent_size")
    if style == TAB:
        return "\t"
    if style not in (None, "space"):
        raise ValueError("expected tab or space")
    if size is None or size == TAB:  # (indent_size = tab without a tab_width)
        return None
    if not size.isdigit():
        raise ValueError("expected a number of spaces")
    return " " * int(size)


def _newline(properties: Mapping[str, str]) -> Optional[str]:
    value = properties.get("end_of_line")
    if value is None or value == "cr":  # no option for it
        return None
    if value not in NEWLINES:
        raise ValueError("expected lf, crlf or cr")
    return NEWLINES[value]


def _final_newline(properties: Mapping[str, str]) -> Optional[bool]:
    value = properties.get("insert_final_newline")
    if value not in (None, "true", "false"):
        raise ValueError("expected true or false")
    return None if value is None else value == "true"


def _column_width(properties: Mapping[str, str]) -> Optional[int]:
    value = properties.get("max_line_length")
    if value is None or value == "off":
        return None
    if not value.isdigit():
        raise ValueError("expected a number or off")
    return int(value)


# Each option, the properties it comes from, and how.
_PROPERTIES: List[Tuple[str, Tuple[str, ...], Callable[[Mapping[str, str]], object]]] = [
    ("indent", ("indent_style", "indent_size"), _indent),
    ("newline", ("end_of_line",), _newline),
    ("final_newline", ("insert_final_newline",), _final_newline),
    ("column_width", ("max_line_length",), _column_width),
]
