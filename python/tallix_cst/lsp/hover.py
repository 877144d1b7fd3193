"""Hover: the pair under the cursor, its selector path, kind and value, and its
comments."""

from __future__ import annotations

from typing import List, Optional

from lsprotocol import types

from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.selector import path_to

# A long value shows as its first lines.
VALUE_LINES = 12
VALUE_CHARS = 1000


def hover(document: OpenDocument, params: types.HoverParams) -> Optional[types.Hover]:
    """The innermost pair at the cursor, or None outside every pair."""
    parsed = document.view
    if parsed is None:
        return None
    enclosing = parsed.enclosing(parsed.parsed(document.offset(params.position)))
    if not enclosing:
        return None
    pair, location = enclosing[-1]
    lines = [f"`{path_to(pair)}` ({pair.kind})"]
    if pair.kind == "block":
        lines.append(f"{len(pair)} pairs")
    else:
        lines.append(_code(_value_text(pair.value)))
    comments = pair.comments + ([] if pair.end_comment is None else [pair.end_comment])
    if comments:
        lines.append(_code("\n".join(comments)))
    return types.Hover(
        contents=types.MarkupContent(kind=types.MarkupKind.Markdown, value="\n\n".join(lines)),
        range=document.index.range(
            parsed.current(location.offset), parsed.current(location.end_offset)
        ),
    )


def _value_text(value: object) -> str:
    if not isinstance(value, str):
        return _one_line(value)
    shown: List[str] = value.splitlines()[:VALUE_LINES]
    text = "\n".join(shown)[:VALUE_CHARS]
    return text if text == value else text + "\n…"


def _one_line(value: object) -> str:
    """A list in one line, as `[a, k: v]`, cut with an ellipsis."""
    line, _, rest = _flat(value).strip().partition("\n")
    if len(line) > VALUE_CHARS or rest:
        return line[:VALUE_CHARS].rstrip() + "…"
    return line


def _flat(value: object) -> str:
    if isinstance(value, list):
        return "[" + ", ".join(_flat(item) for item in value) + "]"
    if isinstance(value, tuple):
        return f"{value[0]}: {_flat(value[1])}"
    return "" if value is None else str(value)


def _code(text: str) -> str:
    fence = "```"
    while fence in text:
        fence += "`"
    return f"{fence}\n{text}\n{fence}"
