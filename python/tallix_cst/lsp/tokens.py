"""Semantic tokens: the engine's tokens of the last text that parsed, in the editor's
positions, so that editors highlight the language without a grammar of their own."""

from __future__ import annotations

from typing import Dict, Optional, Tuple

from lsprotocol.types import SemanticTokenTypes, SemanticTokensLegend

from tallix_cst._native import TOKEN_KINDS
from tallix_cst.lsp.documents import Parsed
from tallix_cst.lsp.positions import LineIndex
from tallix_cst.lsp.protocol import RawJson

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


def semantic_tokens(
    parsed: Parsed, index: LineIndex, within: Optional[Tuple[int, int]] = None
) -> RawJson:
    """The protocol's relative encoding of the tokens, each cut into one per line (editors
    take no token across lines); only those that meet `within`, offsets of the current
    text, when given. The engine writes it, each token's type the index of its kind in
    the engine's `TOKEN_KINDS`, as `LEGEND` lists them."""
    return RawJson(
        parsed.doc.semantic_tokens_json(index.data, index.encoding, parsed.moves, within)
    )
