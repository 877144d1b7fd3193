"""Completion of keys: the keys that other blocks of the same key hold, across the
workspace, the most used first."""

from __future__ import annotations

from typing import Counter, List, Optional

from lsprotocol import types

from tallix_cst.lsp.documents import Parsed
from tallix_cst.lsp.workspace import Workspace, key_counts


def complete_keys(
    parsed: Parsed, offset: int, workspace: Workspace, path: Optional[str]
) -> types.CompletionList:
    """Keys for the block around an offset of the current text (the top of the document
    outside every block). Each key is ranked by how many blocks of that key hold it; ties
    go in alphabetical order. The document itself counts as it stands in the editor, its
    copy on disk left out."""
    block_key = _block_key(parsed, parsed.parsed(offset))
    counts: Counter[str] = workspace.key_counts(block_key, without=path)
    counts.update(key_counts(parsed.doc).get(block_key, {}))
    ranked = sorted(counts.items(), key=lambda item: (-item[1], item[0]))
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


def _block_key(parsed: Parsed, at: int) -> Optional[str]:
    """The key of the innermost block whose body holds an offset of the parsed text."""
    for pair, location in reversed(parsed.enclosing(at)):
        inside = location.offset + len(pair.key.encode()) < at < location.end_offset
        if pair.kind == "block" and inside:
            return pair.key
    return None
