"""Hover: what the schema says of the pair under the cursor (its title, description,
type, allowed values and default), then the pair's selector path, kind and value, and
its comments."""

from __future__ import annotations

import json
from typing import List, Optional

from lsprotocol import types

from tallix_cst._native import Pair
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.inserts import value_text
from tallix_cst.lsp.parsed import Parsed
from tallix_cst.lsp.schema_items import SCALARS, documentation, type_words
from tallix_cst.selector import path_to

# A long value shows as its first lines.
VALUE_LINES = 12
VALUE_CHARS = 1000


def hover(document: OpenDocument, params: types.HoverParams) -> Optional[types.Hover]:
    """The innermost pair at the cursor, or None outside every pair."""
    parsed = document.view
    if parsed is None:
        return None
    offset = document.offset(params.position)
    enclosing = parsed.enclosing(parsed.parsed(offset))
    if not enclosing:
        return None
    pair, location = enclosing[-1]
    lines = _from_schema(document, parsed, pair, location.offset, parsed.parsed(offset))
    lines.append(f"`{path_to(pair)}` ({pair.kind})")
    if pair.kind == "block":
        lines.append(f"{len(pair)} pairs")
    else:
        lines.append(_code(_shown_value(pair.value)))
    comments = pair.comments + ([] if pair.end_comment is None else [pair.end_comment])
    if comments:
        lines.append(_code("\n".join(comments)))
    return types.Hover(
        contents=types.MarkupContent(kind=types.MarkupKind.Markdown, value="\n\n".join(lines)),
        range=document.index.range(
            parsed.current(location.offset), parsed.current(location.end_offset)
        ),
    )


def _from_schema(document: OpenDocument, parsed: Parsed, pair: Pair, start: int, at: int) -> List[str]:
    """What the schema says of the pair's value (of the names, on a named block's key):
    its title and description, what it takes, and its default; then a rule."""
    schema = document.schema.schema
    if schema is None:
        return []
    path = parsed.doc.path_at(start)
    root = schema.place()
    kind = ("object",) if pair.kind == "block" else ("array",) if pair.kind == "list" else SCALARS
    places = [root.written(path, kind), root.written(path)]
    if pair.name is not None and at <= start + len(pair.key.encode()):
        places.insert(0, root.written(path[:-1]))
    place = places[0]
    if place.vague:
        return []
    shown = next((found for found in map(documentation, places) if found is not None), None)
    lines = [] if shown is None else [shown.value]
    takes = f"Takes {type_words(place)}"
    default = place.annotation("default")
    if default is not None:
        takes += f"; by default `{value_text(default) or json.dumps(default)}`"
    return lines + [takes + ".", "---"]


def _shown_value(value: object) -> str:
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
