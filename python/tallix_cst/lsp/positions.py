"""Byte offsets of a text's UTF-8 bytes (the engine's positions) against the editor's
positions: a line and a character counted in the encoding the client chose, UTF-16 code
units by default, UTF-8 bytes or code points on request.

Lines end at a line feed, a carriage return and line feed, or a lone carriage return, as
editors count them. A line of ASCII costs nothing to convert; any other is decoded.
"""

from __future__ import annotations

import bisect
import itertools
import re
from typing import List, Optional, Set, Tuple

from lsprotocol import types

UTF8, UTF16, UTF32 = "utf-8", "utf-16", "utf-32"
ENCODINGS = (UTF8, UTF16, UTF32)

_BREAK = re.compile(rb"\r\n?|\n")
_LONE_CR = re.compile(rb"\r(?!\n)")

Position = Tuple[int, int]


class LineIndex:
    """Where each line of `data` starts, and conversions in `encoding`."""

    def __init__(self, data: bytes, encoding: str = UTF16) -> None:
        self.data = data
        self.encoding = encoding
        self.starts = _starts(data, 0, len(data), True)
        self.non_ascii = self._non_ascii_lines(0, len(self.starts))

    def edited(self, data: bytes, start: int, end: int, length: int) -> LineIndex:
        """The index of `data`, which is this index's text with the bytes from start to end
        replaced by `length` others: only the lines around the edit are read again, a
        keystroke in a large text costs little more than shifting the starts after it."""
        delta = length - (end - start)
        first = max(self.line_of(start) - 1, 0)  # a line more on either side: a line
        last = min(self.line_of(end) + 1, len(self.starts) - 1)  # break may span the edit
        tail = [line_start + delta for line_start in self.starts[last + 1 :]]
        middle = _starts(data, self.starts[first], tail[0] if tail else len(data), not tail)
        index = LineIndex.__new__(LineIndex)
        index.data, index.encoding = data, self.encoding
        index.starts = self.starts[:first] + middle + tail
        shift = first + len(middle) - (last + 1)
        index.non_ascii = set()
        if not data.isascii():
            index.non_ascii = (
                {line for line in self.non_ascii if line < first}
                | {line + shift for line in self.non_ascii if line > last}
                | index._non_ascii_lines(first, first + len(middle))
            )
        return index

    def _non_ascii_lines(self, first: int, stop: int) -> Set[int]:
        if self.data.isascii():
            return set()
        return {line for line in range(first, stop) if not self.line_text(line).isascii()}

    def line_of(self, offset: int) -> int:
        return bisect.bisect_right(self.starts, offset) - 1

    def line_text(self, line: int) -> bytes:
        """The bytes of a line, without its line break."""
        start = self.starts[line]
        end = self.starts[line + 1] if line + 1 < len(self.starts) else len(self.data)
        return self.data[start:end].rstrip(b"\r\n")

    def position(self, offset: int) -> Position:
        """The position of a byte offset, clamped to the text; an offset inside a
        character or a line break stands for the start of it."""
        offset = max(0, min(offset, len(self.data)))
        line = self.line_of(offset)
        column = offset - self.starts[line]
        if line not in self.non_ascii and (
            line + 1 == len(self.starts) or offset < self.starts[line + 1] - 2
        ):
            return line, column  # the common case, kept short
        text = self.line_text(line)
        if column > len(text):
            column = len(text)
        if self.encoding == UTF8 or line not in self.non_ascii:
            return line, column
        return line, units(text[:column].decode("utf-8", "ignore"), self.encoding)

    def offset(self, position: Position) -> int:
        """The byte offset of a position; past the end of a line is its end, past the last
        line the end of the text, as editors take them."""
        line, character = position
        if line < 0:
            return 0
        if line >= len(self.starts):
            return len(self.data)
        text = self.line_text(line)
        start = self.starts[line]
        character = max(0, character)
        if line not in self.non_ascii:
            return start + min(character, len(text))
        if self.encoding == UTF8:
            # Never inside a character: back to where it starts.
            column = min(character, len(text))
            while column < len(text) and text[column] & 0xC0 == 0x80:
                column -= 1
            return start + column
        return start + _bytes_before(text.decode("utf-8", "replace"), character, self.encoding)

    def lone_cr(self) -> Optional[int]:
        """The offset of the first carriage return that is not followed by a line feed.
        It ends a line here, as the protocol says, but not in editors that end lines only
        at LF and CR LF: past it, the two count lines apart."""
        found = _LONE_CR.search(self.data)
        return None if found is None else found.start()

    def range(self, start: int, end: int) -> types.Range:
        (line, character), (end_line, end_character) = self.position(start), self.position(end)
        return types.Range(
            start=types.Position(line=line, character=character),
            end=types.Position(line=end_line, character=end_character),
        )


def _starts(data: bytes, begin: int, stop: int, at_stop: bool) -> List[int]:
    """`begin` and where each line after it starts up to `stop`, `stop` itself only when
    `at_stop`."""
    if data.find(b"\r", begin, stop) == -1:
        lengths = (len(line) + 1 for line in data[begin:stop].split(b"\n")[:-1])
        starts = [begin + offset for offset in itertools.accumulate(lengths)]
    else:
        starts = [m.end() for m in _BREAK.finditer(data, begin, stop)]
    if starts and starts[-1] == stop and not at_stop:
        starts.pop()
    return [begin, *starts]


def units(text: str, encoding: str) -> int:
    """The length of `text` in the encoding's units."""
    if encoding == UTF32:
        return len(text)
    if encoding == UTF8:
        return len(text.encode("utf-8", "surrogatepass"))
    return len(text) + sum(1 for c in text if ord(c) > 0xFFFF)


def _bytes_before(text: str, character: int, encoding: str) -> int:
    """The UTF-8 length of the characters of `text` that fit in `character` units; a
    position inside a surrogate pair stands for the start of the character."""
    count = 0
    for index, c in enumerate(text):
        count += 2 if encoding == UTF16 and ord(c) > 0xFFFF else 1
        if count > character:
            return len(text[:index].encode("utf-8", "surrogatepass"))
    return len(text.encode("utf-8", "surrogatepass"))

