"""Formatting requests: the text formatted as `quarel fmt` formats the file (the project's
options, else the file's own style), handed back as the few edits that turn the text
into it. The editor's tab size and spaces are taken only where the project sets no indent
and the setting `format.editorIndent` asks for them."""

from __future__ import annotations

from pathlib import Path
from typing import Optional, Tuple

from lsprotocol import types

from tallix_cst import format_options
from tallix_cst._native import Document
from tallix_cst.format_options import Options, project_options
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.protocol import RawJson, invalid_range, request_failed, safe_edits


def format_file(document: OpenDocument, params: types.DocumentFormattingParams) -> RawJson:
    return format_edits(document, params.options)


def format_range(
    document: OpenDocument, params: types.DocumentRangeFormattingParams
) -> RawJson:
    """The pairs whose key stands on the lines the range touches; a range that ends at the
    start of a line, as a selection of whole lines does, does not touch that line."""
    invalid_range(params.range)
    start, end = params.range.start, params.range.end
    last = end.line if end.character > 0 or end.line == start.line else end.line - 1
    return format_edits(document, params.options, (start.line + 1, last + 1))


def format_edits(
    document: OpenDocument,
    editor: types.FormattingOptions,
    lines: Optional[Tuple[int, int]] = None,
) -> RawJson:
    """The edits that format the document, or only the pairs whose key stands on `lines`
    (from 1, inclusive). The engine writes them: each whitespace run that formatting
    changed."""
    if not document.parses:
        error = document.errors[0]
        line, character = document.index.position(error.offset)
        raise request_failed(
            f"the file does not parse, so it is left as it is: {error.message} "
            f"(line {line + 1}, character {character + 1})"
        )
    safe_edits(document.index, "formatting")
    try:
        options = {**editor_options(editor, document.workspace.editor_indent), **_project(document)}
        doc = Document.parse(document.data)
        return RawJson(format_options.format_edits(doc, document.index.encoding, options, lines))
    except ValueError as e:
        raise request_failed(str(e)) from None


def editor_options(editor: types.FormattingOptions, editor_indent: bool) -> Options:
    """What the editor's options decide: the indent, when the setting says so. A final
    line break is the formatter's rule whatever the editor sends: `insertFinalNewline`
    false means "add none", not "take it away"."""
    if not editor_indent:
        return {}
    return {"indent": " " * editor.tab_size if editor.insert_spaces else "\t"}


def _project(document: OpenDocument) -> Options:
    path = document.path
    return {} if path is None else project_options(Path(path))
