"""Rename of a block name, the one thing in a document that may be renamed; the engine
decides whether the new name can stand there."""

from __future__ import annotations

from typing import Optional

from lsprotocol import types

from tallix_cst._native import Document
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.parsed import Token
from tallix_cst.lsp.protocol import request_failed, safe_edits

NOT_PARSED = "the file does not parse: a block name can be renamed once its syntax errors are fixed"


def prepare_rename(
    document: OpenDocument, params: types.PrepareRenameParams
) -> Optional[types.PrepareRenamePlaceholder]:
    """The block name at the cursor, or None: anything else refuses."""
    found = _block_name(document, params.position)
    if found is None:
        return None
    start, end = found[0], found[0] + found[1]
    return types.PrepareRenamePlaceholder(
        range=document.index.range(start, end),
        placeholder=document.data[start:end].decode(),
    )


def rename(document: OpenDocument, params: types.RenameParams) -> types.WorkspaceEdit:
    found = _block_name(document, params.position)
    if found is None:
        raise request_failed("only a block name can be renamed")
    safe_edits(document.index, "rename")
    _check(document, found, params.new_name)
    edit = types.TextEdit(
        range=document.index.range(found[0], found[0] + found[1]), new_text=params.new_name
    )
    return types.WorkspaceEdit(changes={document.uri: [edit]})


def _block_name(document: OpenDocument, position: types.Position) -> Optional[Token]:
    """The name token at the cursor; a document that does not parse is refused."""
    if not document.parses:
        raise request_failed(NOT_PARSED)
    assert document.last_good is not None  # the text as it stands
    token = document.last_good.token_at(document.offset(position))
    return token if token is not None and token[2] == "name" else None


def _check(document: OpenDocument, name: Token, new_name: str) -> None:
    """Gives the block the new name in a copy of the document, so that the engine's rule
    for names refuses what cannot be one."""
    copy = Document.parse(document.data)
    block = [pair for pair in copy.pairs_at(name[0]) if pair.kind == "block"][-1]
    try:
        block.name = new_name
    except ValueError as e:
        raise request_failed(f"`{new_name}`: {e}") from None
