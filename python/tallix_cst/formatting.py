"""Formatting Quarel source given as text."""

from __future__ import annotations

from typing import Optional, Tuple

from tallix_cst.files import loads


def format_text(
    text: str,
    *,
    indent: Optional[str] = None,
    newline: Optional[str] = None,
    max_blank_lines: int = 1,
    column_width: int = 100,
    final_newline: bool = True,
    lines: Optional[Tuple[int, int]] = None,
) -> str:
    """The text formatted as Document.format formats a document; a leading U+FEFF, the
    byte-order mark, stays in front."""
    doc = loads(text)
    doc.format(
        indent=indent,
        newline=newline,  # type: ignore[arg-type] # refused by the engine unless LF or CR LF
        max_blank_lines=max_blank_lines,
        column_width=column_width,
        final_newline=final_newline,
        lines=lines,
    )
    return doc.to_string()
