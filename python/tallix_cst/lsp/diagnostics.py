"""Diagnostics: every syntax error of a document, each at the character it points at."""

from __future__ import annotations

from typing import List

from lsprotocol import types

from tallix_cst.lsp.documents import OpenDocument

SOURCE = "quarel"


def diagnostics(document: OpenDocument) -> List[types.Diagnostic]:
    return [
        types.Diagnostic(
            range=document.index.range(error.offset, _character_end(document.data, error.offset)),
            message=error.message,
            severity=types.DiagnosticSeverity.Error,
            source=SOURCE,
        )
        for error in document.errors
    ]


def _character_end(data: bytes, offset: int) -> int:
    """Past the character at an offset; at a line break or the end, the offset itself, so
    that the range is empty there."""
    if offset >= len(data) or data[offset] in b"\r\n":
        return offset
    end = offset + 1
    while end < len(data) and data[end] & 0xC0 == 0x80:
        end += 1
    return end
