"""What the language server's tests hold it to, worked out on the str: positions in an
encoding's units, and edits applied as an editor applies them."""

from __future__ import annotations

import itertools
import re

# Where a line ends: for the protocol, at LF, CR LF and a lone CR; for many editors, only
# at LF and CR LF.
PROTOCOL_LINES = re.compile(r"(?<=\n)|(?<=\r)(?!\n)")
LF_LINES = re.compile(r"(?<=\n)")


def units(text, encoding):
    """The length of a text in the encoding's units."""
    return len(text.encode("utf-16-le")) // 2 if encoding == "utf-16" else len(text.encode())


def position(text, index, encoding):
    """The protocol's position of a character index."""
    *before, line = re.split(r"\r\n|\r|\n", text[:index])
    return len(before), units(line, encoding)


def span(r):
    return (r.start.line, r.start.character, r.end.line, r.end.character)


def apply_edits(text, edits, encoding, lines=PROTOCOL_LINES):
    """The text with the edits made by an editor that ends lines as `lines` says: each
    position is a character of its line (a character past it, the line's end)."""
    split = lines.split(text)
    starts = list(itertools.accumulate([0] + [len(line) for line in split]))

    def index(p):
        if p.line >= len(split):
            return len(text)
        line = re.sub(r"(\r\n|\r|\n)\Z" if lines is PROTOCOL_LINES else r"\r?\n\Z", "", split[p.line])
        return starts[p.line] + next((n for n in range(len(line) + 1) if units(line[:n], encoding) >= p.character), len(line))

    for edit in sorted(edits, key=lambda e: (e.range.start.line, e.range.start.character), reverse=True):
        text = text[: index(edit.range.start)] + edit.new_text + text[index(edit.range.end) :]
    return text
