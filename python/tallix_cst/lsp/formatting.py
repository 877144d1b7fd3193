"""Formatting requests: the text formatted as `quarel fmt` formats the file (the project's
options, else the file's own style), handed back as the few edits that turn the text
into it. The editor's tab size and spaces are taken only where the project sets no indent
and the setting `format.editorIndent` asks for them."""

from __future__ import annotations

import difflib
import re
from pathlib import Path
from typing import List, Optional, Tuple

from lsprotocol import types

from tallix_cst._native import Document
from tallix_cst.format_options import Options, format_document, project_options
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.protocol import invalid_range, request_failed, safe_edits

# Formatting changes whitespace alone: the texts before and after are the same words, each
# punctuation mark one of them, with other whitespace before some (and at the end).
_WORD = re.compile(rb'([ \t\r\n]*)([,:;#"\[\]{}]|[^ \t\r\n,:;#"\[\]{}]*)')


def format_file(
    document: OpenDocument, params: types.DocumentFormattingParams
) -> List[types.TextEdit]:
    return format_edits(document, params.options)


def format_range(
    document: OpenDocument, params: types.DocumentRangeFormattingParams
) -> List[types.TextEdit]:
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
) -> List[types.TextEdit]:
    """The edits that format the document, or only the pairs whose key stands on `lines`
    (from 1, inclusive)."""
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
        format_document(doc, options, lines)
    except ValueError as e:
        raise request_failed(str(e)) from None
    return [
        types.TextEdit(range=document.index.range(start, end), new_text=text.decode())
        for start, end, text in changes(document.data, doc.to_bytes())
    ]


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

