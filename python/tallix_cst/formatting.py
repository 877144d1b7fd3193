"""Formatting Quarel source given as text."""

from __future__ import annotations

from typing import TYPE_CHECKING

from tallix_cst.files import loads
from tallix_cst.values import FormatOptions

if TYPE_CHECKING:
    from typing_extensions import Unpack


def format_text(text: str, **options: Unpack[FormatOptions]) -> str:
    """The text formatted as Document.format formats a document, with the same options
    and defaults; a leading U+FEFF, the byte-order mark, stays in front."""
    doc = loads(text)
    doc.format(**options)
    return doc.to_string()
