"""Formatting requests: the text formatted with the project's options, else the editor's,
else the file's own style, handed back as the few edits that turn the text into it."""

from __future__ import annotations

from pathlib import Path
from typing import TYPE_CHECKING, List, Optional, Tuple, Union

from lsprotocol import types
from pygls.exceptions import JsonRpcException
from pygls.uris import to_fs_path

from tallix_cst import format_options
from tallix_cst._native import Document
from tallix_cst.format_options import Options, project_options
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.protocol import RawJson

if TYPE_CHECKING:
    from tallix_cst.lsp.server import QuarelServer

# The protocol's code for a request that is valid but failed.
REQUEST_FAILED = -32803


def register(server: QuarelServer) -> None:
    @server.feature(types.TEXT_DOCUMENT_FORMATTING)
    def formatting(
        params: types.DocumentFormattingParams,
    ) -> Union[List[types.TextEdit], RawJson]:
        return format_edits(server.document(params.text_document.uri), params.options)

    @server.feature(types.TEXT_DOCUMENT_RANGE_FORMATTING)
    def range_formatting(
        params: types.DocumentRangeFormattingParams,
    ) -> Union[List[types.TextEdit], RawJson]:
        # The pairs whose key stands on the lines the range touches, counted from 1.
        start, end = params.range.start, params.range.end
        last = end.line if end.character > 0 or end.line == start.line else end.line - 1
        lines = (start.line + 1, max(start.line, last) + 1)
        return format_edits(server.document(params.text_document.uri), params.options, lines)


def format_edits(
    document: OpenDocument,
    editor: types.FormattingOptions,
    lines: Optional[Tuple[int, int]] = None,
) -> Union[List[types.TextEdit], RawJson]:
    """The edits that format the document, or only the pairs whose key stands on `lines`
    (from 1, inclusive); none for a text that does not parse. The engine writes them: each
    whitespace run that formatting changed."""
    if not document.parses:
        return []
    doc = Document.parse(document.data)
    try:
        options = {**editor_options(editor), **_project(document.uri)}
        return RawJson(format_options.format_edits(doc, document.index.encoding, options, lines))
    except ValueError as e:
        raise JsonRpcException(str(e), REQUEST_FAILED) from None


def editor_options(editor: types.FormattingOptions) -> Options:
    """The indent the editor asks for, and its final line break when it says."""
    options: Options = {"indent": " " * editor.tab_size if editor.insert_spaces else "\t"}
    if editor.insert_final_newline is not None:
        options["final_newline"] = editor.insert_final_newline
    return options


def _project(uri: str) -> Options:
    path = to_fs_path(uri)
    return {} if path is None else project_options(Path(path))
