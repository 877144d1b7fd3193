"""Semantic tokens: the engine's tokens in the editor's positions, so that editors
highlight the language without a grammar of their own."""

from __future__ import annotations

from typing import Dict, Optional, Tuple, Union

from lsprotocol import types
from lsprotocol.types import SemanticTokenTypes, SemanticTokensLegend

from tallix_cst._native import TOKEN_KINDS
from tallix_cst.lsp.documents import OpenDocument
from tallix_cst.lsp.protocol import RawJson, invalid_range

# The standard token types editors colour the engine's token kinds as.
TYPES: Dict[str, SemanticTokenTypes] = {
    "key": SemanticTokenTypes.Property,
    "name": SemanticTokenTypes.Class,
    "literal": SemanticTokenTypes.EnumMember,
    "string": SemanticTokenTypes.String,
    "expr": SemanticTokenTypes.Macro,
    "comment": SemanticTokenTypes.Comment,
    "punctuation": SemanticTokenTypes.Operator,
}
# In the engine's order of its kinds, whose index is each token's type.
LEGEND = SemanticTokensLegend(
    token_types=[TYPES[kind].value for kind in TOKEN_KINDS], token_modifiers=[]
)
OPTIONS = types.SemanticTokensRegistrationOptions(legend=LEGEND, full=True, range=True)

Tokens = Union[types.SemanticTokens, RawJson]


def full(document: OpenDocument, params: types.SemanticTokensParams) -> Tokens:
    return _tokens(document)


def in_range(document: OpenDocument, params: types.SemanticTokensRangeParams) -> Tokens:
    invalid_range(params.range)
    start, end = document.offset(params.range.start), document.offset(params.range.end)
    return _tokens(document, (start, end))


def _tokens(document: OpenDocument, within: Optional[Tuple[int, int]] = None) -> Tokens:
    """The protocol's relative encoding of the tokens, each cut into one per line (editors
    take no token across lines); only those that meet `within`, offsets of the current
    text, when given. The engine writes it, each token's type the index of its kind in
    the engine's `TOKEN_KINDS`, as `LEGEND` lists them."""
    parsed = document.view
    if parsed is None:
        return types.SemanticTokens(data=[])
    index = document.index
    return RawJson(parsed.doc.semantic_tokens_json(index.data, index.encoding, parsed.moves, within))
