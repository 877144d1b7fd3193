"""Completion of keys where a key can be typed, and of values after `key:` (and in a list
written there).

Keys come from the document's schema first (`schema_items.py`): those it allows in the
block and that the block does not hold yet (or that may repeat), required ones first.
Then, where the schema allows keys it does not name or there is none, the keys that
other blocks of the same key hold across the workspace, the most used first. Values
come from the schema alone."""

from __future__ import annotations

import re
from typing import List, Optional, Set, Tuple

from lsprotocol import types

from tallix_cst._native import Pair
from tallix_cst.lsp import schema_items
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.parsed import Parsed

NOTHING = types.CompletionList(is_incomplete=False, items=[])
_BARE = rb"[^\s:,;#\"\[\]{}]"
# The key being typed, read backwards: bare characters up to the cursor (a key is a bare
# token).
_TYPED_BACKWARDS = re.compile(_BARE + rb"*")
# What may stand before a key on its line: nothing, an opening brace, or a pair that ends
# there (a closing bracket, a string, or a bare value after a colon), then whitespace.
_BEFORE_KEY = re.compile(rb'(?:|.*\{|.*[}\]"]|.*:[ \t]*[^\s:,;#"\[\]{}]+)[ \t]*\Z', re.S)
# Strings on the line before the key, which may hold a `#` that starts no comment.
_STRINGS = re.compile(rb'"(?:[^"\\]|\\.)*"')
# A value being typed after `key:`, or an item of a list opened there (the items before
# it, strings in them blanked out, end with a comma), read backwards from the cursor: a
# search forwards would try every start of a long line.
_VALUE_BACKWARDS = re.compile(
    rb"(?P<typed>" + _BARE + rb'*"?)(?:[ \t]*(?P<items>,[^\[\]{}#]*)?\[)?[ \t]*:[ \t]*(?P<key>' + _BARE + rb"+)"
)


def complete(document: OpenDocument, params: types.CompletionParams) -> types.CompletionList:
    """The keys or values that may stand at the cursor; nothing in a comment, a string, an
    expression or a block's name."""
    parsed = document.view
    if parsed is None:
        return NOTHING
    offset = document.offset(params.position)
    line_start = document.index.starts[document.index.line_of(offset)]
    line = document.data[line_start:offset]
    blanked = _STRINGS.sub(lambda m: b'"' + b" " * (len(m.group()) - 2) + b'"', line)
    value = _VALUE_BACKWARDS.match(blanked[::-1])
    key_start = len(line) - value.end("key") if value is not None else 0
    if value is not None and _key_may_stand(blanked[:key_start]):
        found = _block(parsed, parsed.parsed(line_start + key_start))
        if found is None:
            return NOTHING
        holder, _ = found
        index = None if value.group("items") is None and b"[" not in value.group() else (
            value.group("items") or b"").count(b",")
        typed_start = len(line) - value.end("typed")
        where = document.index.range(line_start + typed_start, offset)
        key = line[key_start : len(line) - value.start("key")].decode("utf-8", "replace")
        # Right after the colon (its trigger), a space to stand between.
        space = " " if line[typed_start - 1 : typed_start] == b":" else ""
        after = document.index.line_text(document.index.line_of(offset))[offset - line_start :]
        items = schema_items.values(document, parsed, holder, key, index, where, space, after)
        return types.CompletionList(is_incomplete=False, items=items)
    typed = _TYPED_BACKWARDS.match(line[::-1])
    assert typed is not None
    typed_start = len(line) - typed.end()
    if not _key_may_stand(blanked[:typed_start]):
        return NOTHING
    start = line_start + typed_start
    found = _block(parsed, parsed.parsed(start))
    if found is None:
        return NOTHING
    holder, present = found
    where = document.index.range(start, offset)
    items, others = schema_items.keys(document, parsed, holder, present, where)
    if others:
        offered = {item.label for item in items}
        items.extend(_workspace_keys(document, parsed, holder, present, offered, where))
    return types.CompletionList(is_incomplete=False, items=items)


def _key_may_stand(before: bytes) -> bool:
    return b"#" not in before and _BEFORE_KEY.match(before) is not None


def _workspace_keys(
    document: OpenDocument,
    parsed: Parsed,
    holder: Optional[Pair],
    present: Set[str],
    offered: Set[str],
    where: types.Range,
) -> List[types.CompletionItem]:
    """The keys of other blocks of the holder's key across the workspace, ranked by how
    many blocks of that key hold each, ties in alphabetical order. A key the block holds
    already is left out unless blocks repeat it somewhere (as a view repeats
    `dimension`). Open documents count as they stand in the editor."""
    block_key = None if holder is None else holder.key
    used, repeated = document.workspace.keys(block_key, (document.path or document.uri, parsed))
    ranked = sorted(
        (
            (key, count)
            for key, count in used.items()
            if (key not in present or repeated[key]) and key not in offered
        ),
        key=lambda item: (-item[1], item[0]),
    )
    place = "the top of a file" if block_key is None else f"`{block_key}` blocks"
    return [
        types.CompletionItem(
            label=key,
            kind=types.CompletionItemKind.Property,
            detail=f"in {count} of {place}" if block_key is not None else f"at {place}",
            sort_text=f"1{rank:06d}",
            text_edit=types.TextEdit(range=where, new_text=key),
        )
        for rank, (key, count) in enumerate(ranked)
    ]


def _block(parsed: Parsed, at: int) -> Optional[Tuple[Optional[Pair], Set[str]]]:
    """The block whose body holds an offset of the parsed text where a pair may start
    (None for the top of the document), with the keys it holds but for one being typed
    there; None where no pair may start: in a value that is not a block (a string or an
    expression over lines among them), or between a block's key and its brace. A comment
    is told by the line."""
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
    return holder, present


def _typed_over(pair: Pair, at: int) -> bool:
    location = pair.location
    return location is not None and location.offset <= at <= location.offset + len(pair.key.encode())
