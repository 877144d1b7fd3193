"""Diagnostics: every syntax error of a document, each at the character it points at, and
its problems against its schema, each at the text to fix (or, for a schema that cannot be
used, one at the first line)."""

from __future__ import annotations

from typing import List

from lsprotocol import types

from tallix_cst.lsp import problems
from tallix_cst.lsp.documents import OpenDocument

SOURCE = "quarel"
SEVERITIES = {"error": types.DiagnosticSeverity.Error, "warning": types.DiagnosticSeverity.Warning}


def diagnostics(document: OpenDocument) -> List[types.Diagnostic]:
    found = [
        types.Diagnostic(
            range=document.index.range(error.offset, _character_end(document.data, error.offset)),
            message=error.message,
            severity=types.DiagnosticSeverity.Error,
            source=SOURCE,
        )
        for error in document.errors
    ]
    if document.schema.error is not None:
        found.append(
            types.Diagnostic(
                range=document.index.range(0, len(document.index.line_text(0))),
                message=f"the schema cannot be used: {document.schema.error}",
                severity=types.DiagnosticSeverity.Error,
                source=SOURCE,
                code="schema",
            )
        )
    found.extend(schema_diagnostic(document, shown) for shown in problems.current(document))
    found.sort(key=lambda d: (d.range.start.line, d.range.start.character))
    return found


def schema_diagnostic(document: OpenDocument, shown: problems.Shown) -> types.Diagnostic:
    return types.Diagnostic(
        range=document.index.range(shown.start, shown.end),
        message=shown.problem.message,
        severity=SEVERITIES.get(shown.problem.severity, types.DiagnosticSeverity.Error),
        source=SOURCE,
        code=shown.problem.keyword,
    )


def _character_end(data: bytes, offset: int) -> int:
    """Past the character at an offset; at a line break or the end, the offset itself, so
    that the range is empty there."""
    if offset >= len(data) or data[offset] in b"\r\n":
        return offset
    end = offset + 1
    while end < len(data) and data[end] & 0xC0 == 0x80:
        end += 1
    return end
