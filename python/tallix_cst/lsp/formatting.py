"""Formatting requests: the text formatted with the project's options, else the editor's,
else the file's own style, handed back as the few edits that turn the text into it."""

from __future__ import annotations

import difflib
import re
from pathlib import Path
from typing import TYPE_CHECKING, List, Optional, Tuple

from lsprotocol import types
from pygls.exceptions import JsonRpcException
from pygls.uris import to_fs_path

from tallix_cst._native import Document
from tallix_cst.format_options import Options, format_document, project_options
from tallix_cst.lsp.documents import OpenDocument

if TYPE_CHECKING:
    from tallix_cst.lsp.server import QuarelServer

# The protocol's code for a request that is valid but failed.
REQUEST_FAILED = -32803
# Formatting changes whitespace alone: the texts before and after are the same words, each
# punctuation mark one of them, with other whitespace before some (and at the end).
_WORD = re.compile(rb'([ \t\r\n]*)([,:;#"\[\]{}]|[^ \t\r\n,:;#"\[\]{}]*)')


def register(server: QuarelServer) -> None:
    @server.feature(types.TEXT_DOCUMENT_FORMATTING)
    def formatting(params: types.DocumentFormattingParams) -> List[types.TextEdit]:
        return format_edits(server.document(params.text_document.uri), params.options)

    @server.feature(types.TEXT_DOCUMENT_RANGE_FORMATTING)
    def range_formatting(params: types.DocumentRangeFormattingParams) -> List[types.TextEdit]:
        # The pairs whose key stands on the lines the range touches, counted from 1.
        start, end = params.range.start, params.range.end
        last = end.line if end.character > 0 or end.line == start.line else end.line - 1
        lines = (start.line + 1, max(start.line, last) + 1)
        return format_edits(server.document(params.text_document.uri), params.options, lines)


def format_edits(
    document: OpenDocument,
    editor: types.FormattingOptions,
    lines: Optional[Tuple[int, int]] = None,
) -> List[types.TextEdit]:
    """The edits that format the document, or only the pairs whose key stands on `lines`
    (from 1, inclusive); none for a text that does not parse."""
    if not document.parses:
        return []
    doc = Document.parse(document.data)
    try:
        format_document(doc, {**editor_options(editor), **_project(document.uri)}, lines)
    except ValueError as e:
        raise JsonRpcException(str(e), REQUEST_FAILED) from None
    return [
        types.TextEdit(range=document.index.range(start, end), new_text=text.decode())
        for start, end, text in changes(document.data, doc.to_bytes())
    ]


def editor_options(editor: types.FormattingOptions) -> Options:
    """The indent the editor asks for, and its final line break when it says."""
    options: Options = {"indent": " " * editor.tab_size if editor.insert_spaces else "\t"}
    if editor.insert_final_newline is not None:
        options["final_newline"] = editor.insert_final_newline
    return options


def changes(old: bytes, new: bytes) -> List[Tuple[int, int, bytes]]:
    """Each whitespace run of `old` that `new` writes otherwise, as (start, end, new run),
    the words around them being the same; else each run of differing lines."""
    old_words, new_words = _words(old), _words(new)
    if [word for _, word in old_words] != [word for _, word in new_words]:
        return _changed_lines(old, new)
    found = []
    offset = 0
    for (space, word), (new_space, _) in zip(old_words, new_words):
        if space != new_space:
            found.append((offset, offset + len(space), new_space))
        offset += len(space) + len(word)
    return found


def _words(text: bytes) -> List[Tuple[bytes, bytes]]:
    """The words of the text with the whitespace before each, closed by the whitespace at
    the end before an empty word."""
    words = [found for found in _WORD.findall(text) if found[1]]
    end = len(text.rstrip(b" \t\r\n"))
    return words + [(text[end:], b"")]


def _changed_lines(old: bytes, new: bytes) -> List[Tuple[int, int, bytes]]:
    old_lines, new_lines = old.splitlines(True), new.splitlines(True)
    starts = [0]
    for line in old_lines:
        starts.append(starts[-1] + len(line))
    matcher = difflib.SequenceMatcher(None, old_lines, new_lines, autojunk=False)
    return [
        (starts[i1], starts[i2], b"".join(new_lines[j1:j2]))
        for tag, i1, i2, j1, j2 in matcher.get_opcodes()
        if tag != "equal"
    ]


def _project(uri: str) -> Options:
    path = to_fs_path(uri)
    return {} if path is None else project_options(Path(path))
