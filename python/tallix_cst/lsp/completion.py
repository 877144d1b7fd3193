"""Completion of keys: where a key can be typed, the keys that other blocks of the same key
hold across the workspace, the most used first."""

from __future__ import annotations

import re
from typing import List, Optional, Set, Tuple

from lsprotocol import types

from tallix_cst._native import Pair
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.parsed import Parsed

NOTHING = types.CompletionList(is_incomplete=False, items=[])
# The key being typed: bare characters up to the cursor (a key is a bare token).
_TYPED = re.compile(rb"[^\s:,;#\"\[\]{}]*\Z")
# What may stand before a key on its line: nothing, an opening brace, or a pair that ends
# there (a closing bracket, a string, or a bare value after a colon), then whitespace.
_BEFORE_KEY = re.compile(rb'(?:|.*\{|.*[}\]"]|.*:[ \t]*[^\s:,;#"\[\]{}]+)[ \t]*\Z', re.S)
# Strings on the line before the key, which may hold a `#` that starts no comment.
_STRINGS = re.compile(rb'"(?:[^"\\]|\\.)*"')


def complete(document: OpenDocument, params: types.CompletionParams) -> types.CompletionList:
    """The keys for the block around the cursor, where a key can stand there (not in a
    value, a list, a string, an expression, a comment or a block's name). Each is ranked
    by how many blocks of that key hold it, ties in alphabetical order. A key the block
    holds already is left out unless blocks repeat it somewhere (as a view repeats
    `dimension`). Open documents count as they stand in the editor."""
    parsed = document.view
    offset = document.offset(params.position)
    line = document.data[document.index.starts[document.index.line_of(offset)] : offset]
    typed = _TYPED.search(line)
    assert typed is not None
    before = _STRINGS.sub(b'""', line[: typed.start()])
    if parsed is None or b"#" in before or not _BEFORE_KEY.match(before):
        return NOTHING
    start = offset - (len(line) - typed.start())
    found = _block(parsed, parsed.parsed(start))
    if found is None:
        return NOTHING
    block_key, present = found
    used, repeated = document.workspace.keys(block_key, (document.path or document.uri, parsed))
    ranked = sorted(
        ((key, count) for key, count in used.items() if key not in present or repeated[key]),
        key=lambda item: (-item[1], item[0]),
    )
    where = "the top of a file" if block_key is None else f"`{block_key}` blocks"
    items: List[types.CompletionItem] = [
        types.CompletionItem(
            label=key,
            kind=types.CompletionItemKind.Property,
            detail=f"in {count} of {where}" if block_key is not None else f"at {where}",
            sort_text=f"{rank:06d}",
        )
        for rank, (key, count) in enumerate(ranked)
    ]
    return types.CompletionList(is_incomplete=False, items=items)


def _block(parsed: Parsed, at: int) -> Optional[Tuple[Optional[str], Set[str]]]:
    """The key of the block whose body holds an offset of the parsed text where a pair
    may start (None at the top of the document), with the keys it holds but for one being
    typed there; None where no pair may start: in a value that is not a block (a string
    or an expression over lines among them), or between a block's key and its brace. A
    comment is told by the line."""
    holder: Optional[Pair] = None
    for pair, location in parsed.enclosing(at):
        key_end = location.offset + len(pair.key.encode())
        if at >= location.end_offset or at <= key_end:
            continue  # past the pair, or at its key: the key being typed
        brace = parsed.text.find(b"{", key_end, location.end_offset) if pair.kind == "block" else -1
        if brace == -1 or at <= brace:
            return None
        holder = pair
    children = parsed.doc.children if holder is None else holder.children
    present = {child.key for child in children if not _typed_over(child, at)}
    return (None if holder is None else holder.key), present


def _typed_over(pair: Pair, at: int) -> bool:
    location = pair.location
    return location is not None and location.offset <= at <= location.offset + len(pair.key.encode())
