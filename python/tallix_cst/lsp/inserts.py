"""What completion and quick fixes write, written by the engine in the file's own style:
values quoted as the engine quotes them, pairs and blocks laid out as `add` lays them
out among their neighbours, and the one edit that turns a text into another."""

from __future__ import annotations

import functools
import re
from typing import Dict, List, Optional, Tuple, Union

from lsprotocol import types

from tallix_cst._native import Document, Pair
from tallix_cst.lsp.documents import changed_span
from tallix_cst.lsp.positions import LineIndex
from tallix_cst.schema.refs import Json

Container = Union[Document, Pair]
# A block's name while it is written, found again in the text and made a placeholder.
NAME = "name"
_SNIPPET_SPECIAL = re.compile(r"[\\$}]")


def value_text(value: Json, key: str = "k") -> Optional[str]:
    """A scalar as the engine writes it for a key's value (`number`, `"two words"`, `yes`,
    `a + b ;;` for an expression key), or None for what no pair's scalar holds."""
    if isinstance(value, (dict, list)) or value is None:
        return None
    return _value_text(key, value)


@functools.lru_cache(maxsize=1024)
def _value_text(key: str, value: Union[str, int, float, bool]) -> Optional[str]:
    try:
        pair = Document.parse(b"").add(key, value)
    except (ValueError, TypeError):
        return None
    text = pair.to_string()
    return text[len(key) + 1 :].lstrip(" ")


def is_expression(key: str) -> bool:
    """Whether the engine writes the key's values as expressions (`sql: ... ;;`)."""
    text = value_text("x", key)
    return text is not None and text.endswith(";;")


def add(container: Container, key: str, value: Json, name: Optional[str] = None) -> Pair:
    """Adds a pair for plain data: a dict as a block holding its keys (named when `name`
    is given), anything else as the engine takes it."""
    if isinstance(value, dict) or name is not None:
        block = container.add(key, name=name)
        for inner_key, inner in (value or {}).items():
            add(block, inner_key, inner)
        return block
    return container.add(key, value)


def block_snippet(
    doc: Document, container: Container, key: str, named: bool, value: Dict[str, Json], snippets: bool
) -> Optional[str]:
    """A block pair as `add` lays it out at the end of a container of a document, with
    the pairs of `value`: its lines past the first without the indentation of the block's
    own line (the editor indents them as the line it completes). As a snippet, the name
    and each value are placeholders and the cursor ends inside the block. The pair is
    left in the document."""
    try:
        block = add(container, key, value, NAME if named else None)
        marker: Optional[Pair] = None
        if snippets and not value:  # a pair to stand where the cursor will
            marker = block.add("k", "v")
    except (ValueError, TypeError):  # a value the engine cannot write
        return None
    printed = doc.to_bytes()
    location = block.location
    assert location is not None
    start, end = location.offset, location.end_offset
    cuts: List[Tuple[int, int, str]] = []  # (start, end, snippet) of what becomes a field
    if snippets:
        if named:
            name_at = printed.index(NAME.encode(), start + len(key.encode()))
            cuts.append((name_at, name_at + len(NAME), "${1:" + NAME + "}"))
        for child in block.children:
            where = child.location
            assert where is not None
            if child == marker:
                cuts.append((where.offset, where.end_offset, "$0"))
            elif child.kind != "block":
                value_start, value_end = _value_span(printed, child.key, child.kind, where.offset, where.end_offset)
                field = _escaped(printed[value_start:value_end].decode())
                cuts.append((value_start, value_end, f"${{{len(cuts) + 1}:{field}}}"))
        if marker is None:
            cuts.append((end, end, "$0"))
    pieces, at = [], start
    for cut_start, cut_end, field in cuts:
        piece = printed[at:cut_start].decode()
        pieces.append(_escaped(piece) if snippets else piece)
        pieces.append(field)
        at = cut_end
    rest = printed[at:end].decode()
    pieces.append(_escaped(rest) if snippets else rest)
    line_start = max(printed.rfind(b"\n", 0, start), printed.rfind(b"\r", 0, start)) + 1
    return _dedented("".join(pieces), printed[line_start:start].decode())


def _value_span(text: bytes, key: str, kind: str, start: int, end: int) -> Tuple[int, int]:
    """Where a pair's value stands in the text of the pair (start, end): past the colon,
    an expression without its `;;`."""
    at = text.index(b":", start + len(key.encode())) + 1
    while text[at : at + 1] in (b" ", b"\t") and (kind != "expr" or text[at - 1 : at] == b":"):
        at += 1  # (an empty expression's field stands between its spaces)
    if kind == "expr":
        end = text.rindex(b";;", at, end)
        while end > at and text[end - 1 : end] in (b" ", b"\t"):
            end -= 1
    return at, end


def _escaped(text: str) -> str:
    return _SNIPPET_SPECIAL.sub(lambda m: "\\" + m.group(), text)


def _dedented(text: str, line_head: str) -> str:
    """The text with its lines past the first losing the indentation of the first."""
    indent = line_head[: len(line_head) - len(line_head.lstrip(" \t"))]
    lines = re.split(r"(\r\n|\r|\n)", text)
    for number in range(2, len(lines), 2):
        if lines[number].startswith(indent):
            lines[number] = lines[number][len(indent) :]
    return "".join(lines)


def pair_at(doc: Document, offset: int) -> Optional[Pair]:
    """The pair whose key starts at an offset."""
    for pair in reversed(doc.pairs_at(offset)):
        location = pair.location
        if location is not None and location.offset == offset:
            return pair
    return None


def edit_between(index: LineIndex, old: bytes, new: bytes) -> types.TextEdit:
    """The one edit that turns `old` (the text of `index`) into `new`: the stretch
    between their common start and common end, widened to whole characters and line
    breaks."""
    start, end, _ = changed_span(old, new)
    tail = len(old) - end
    while start > 0 and _inside(old, start):
        start -= 1
    while tail > 0 and _inside(old, end):
        end, tail = end + 1, tail - 1
    replaced = new[start : len(new) - tail]
    return types.TextEdit(range=index.range(start, end), new_text=replaced.decode("utf-8", "replace"))


def _inside(text: bytes, at: int) -> bool:
    """Whether an offset stands inside a character or a CR LF."""
    return at < len(text) and (text[at] & 0xC0 == 0x80 or text[at - 1 : at + 1] == b"\r\n")
