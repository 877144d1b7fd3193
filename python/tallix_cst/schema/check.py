"""What `quarel check` reports of a file: every syntax error of it, or, when it parses, its
problems against its schema; in position order."""

from __future__ import annotations

import os
from typing import List, Optional, Union

from tallix_cst._native import Document, Location, QuarelSyntaxError, syntax_errors
from tallix_cst.config import Configs
from tallix_cst.files import read_file
from tallix_cst.schema.association import Schemas
from tallix_cst.schema.problems import Problem
from tallix_cst.schema.schema import Schema


def text_problems(text: Union[bytes, str], schema: Optional[Schema] = None) -> List[Problem]:
    """The problems of Quarel source: its syntax errors, all of them; when it has none,
    its problems against the schema. UnicodeDecodeError for bytes that are not UTF-8."""
    try:
        # The plain parse first: it is the faster, and most files parse.
        document = Document.parse(text.encode() if isinstance(text, str) else text)
    except QuarelSyntaxError:
        return [syntax_problem(error) for error in syntax_errors(text)]
    return [] if schema is None else document.validate(schema)


def syntax_problem(error: QuarelSyntaxError) -> Problem:
    """A syntax error as a problem, at the point it names."""
    at = Location(error.line, error.column, error.offset, error.line, error.column, error.offset)
    return Problem(error.message, at, "", "syntax")


def file_problems(
    path: Union[str, "os.PathLike[str]"],
    schema: Union[str, "os.PathLike[str]", None] = None,
    schemas: Optional[Schemas] = None,
    configs: Optional[Configs] = None,
    data: Optional[bytes] = None,
) -> List[Problem]:
    """The problems of a file against the schema given, or else its own (`#:schema`, the
    project's `[[schema]]`); `data` is its content when it was read already. OSError when
    it cannot be read, UnicodeDecodeError when it is not UTF-8, SchemaError or
    ConfigError when its schema or configuration cannot be used."""
    if data is None:
        data = read_file(path)
    found = (schemas or Schemas()).schema_for(path, data, schema, configs)
    try:
        return text_problems(data, found)
    except UnicodeDecodeError as e:
        raise UnicodeDecodeError(e.encoding, e.object, e.start, e.end, f"{e.reason} in {os.fspath(path)}") from None
