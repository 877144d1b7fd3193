"""Semantic tokens: the engine's tokens of the last text that parsed, in the editor's
positions, so that editors highlight the language without a grammar of their own."""

from __future__ import annotations

from typing import Dict, List, Optional, Tuple

from lsprotocol.types import SemanticTokenTypes, SemanticTokensLegend

from tallix_cst.lsp.documents import Parsed
from tallix_cst.lsp.positions import LineIndex

# The engine's token kinds, and the standard token types editors colour them as.
TYPES: Dict[str, SemanticTokenTypes] = {
    "key": SemanticTokenTypes.Property,
    "name": SemanticTokenTypes.Class,
    "literal": SemanticTokenTypes.EnumMember,
    "string": SemanticTokenTypes.String,
    "expr": SemanticTokenTypes.Macro,
    "comment": SemanticTokenTypes.Comment,
    "punctuation": SemanticTokenTypes.Operator,
}
LEGEND = SemanticTokensLegend(token_types=[kind.value for kind in TYPES.values()], token_modifiers=[])
_NUMBERS = {kind: number for number, kind in enumerate(TYPES)}


def semantic_tokens(
    parsed: Parsed, index: LineIndex, within: Optional[Tuple[int, int]] = None
) -> List[int]:
    """The protocol's relative encoding of the tokens, each cut into one per line (editors
    take no token across lines); only those that meet `within`, offsets of the current
    text, when given. A token that an edit has emptied is left out."""
    data: List[int] = []
    last_line = last_start = 0
    for offset, length, kind in parsed.doc.tokens():
        start, end = parsed.current(offset), parsed.current(offset + length)
        if start >= end or (within is not None and (end <= within[0] or start >= within[1])):
            continue
        for line, character, size in _line_pieces(index, start, end):
            data += [
                line - last_line,
                character - last_start if line == last_line else character,
                size,
                _NUMBERS[kind],
                0,
            ]
            last_line, last_start = line, character
    return data


def _line_pieces(index: LineIndex, start: int, end: int) -> List[Tuple[int, int, int]]:
    """(line, character, length) of each line's part of a stretch."""
    (line, character), (end_line, end_character) = index.position(start), index.position(end)
    pieces = []
    while line < end_line:
        line_end = index.position(index.starts[line] + len(index.line_text(line)))[1]
        if line_end > character:
            pieces.append((line, character, line_end - character))
        line, character = line + 1, 0
    if end_character > character:
        pieces.append((line, character, end_character - character))
    return pieces
